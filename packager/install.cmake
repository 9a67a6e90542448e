# Installing the host build: cabpack in bin/, the stubs of both architectures where cabpack looks
# for them (../share/cabrun/ from its own folder), its manual page, its bash completion and its
# copyright file; CPack makes a Debian package of the same.
install(TARGETS cabpack RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/cabrun.exe ${CMAKE_BINARY_DIR}/cabrun-x64.exe DESTINATION share/cabrun)

# The manual page and the completion come from the switch table, printed by the cabpack just
# built; the page gzipped without a name or a time in it, as Debian keeps manual pages.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/cabpack.1.gz ${CMAKE_BINARY_DIR}/cabpack.bash
  COMMAND sh -c "\"$1\" --man-page > cabpack.1 && gzip -9n -c cabpack.1 > cabpack.1.gz" sh $<TARGET_FILE:cabpack>
  COMMAND sh -c "\"$1\" --bash-completion > cabpack.bash" sh $<TARGET_FILE:cabpack>
  DEPENDS cabpack WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
add_custom_target(cabpack_documents ALL DEPENDS ${CMAKE_BINARY_DIR}/cabpack.1.gz ${CMAKE_BINARY_DIR}/cabpack.bash)
install(FILES ${CMAKE_BINARY_DIR}/cabpack.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/cabpack.bash DESTINATION share/bash-completion/completions RENAME cabpack)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/cabpack)

# The maintainer is whoever ships the package: a build setting, not the identity of a commit.
set(CABPACK_MAINTAINER "Morvane cabrun maintainers <cabrun@morvane.example>" CACHE STRING
  "The maintainer the Debian package of cabpack names: \"Name <address>\"")
if(NOT CABPACK_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "CABPACK_MAINTAINER must read \"Name <address>\", not \"${CABPACK_MAINTAINER}\"")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cabpack)
set(CPACK_PACKAGE_VERSION ${CABRUN_VERSION})
set(CPACK_PACKAGE_CONTACT ${CABPACK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes cabrun packages: self-extracting cabinet runners for Windows (x86 and x64)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion it installs works without bash-completion, which loads it on demand.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
# The same sources make the same .deb: cpack takes every file's time from SOURCE_DATE_EPOCH,
# which (unless given) is the time of the commit packed, read when cpack runs.
configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_source_date.cmake.in ${CMAKE_BINARY_DIR}/cpack_source_date.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack_source_date.cmake)
include(CPack)
