# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# The programs and their copies.
#
# Every program is built once as it ships, opening /dev/ttyS1, and once for
# each copy in PANEL_COPIES, opening the copy's own device: _host, the host
# build's (PANEL_COPY_DEVICE_host, in PANEL_COPY_DIR_host) and _testhost, the
# tests' (PANEL_COPY_DEVICE_testhost, in PANEL_COPY_DIR_testhost). A copy's
# target is the program's name with the copy's suffix; its file has the
# program's own name, in the copy's folder, so that nobody ships it by
# mistake. Only the program as it ships is installed.
#
# panel_add_program(NAME SOURCES src... [LIBRARIES lib...])
#     the program NAME and its copies, each linked with the link module of its
#     own device (panel_link, panel_link_host, panel_link_testhost), the
#     LIBRARIES and the programs' options; NAME is installed in the bin folder

function(panel_add_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  # "" for the program as it ships, then the copies' suffixes.
  foreach(variant IN ITEMS "" ${PANEL_COPIES})
    add_executable(${name}${variant} ${arg_SOURCES})
    target_link_libraries(${name}${variant} PRIVATE panel_link${variant} ${arg_LIBRARIES} panel_program_options)
    if(variant)
      set_target_properties(${name}${variant} PROPERTIES
        OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY ${PANEL_COPY_DIR${variant}})
    endif()
  endforeach()
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT panel)
endfunction()
