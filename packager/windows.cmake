# The packager's side of the cross build: the cabinet writer for the tests that need cabinets,
# cabpack.exe with the runner beside it, the runner copied beside the host cabpack as its stub
# for this architecture, and (x86 build) the host build's Debian package.
include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

add_library(cabrun_cabwriter STATIC ${CABWRITER_SOURCES})
target_link_libraries(cabrun_cabwriter PUBLIC ZLIB::ZLIB shell32)

add_executable(cabpack_windows ${CMAKE_CURRENT_LIST_DIR}/cabpack.cpp ${CABPACK_PART_SOURCES})
set_target_properties(cabpack_windows PROPERTIES OUTPUT_NAME cabpack RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packager)
target_link_libraries(cabpack_windows PRIVATE cabrun_cabwriter shell32)
target_compile_definitions(cabpack_windows PRIVATE CABPACK_VERSION="${PROJECT_VERSION}")

# The runner of each architecture lies beside cabpack under its own name: cabrun.exe (x86, the
# default) and cabrun-x64.exe.
if(CABRUN_ARCH STREQUAL "x86")
  set(stub_name cabrun.exe)
else()
  set(stub_name cabrun-${CABRUN_ARCH}.exe)
endif()
add_custom_command(OUTPUT ${HOST_TOOLS_DIR}/${stub_name} ${CMAKE_BINARY_DIR}/packager/${stub_name}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:cabrun> ${HOST_TOOLS_DIR}/${stub_name}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:cabrun> ${CMAKE_BINARY_DIR}/packager/${stub_name}
  DEPENDS cabrun)
add_custom_target(cabpack_stub ALL DEPENDS ${HOST_TOOLS_DIR}/${stub_name} ${CMAKE_BINARY_DIR}/packager/${stub_name})

if(CABRUN_ARCH STREQUAL "x86")
  # build/host/cabpack_<version>_<arch>.deb: cabpack and both stubs (packager/install.cmake); the
  # x64 stub comes from the x64 build.
  add_custom_target(cabpack_deb
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR}/x64 --target cabpack_stub
    COMMAND ${CMAKE_COMMAND} --build ${HOST_TOOLS_DIR} --target package
    DEPENDS host_tools cabpack_stub)

  # cmake --install build --prefix DIR: the 32-bit cabpack.exe for Windows (it runs on x64 Windows
  # too) with both stubs beside it.
  install(TARGETS cabpack_windows RUNTIME DESTINATION .)
  install(FILES $<TARGET_FILE:cabrun> ${HOST_TOOLS_DIR}/cabrun-x64.exe DESTINATION .)
endif()
