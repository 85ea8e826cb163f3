# The fuzz targets, and how many inputs beyond its corpus the test command
# gives each: a few seconds' worth, as each runs at its own speed.
set(FUZZ_TARGETS replace_all console key_wait dir_walk names)
set(FUZZ_RUNS_replace_all 200000)
set(FUZZ_RUNS_console 4000)
set(FUZZ_RUNS_key_wait 20000)
set(FUZZ_RUNS_dir_walk 20000)
set(FUZZ_RUNS_names 20000)
