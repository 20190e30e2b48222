#pragma once

#include "engine/ModulationEngine.h"

#include <gtest/gtest.h>

namespace qvl::test
{
    // The processor's engine: 64 slots, 450 targets, its fourteen modulators, 350 ticks per second.
    struct PluginModulationEngine : ::testing::Test
    {
        ModulationEngine engine { 64, 450 };

        PluginModulationEngine()
        {
            engine.addPluginModulators();
            engine.controlRate = 350.0f;
        }

        void route (int slot, int modulator, int target, float amount, bool bipolar)
        {
            engine.slots[(size_t) slot] = { modulator, target, amount, bipolar, false };
        }
    };
}
