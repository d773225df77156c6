# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Cross build for aarch64-linux-gnu, run under qemu-aarch64 for the tests.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PANEL_TRIPLET aarch64-linux-gnu)
set(PANEL_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
