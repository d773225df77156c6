# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Cross build for arm-linux-gnueabihf, run under qemu-arm for the tests.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PANEL_TRIPLET arm-linux-gnueabihf)
set(PANEL_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
