#include "engine/ModulationEngine.h"
#include "tests/engine/ModulationTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

using qvl::ModulationEngine;
using qvl::ModulatorKind;

namespace
{
    // Modulator indices as the processor registers them.
    constexpr int lfo1 = 0, random1 = 4, random2 = 5, macro1 = 8, macro2 = 9, audioIn = 12, audioOut = 13;

    constexpr float tolerance = 1.0e-6f;

    float unitFromRand (int r)    { return r / 32767.0f; }
    float bipolarFromRand (int r) { return 2.0f * r / 32767.0f - 1.0f; }

    struct ProcessorEngine : qvl::test::PluginModulationEngine
    {
        float tick (bool isPlaying = false, std::int64_t hostTick = 0)
        {
            engine.process (isPlaying, hostTick);
            return engine.lfos[0].output;
        }
    };

    using ModulationRegistration = ProcessorEngine;
    using LfoModulator = ProcessorEngine;
    using RandomModulator = ProcessorEngine;
    using AudioFollower = ProcessorEngine;
    using SlotRouting = ProcessorEngine;
}

//==============================================================================
TEST (ModulationEngineConstruction, StartsEmptyWithDefaultSlots)
{
    ModulationEngine engine (64, 450);

    EXPECT_EQ (engine.controlRate, 1.0f);
    EXPECT_TRUE (engine.modulators.empty());
    EXPECT_TRUE (engine.sources.empty());
    ASSERT_EQ (engine.slots.size(), 64u);
    ASSERT_EQ (engine.getNumTargets(), 450);

    for (const auto& slot : engine.slots)
    {
        EXPECT_EQ (slot.modulator, 0);
        EXPECT_EQ (slot.target, -1);
        EXPECT_EQ (slot.amount, 0.0f);
        EXPECT_FALSE (slot.bipolar);
        EXPECT_FALSE (slot.bypassed);
    }

    for (int t = 0; t < 450; ++t)
    {
        EXPECT_EQ (engine.baseValues[(size_t) t], 0.0f);
        EXPECT_EQ (engine.getModulatedValue (t), 0.0f);
    }
}

TEST (ModulationEngineConstruction, KindNames)
{
    EXPECT_STREQ (qvl::getModulatorKindName (0), "LFO");
    EXPECT_STREQ (qvl::getModulatorKindName (1), "Random");
    EXPECT_STREQ (qvl::getModulatorKindName (2), "Macro");
    EXPECT_STREQ (qvl::getModulatorKindName (3), "Audio");
    EXPECT_STREQ (qvl::getModulatorKindName (ModulatorKind::Audio), "Audio");
    EXPECT_STREQ (qvl::getModulatorKindName (-1), "");
    EXPECT_STREQ (qvl::getModulatorKindName (4), "");
}

TEST_F (ModulationRegistration, ProcessorOrderGivesTheModulatorIndices)
{
    ASSERT_EQ (engine.modulators.size(), 14u);
    ASSERT_EQ (engine.sources.size(), 14u);

    const ModulatorKind kinds[] = { ModulatorKind::LFO, ModulatorKind::Random, ModulatorKind::Macro };

    for (int m = 0; m < 12; ++m)
    {
        EXPECT_EQ (engine.modulators[(size_t) m].kind, kinds[m / 4]);
        EXPECT_EQ (engine.modulators[(size_t) m].indexInKind, m % 4);
        EXPECT_EQ (engine.modulators[(size_t) m].sourceIndex, m);
    }

    EXPECT_EQ (engine.modulators[audioIn].kind, ModulatorKind::Audio);
    EXPECT_EQ (engine.modulators[audioIn].indexInKind, 0);
    EXPECT_EQ (engine.modulators[audioOut].indexInKind, 1);
    EXPECT_EQ (engine.modulators[audioOut].sourceIndex, 13);

    // Sources point at the records' outputs; a random modulator has one value per slot.
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ (engine.sources[(size_t) (lfo1 + k)].outputs, &engine.lfos[(size_t) k].output);
        EXPECT_EQ (engine.sources[(size_t) (lfo1 + k)].count, 1);
        EXPECT_EQ (engine.sources[(size_t) (random1 + k)].outputs, engine.randoms[(size_t) k].values.data());
        EXPECT_EQ (engine.sources[(size_t) (random1 + k)].count, 64);
        EXPECT_EQ (engine.sources[(size_t) (macro1 + k)].outputs, &engine.macros[(size_t) k].output);
    }

    EXPECT_EQ (engine.sources[audioIn].outputs, &engine.followers[0].output);
    EXPECT_EQ (engine.sources[audioOut].outputs, &engine.followers[1].output);

    for (const auto& random : engine.randoms)
    {
        EXPECT_TRUE (random.cleared);
        EXPECT_EQ (random.values, std::vector<float> (64, 0.0f));
    }

    EXPECT_EQ (engine.lfos[0].shape, 0);
    EXPECT_EQ (engine.lfos[0].frequency, 0.0f);
}

