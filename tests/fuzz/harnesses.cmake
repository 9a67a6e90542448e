# The fuzz harnesses, one per reader: tests/fuzz/<name>.cpp, its seeds in tests/fuzz/corpus/<name>.
set(CABPACK_FUZZ_HARNESSES package_list pe_resources version_resource icon_file signature package_file option_list
  cabinet_table texts)
