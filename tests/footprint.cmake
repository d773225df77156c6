# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Checks each of PROGRAMS: the C library is its only shared library (none for
# a static build), and its stripped size is at most MAX_BYTES (dynamic builds).
foreach(program IN LISTS PROGRAMS)
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${READELF} -d ${program} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${READELF} failed on ${program}")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
  string(REPLACE "Shared library: " "" needed "${needed}")
  # The dynamic loader is part of the C library; some processors' programs
  # name it, for the stack protector's guard (ld-linux-armhf.so.3, ld.so.1).
  list(FILTER needed EXCLUDE REGEX "^\\[ld[-.].*\\]$")
  if(STATIC)
    set(want "")
  else()
    set(want "[libc.so.6]")
  endif()
  if(NOT "${needed}" STREQUAL "${want}")
    message(FATAL_ERROR "${name} needs ${needed}, want ${want}")
  endif()
  if(NOT STATIC)
    set(stripped ${CMAKE_CURRENT_BINARY_DIR}/${name}.stripped)
    execute_process(COMMAND ${STRIP} -o ${stripped} ${program} RESULT_VARIABLE rc)
    file(SIZE ${stripped} size)
    file(REMOVE ${stripped})
    if(rc OR size GREATER MAX_BYTES)
      message(FATAL_ERROR "${name}: ${size} bytes stripped, at most ${MAX_BYTES}")
    endif()
    message(STATUS "${name}: ${needed}, ${size} bytes stripped")
  endif()
endforeach()
