# End-to-end tests of the whole run: real packages made by cabpack around the real runner,
# driven under Wine by run_driver (message boxes answered, progress window watched and cancelled).
add_executable(probe_payload WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/programs/probe_payload.cpp)
target_link_options(probe_payload PRIVATE -s)

set(RUN_PACKAGES_DIR ${CMAKE_CURRENT_BINARY_DIR}/run_packages)
add_test(NAME make_run_packages${A}
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/make_test_packages.sh ${HOST_TOOLS_DIR}/cabpack $<TARGET_FILE:cabrun>
          $<TARGET_FILE:probe_payload> ${CMAKE_CURRENT_SOURCE_DIR}/programs ${RUN_PACKAGES_DIR})
set_tests_properties(make_run_packages${A} PROPERTIES FIXTURES_SETUP run_packages${A})

cabrun_wine_test(run_tests SOURCES run_test.cpp run_driver_test.cpp run_extract_test.cpp run_failure_test.cpp
  run_payload_test.cpp run_race_test.cpp run_driver.cpp LIBS cabrun_ui cabrun_sys shell32 gdi32 psapi)
target_compile_definitions(run_tests PRIVATE RUN_PACKAGES_DIR="Z:${RUN_PACKAGES_DIR}"
                                              PROBE_PAYLOAD_PATH="Z:$<TARGET_FILE:probe_payload>")
add_dependencies(run_tests probe_payload)
cabrun_wine_run(run_tests run_tests ARGS --gtest_filter=-*JapaneseSystem*)
cabrun_wine_run(run_tests_japanese run_tests LOCALE japanese ARGS --gtest_filter=*JapaneseSystem*)
set_tests_properties(run_tests${A} run_tests_japanese${A} PROPERTIES FIXTURES_REQUIRED run_packages${A})
# The runs share the runner's work folder, whose contents the tests check: nothing beside them.
set_tests_properties(run_tests${A} run_tests_japanese${A} PROPERTIES RUN_SERIAL TRUE)
