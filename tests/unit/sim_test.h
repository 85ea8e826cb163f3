// Base fixture: a fresh simulated platform and fresh service state per test.
#pragma once

#include <gtest/gtest.h>

#include "frame/process.h"
#include "sim/sim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { restart(); }

    // A fresh process: nothing simulated, services as start-up leaves them.
    static void restart()
    {
        sim::reset();
        init_services();
        sim::clear_calls();
    }
    void TearDown() override { sim::reset(); }
};
