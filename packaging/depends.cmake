# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Read by cpack when it makes the packages. The device package depends on the
# C library at the newest symbol version its programs need, as dpkg-shlibdeps
# would say it; read off the programs themselves, so that it holds for cross
# builds too, whose C library is not the system's. READELF and PROGRAMS come
# from the build.
set(newest "")
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${READELF} -d -V ${program} OUTPUT_VARIABLE info RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${READELF} failed on ${program}")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${info}")
  # The dynamic loader is the C library's too (ld-linux-armhf.so.3, ld.so.1).
  list(FILTER needed EXCLUDE REGEX "\\[(libc\\.so\\.6|ld[-.].*)\\]")
  if(needed)
    message(FATAL_ERROR "${program} needs more than the C library: ${needed}")
  endif()
  string(REGEX MATCHALL "Name: GLIBC_[0-9.]+" versions "${info}")
  foreach(version IN LISTS versions)
    string(REPLACE "Name: GLIBC_" "" version "${version}")
    if(version VERSION_GREATER newest)
      set(newest ${version})
    endif()
  endforeach()
endforeach()
if(newest)
  set(CPACK_DEBIAN_PANEL_PACKAGE_DEPENDS "libc6 (>= ${newest})")
endif()
