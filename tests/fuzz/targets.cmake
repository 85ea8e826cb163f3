# The fuzz targets: tests/fuzz/<target>_fuzz.cpp, corpus in tests/fuzz/corpus/<target>/.
set(FUZZ_TARGETS replace_all console key_wait dir_walk names)