TEST (ModulationEngineConstruction, RefusesRecordsBeyondTheReservedRoom)
{
    ModulationEngine engine (8, 16);

    for (int i = 0; i < 4; ++i)
        EXPECT_EQ (engine.addModulator (ModulatorKind::Random), i);

    const float* firstValues = engine.randoms[0].values.data();

    EXPECT_EQ (engine.addModulator (ModulatorKind::Random), -1);
    EXPECT_EQ (engine.addModulator (static_cast<ModulatorKind> (7)), -1);
    EXPECT_EQ (engine.randoms.size(), 4u);
    EXPECT_EQ (engine.modulators.size(), 4u);
    EXPECT_EQ (engine.randoms[0].values.data(), firstValues);

    // Other kinds still have their own room.
    EXPECT_EQ (engine.addModulator (ModulatorKind::Macro), 4);
}

//==============================================================================
TEST_F (LfoModulator, HoldsOutputAndPhaseBelowTheMinimumFrequency)
{
    auto& lfo = engine.lfos[0];
    lfo.shape = 3;               // saw up
    lfo.frequency = 87.5f;       // 4 ticks per cycle

    EXPECT_FLOAT_EQ (tick(), -1.0f);
    EXPECT_FLOAT_EQ (tick(), -0.5f);
    EXPECT_FLOAT_EQ (tick(), 0.0f);
    EXPECT_DOUBLE_EQ (lfo.phase, 0.75);

    lfo.frequency = 0.0009f;

    for (int i = 0; i < 10; ++i)
        EXPECT_FLOAT_EQ (tick(), 0.0f);

    EXPECT_DOUBLE_EQ (lfo.phase, 0.75);
    EXPECT_EQ (lfo.tickCounter, 3);

    lfo.frequency = 87.5f;
    EXPECT_FLOAT_EQ (tick(), 0.5f);
}

TEST_F (LfoModulator, FrequencyIsLimitedToHalfTheControlRate)
{
    auto& lfo = engine.lfos[0];
    lfo.shape = 2;               // square
    lfo.frequency = 1000.0f;     // runs at 175 Hz: x alternates 0 and 0.5

    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (tick(), -1.0f);
        EXPECT_DOUBLE_EQ (lfo.phase, 0.5);
        EXPECT_EQ (tick(), 1.0f);    // x = 0.5 exactly gives +1
        EXPECT_DOUBLE_EQ (lfo.phase, 0.0);
    }
}

TEST_F (LfoModulator, ShapesOverOneCycle)
{
    // Four ticks per cycle: x = 0, 0.25, 0.5, 0.75.
    struct Case { int shape; float expected[4]; };
    const Case cases[] = {
        { 0, { 0.0f, 1.0f, 0.0f, -1.0f } },     // sine
        { -3, { 0.0f, 1.0f, 0.0f, -1.0f } },    // below 0 acts as sine
        { 1, { 1.0f, 0.0f, -1.0f, 0.0f } },     // triangle
        { 2, { -1.0f, -1.0f, 1.0f, 1.0f } },    // square
        { 3, { -1.0f, -0.5f, 0.0f, 0.5f } },    // saw up
        { 4, { 1.0f, 0.5f, 0.0f, -0.5f } },     // saw down
    };

    for (const auto& c : cases)
    {
        auto& lfo = engine.lfos[0];
        lfo = {};
        lfo.shape = c.shape;
        lfo.frequency = 87.5f;

        for (int cycle = 0; cycle < 2; ++cycle)
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR (tick(), c.expected[i], tolerance) << "shape " << c.shape << " tick " << i;
    }
}

