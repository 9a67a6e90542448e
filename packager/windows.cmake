# The packager's Windows side, in the cross build: the cabinet writer for the tests that
# need cabinets, cabpack.exe, and the runner copied beside the host cabpack as its default stub.
include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

add_library(cabrun_cabwriter STATIC ${CABWRITER_SOURCES})
target_link_libraries(cabrun_cabwriter PUBLIC ZLIB::ZLIB)

add_executable(cabpack_windows ${CMAKE_CURRENT_LIST_DIR}/cabpack.cpp ${CABPACK_PART_SOURCES})
set_target_properties(cabpack_windows PROPERTIES OUTPUT_NAME cabpack RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packager)
target_link_libraries(cabpack_windows PRIVATE cabrun_cabwriter)

add_custom_command(OUTPUT ${HOST_TOOLS_DIR}/cabrun.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:cabrun> ${HOST_TOOLS_DIR}/cabrun.exe
  DEPENDS cabrun)
add_custom_target(cabpack_stub ALL DEPENDS ${HOST_TOOLS_DIR}/cabrun.exe)
