#include "engine/ModulationEngine.h"
#include "tests/engine/ModulationTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

using qvl::ModulationEngine;
using qvl::ModulatorKind;

namespace
{
    constexpr int lfo1 = 0, random1 = 4, macro1 = 8, audioIn = 12;
    constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
    constexpr float infinity = std::numeric_limits<float>::infinity();

    using EngineInput = qvl::test::PluginModulationEngine;

    using BadModulationInput = EngineInput;
    using ModulationAllocation = EngineInput;
}

TEST_F (BadModulationInput, OutOfRangeRoutingIsIgnored)
{
    for (int t = 0; t < 450; ++t)
        engine.setBaseValue (t, (float) t / 1000.0f);

    engine.macros[0].value = 1.0f;

    const int badTargets[] = { 450, 1000, -2, INT_MIN, INT_MAX };
    const int badModulators[] = { 14, -1, 99, INT_MIN, INT_MAX };
    int slot = 0;

    for (int target : badTargets)
        route (slot++, macro1, target, 1.0f, true);

    for (int modulator : badModulators)
        route (slot++, modulator, 100, 1.0f, true);

    engine.setBaseValue (-1, 1.0f);
    engine.setBaseValue (450, 1.0f);
    engine.setBaseValue (INT_MAX, 1.0f);

    engine.process (false, 0);

    for (int t = 0; t < 450; ++t)
        EXPECT_FLOAT_EQ (engine.getModulatedValue (t), (float) t / 1000.0f) << "target " << t;

    EXPECT_EQ (engine.getModulatedValue (-1), 0.0f);
    EXPECT_EQ (engine.getModulatedValue (450), 0.0f);
    EXPECT_EQ (engine.getModulatedValue (INT_MIN), 0.0f);
}

TEST_F (BadModulationInput, SlotsWithoutANumberAreSkipped)
{
    engine.macros[0].value = 1.0f;   // output +1
    engine.macros[1].value = 0.5f;   // output 0
    engine.setBaseValue (5, 0.4f);
    engine.setBaseValue (6, 0.4f);
    engine.setBaseValue (7, 0.4f);

    route (0, macro1, 5, notANumber, true);
    route (1, macro1, 5, 0.2f, true);
    route (2, macro1 + 1, 6, infinity, true);     // 0 x infinity
    route (3, macro1, 7, infinity, true);
    route (4, macro1, 7, -infinity, true);
    route (5, macro1, 7, 0.25f, true);

    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (5), 0.6f, 1.0e-6f);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (6), 0.4f);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (7), 0.25f);

    // A macro without a number contributes nothing either.
    engine.macros[0].value = notANumber;
    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (5), 0.4f);
}

TEST_F (BadModulationInput, LfoWithoutARateHolds)
{
    auto& lfo = engine.lfos[0];
    lfo.shape = 2;
    lfo.frequency = infinity;          // limited to 175 Hz like any fast rate

    engine.process (false, 0);
    EXPECT_EQ (lfo.output, -1.0f);
    engine.process (false, 0);
    EXPECT_EQ (lfo.output, 1.0f);

    lfo.frequency = notANumber;
    for (int i = 0; i < 5; ++i)
        engine.process (false, 0);

    EXPECT_EQ (lfo.output, 1.0f);
    EXPECT_DOUBLE_EQ (lfo.phase, 0.0);
    EXPECT_EQ (lfo.tickCounter, 2);
}

TEST_F (BadModulationInput, RandomWithoutARateFiresOnlyOnTrigger)
{
    auto& random = engine.randoms[0];
    random.rate = notANumber;
    random.probability = 1.0f;

    engine.random.setSeed (11);
    const int first = engine.random.next();
    engine.random.setSeed (11);

    for (int i = 0; i < 100; ++i)
        engine.process (false, 0);

    EXPECT_TRUE (random.cleared);
    EXPECT_EQ (engine.random.next(), first);

    random.triggerRequest = true;
    engine.process (false, 0);
    EXPECT_FALSE (random.cleared);

    // No probability: opportunities come and go without firing.
    auto& other = engine.randoms[1];
    other.rate = 175.0f;
    other.probability = notANumber;
    for (int i = 0; i < 100; ++i)
        engine.process (false, 0);

    EXPECT_TRUE (other.cleared);
}

TEST_F (BadModulationInput, FollowerStaysFiniteAndInRange)
{
    auto& follower = engine.followers[0];
    follower.rise = 0.1f;
    follower.fall = 0.1f;
    follower.inputLevel = notANumber;          // read as silence
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -0.9f, 1.0e-6f);

    follower.inputLevel = 1.0f;
    follower.rise = notANumber;                // holds
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -0.9f, 1.0e-6f);

    follower.rise = 5.0f;               // limited to 1: holds
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -0.9f, 1.0e-6f);

    follower.rise = -3.0f;              // limited to 0: jumps
    engine.process (false, 0);
    EXPECT_EQ (follower.output, 1.0f);
}

