# Prints the size of a freshly linked exe: cmake -DEXE=PATH -DARCH=NAME -P report_size.cmake
file(SIZE "${EXE}" bytes)
get_filename_component(name "${EXE}" NAME)
message(STATUS "${name} (${ARCH}): ${bytes} bytes")
