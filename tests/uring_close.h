// SPDX-FileCopyrightText: 2026 The panel developers
// SPDX-License-Identifier: MIT
// uring_close: a descriptor closed through io_uring (IORING_OP_CLOSE), as a
// program using io_uring closes its files: not a close(2) the panel sees.
//
// uring_close  closes fd; 0, or -errno (-ENOSYS, -EPERM where io_uring is
//              not to be had)
#ifndef TESTS_URING_CLOSE_H
#define TESTS_URING_CLOSE_H

[[nodiscard]] int uring_close(int fd);

#endif
