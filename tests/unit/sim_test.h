// Base fixture: a fresh simulated platform and fresh service state per test.
#pragma once

#include <gtest/gtest.h>

#include "frame/init_services.h"
#include "services/service_state.h"
#include "sim/sim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { restart(); }

    // A fresh process: nothing simulated, services as start-up leaves them.
    static void restart()
    {
        sim::reset();
        reset_service_state();
        init_services();
        sim::clear_calls();
    }
    void TearDown() override
    {
        reset_service_state();
        sim::reset();
    }
};
