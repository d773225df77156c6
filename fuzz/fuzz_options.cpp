// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// panelsim's command line: the input is its arguments, each ended by a NUL.
// parse goes on (-1) or gives an exit
// status; when it goes on, what it read is within its bounds.
#include "check.h"
#include "options.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <getopt.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

// Usage and complaints go to /dev/null while parse runs; libFuzzer's own
// words still reach the terminal.
struct quiet {
    int out = dup(STDOUT_FILENO);
    int err = dup(STDERR_FILENO);
    quiet()
    {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~quiet()
    {
        fflush(stdout);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(out);
        close(err);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> words{"panelsim"};
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty())
        words.push_back(word);
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    std::transform(words.begin(), words.end(), std::back_inserter(argv),
                   [](std::string &w) { return w.data(); });
    argv.push_back(nullptr);
    optind = 0; // getopt starts afresh
    options o;
    int status = 0;
    {
        const quiet q;
        status = parse(static_cast<int>(words.size()), argv.data(), o);
    }
    FUZZ_CHECK(status == -1 || status == 0 || status == 2);
    if (status == -1) {
        FUZZ_CHECK(o.buffer >= 16 && o.buffer <= (16U << 20));
        FUZZ_CHECK(o.command != nullptr && o.command >= argv.data() &&
                   o.command < argv.data() + argv.size());
        FUZZ_CHECK(!o.at_ttys1 || o.command[0] != nullptr);
    }
    return 0;
}
