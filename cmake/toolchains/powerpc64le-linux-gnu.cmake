# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Cross build for powerpc64le-linux-gnu, run under qemu-ppc64le for the tests.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(PANEL_TRIPLET powerpc64le-linux-gnu)
set(PANEL_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
