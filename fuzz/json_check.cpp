// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "json_check.h"

#include <cstring>

namespace
{

struct reader {
    std::string_view s;
    std::size_t at = 0;
    int depth = 0;

    [[nodiscard]] bool more() const { return at < s.size(); }
    [[nodiscard]] char peek() const { return more() ? s[at] : '\0'; }
    void space()
    {
        while (more() && std::strchr(" \t\r\n", s[at]) != nullptr)
            ++at;
    }
    bool eat(char c)
    {
        space();
        if (peek() != c)
            return false;
        ++at;
        return true;
    }
    bool word(std::string_view w)
    {
        if (s.substr(at, w.size()) != w)
            return false;
        at += w.size();
        return true;
    }
    bool digits()
    {
        const std::size_t from = at;
        while (more() && s[at] >= '0' && s[at] <= '9')
            ++at;
        return at > from;
    }
    bool number()
    {
        (void)eat('-');
        if (peek() == '0')
            ++at;
        else if (!digits())
            return false;
        if (peek() == '.' && (++at, !digits()))
            return false;
        if (peek() == 'e' || peek() == 'E') {
            ++at;
            if (peek() == '+' || peek() == '-')
                ++at;
            return digits();
        }
        return true;
    }
    bool string()
    {
        if (!eat('"'))
            return false;
        while (more() && s[at] != '"') {
            const auto c = static_cast<unsigned char>(s[at++]);
            if (c < 0x20)
                return false;
            if (c != '\\')
                continue;
            const char e = peek();
            ++at;
            if (e == 'u') {
                for (int i = 0; i < 4; ++i, ++at)
                    if (!more() || std::strchr("0123456789abcdefABCDEF", s[at]) == nullptr)
                        return false;
            } else if (e == '\0' || std::strchr("\"\\/bfnrt", e) == nullptr) {
                return false;
            }
        }
        return eat('"');
    }
    bool members(char close, bool keys)
    {
        if (++depth > 64)
            return false;
        if (eat(close)) {
            --depth;
            return true;
        }
        do {
            if (keys && !(string() && eat(':')))
                return false;
            if (!value())
                return false;
        } while (eat(','));
        return --depth, eat(close);
    }
    bool value()
    {
        space();
        switch (peek()) {
        case '{':
            return ++at, members('}', true);
        case '[':
            return ++at, members(']', false);
        case '"':
            return string();
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }
};

} // namespace

bool json_object(std::string_view text)
{
    reader r{text};
    r.space();
    if (r.peek() != '{' || !r.value())
        return false;
    r.space();
    return !r.more();
}