TEST_F (LfoModulator, NoiseMovesBetweenPointsDrawnAtEachCycleStart)
{
    for (int shape : { 5, 9 })     // above 5 acts as noise
    {
        auto& lfo = engine.lfos[0];
        lfo = {};
        lfo.shape = shape;
        lfo.frequency = 87.5f;

        engine.random.setSeed (1234);
        const float n1 = unitFromRand (engine.random.next());
        const float n2 = unitFromRand (engine.random.next());
        const float n3 = unitFromRand (engine.random.next());
        engine.random.setSeed (1234);

        // First cycle runs from the initial point 0 to n1.
        EXPECT_NEAR (tick(), -1.0f, tolerance);
        EXPECT_NEAR (tick(), 2.0f * (n1 * 0.25f) - 1.0f, tolerance);
        EXPECT_NEAR (tick(), 2.0f * (n1 * 0.5f) - 1.0f, tolerance);
        EXPECT_NEAR (tick(), 2.0f * (n1 * 0.75f) - 1.0f, tolerance);

        EXPECT_NEAR (tick(), 2.0f * n1 - 1.0f, tolerance);
        EXPECT_NEAR (tick(), 2.0f * (n1 + (n2 - n1) * 0.25f) - 1.0f, tolerance);
        EXPECT_FLOAT_EQ (lfo.noisePrevious, n1);
        EXPECT_FLOAT_EQ (lfo.noiseNext, n2);

        // Exactly one draw per cycle so far.
        EXPECT_EQ (unitFromRand (engine.random.next()), n3);
    }
}

TEST_F (LfoModulator, SyncedFollowsTheHostTickOnlyWhilePlaying)
{
    auto& lfo = engine.lfos[0];
    lfo.shape = 3;               // saw up shows x directly
    lfo.frequency = 1.0f;        // 350 ticks per cycle
    lfo.synced = true;

    EXPECT_NEAR (tick (true, 525), 0.0f, tolerance);     // x = 0.5
    EXPECT_EQ (lfo.tickCounter, 525);
    EXPECT_DOUBLE_EQ (lfo.phase, 0.0);

    EXPECT_NEAR (tick (true, 700), -1.0f, tolerance);    // x = 0
    EXPECT_NEAR (tick (true, 1137), 2.0f * 0.2485714f - 1.0f, 1.0e-5f);

    lfo.shape = 2;
    EXPECT_EQ (tick (true, 525), 1.0f);                  // square at x = 0.5

    // Stopped host: free-running from its own phase, which syncing left at 0.
    lfo.shape = 3;
    EXPECT_NEAR (tick (false, 525), -1.0f, tolerance);
    EXPECT_EQ (lfo.tickCounter, 526);
    EXPECT_NEAR (tick (false, 525), 2.0f / 350.0f - 1.0f, tolerance);

    // Playing but not synced is free-running too.
    lfo.synced = false;
    EXPECT_NEAR (tick (true, 525), 4.0f / 350.0f - 1.0f, tolerance);
}

// Given its cycle in the host position's unit, a synced modulator follows the position, not the
// tick count: spans of any length, joined end to start, give each line one firing and each tick
// its exact phase.
TEST_F (LfoModulator, SyncedCycleFollowsThePositionExactly)
{
    struct Row { double span, cycle; int ticks, lines; };
    const Row rows[] = { { 0.7, 2.5, 142, 40 },      // lines anywhere inside spans
                         { 0.5, 2.5, 199, 40 },      // every fifth boundary a line
                         { 0.1, 0.3, 1000, 334 } };  // boundaries that miss the lines by a rounding

    for (const auto& row : rows)
    {
        auto& lfo = engine.lfos[0];
        auto& random = engine.randoms[0];
        lfo.shape = 3;
        lfo.frequency = 1.0f;
        lfo.synced = random.synced = true;
        lfo.syncedCycle = random.syncedCycle = row.cycle;
        random.rate = 1.0f;
        random.probability = 1.0f;

        int fires = 0;
        double worst = 0.0;
        std::vector<float> last (random.values);

        for (int k = 0; k < row.ticks; ++k)
        {
            const double start = k * row.span;
            engine.process (true, qvl::HostPosition { 7, start, start, (k + 1) * row.span });

            fires += random.values != last ? 1 : 0;
            last = random.values;
            const double x = start / row.cycle - std::floor (start / row.cycle);
            const double error = std::abs ((lfo.output + 1.0) / 2.0 - x);
            worst = std::max (worst, std::min (error, 1.0 - error));
            ASSERT_EQ (lfo.tickCounter, 7);
        }

        EXPECT_EQ (fires, row.lines) << row.span << " " << row.cycle;
        EXPECT_LT (worst, 1.0e-6) << row.span << " " << row.cycle;
    }

    // A position no quotient can hold starts the cycle.
    engine.process (true, qvl::HostPosition { 0, 0.0, std::numeric_limits<double>::infinity(), 1.0 });
    EXPECT_EQ (engine.lfos[0].output, -1.0f);
}

