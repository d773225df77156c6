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
# reuse reads a copy of the sources alone, so that neither the build folders
# nor anything else lying in the tree reaches the bill of materials: in a git
# checkout the files git tracks; outside git (a release tarball) the tree
# without this build folder and any named build*.
set(sources ${CPACK_TOPLEVEL_DIRECTORY}/sources)
file(REMOVE_RECURSE ${sources})
find_program(GIT git)
set(tracked "")
if(GIT AND EXISTS ${PANEL_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT} -C ${PANEL_SOURCE_DIR} ls-files
                  OUTPUT_VARIABLE tracked RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "git ls-files failed in ${PANEL_SOURCE_DIR}")
  endif()
  string(REGEX REPLACE "\n$" "" tracked "${tracked}")
  string(REPLACE "\n" ";" tracked "${tracked}")
  foreach(file IN LISTS tracked)
    get_filename_component(dir ${file} DIRECTORY)
    if(EXISTS ${PANEL_SOURCE_DIR}/${file})
      file(COPY ${PANEL_SOURCE_DIR}/${file} DESTINATION ${sources}/${dir})
    endif()
  endforeach()
else()
  file(RELATIVE_PATH build ${PANEL_SOURCE_DIR} ${CPACK_PACKAGE_DIRECTORY})
  string(REGEX REPLACE "/.*" "" build "${build}")
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
