// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// privilege: whether a watched program may do what the kernel keeps for
// the system's administrator.
//
// The kernel's capable(CAP_SYS_ADMIN) asks for the capability in the
// initial user namespace: root in a container of its own user namespace
// has it only there, and is refused. So a thread is privileged when its
// effective set holds CAP_SYS_ADMIN (/proc/TID/status) and its user
// namespace is the initial one, which the kernel gives a fixed inode
// number (/proc/TID/ns/user). What cannot be read counts as unprivileged.
//
// has_sys_admin  whether a thread holds CAP_SYS_ADMIN in the initial user namespace
#ifndef PRIVILEGE_H
#define PRIVILEGE_H

#include <sys/types.h>

[[nodiscard]] bool has_sys_admin(pid_t tid);

#endif
