// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
#include "privilege.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <string>
#include <sys/stat.h>

namespace
{

// The inode number of the initial user namespace (PROC_USER_INIT_INO).
constexpr ino_t INITIAL_USER_NAMESPACE = 0xEFFFFFFDU;

// The effective capabilities of a thread; none where they cannot be read.
std::uint64_t effective_caps(pid_t tid)
{
    const std::string path = "/proc/" + std::to_string(tid) + "/status";
    std::FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr)
        return 0;
    std::uint64_t caps = 0;
    char line[256];
    constexpr char FIELD[] = "CapEff:";
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, FIELD, sizeof FIELD - 1) == 0) {
            caps = std::strtoull(line + sizeof FIELD - 1, nullptr, 16);
            break;
        }
    std::fclose(f);
    return caps;
}

} // namespace

bool has_sys_admin(pid_t tid)
{
    if ((effective_caps(tid) & (std::uint64_t{1} << CAP_SYS_ADMIN)) == 0)
        return false;
    const std::string ns = "/proc/" + std::to_string(tid) + "/ns/user";
    struct stat st {
    };
    return stat(ns.c_str(), &st) == 0 && st.st_ino == INITIAL_USER_NAMESPACE;
}
