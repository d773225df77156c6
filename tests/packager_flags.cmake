# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Configures the project as a packager would, with flags that say the
# opposite of each of the project's defaults, and checks that none of the
# defaults comes back on the compile or link line of the programs, with the
# generator GENERATOR: "Unix Makefiles", or Ninja, which the firmware build
# systems use (it says "SKIP" when Ninja is not installed).
if(GENERATOR STREQUAL "Ninja")
  find_program(NINJA NAMES ninja ninja-build)
  if(NOT NINJA)
    message("SKIP: Ninja is not installed")
    return()
  endif()
endif()
string(MAKE_C_IDENTIFIER "${GENERATOR}" name)
set(build ${WORK}/packager-flags-${name})
file(REMOVE_RECURSE ${build})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${build} -G ${GENERATOR} -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=None
    "-DCMAKE_CXX_FLAGS=-O2 -fno-stack-protector -D_FORTIFY_SOURCE=1 -fexceptions -frtti -fno-PIE -fasynchronous-unwind-tables"
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,norelro -Wl,-z,lazy -no-pie -Wl,--no-as-needed"
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure failed")
endif()
# The commands that build PROGRAM, its libraries' included, into OUT_VAR.
function(commands program out_var)
  if(GENERATOR STREQUAL "Ninja")
    execute_process(COMMAND ${NINJA} -C ${build} -t commands bin/${program}
      OUTPUT_VARIABLE all RESULT_VARIABLE rc)
    if(rc)
      message(FATAL_ERROR "ninja cannot list the commands for ${program}")
    endif()
  else()
    file(READ ${build}/${program}/CMakeFiles/${program}.dir/flags.make compile)
    file(READ ${build}/${program}/CMakeFiles/${program}.dir/link.txt link)
    file(READ ${build}/panel_link/CMakeFiles/panel_link.dir/flags.make library)
    set(all "${compile} ${link} ${library}")
  endif()
  if(NOT all MATCHES "panel_link")
    message(FATAL_ERROR "${program}: no commands read")
  endif()
  set(${out_var} "${all}" PARENT_SCOPE)
endfunction()

foreach(program panelcmd panel45)
  commands(${program} all)
  foreach(flag -fstack-protector-strong -D_FORTIFY_SOURCE=2 -fno-exceptions -fno-rtti -fPIE
               -fno-asynchronous-unwind-tables -Wl,-z,relro -Wl,-z,now " -pie" -Wl,--as-needed)
    string(FIND "${all}" "${flag}" at)
    if(at GREATER -1)
      message(SEND_ERROR "${program}: ${flag} overrides the packager's flags")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${build})
