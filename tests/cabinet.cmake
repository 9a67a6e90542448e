# Cabinet tests; they make every cabinet they need with the cross-built cabinet writer.
cabrun_wine_test(cabinet_tests SOURCES cab_reader_test.cpp cab_output_test.cpp LIBS cabrun_cabinet cabrun_cabwriter)
cabrun_wine_run(cabinet_tests cabinet_tests ARGS --gtest_filter=-*JapaneseSystem*)
cabrun_wine_run(cabinet_tests_japanese cabinet_tests LOCALE japanese ARGS --gtest_filter=*JapaneseSystem*)

cabrun_wine_test(cabinet_fuzz_tests SOURCES cab_fuzz_test.cpp LIBS cabrun_cabinet cabrun_cabwriter)
cabrun_wine_run(cabinet_fuzz_tests cabinet_fuzz_tests)