TEST_F (BadModulationInput, UnusableControlRateDoesNotBreakTheModulators)
{
    for (int i = 0; i < 4; ++i)
    {
        engine.lfos[(size_t) i].shape = i + 2;      // square, saws, noise
        engine.lfos[(size_t) i].frequency = 3.0f;
        engine.randoms[(size_t) i].rate = 5.0f;
        engine.randoms[(size_t) i].probability = 1.0f;
        route (i, lfo1 + i, i, 0.5f, true);
        route (4 + i, random1 + i, 10 + i, 0.5f, true);
    }

    for (float rate : { 0.0f, -350.0f, notANumber, infinity, 1.0e30f })
    {
        engine.controlRate = rate;

        for (int tick = 0; tick < 50; ++tick)
        {
            engine.randoms[0].triggerRequest = (tick % 7 == 0);
            engine.process (tick % 2 == 0, tick);
        }

        for (const auto& lfo : engine.lfos)
        {
            EXPECT_TRUE (std::isfinite (lfo.output)) << "control rate " << rate;
            EXPECT_LE (std::abs (lfo.output), 1.0f);
        }

        for (int t = 0; t < 14; ++t)
        {
            const float v = engine.getModulatedValue (t);
            EXPECT_TRUE (v >= 0.0f && v <= 1.0f) << "control rate " << rate << " target " << t;
        }
    }
}

// Synced modulators take the host's tick, which may be anywhere in the 64-bit range; stopped, they
// count on from there and wrap at the end instead of overflowing.
TEST_F (BadModulationInput, HostTicksAtTheEndsOfTheRange)
{
    engine.lfos[0].synced = true;
    engine.lfos[0].frequency = 2.0f;
    engine.randoms[0].synced = true;
    engine.randoms[0].rate = 5.0f;

    for (const auto tick : { std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), std::int64_t (-1) })
    {
        engine.process (true, tick);
        EXPECT_EQ (engine.randoms[0].tickCounter, tick);
        EXPECT_EQ (engine.lfos[0].tickCounter, tick);

        engine.process (false, 0);
        const auto next = (std::int64_t) ((std::uint64_t) tick + 1u);
        EXPECT_EQ (engine.randoms[0].tickCounter, next);
        EXPECT_EQ (engine.lfos[0].tickCounter, next);
        EXPECT_TRUE (std::isfinite (engine.lfos[0].output));
    }
}

TEST (BadModulationSizes, EmptyEnginesRunSafely)
{
    for (int size : { 0, -5 })
    {
        ModulationEngine engine (size, size);
        EXPECT_EQ (engine.getNumSlots(), 0);
        EXPECT_EQ (engine.getNumTargets(), 0);

        engine.addModulator (ModulatorKind::Random);
        engine.addModulator (ModulatorKind::LFO);
        engine.randoms[0].triggerRequest = true;
        engine.setBaseValue (0, 1.0f);
        engine.process (true, 0);

        EXPECT_FALSE (engine.randoms[0].cleared);
        EXPECT_EQ (engine.getModulatedValue (0), 0.0f);
    }
}

//==============================================================================
TEST_F (ModulationAllocation, TicksWithEveryModulatorAndSlotAllocateNothing)
{
    for (int i = 0; i < 4; ++i)
    {
        auto& lfo = engine.lfos[(size_t) i];
        lfo.frequency = 0.5f + 3.0f * (float) i;
        lfo.synced = (i % 2 == 0);

        auto& random = engine.randoms[(size_t) i];
        random.rate = 2.0f + 10.0f * (float) i;
        random.probability = 0.25f * (float) (i + 1);
        random.synced = (i % 2 == 1);

        engine.macros[(size_t) i].value = 0.2f * (float) i;
    }

    for (auto& follower : engine.followers)
    {
        follower.rise = 0.975f;
        follower.fall = 0.3f;
    }

    std::vector<float> before (450);
    for (int t = 0; t < 450; ++t)
        before[(size_t) t] = 0.5f;

    int changedTargets = 0;
    std::size_t allocations = 0;
    engine.random.setSeed (77);

    {
        const qvl::test::ScopedAllocationCounter counter;

        for (int tick = 0; tick < 20000; ++tick)
        {
            for (int t = 0; t < 450; ++t)
                engine.setBaseValue (t, 0.5f);

            for (int i = 0; i < 4; ++i)
            {
                engine.lfos[(size_t) i].shape = (tick / 500 + i) % 8 - 1;   // every shape, and both out-of-range sides
                engine.randoms[(size_t) i].triggerRequest = (tick % 37 == i);
                engine.randoms[(size_t) i].clearRequest = (tick % 101 == i);
            }

            engine.followers[0].inputLevel = (float) (tick % 100) / 100.0f;
            engine.followers[1].inputLevel = 1.0f - engine.followers[0].inputLevel;

            for (int s = 0; s < 64; ++s)
                engine.slots[(size_t) s] = { s % 14, (s * 7 + tick / 1000) % 450, (s % 2 == 0 ? 0.3f : -0.3f), s % 3 == 0, false };

            const bool playing = (tick / 3000) % 2 == 1;
            engine.process (playing, tick);
        }

        allocations = counter.count();

        for (int t = 0; t < 450; ++t)
            if (engine.getModulatedValue (t) != before[(size_t) t])
                ++changedTargets;
    }

    EXPECT_EQ (allocations, 0u);
    // The run really modulated: 64 routed slots move many targets away from their base.
    EXPECT_GT (changedTargets, 30);
    EXPECT_FALSE (engine.randoms[3].cleared);
}
