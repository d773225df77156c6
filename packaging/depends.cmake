# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Read by cpack when it makes the packages. The device package depends on the
# C library at the newest symbol version its programs need, as dpkg-shlibdeps
# would say it; read off the programs themselves, so that it holds for cross
# builds too, whose C library is not the system's. READELF and PROGRAMS come
# from the build, as do the other PANEL_ variables, for the scripts that cpack
# runs before and after it packs.
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

# The packages' date: SOURCE_DATE_EPOCH as given, or else the date of the
# changelog's latest entry, for CPack and dpkg-deb alike.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND dpkg-parsechangelog -l ${PANEL_CHANGELOG} -STimestamp
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(rc OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "dpkg-parsechangelog (Debian package dpkg-dev) cannot date ${PANEL_CHANGELOG}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
