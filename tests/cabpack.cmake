# The packager end to end. The host cabpack packs a probe program (which then checks its own
# resources and cabinet under Wine) and the real runner; the Windows build of cabpack must
# make the same bytes as the host one.
set(CABPACK_WORK ${CMAKE_CURRENT_BINARY_DIR}/cabpack)
set(CABPACK_TEST_ENV ${WINE_TEST_ENV} ${ENGLISH_LOCALE})

add_executable(cabpack_probe cabpack_probe_test.cpp cabpack_probe.rc)
target_link_libraries(cabpack_probe PRIVATE cabrun_runner cabinet version GTest::gtest)
add_executable(cabpack_payload cabpack_payload.cpp)

add_test(NAME cabpack_make_packages
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_make_packages.sh ${HOST_TOOLS_DIR}/cabpack
    $<TARGET_FILE:cabpack_probe> $<TARGET_FILE:cabpack_payload> ${CABPACK_WORK} ${CMAKE_OBJDUMP})
set_tests_properties(cabpack_make_packages PROPERTIES FIXTURES_SETUP cabpack_packages)

# cabpack_wine(TEST PROGRAM ARGS...): runs a package under Wine.
function(cabpack_wine test program)
  add_test(NAME ${test} COMMAND wine ${CABPACK_WORK}/${program} ${ARGN})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${CABPACK_TEST_ENV}" TIMEOUT 300
    FIXTURES_REQUIRED cabpack_packages)
endfunction()
cabpack_wine(cabpack_package probe_pkg.exe Z:${CABPACK_WORK}/src "bin\\payload.exe"
  "HideWhileRunning=1,AllowExtractSwitch=0")
# The repacked probe also checks the version texts and icon cabpack_make_packages.sh gave it.
cabpack_wine(cabpack_repackage probe_repkg.exe Z:${CABPACK_WORK}/src2 "setup.exe" "ReportPowerStatus=1"
  Z:${CABPACK_WORK}/probe.ico "ProductName=Probe Product" "ProductVersion=2.5.0.17" "FileVersion=2.5.0.16"
  "CompanyName=Morvane Test" "LegalCopyright=(c) 2026 Morvane" "FileDescription=Probe package"
  "OriginalFilename=probe-update.exe" "InternalName=probe-update")

# The real runner, packed twice, runs the payload of the second packing.
add_test(NAME cabpack_runner_package
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_run_package.sh ${CABPACK_WORK}/cabrun_repkg.exe ${CABPACK_WORK}/ran.txt)
set_tests_properties(cabpack_runner_package PROPERTIES ENVIRONMENT "${CABPACK_TEST_ENV}" TIMEOUT 300
  FIXTURES_REQUIRED cabpack_packages)

# An LZX package, expanded by the system's cabinet library, runs its payload.
add_test(NAME cabpack_runner_lzx_package
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_run_package.sh ${CABPACK_WORK}/cabrun_lzx.exe ${CABPACK_WORK}/ran_lzx.txt)
set_tests_properties(cabpack_runner_lzx_package PROPERTIES ENVIRONMENT "${CABPACK_TEST_ENV}" TIMEOUT 300
  FIXTURES_REQUIRED cabpack_packages)

add_test(NAME cabpack_windows_build
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_windows_build.sh $<TARGET_FILE:cabpack_windows> ${CABPACK_WORK}
    $<TARGET_FILE:cabpack_probe> $<TARGET_FILE:cabrun>)
set_tests_properties(cabpack_windows_build PROPERTIES ENVIRONMENT "${CABPACK_TEST_ENV}" TIMEOUT 300
  FIXTURES_REQUIRED cabpack_packages)

# The Debian package of the host build installs a cabpack that works from a package file alone.
add_test(NAME cabpack_install COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cabpack_install.sh ${HOST_TOOLS_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/cabpack_install)
