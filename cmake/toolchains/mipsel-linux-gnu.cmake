# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Cross build for mipsel-linux-gnu, run under qemu-mipsel for the tests.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(PANEL_TRIPLET mipsel-linux-gnu)
set(PANEL_QEMU qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
