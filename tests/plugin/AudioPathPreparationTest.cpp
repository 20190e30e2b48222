// Preparation of the audio path and how blocks are cut into control ticks.

#include "tests/plugin/AudioPathTestSupport.h"

using namespace qvl::test;

namespace
{
    // Stream 1 drifts one sample per sample, so its phase counts the samples since its last reset.
    void driftOneSamplePerSample (QuorvalisPluginAudioProcessor& p)
    {
        setRealValue (p, "stream_1_increment", 1.0f);
    }
}

TEST (AudioPathPreparation, SizesAt48kHz)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);

    EXPECT_EQ (p.circularBuffer.getMaxLength(), 240000);
    EXPECT_EQ (p.circularBuffer.getLength(), 240000);
    EXPECT_EQ (p.circularBuffer.getCrossfadeLength(), 480);
    EXPECT_EQ (p.circularBuffer.getNumChannels(), 2);
    EXPECT_EQ (Access::requestedBufferLength (p), 240000);
    EXPECT_EQ (Access::bufferOutput (p).getNumSamples(), 137);
    EXPECT_EQ (Access::bufferOutput (p).getNumChannels(), 2);

    for (auto& snapshot : p.snapshots)
    {
        EXPECT_EQ (snapshot.buffer.getNumChannels(), 2);
        EXPECT_EQ (snapshot.buffer.getNumSamples(), 240000);
    }

    EXPECT_EQ (rampLength (Access::dryGainSmoother (p)), 480);
    EXPECT_EQ (rampLength (Access::bufferGainSmoother (p)), 480);
    EXPECT_EQ (rampLength (Access::granulatorGainSmoother (p)), 480);
    EXPECT_EQ (rampLength (Access::inputGainSmoother (p)), 480);
    EXPECT_EQ (rampLength (Access::feedbackSmoother (p)), 480);
    EXPECT_EQ (p.modulationEngine.controlRate, 350.0f);

    // 1000 samples take eight ticks of 137, so 96 samples of the eighth are left.
    useFullBuffer (p);
    const auto ticksBefore = ticksSoFar (p);
    run (p, 1000, 1000);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 8);
    EXPECT_EQ (Access::samplesLeftInTick (p), 96);
}

TEST (AudioPathPreparation, SizesAt44100Hz)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 44100.0, 512);

    EXPECT_EQ (p.circularBuffer.getMaxLength(), 220500);
    EXPECT_EQ (p.circularBuffer.getCrossfadeLength(), 441);
    EXPECT_EQ (Access::bufferOutput (p).getNumSamples(), 126);
    EXPECT_EQ (rampLength (Access::dryGainSmoother (p)), 441);
    EXPECT_EQ (rampLength (Access::feedbackSmoother (p)), 441);

    // Eight ticks of 126 are 1008 samples.
    useFullBuffer (p);
    const auto ticksBefore = ticksSoFar (p);
    run (p, 1000, 1000);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 8);
    EXPECT_EQ (Access::samplesLeftInTick (p), 8);
}

TEST (AudioPathPreparation, GainsStartSilentAndTheFirstTickRampsThem)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "gain_db_buffer", 0.0f);
    setRealValue (p, "buffer_feedback", 0.8f);

    for (auto* s : { &Access::dryGainSmoother (p), &Access::bufferGainSmoother (p),
                     &Access::granulatorGainSmoother (p), &Access::inputGainSmoother (p) })
    {
        EXPECT_EQ (s->getCurrentValue(), 0.0f);
        EXPECT_EQ (s->getTargetValue(), 0.0f);
        EXPECT_FALSE (s->isSmoothing());
    }
    EXPECT_EQ (Access::feedbackSmoother (p).getCurrentValue(), 0.5f);
    EXPECT_FALSE (Access::feedbackSmoother (p).isSmoothing());

    // One tick of 137 samples: every gain is 137/480 of the way to its 0 dB target.
    run (p, 137, 137);
    for (auto* s : { &Access::dryGainSmoother (p), &Access::bufferGainSmoother (p),
                     &Access::granulatorGainSmoother (p), &Access::inputGainSmoother (p) })
    {
        EXPECT_TRUE (s->isSmoothing());
        EXPECT_EQ (s->getTargetValue(), 1.0f);
        EXPECT_NEAR (s->getCurrentValue(), 137.0f / 480.0f, 1e-5f);
    }
    EXPECT_NEAR (Access::feedbackSmoother (p).getTargetValue(), 0.8f, 1e-6f);
    EXPECT_NEAR (Access::feedbackSmoother (p).getCurrentValue(), 0.5f + 0.3f * 137.0f / 480.0f, 1e-5f);

    // 480 samples in, every ramp has arrived.
    run (p, 343, 343);
    for (auto* s : { &Access::dryGainSmoother (p), &Access::bufferGainSmoother (p),
                     &Access::granulatorGainSmoother (p), &Access::inputGainSmoother (p) })
    {
        EXPECT_FALSE (s->isSmoothing());
        EXPECT_EQ (s->getCurrentValue(), 1.0f);
    }
    EXPECT_NEAR (Access::feedbackSmoother (p).getCurrentValue(), 0.8f, 1e-6f);
}

