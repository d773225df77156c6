// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "frames_of.h"

#include <set>

std::string frames_of(const std::string &json)
{
    std::string out;
    for (std::size_t at = 0; at < json.size();) {
        const std::size_t end = std::min(json.find('\n', at), json.size());
        const std::string line = json.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with("{\"type\": \"frame\""))
            continue;
        const std::size_t b = line.find("\"bytes\": \"") + 10;
        std::string frame = line.substr(b, line.find('"', b) - b);
        std::set<std::string> codes;
        for (std::size_t c = 0; (c = line.find("\"code\": \"", c)) != std::string::npos;) {
            c += 9;
            codes.insert(line.substr(c, line.find('"', c) - c));
        }
        for (auto it = codes.begin(); it != codes.end(); ++it)
            frame += (it == codes.begin() ? " !" : ",") + *it;
        out += (out.empty() ? "" : "; ") + frame;
    }
    return out;
}
