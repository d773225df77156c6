# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Shared by the cross toolchain files: Debian's cross compiler for
# PANEL_TRIPLET, its C library under /usr/PANEL_TRIPLET, and qemu-user to run
# what it builds (tests only; the programs need no emulator on the device).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PANEL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PANEL_TRIPLET}-g++)
# Debian's packages for the target (libseccomp-dev:armhf and the like,
# installed beside this machine's own) keep their libraries in
# /usr/lib/PANEL_TRIPLET and their headers in /usr/include, where the cross
# compiler looks too: each is a root of its own, so that CMake searches them
# as they are. Nothing else of this machine's is searched (not /usr/lib, not
# /usr/local): no library built for it can be found for a cross link.
set(CMAKE_FIND_ROOT_PATH /usr/${PANEL_TRIPLET} /usr/lib/${PANEL_TRIPLET} /usr/include)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# qemu-user takes the loader from the cross C library. That loader must load
# its own C library, not the target's libc6:ARCH that Debian's packages for
# the target bring along into /lib/PANEL_TRIPLET: the two are separate builds,
# and a loader with another build's C library may crash at start (ppc64el's
# does).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PANEL_QEMU} -L /usr/${PANEL_TRIPLET}
      -E LD_LIBRARY_PATH=/usr/${PANEL_TRIPLET}/lib)
endif()
