# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Cross build for mips-linux-gnu, run under qemu-mips for the tests.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(PANEL_TRIPLET mips-linux-gnu)
set(PANEL_QEMU qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