TEST (AudioPathPreparation, SamePreparationKeepsTheRecordingButEndsRampsAndTicks)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    run (p, 5120, 512);

    // A dry gain ramp in progress and a tick half done.
    setRealValue (p, "gain_db_dry", -6.0f);
    run (p, 200, 200);
    ASSERT_TRUE (Access::dryGainSmoother (p).isSmoothing());
    ASSERT_NE (Access::samplesLeftInTick (p), 0);
    Access::wasPlaying (p) = true;

    const auto left = loopContent (p, 0);
    const auto right = loopContent (p, 1);
    const int writePosition = p.circularBuffer.getWritePosition();
    const int grains = p.grainPool.getActiveCount();
    ASSERT_EQ (writePosition, 5320);
    ASSERT_GT (countNonZero (left, 0, 5320), 5000);
    ASSERT_GT (grains, 0);

    prepare (p, 48000.0, 512);

    EXPECT_EQ (loopContent (p, 0), left);
    EXPECT_EQ (loopContent (p, 1), right);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), writePosition);
    EXPECT_EQ (p.grainPool.getActiveCount(), grains);
    EXPECT_FALSE (Access::dryGainSmoother (p).isSmoothing());
    EXPECT_NEAR (Access::dryGainSmoother (p).getCurrentValue(), dbToGain (-6.0f), 1e-5f);
    EXPECT_EQ (Access::samplesLeftInTick (p), 0);
    EXPECT_FALSE (Access::wasPlaying (p));

    // The next block starts a tick at its first sample.
    const auto ticksBefore = ticksSoFar (p);
    run (p, 1, 1);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 1);
    EXPECT_EQ (Access::samplesLeftInTick (p), 136);
}

TEST (AudioPathPreparation, NewBlockSizePreparesAgainButKeepsTheWriteCount)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    run (p, 5120, 512);
    ASSERT_GT (p.grainPool.getActiveCount(), 0);

    prepare (p, 48000.0, 256);

    EXPECT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 0);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), 5120);
    EXPECT_EQ (p.grainPool.getActiveCount(), 0);

    // A new rate resizes everything that depends on it.
    prepare (p, 96000.0, 256);
    EXPECT_EQ (p.circularBuffer.getMaxLength(), 480000);
    EXPECT_EQ (p.circularBuffer.getCrossfadeLength(), 960);
    EXPECT_EQ (Access::bufferOutput (p).getNumSamples(), 274);
    EXPECT_EQ (p.snapshots[0].buffer.getNumSamples(), 480000);
    EXPECT_EQ (rampLength (Access::dryGainSmoother (p)), 960);
}

// Chunks never exceed a tick, so the pool's per-grain queues are sized for one tick whatever
// the host announces: a huge announced block must not cost 600 huge queues.
TEST (AudioPathPreparation, GrainPoolIsSizedForOneTick)
{
    for (int announced : { 16, 137, 512, 65536 })
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, announced);
        EXPECT_EQ (p.grainPool.getBlockSize(), 137) << announced;
    }

    QuorvalisPluginAudioProcessor p;
    prepare (p, 44100.0, 4096);
    EXPECT_EQ (p.grainPool.getBlockSize(), 126);
}

TEST (AudioPathChunking, OldTickIsFinishedBeforeNewTicksStart)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 1000);
    useFullBuffer (p);
    driftOneSamplePerSample (p);
    run (p, 137, 137);
    ASSERT_EQ (Access::samplesLeftInTick (p), 0);

    Access::samplesLeftInTick (p) = 50;
    p.streamResetRequests[0] = 1;
    const auto ticksBefore = ticksSoFar (p);

    run (p, 1000, 1000);

    // [0, 50) continues the old tick; new ticks begin at 50, 187, ..., 872 (the last one 128 long).
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 7);
    EXPECT_EQ (Access::samplesLeftInTick (p), 9);
    EXPECT_EQ (p.streamResetRequests[0].load(), 0);
    // Reset once, at sample 50: 950 samples of drift since.
    EXPECT_EQ (p.streamStates[0].phase, 950.0);

    // The next block first finishes that tick with 9 samples.
    run (p, 20, 20);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 8);
    EXPECT_EQ (Access::samplesLeftInTick (p), 137 - 11);
}

TEST (AudioPathChunking, BlocksShorterThanATick)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 64);
    useFullBuffer (p);
    driftOneSamplePerSample (p);
    const auto ticksBefore = ticksSoFar (p);

    run (p, 64, 64);
    EXPECT_EQ (Access::samplesLeftInTick (p), 73);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 1);

    p.streamResetRequests[0] = 1;
    run (p, 64, 64);
    EXPECT_EQ (Access::samplesLeftInTick (p), 9);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 1);
    EXPECT_EQ (p.streamResetRequests[0].load(), 1);
    EXPECT_EQ (p.streamStates[0].phase, 128.0);

    // Nine samples finish the first tick, the second begins at sample 9 and takes the reset.
    run (p, 64, 64);
    EXPECT_EQ (Access::samplesLeftInTick (p), 82);
    EXPECT_EQ (ticksSoFar (p) - ticksBefore, 2);
    EXPECT_EQ (p.streamResetRequests[0].load(), 0);
    EXPECT_EQ (p.streamStates[0].phase, 55.0);
}
