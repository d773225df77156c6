// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// seccomp_compat: seccomp's user-notification requests of Linux 6.6 and
// later, for builds whose kernel headers are older. Whether the running
// kernel has them is its answer to the request, not the headers'.
//
// SECCOMP_IOCTL_NOTIF_SET_FLAGS        sets flags of a listener
// SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP   the flag: the supervisor and the
//                                      program take turns on one CPU
#ifndef SECCOMP_COMPAT_H
#define SECCOMP_COMPAT_H

#include <linux/seccomp.h>

#ifndef SECCOMP_IOCTL_NOTIF_SET_FLAGS
#define SECCOMP_IOCTL_NOTIF_SET_FLAGS SECCOMP_IOW(4, __u64)
#endif
#ifndef SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP
#define SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP 1UL
#endif

#endif
