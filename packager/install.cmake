# Installing the host build: cabpack in bin/, the stubs of both architectures where cabpack looks
# for them (../share/cabrun/ from its own folder); CPack makes a Debian package of the same.
install(TARGETS cabpack RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/cabrun.exe ${CMAKE_BINARY_DIR}/cabrun-x64.exe DESTINATION share/cabrun)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cabpack)
set(CPACK_PACKAGE_VERSION ${CABRUN_VERSION})
set(CPACK_PACKAGE_CONTACT "cabrun developers <cabrun@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes cabrun packages: self-extracting cabinet runners for Windows (x86 and x64)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
