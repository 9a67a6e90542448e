# The progress window and the launcher: real windows under Xvfb, and a small program to start.
add_executable(launch_recorder WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/programs/launch_recorder.cpp)

cabrun_wine_test(ui_tests SOURCES ui_test.cpp LIBS cabrun_ui cabrun_window_res)
target_compile_definitions(ui_tests PRIVATE LAUNCH_RECORDER_PATH="Z:$<TARGET_FILE:launch_recorder>")
add_dependencies(ui_tests launch_recorder)
cabrun_wine_run(ui_tests ui_tests ARGS --gtest_filter=-*JapaneseSystem*)
cabrun_wine_run(ui_tests_japanese ui_tests LOCALE japanese ARGS --gtest_filter=*JapaneseSystem*)

# The window shown for screenshots (tools/screenshot.sh).
add_executable(window_demo WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/programs/window_demo.cpp)
target_link_libraries(window_demo PRIVATE cabrun_ui cabrun_window_res)