//==============================================================================
TEST_F (RandomModulator, SilentUntilFiredAndAfterAClear)
{
    auto& random = engine.randoms[0];
    route (0, random1, 10, 0.4f, false);
    engine.setBaseValue (10, 0.2f);

    // Cleared: the unipolar slot would otherwise add 0.5 x 0.4 even for a value of 0.
    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (10), 0.2f);

    engine.random.setSeed (99);
    std::vector<float> expected;
    for (int i = 0; i < 64; ++i)
        expected.push_back (bipolarFromRand (engine.random.next()));
    engine.random.setSeed (99);

    random.triggerRequest = true;
    engine.process (false, 0);
    random.triggerRequest = false;

    EXPECT_FALSE (random.cleared);
    for (int i = 0; i < 64; ++i)
        EXPECT_NEAR (random.values[(size_t) i], expected[(size_t) i], tolerance);

    const float fired = 0.2f + (0.5f * expected[0] + 0.5f) * 0.4f;
    EXPECT_NEAR (engine.getModulatedValue (10), fired, tolerance);

    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (10), fired, tolerance);

    random.clearRequest = true;
    engine.process (false, 0);
    random.clearRequest = false;
    EXPECT_TRUE (random.cleared);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (10), 0.2f);

    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (10), 0.2f);

    random.triggerRequest = true;
    engine.process (false, 0);
    EXPECT_FALSE (random.cleared);
}

TEST_F (RandomModulator, TriggerAndClearInOneTickLeaveItFired)
{
    auto& random = engine.randoms[1];
    random.triggerRequest = true;
    random.clearRequest = true;
    engine.process (false, 0);
    EXPECT_FALSE (random.cleared);
}

TEST_F (RandomModulator, RateZeroFiresOnlyOnTriggerAndDrawsNothing)
{
    for (float rate : { 0.0f, 0.001f })
    {
        auto& random = engine.randoms[0];
        random.rate = rate;
        random.probability = 1.0f;

        engine.random.setSeed (5);
        const int first = engine.random.next();
        engine.random.setSeed (5);

        for (int i = 0; i < 2000; ++i)
            engine.process (false, 0);

        EXPECT_TRUE (random.cleared);
        EXPECT_EQ (engine.random.next(), first) << "rate " << rate;
    }
}

TEST (RandomModulatorTiming, FiresOnPeriodBoundariesWithCertainty)
{
    ModulationEngine engine (3, 4);
    engine.addModulator (ModulatorKind::Random);
    engine.controlRate = 350.0f;
    auto& random = engine.randoms[0];
    random.rate = 35.0f;         // period of 10 ticks
    random.probability = 1.0f;

    engine.random.setSeed (42);
    std::vector<int> draws;
    for (int i = 0; i < 30; ++i)
        draws.push_back (engine.random.next());
    engine.random.setSeed (42);

    // Ticks 1..9 draw one u each and do not fire; tick 10 draws u, then the three values.
    for (int t = 1; t <= 9; ++t)
        engine.process (false, 0);

    EXPECT_TRUE (random.cleared);
    engine.process (false, 0);
    EXPECT_FALSE (random.cleared);
    EXPECT_EQ (random.tickCounter, 10);

    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR (random.values[(size_t) i], bipolarFromRand (draws[(size_t) (10 + i)]), tolerance);

    for (int t = 11; t <= 20; ++t)
        engine.process (false, 0);

    // Ticks 11..20 draw ten u, then tick 20 fires.
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR (random.values[(size_t) i], bipolarFromRand (draws[(size_t) (23 + i)]), tolerance);
}

TEST (RandomModulatorTiming, ProbabilityGatesEachOpportunity)
{
    ModulationEngine engine (2, 2);
    engine.addModulator (ModulatorKind::Random);
    engine.controlRate = 350.0f;
    auto& random = engine.randoms[0];
    random.rate = 175.0f;        // every second tick is an opportunity
    random.probability = 0.5f;

    engine.random.setSeed (2024);
    std::vector<int> draws;
    for (int i = 0; i < 4000; ++i)
        draws.push_back (engine.random.next());
    engine.random.setSeed (2024);

    size_t next = 0;
    std::vector<float> expected (2, 0.0f);
    int firings = 0;

    for (int tick = 1; tick <= 400; ++tick)
    {
        const float u = unitFromRand (draws[next++]);

        if (tick % 2 == 0 && u <= 0.5f)
        {
            ++firings;
            expected[0] = bipolarFromRand (draws[next++]);
            expected[1] = bipolarFromRand (draws[next++]);
        }

        engine.process (false, 0);
        ASSERT_NEAR (random.values[0], expected[0], tolerance) << "tick " << tick;
        ASSERT_NEAR (random.values[1], expected[1], tolerance) << "tick " << tick;
    }

    // Roughly half of the 200 opportunities.
    EXPECT_GT (firings, 60);
    EXPECT_LT (firings, 140);
}

