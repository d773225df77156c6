# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Build defaults.
#
# Flags the project asks for by default, each given up where the packager's
# own flags (CMAKE_CXX_FLAGS, CMAKE_EXE_LINKER_FLAGS and those of the build
# type, as dpkg-buildflags or a Yocto or Buildroot recipe set them) already
# say something about the same feature: the packager's choice always wins.
#
# panel_default_compile(TARGET FLAG PATTERN)  FLAG unless the compile flags match PATTERN
# panel_default_link(TARGET FLAG PATTERN)     FLAG unless the link flags match PATTERN
# panel_hardening(TARGET)                     Debian's hardening: PIE, stack protector,
#                                             fortified functions, full RELRO
# panel_build_folder_unnamed()                the build folder's name kept out of
#                                             every object, unless the packager maps it
# panel_compressed(SOURCE OUT_VAR)            a document compressed as Debian ships it

string(TOUPPER "${CMAKE_BUILD_TYPE}" _panel_config)
set(PANEL_GIVEN_CXX_FLAGS " ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_panel_config}} ")
set(PANEL_GIVEN_LINK_FLAGS " ${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${_panel_config}} ")

function(panel_default_compile target flag pattern)
  if(NOT PANEL_GIVEN_CXX_FLAGS MATCHES "${pattern}")
    target_compile_options(${target} INTERFACE ${flag})
  endif()
endfunction()

function(panel_default_link target flag pattern)
  if(NOT PANEL_GIVEN_LINK_FLAGS MATCHES "${pattern}")
    target_link_options(${target} INTERFACE ${flag})
  endif()
endfunction()

# Debian's hardening, for the code of TARGET's users and their executables.
function(panel_hardening target)
  # Position-independent executables, so that the loader can place them
  # anywhere; a static build stays at its fixed address.
  if(NOT PANEL_GIVEN_CXX_FLAGS MATCHES " -f(no-)?(pie|PIE|pic|PIC) "
     AND NOT PANEL_GIVEN_LINK_FLAGS MATCHES " -(no-|static-)?pie ")
    target_compile_options(${target} INTERFACE -fPIE)
    if(NOT PANEL_STATIC)
      target_link_options(${target} INTERFACE -pie)
    endif()
  endif()
  panel_default_compile(${target} -fstack-protector-strong " -f(no-)?stack-protector")
  # The fortified string and output functions need optimisation to work.
  if(PANEL_GIVEN_CXX_FLAGS MATCHES " -O([1-3sgz]|fast)? " OR
     (NOT PANEL_GIVEN_CXX_FLAGS MATCHES " -O" AND _panel_config MATCHES "^(RELEASE|MINSIZEREL|RELWITHDEBINFO)$"))
    panel_default_compile(${target} -D_FORTIFY_SOURCE=2 "_FORTIFY_SOURCE")
  endif()
  panel_default_link(${target} -Wl,-z,relro " -Wl,.*-z,?(no)?relro")
  panel_default_link(${target} -Wl,-z,now " -Wl,.*-z,?(now|lazy)")
endfunction()

# The compiler names its working folder, the build folder, in the debug
# information, and so in the build ID that stays in a stripped program: two
# builds in folders of other names would give other bytes. It is named "."
# instead, unless the packager's own flags map that folder already. Where the
# sources are is the packager's to map (dpkg-buildflags does).
function(panel_build_folder_unnamed)
  string(FIND "${PANEL_GIVEN_CXX_FLAGS}" "-prefix-map=${CMAKE_BINARY_DIR}=" given)
  if(given EQUAL -1)
    add_compile_options("-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  endif()
endfunction()

# Compresses SOURCE as Debian installs documents (gzip -9n: no name, no time
# stamp) into the build folder, as part of the build; OUT_VAR names the file.
find_program(GZIP gzip REQUIRED)
function(panel_compressed source out_var)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${out} COMMAND ${GZIP} -9nc ${source} > ${out} DEPENDS ${source} VERBATIM)
  string(MAKE_C_IDENTIFIER "compressed_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${out})
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
