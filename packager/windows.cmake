# The packager's side of the cross build: the cabinet writer for the tests that need cabinets,
# cabpack.exe (without package files: MinGW has no libinih) with the runner beside it, the runner
# copied beside the host cabpack as its default stub, and the host build's Debian package.
include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

add_library(cabrun_cabwriter STATIC ${CABWRITER_SOURCES})
target_link_libraries(cabrun_cabwriter PUBLIC ZLIB::ZLIB)

add_executable(cabpack_windows ${CMAKE_CURRENT_LIST_DIR}/cabpack.cpp ${CABPACK_PART_SOURCES})
set_target_properties(cabpack_windows PROPERTIES OUTPUT_NAME cabpack RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packager)
target_link_libraries(cabpack_windows PRIVATE cabrun_cabwriter shell32)
target_compile_definitions(cabpack_windows PRIVATE CABPACK_VERSION="${PROJECT_VERSION}" CABPACK_WITHOUT_INIH)

add_custom_command(OUTPUT ${HOST_TOOLS_DIR}/cabrun.exe ${CMAKE_BINARY_DIR}/packager/cabrun.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:cabrun> ${HOST_TOOLS_DIR}/cabrun.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:cabrun> ${CMAKE_BINARY_DIR}/packager/cabrun.exe
  DEPENDS cabrun)
add_custom_target(cabpack_stub ALL DEPENDS ${HOST_TOOLS_DIR}/cabrun.exe ${CMAKE_BINARY_DIR}/packager/cabrun.exe)

# build/host/cabpack_<version>_<arch>.deb: cabpack and its stub (packager/install.cmake).
add_custom_target(cabpack_deb
  COMMAND ${CMAKE_COMMAND} --build ${HOST_TOOLS_DIR} --target package
  DEPENDS host_tools cabpack_stub)

# cmake --install build --prefix DIR: cabpack.exe for Windows with its stub beside it.
install(TARGETS cabpack_windows RUNTIME DESTINATION .)
install(FILES $<TARGET_FILE:cabrun> DESTINATION .)