TEST (RandomModulatorTiming, RateIsLimitedToHalfTheControlRate)
{
    ModulationEngine engine (1, 1);
    engine.addModulator (ModulatorKind::Random);
    engine.controlRate = 350.0f;
    auto& random = engine.randoms[0];
    random.rate = 1000.0f;       // period 2
    random.probability = 1.0f;

    engine.process (false, 0);
    EXPECT_TRUE (random.cleared);
    engine.process (false, 0);
    EXPECT_FALSE (random.cleared);
}

TEST (RandomModulatorTiming, SyncedCountsHostTicksWhilePlaying)
{
    ModulationEngine engine (1, 1);
    engine.addModulator (ModulatorKind::Random);
    engine.controlRate = 350.0f;
    auto& random = engine.randoms[0];
    random.rate = 35.0f;         // period 10
    random.probability = 1.0f;
    random.synced = true;

    engine.process (true, 25);
    EXPECT_TRUE (random.cleared);
    EXPECT_EQ (random.tickCounter, 25);

    engine.process (true, 30);
    EXPECT_FALSE (random.cleared);

    engine.process (false, 999);
    EXPECT_EQ (random.tickCounter, 31);
}

TEST_F (RandomModulator, ValuesAndNoiseCoverTheirWholeRangeAndNoMore)
{
    // Guards against draws outside 0..32767.
    engine.random.setSeed (8);
    auto& lfo = engine.lfos[0];
    lfo.shape = 5;
    lfo.frequency = 175.0f;
    auto& random = engine.randoms[0];
    float lowest = 1.0f, highest = -1.0f, lowestNoise = 1.0f, highestNoise = 0.0f;

    for (int i = 0; i < 200; ++i)
    {
        random.triggerRequest = true;
        engine.process (false, 0);

        for (float v : random.values)
        {
            lowest = std::min (lowest, v);
            highest = std::max (highest, v);
        }

        lowestNoise = std::min (lowestNoise, lfo.noiseNext);
        highestNoise = std::max (highestNoise, lfo.noiseNext);
        ASSERT_LE (std::abs (lfo.output), 1.0f);
    }

    EXPECT_GE (lowest, -1.0f);
    EXPECT_LE (highest, 1.0f);
    EXPECT_LT (lowest, -0.99f);
    EXPECT_GT (highest, 0.99f);
    EXPECT_GE (lowestNoise, 0.0f);
    EXPECT_LE (highestNoise, 1.0f);
    EXPECT_LT (lowestNoise, 0.1f);
    EXPECT_GT (highestNoise, 0.9f);
}

TEST_F (RandomModulator, EachSlotTakesItsOwnValue)
{
    route (0, random2, 20, 1.0f, true);
    route (5, random2, 21, 1.0f, true);
    engine.setBaseValue (20, 0.5f);
    engine.setBaseValue (21, 0.5f);

    engine.random.setSeed (3);
    engine.randoms[1].triggerRequest = true;
    engine.process (false, 0);

    const auto& values = engine.randoms[1].values;
    EXPECT_NE (values[0], values[5]);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (20), std::clamp (0.5f + values[0], 0.0f, 1.0f));
    EXPECT_FLOAT_EQ (engine.getModulatedValue (21), std::clamp (0.5f + values[5], 0.0f, 1.0f));
}

//==============================================================================
TEST_F (AudioFollower, RiseOfOneNeverMovesUpward)
{
    auto& follower = engine.followers[0];
    follower.rise = 1.0f;
    follower.fall = 0.1f;
    follower.inputLevel = 1.0f;

    for (int i = 0; i < 100; ++i)
        engine.process (false, 0);

    EXPECT_EQ (follower.output, 0.0f);

    follower.inputLevel = 0.0f;   // t = -1: closes 90 % of the gap at once
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -0.9f, tolerance);
}

