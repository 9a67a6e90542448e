# Machine probes and the report's machine section, against a scripted driver.
cabrun_wine_test(probes_tests SOURCES probes_test.cpp LIBS cabrun_probes)
cabrun_wine_run(probes_tests probes_tests)
