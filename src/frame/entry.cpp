// The process entry: start-up, then the main sequence, which ends the process.
#include "app/main_sequence.h"
#include "frame/init_services.h"

int main()
{
    init_services();
    main_sequence();
}
