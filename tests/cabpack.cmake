# The packager end to end. The host cabpack packs a probe program (which then checks its own
# resources and cabinet under Wine) and the real runner; the Windows build of cabpack must
# make the same bytes as the host one.
set(CABPACK_WORK ${CMAKE_CURRENT_BINARY_DIR}/cabpack)

# A GUI program, as a runner is (cabpack takes no other stub); Wine hands it the test's output all the same.
add_executable(cabpack_probe WIN32 cabpack_probe_test.cpp cabpack_probe.rc)
target_link_libraries(cabpack_probe PRIVATE cabrun_runner cabinet version GTest::gtest)
add_executable(cabpack_payload cabpack_payload.cpp)

add_test(NAME cabpack_make_packages${A}
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_make_packages.sh ${HOST_TOOLS_DIR}/cabpack ${CABRUN_ARCH}
    $<TARGET_FILE:cabpack_probe> $<TARGET_FILE:cabpack_payload> ${CABPACK_WORK} ${CMAKE_OBJDUMP})
set_tests_properties(cabpack_make_packages${A} PROPERTIES FIXTURES_SETUP cabpack_packages${A})

# cabpack_wine(TEST COMMAND...): TEST<arch> runs COMMAND, which starts packages with wine.
function(cabpack_wine test)
  add_test(NAME ${test}${A} COMMAND ${WINE} ${ARGN})
  cabrun_wine_properties(${test}${A})
  set_tests_properties(${test}${A} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED cabpack_packages${A})
endfunction()
cabpack_wine(cabpack_package wine ${CABPACK_WORK}/probe_pkg.exe Z:${CABPACK_WORK}/src "bin\\payload.exe"
  "HideWhileRunning=1,AllowExtractSwitch=0")
# The repacked probe also checks the version texts and icon cabpack_make_packages.sh gave it.
cabpack_wine(cabpack_repackage wine ${CABPACK_WORK}/probe_repkg.exe Z:${CABPACK_WORK}/src2 "setup.exe" "ReportPowerStatus=1"
  Z:${CABPACK_WORK}/probe.ico "ProductName=Probe Product" "ProductVersion=2.5.0.17" "FileVersion=2.5.0.16"
  "CompanyName=Morvane Test" "LegalCopyright=(c) 2026 Morvane" "FileDescription=Probe package"
  "OriginalFilename=probe-update.exe" "InternalName=probe-update")

# The real runner, packed twice, runs the payload of the second packing.
cabpack_wine(cabpack_runner_package
  sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_run_package.sh ${CABPACK_WORK}/cabrun_repkg.exe ${CABPACK_WORK}/ran.txt)

# An LZX package, expanded by the system's cabinet library, runs its payload.
cabpack_wine(cabpack_runner_lzx_package
  sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_run_package.sh ${CABPACK_WORK}/cabrun_lzx.exe ${CABPACK_WORK}/ran_lzx.txt)

cabpack_wine(cabpack_windows_build
  sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_windows_build.sh $<TARGET_FILE:cabpack_windows> ${CABRUN_ARCH} ${CABPACK_WORK}
    $<TARGET_FILE:cabpack_probe> $<TARGET_FILE:cabrun> ${HOST_TOOLS_DIR}/cabpack)

# The Debian package of the host build installs a cabpack that works from a package file alone,
# with the runners of both architectures.
if(CABRUN_ARCH STREQUAL "x86")
  add_test(NAME cabpack_install COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_install.sh ${HOST_TOOLS_DIR}
    ${CMAKE_CURRENT_BINARY_DIR}/cabpack_install)
endif()
