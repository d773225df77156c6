# SPDX-License-Identifier: MIT
# Shared by the cross toolchain files: Debian's cross compiler for
# PANEL_TRIPLET, its C library under /usr/PANEL_TRIPLET, and qemu-user to run
# what it builds (tests only; the programs need no emulator on the device).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PANEL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PANEL_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PANEL_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PANEL_QEMU} -L /usr/${PANEL_TRIPLET})
endif()
