# The fuzz targets, and how many inputs the test command runs on each, its
# corpus first: a few seconds' worth, as each runs at its own speed.
set(FUZZ_TARGETS replace_all console key_wait dir_walk names)
set(FUZZ_RUNS_replace_all 200000)
set(FUZZ_RUNS_console 10000)
set(FUZZ_RUNS_key_wait 20000)
set(FUZZ_RUNS_dir_walk 20000)
set(FUZZ_RUNS_names 30000)
