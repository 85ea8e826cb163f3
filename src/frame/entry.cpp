// The process entry: hands the arguments to the platform, which answers the
// native program's options when start-up fetches them, and the main sequence
// to the start-up.
//
// It keeps the C runtime's usual start-up, which runs the global constructors,
// pseudo-relocations and thread-local set-up that the C++ code needs. On
// Windows that start-up's own app type, fault filter, FPU and argument steps
// run first, and start_process then repeats them in the settled order, so what
// is in force when the main sequence runs is ours.
#include "app/main_sequence.h"
#include "frame/process.h"
#include "platform/platform.h"

namespace {

int32_t run_main_sequence()
{
    main_sequence();
}

}  // namespace

int main(int argc, char** argv)
{
    platform::keep_main_args(argc, argv);
    start_process(run_main_sequence);
}
