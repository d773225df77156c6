# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Run by cpack before it packs (CPACK_PRE_BUILD_SCRIPTS): what a package
# needs of a library beyond what the library's own symbols file says, for
# dpkg-shlibdeps, which CPack runs in the package's folder and which reads
# debian/shlibs.local there first, and removes afterwards; only for the
# packages it runs for. PANEL_SHLIBS_LOCAL comes from the build.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  if(NOT CPACK_DEBIAN_${upper}_PACKAGE_SHLIBDEPS)
    continue()
  endif()
  file(WRITE ${CPACK_TEMPORARY_DIRECTORY}/${component}/debian/shlibs.local "${PANEL_SHLIBS_LOCAL}\n")
endforeach()
