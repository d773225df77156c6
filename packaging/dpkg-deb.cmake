# SPDX-FileCopyrightText: 2026 The panel developers
# SPDX-License-Identifier: MIT
# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS): each
# is made again by dpkg-deb from its own contents, so that the same sources
# give the same bytes. CPack's own writer dates every member by
# SOURCE_DATE_EPOCH but takes the modes of its folders and of the ar members
# from the umask of the build; dpkg-deb writes the ar members 0644, sorts the
# members, makes them root's, clamps their times to SOURCE_DATE_EPOCH and
# writes gzip headers without a time. The folders are made 0755 and the
# files 0644, or 0755 where they are executable, whatever the umask was, and
# every member, the root folder too, is dated SOURCE_DATE_EPOCH (set by
# depends.cmake when not given).
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message(FATAL_ERROR "dpkg-deb is needed to make the packages (Debian package dpkg)")
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${DPKG_DEB} --control ${deb} ${tree}/DEBIAN COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND chmod -R u=rwX,go=rX ${tree} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND find ${tree} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  foreach(script IN ITEMS preinst postinst prerm postrm config)
    if(EXISTS ${tree}/DEBIAN/${script})
      file(CHMOD ${tree}/DEBIAN/${script} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
           GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zgzip -z9 --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
