#include "engine/ModulationEngine.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

using qvl::ModulationEngine;
using qvl::ModulatorKind;

namespace
{
    constexpr int numSlots = 64;
    constexpr int numTargets = 450;

    // The processor's engine with every modulator running and all 64 slots routed.
    void setUpBusyEngine (ModulationEngine& engine)
    {
        engine.addPluginModulators();
        engine.controlRate = 350.0f;

        const int lfoShapes[] = { 0, 1, 4, 5 };   // sine, triangle, saw down, noise

        for (int i = 0; i < 4; ++i)
        {
            auto& lfo = engine.lfos[(size_t) i];
            lfo.shape = lfoShapes[i];
            lfo.frequency = 0.7f + 2.3f * (float) i;
            lfo.synced = (i % 2 == 0);

            auto& random = engine.randoms[(size_t) i];
            random.rate = 4.0f + 20.0f * (float) i;
            random.probability = 0.75f;
            random.synced = (i % 2 == 1);
            random.triggerRequest = true;     // fired on the first tick, so every random slot contributes

            engine.macros[(size_t) i].value = 0.25f * (float) i;
        }

        for (auto& follower : engine.followers)
        {
            follower.inputLevel = 0.6f;
            follower.rise = 0.975f;
            follower.fall = 0.4f;
        }

        for (int s = 0; s < numSlots; ++s)
            engine.slots[(size_t) s] = { s % 14, (s * 7) % numTargets, (s % 2 == 0 ? 0.3f : -0.2f), s % 3 != 0, false };

        for (int t = 0; t < numTargets; ++t)
            engine.setBaseValue (t, (float) (t % 100) / 100.0f);

        engine.process (true, 0);

        for (auto& random : engine.randoms)
            random.triggerRequest = false;
    }
}

// One control tick of the engine alone.
static void BM_ModulationProcess (benchmark::State& state)
{
    ModulationEngine engine (numSlots, numTargets);
    setUpBusyEngine (engine);
    engine.random.setSeed (1);
    std::int64_t hostTick = 1;

    for (auto _ : state)
    {
        engine.process (true, hostTick++);
        benchmark::ClobberMemory();
    }

    benchmark::DoNotOptimize (engine.getModulatedValue (0));
    state.SetItemsProcessed (state.iterations());
}
BENCHMARK (BM_ModulationProcess);

// The engine's share of a control update: every base value, the modulator settings and the slots, then the tick.
static void BM_ModulationControlTick (benchmark::State& state)
{
    ModulationEngine engine (numSlots, numTargets);
    setUpBusyEngine (engine);
    engine.random.setSeed (1);
    std::int64_t hostTick = 1;
    float wobble = 0.0f;

    for (auto _ : state)
    {
        wobble = wobble < 0.5f ? wobble + 0.001f : 0.0f;

        for (int t = 0; t < numTargets; ++t)
            engine.setBaseValue (t, 0.25f + wobble);

        for (int i = 0; i < 4; ++i)
        {
            engine.lfos[(size_t) i].frequency = 1.0f + wobble;
            engine.randoms[(size_t) i].probability = 0.5f + wobble;
            engine.macros[(size_t) i].value = wobble;
        }

        for (int s = 0; s < numSlots; ++s)
            engine.slots[(size_t) s].amount = (s % 2 == 0 ? wobble : -wobble);

        engine.process (true, hostTick++);
        benchmark::ClobberMemory();
    }

    benchmark::DoNotOptimize (engine.getModulatedValue (0));
    state.SetItemsProcessed (state.iterations());
}
BENCHMARK (BM_ModulationControlTick);
