# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Run by cpack before it packs (CPACK_PRE_BUILD_SCRIPTS): the SPDX bill of
# materials of the sources, as `reuse spdx` reads them, into each package's
# doc folder beside its copyright file. Named and dated by the release, not
# by the folder or the moment of the build, so that two builds give the same
# bytes. A package is never made without it; a plain build and install never
# need reuse. PANEL_SOURCE_DIR, PANEL_VERSION, PANEL_DOCDIR and PANEL_SBOM
# (its name) come from the build.
find_program(REUSE reuse)
if(NOT REUSE)
  message(FATAL_ERROR "The packages carry an SPDX bill of materials made by reuse, "
                      "which is not installed (Debian package reuse)")
endif()
# In a git checkout, reuse reads what git does, and .gitignore leaves the
# build folders out. A source tree outside git (a release tarball) is read
# from a copy without its build folders: this one and any named build*.
set(sources ${PANEL_SOURCE_DIR})
if(NOT EXISTS ${PANEL_SOURCE_DIR}/.git)
  file(RELATIVE_PATH build ${PANEL_SOURCE_DIR} ${CPACK_PACKAGE_DIRECTORY})
  string(REGEX REPLACE "/.*" "" build "${build}")
  set(sources ${CPACK_TOPLEVEL_DIRECTORY}/sources)
  file(REMOVE_RECURSE ${sources})
  file(GLOB entries RELATIVE ${PANEL_SOURCE_DIR} ${PANEL_SOURCE_DIR}/* ${PANEL_SOURCE_DIR}/.*)
  foreach(entry IN LISTS entries)
    if(NOT entry MATCHES "^build" AND NOT entry STREQUAL build)
      file(COPY ${PANEL_SOURCE_DIR}/${entry} DESTINATION ${sources})
    endif()
  endforeach()
endif()
execute_process(COMMAND ${REUSE} --root ${sources} spdx
                OUTPUT_VARIABLE sbom RESULT_VARIABLE rc)
if(rc OR NOT sbom MATCHES "\nDocumentName: [^\n]*\nDocumentNamespace: [^\n]*\n")
  message(FATAL_ERROR "reuse spdx failed on ${sources}")
endif()
# The files' part says what the document is about: it names the namespace.
string(REGEX REPLACE "^.*\nCreatorComment: [^\n]*\n" "" files "${sbom}")
string(SHA256 digest "${files}")
string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC) # SOURCE_DATE_EPOCH when set
string(REGEX REPLACE "\nDocumentName: [^\n]*\nDocumentNamespace: [^\n]*\n"
       "\nDocumentName: panel-${PANEL_VERSION}\nDocumentNamespace: https://spdx.org/spdxdocs/panel-${PANEL_VERSION}-${digest}\n"
       sbom "${sbom}")
string(REGEX REPLACE "\nCreator: Person: [^\n]*\nCreator: Organization: [^\n]*\n"
       "\nCreator: Organization: The panel developers\n" sbom "${sbom}")
string(REGEX REPLACE "\nCreated: [^\n]*\n" "\nCreated: ${created}\n" sbom "${sbom}")
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  set(dir ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}/${PANEL_DOCDIR}/${component})
  file(WRITE ${dir}/${PANEL_SBOM} "${sbom}")
endforeach()