TEST_F (AudioFollower, FallOfPointOneClosesNinetyPercentOfTheGap)
{
    auto& follower = engine.followers[1];
    follower.rise = 0.1f;
    follower.fall = 0.1f;
    follower.inputLevel = 1.0f;
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, 0.9f, tolerance);

    follower.inputLevel = 0.25f;  // t = -0.5, gap 1.4
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -0.36f, tolerance);
}

TEST_F (AudioFollower, CoefficientIsTheWeightKeptFromThePreviousOutput)
{
    auto& follower = engine.followers[0];
    follower.rise = 0.975f;
    follower.fall = 0.5f;
    follower.inputLevel = 1.0f;

    engine.process (false, 0);
    EXPECT_NEAR (follower.output, 0.025f, tolerance);
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, 0.049375f, tolerance);

    follower.inputLevel = 0.5f;   // t = 0 is below: fall
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, 0.0246875f, tolerance);
}

TEST_F (AudioFollower, InputLevelIsClampedToUnit)
{
    auto& follower = engine.followers[0];
    follower.rise = 0.1f;
    follower.fall = 0.1f;

    follower.inputLevel = 3.0f;
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, 0.9f, tolerance);

    follower.inputLevel = -2.0f;
    engine.process (false, 0);
    EXPECT_NEAR (follower.output, -1.0f + 1.9f * 0.1f, tolerance);
}

//==============================================================================
TEST_F (SlotRouting, ClampAfterEverySlotMakesOrderMatter)
{
    engine.macros[0].value = 1.0f;    // source +1
    engine.setBaseValue (3, 0.9f);
    engine.setBaseValue (4, 0.9f);

    route (0, macro1, 3, 0.3f, true);
    route (1, macro1, 3, -0.5f, true);
    route (2, macro1, 4, -0.5f, true);
    route (3, macro1, 4, 0.3f, true);

    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (3), 0.5f, tolerance);
    EXPECT_NEAR (engine.getModulatedValue (4), 0.7f, tolerance);

    // Every tick starts again from the base values.
    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (3), 0.5f, tolerance);

    // Clamped at the bottom too.
    engine.setBaseValue (5, 0.1f);
    route (4, macro1, 5, -1.0f, true);
    route (5, macro1, 5, 0.3f, true);
    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (5), 0.3f, tolerance);
}

TEST_F (SlotRouting, UnipolarSlotsMapSourcesToZeroToOne)
{
    auto& lfo = engine.lfos[0];
    lfo.shape = 2;
    lfo.frequency = 1000.0f;     // square: -1, +1, ...
    route (0, lfo1, 30, 0.4f, false);

    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (30), 0.0f, tolerance);
    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (30), 0.4f, tolerance);

    engine.macros[1].value = 0.5f;
    engine.setBaseValue (40, 0.3f);
    engine.setBaseValue (41, 0.3f);
    route (1, macro2, 40, 0.4f, true);
    route (2, macro2, 41, 0.4f, false);

    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.macros[1].output, 0.0f);
    EXPECT_NEAR (engine.getModulatedValue (40), 0.3f, tolerance);
    EXPECT_NEAR (engine.getModulatedValue (41), 0.5f, tolerance);

    // Negative amounts pull down by the same mapped value.
    engine.macros[1].value = 1.0f;
    route (2, macro2, 41, -0.25f, false);
    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (41), 0.05f, tolerance);
}

TEST_F (SlotRouting, BypassedAndUnassignedSlotsAreSkipped)
{
    engine.macros[0].value = 1.0f;
    engine.setBaseValue (0, 0.25f);
    engine.setBaseValue (7, 0.25f);

    route (0, macro1, 7, 0.5f, true);
    engine.slots[0].bypassed = true;
    route (1, macro1, -1, 0.5f, true);   // target -1 must not touch target 0 or anything else

    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (7), 0.25f);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (0), 0.25f);

    engine.slots[0].bypassed = false;
    engine.process (false, 0);
    EXPECT_FLOAT_EQ (engine.getModulatedValue (7), 0.75f);
}

TEST_F (SlotRouting, FollowersAndLastTargetAreReachable)
{
    auto& follower = engine.followers[1];
    follower.rise = 0.1f;
    follower.inputLevel = 1.0f;        // output 0.9 after one tick
    route (63, audioOut, 449, 1.0f, false);

    engine.process (false, 0);
    EXPECT_NEAR (engine.getModulatedValue (449), 0.95f, tolerance);
}
