# Machine probes and the report's machine section, against a scripted driver.
cabrun_wine_test(probes_tests SOURCES probes_test.cpp LIBS cabrun_probes)
cabrun_wine_run(probes_tests probes_tests)

cabrun_wine_test(machine_section_tests SOURCES machine_section_test.cpp LIBS cabrun_runner)
cabrun_wine_run(machine_section_tests machine_section_tests)
