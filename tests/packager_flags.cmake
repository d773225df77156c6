# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Configures the project as a packager would, with flags that say the
# opposite of each of the project's defaults, and checks that none of the
# defaults comes back on the compile or link line of the programs.
set(build ${WORK}/packager-flags)
file(REMOVE_RECURSE ${build})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${build} -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=None
    "-DCMAKE_CXX_FLAGS=-O2 -fno-stack-protector -D_FORTIFY_SOURCE=1 -fexceptions -frtti -fno-PIE -fasynchronous-unwind-tables"
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,norelro -Wl,-z,lazy -no-pie -Wl,--no-as-needed"
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configure failed")
endif()
foreach(program panelcmd panel45)
  file(READ ${build}/${program}/CMakeFiles/${program}.dir/flags.make compile)
  file(READ ${build}/${program}/CMakeFiles/${program}.dir/link.txt link)
  file(READ ${build}/panel_link/CMakeFiles/panel_link.dir/flags.make library)
  foreach(flag -fstack-protector-strong -D_FORTIFY_SOURCE=2 -fno-exceptions -fno-rtti -fPIE
               -fno-asynchronous-unwind-tables -Wl,-z,relro -Wl,-z,now " -pie" -Wl,--as-needed)
    string(FIND "${compile} ${link} ${library}" "${flag}" at)
    if(at GREATER -1)
      message(SEND_ERROR "${program}: ${flag} overrides the packager's flags")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${build})
