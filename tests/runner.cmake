cabrun_wine_test(runner_tests SOURCES runner_test.cpp LIBS cabrun_runner)
cabrun_wine_run(runner_tests runner_tests)
