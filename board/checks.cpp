// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "checks.h"

#include <algorithm>

std::string usage_line()
{
    return "usage : " + PANELCMD + " command data...\n";
}

std::string quoted(const std::string &s)
{
    std::string q = "\"";
    for (const char c : s)
        q += c == '\n' ? std::string("\\n") : std::string(1, c);
    return q + "\"";
}

void expect(verdict &v, const std::string &name, const outcome &o, int status,
            const std::string &out, const std::string &err, const start_options &how)
{
    v.check(o.status == status,
            name + ": status " + std::to_string(o.status) + ", want " + std::to_string(status));
    if (!how.closed_out)
        v.check(o.out == out, name + ": stdout " + quoted(o.out) + ", want " + quoted(out));
    if (!how.closed_err)
        v.check(o.err == err, name + ": stderr " + quoted(o.err) + ", want " + quoted(err));
}

void run(verdict &v, const std::vector<std::string> &argv, int status, const std::string &out,
         const std::string &err, const start_options &how)
{
    process p(argv, how);
    expect(v, argv[0] + (argv.size() > 1 ? " " + argv[1] : ""), p.wait(60000), status, out, err,
           how);
}

bool same(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc) &&
           cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b);
}
