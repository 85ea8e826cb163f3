// Prepares the services before the main sequence runs.
#pragma once

void init_services();
