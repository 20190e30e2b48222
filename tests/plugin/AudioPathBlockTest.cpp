// What processBlock does around the ticks: MIDI preset selection, the host transport, and the
// fades for bypass, clearing and resizing.

#include "tests/plugin/AudioPathTestSupport.h"

using namespace qvl::test;

namespace
{
    float one (int, juce::int64) { return 1.0f; }

    juce::AudioBuffer<float> processWithMidi (QuorvalisPluginAudioProcessor& p, juce::MidiBuffer& midi, int n = 64)
    {
        juce::AudioBuffer<float> block (2, n);
        fill (block, 0, sine);
        p.processBlock (block, midi);
        return block;
    }

    // Runs blocks while the play head reports `playing` from `hostStart` on, moving with the blocks.
    void runWithHost (QuorvalisPluginAudioProcessor& p, FakePlayHead& head, bool playing, juce::int64 hostStart,
                      int total, int blockSize, const std::function<float (int, juce::int64)>& signal = one)
    {
        for (int offset = 0; offset < total; offset += blockSize)
        {
            head.set (playing, hostStart + offset);
            run (p, juce::jmin (blockSize, total - offset), blockSize, signal);
        }
    }

    bool sameSamples (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int from, int to)
    {
        for (int c = 0; c < a.getNumChannels(); ++c)
            for (int i = from; i < to; ++i)
                if (a.getSample (c, i) != b.getSample (c, i))
                    return false;
        return true;
    }

    juce::AudioBuffer<float> input (int n, juce::int64 start)
    {
        juce::AudioBuffer<float> block (2, n);
        fill (block, start, sine);
        return block;
    }

    // Prepared at 48 kHz with a 5-second loop, the buffer signal at 0 dB and the dry signal at
    // -6 dB; after a whole number of ticks, so the next block begins a tick at its first sample.
    struct FadeFixture
    {
        FadeFixture()
        {
            prepare (p, 48000.0, 512);
            useFullBuffer (p);
            setRealValue (p, "gain_db_buffer", 0.0f);
            setRealValue (p, "gain_db_dry", -6.0f);
            run (p, 137 * 30, 137);
            EXPECT_EQ (Access::samplesLeftInTick (p), 0);
            EXPECT_GT (p.grainPool.getActiveCount(), 0);
        }

        juce::AudioBuffer<float> block (int n)
        {
            auto b = input (n, position);
            juce::MidiBuffer midi;
            p.processBlock (b, midi);
            position += n;
            return b;
        }

        QuorvalisPluginAudioProcessor p;
        juce::int64 position = 137 * 30;
    };
}

TEST (AudioPathMidi, ControlChange102OnChannel1SelectsAPreset)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 64);
    ASSERT_EQ (p.presets.pendingPresetIndex.load(), -1);

    {
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::controllerEvent (2, 102, 7), 0);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 101, 7), 1);
        const juce::uint8 aftertouch[] = { 0xA0, 102, 7 };
        midi.addEvent (aftertouch, 3, 2);
        const juce::uint8 sysex[] = { 0xF0, 102, 7, 0xF7 };
        midi.addEvent (sysex, 4, 3);
        processWithMidi (p, midi);
        EXPECT_EQ (p.presets.pendingPresetIndex.load(), -1);
    }

    {
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 7), 5);
        processWithMidi (p, midi);
        EXPECT_EQ (p.presets.pendingPresetIndex.load(), 7);
    }

    {
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 3), 0);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 127), 40);
        processWithMidi (p, midi);
        EXPECT_EQ (p.presets.pendingPresetIndex.load(), 127);
    }
}

TEST (AudioPathMidi, ControlChangeLoadsThatEntryOfTheFullList)
{
    QuorvalisPluginAudioProcessor p;
    ScopedPresetFolder folder (p.presets);
    ASSERT_TRUE (folder.isInsideTestHome());
    prepare (p, 48000.0, 64);

    const auto all = makeNumberedPresets (p, 6);
    ASSERT_EQ (all.size(), 6);

    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 5), 0);
    processWithMidi (p, midi);
    runPresetTimerTick (p.presets);

    EXPECT_EQ (p.presets.currentPresetFile, all[5].file);
    EXPECT_NEAR (realValue (p, "buffer_feedback"), numberedPresetFeedback (all[5].name.getTrailingIntValue()), 1e-6);
}

TEST (AudioPathMidi, ControlChangeBeyondTheListLoadsNothing)
{
    QuorvalisPluginAudioProcessor p;
    ScopedPresetFolder folder (p.presets);
    ASSERT_TRUE (folder.isInsideTestHome());
    prepare (p, 48000.0, 64);

    ASSERT_EQ (makeNumberedPresets (p, 5).size(), 5);

    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 5), 0);
    processWithMidi (p, midi);
    runPresetTimerTick (p.presets);

    EXPECT_EQ (p.presets.currentPresetFile, juce::File());
    EXPECT_EQ (realValue (p, "buffer_feedback"), 1.0f);
}

TEST (AudioPathTransport, StopToPlayWithWriteSyncClearsTheBufferOnce)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "buffer_write_sync", 1.0f);
    FakePlayHead head;
    p.setPlayHead (&head);

    // Stopped: the write position runs on from 0 by itself.
    runWithHost (p, head, false, 777777, 2048, 512);
    ASSERT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 2048);
    ASSERT_EQ (p.hostTempoValid.load(), 1);

    runWithHost (p, head, true, 100000, 512, 512);
    auto loop = loopContent (p, 0);
    EXPECT_EQ (countNonZero (loop, 0, 240000), 512);
    EXPECT_EQ (countNonZero (loop, 100000, 100512), 512);
    EXPECT_EQ (Access::timeInSamples (p), 100512);

    // Play to play: nothing is cleared.
    runWithHost (p, head, true, 100512, 1024, 512);
    EXPECT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 1536);

    // Stopping keeps the content; the next start clears again.
    runWithHost (p, head, false, 0, 512, 512);
    EXPECT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 2048);
    runWithHost (p, head, true, 5000, 512, 512);
    loop = loopContent (p, 0);
    EXPECT_EQ (countNonZero (loop, 0, 240000), 512);
    EXPECT_EQ (countNonZero (loop, 5000, 5512), 512);
}

TEST (AudioPathTransport, StopToPlayWithoutWriteSyncKeepsTheBuffer)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    FakePlayHead head;
    p.setPlayHead (&head);

    runWithHost (p, head, false, 0, 2048, 512);
    runWithHost (p, head, true, 100000, 512, 512);

    // Written on in order, not at the host position.
    const auto loop = loopContent (p, 0);
    EXPECT_EQ (countNonZero (loop, 0, 240000), 2560);
    EXPECT_EQ (countNonZero (loop, 0, 2560), 2560);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), 2560);
    EXPECT_TRUE (Access::wasPlaying (p));
}

TEST (AudioPathTransport, WriteSyncWritesAtTheHostPositionModuloTheLength)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "buffer_write_sync", 1.0f);
    FakePlayHead head;
    p.setPlayHead (&head);
    run (p, 1024, 512, one);

    runWithHost (p, head, true, 2 * 240000 + 1234, 512, 512);
    auto loop = loopContent (p, 0);
    EXPECT_EQ (countNonZero (loop, 0, 240000), 512);
    EXPECT_EQ (countNonZero (loop, 1234, 1746), 512);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), 1746);

    // The host jumps back (a loop in the arrangement): the writes follow it.
    runWithHost (p, head, true, 7, 512, 512);
    loop = loopContent (p, 0);
    EXPECT_EQ (countNonZero (loop, 0, 240000), 1024);
    EXPECT_EQ (countNonZero (loop, 7, 519), 512);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), 519);
}

TEST (AudioPathBypass, FadesOutThenPassesTheInputThroughUntouched)
{
    FadeFixture f;
    auto& p = f.p;
    EditorPtr editor (p.createEditorIfNeeded());
    ASSERT_NE (editor, nullptr);

    setRealValue (p, "bypass", 1.0f);
    const float dry = dbToGain (-6.0f);

    // Half way through the 10 ms fade.
    auto out = f.block (240);
    EXPECT_NEAR (Access::dryGainSmoother (p).getCurrentValue(), dry + (1.0f - dry) * 0.5f, 1e-5f);
    EXPECT_NEAR (Access::bufferGainSmoother (p).getCurrentValue(), 0.5f, 1e-5f);
    EXPECT_NEAR (Access::granulatorGainSmoother (p).getCurrentValue(), 0.5f, 1e-5f);
    EXPECT_FALSE (sameSamples (out, input (240, f.position - 240), 0, 240));

    // The fade ends with sample 479 of the ramp: from there on dry only, at unity.
    out = f.block (240);
    const auto in = input (240, f.position - 240);
    EXPECT_TRUE (sameSamples (out, in, 239, 240));
    EXPECT_FALSE (sameSamples (out, in, 200, 239));
    EXPECT_FALSE (Access::bufferGainSmoother (p).isSmoothing());
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 0.0f);
    EXPECT_EQ (Access::granulatorGainSmoother (p).getCurrentValue(), 0.0f);
    EXPECT_EQ (Access::dryGainSmoother (p).getCurrentValue(), 1.0f);
    EXPECT_EQ (Access::samplesLeftInTick (p), 68);

    // This block begins faded: nothing runs, nothing is published.
    p.displayRequest = 1;
    p.idleCounter = 5;
    auto* shown = p.readSnapshot;
    const auto ticks = ticksSoFar (p);
    const auto time = Access::timeInSamples (p);
    const int writePosition = p.circularBuffer.getWritePosition();
    const int grains = p.grainPool.getActiveCount();

    for (int b = 0; b < 4; ++b)
    {
        out = f.block (512);
        EXPECT_TRUE (sameSamples (out, input (512, f.position - 512), 0, 512));
    }

    EXPECT_EQ (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 1);
    EXPECT_EQ (p.idleCounter.load(), 5);
    EXPECT_EQ (ticksSoFar (p), ticks);
    EXPECT_EQ (Access::timeInSamples (p), time);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), writePosition);
    EXPECT_EQ (p.grainPool.getActiveCount(), grains);
    EXPECT_EQ (Access::samplesLeftInTick (p), 68);

    // Off again: 68 samples finish the old tick, then the gains fade back in over 10 ms.
    setRealValue (p, "bypass", 0.0f);
    out = f.block (512);
    EXPECT_TRUE (sameSamples (out, input (512, f.position - 512), 0, 68));
    EXPECT_EQ (p.idleCounter.load(), 0);
    EXPECT_NE (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 0);
    EXPECT_NEAR (Access::bufferGainSmoother (p).getCurrentValue(), 444.0f / 480.0f, 1e-5f);
    EXPECT_NEAR (Access::granulatorGainSmoother (p).getCurrentValue(), 444.0f / 480.0f, 1e-5f);
    EXPECT_NEAR (Access::dryGainSmoother (p).getCurrentValue(), 1.0f + (dry - 1.0f) * 444.0f / 480.0f, 1e-5f);
    EXPECT_NEAR (Access::inputGainSmoother (p).getCurrentValue(), 444.0f / 480.0f, 1e-5f);

    f.block (36);
    EXPECT_FALSE (Access::bufferGainSmoother (p).isSmoothing());
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 1.0f);
    EXPECT_NEAR (Access::dryGainSmoother (p).getCurrentValue(), dry, 1e-6f);
}

TEST (AudioPathBypass, BypassedProcessingIsTheSameCall)
{
    QuorvalisPluginAudioProcessor a, b;

    for (auto* p : { &a, &b })
    {
        prepare (*p, 48000.0, 256);
        setRealValue (*p, "gain_db_buffer", -3.0f);
        Access::random (*p).setSeed (20240611);
    }

    juce::MidiBuffer midi;

    for (int block = 0; block < 60; ++block)
    {
        if (block == 10 || block == 30)
            for (auto* p : { &a, &b })
                setRealValue (*p, "bypass", block == 10 ? 1.0f : 0.0f);

        auto viaProcess = input (256, block * 256);
        auto viaBypassed = viaProcess;

        a.processBlock (viaProcess, midi);
        b.processBlockBypassed (viaBypassed, midi);

        ASSERT_TRUE (sameSamples (viaProcess, viaBypassed, 0, 256)) << "block " << block;
    }

    EXPECT_EQ (loopContent (a, 0), loopContent (b, 0));
}

TEST (AudioPathClear, RequestErasesTheLoopAfterTheFadeOut)
{
    FadeFixture f;
    auto& p = f.p;
    ASSERT_GT (countNonZero (loopContent (p, 0), 0, 240000), 4000);

    p.clearBufferRequest = 1;
    f.block (512);
    EXPECT_EQ (p.clearBufferRequest.load(), 1);
    EXPECT_GT (countNonZero (loopContent (p, 0), 0, 240000), 4000);
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 0.0f);
    EXPECT_EQ (Access::granulatorGainSmoother (p).getCurrentValue(), 0.0f);
    EXPECT_EQ (Access::samplesLeftInTick (p), 36);

    // Faded at its start: its first tick (sample 36) clears; silence is recorded after it.
    juce::AudioBuffer<float> quiet (2, 512);
    quiet.clear();
    juce::MidiBuffer midi;
    p.processBlock (quiet, midi);
    EXPECT_EQ (p.clearBufferRequest.load(), 0);
    EXPECT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 0);
    EXPECT_EQ (countNonZero (loopContent (p, 1), 0, 240000), 0);
    EXPECT_EQ (p.circularBuffer.getLength(), 240000);

    // The fade step of that tick held the gains at 0 for another 10 ms (to sample 4 of the next
    // block); the tick at sample 72 starts the fade in.
    f.block (512);
    EXPECT_TRUE (Access::bufferGainSmoother (p).isSmoothing());
    EXPECT_EQ (Access::bufferGainSmoother (p).getTargetValue(), 1.0f);
    EXPECT_NEAR (Access::bufferGainSmoother (p).getCurrentValue(), 440.0f / 480.0f, 1e-5f);
    EXPECT_NEAR (Access::granulatorGainSmoother (p).getCurrentValue(), 440.0f / 480.0f, 1e-5f);
    EXPECT_GT (countNonZero (loopContent (p, 0), 0, 240000), 400);

    f.block (512);
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 1.0f);
    EXPECT_EQ (Access::granulatorGainSmoother (p).getCurrentValue(), 1.0f);
}

TEST (AudioPathClear, RequestWhileBypassedWaitsForTheBypassToEnd)
{
    FadeFixture f;
    auto& p = f.p;
    setRealValue (p, "bypass", 1.0f);
    f.block (480);
    f.block (512);
    const auto before = loopContent (p, 0);

    p.clearBufferRequest = 1;
    for (int b = 0; b < 3; ++b)
        f.block (512);
    EXPECT_EQ (p.clearBufferRequest.load(), 1);
    EXPECT_EQ (loopContent (p, 0), before);

    setRealValue (p, "bypass", 0.0f);
    juce::AudioBuffer<float> quiet (2, 512);
    quiet.clear();
    juce::MidiBuffer midi;
    p.processBlock (quiet, midi);
    EXPECT_EQ (p.clearBufferRequest.load(), 0);
    EXPECT_EQ (countNonZero (loopContent (p, 0), 0, 240000), 0);
}

TEST (AudioPathResize, NewLengthOnlyAfterTheFadeOutAndWithAClear)
{
    FadeFixture f;
    auto& p = f.p;
    setTimed (p, "buffer_size", "buffer_size_timebase", bufferSizeRanges, Timebase::milliseconds, 1000.0f);

    f.block (512);
    EXPECT_EQ (Access::requestedBufferLength (p), 48000);
    EXPECT_EQ (p.circularBuffer.getLength(), 240000);
    EXPECT_GT (countNonZero (loopContent (p, 0), 0, 240000), 4000);
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 0.0f);

    juce::AudioBuffer<float> quiet (2, 512);
    quiet.clear();
    juce::MidiBuffer midi;
    p.processBlock (quiet, midi);
    EXPECT_EQ (p.circularBuffer.getLength(), 48000);
    EXPECT_EQ (countNonZero (std::vector<float> (p.circularBuffer.getChannelData (0),
                                                 p.circularBuffer.getChannelData (0) + 240000), 0, 240000), 0);

    // Settled: no further fade.
    f.block (512);
    f.block (512);
    EXPECT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 1.0f);
    EXPECT_EQ (p.circularBuffer.getLength(), 48000);
}

TEST (AudioPathBypass, FadedOnlyWhenBothOutputRampsRest)
{
    // Buffer signal off, so only the granulator ramps: switched off by the bypass over 480 samples,
    // then held at 0 by a 480-sample ramp from 0 to 0 that the tick every 548 samples restarts.
    // Only a block that starts in [480 + 548m, 548 + 548m] begins faded; with 600-sample blocks the
    // first is the one at 6000 (m = 10).
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 600);
    useFullBuffer (p);
    run (p, 137 * 30, 137);
    ASSERT_EQ (Access::samplesLeftInTick (p), 0);
    ASSERT_EQ (Access::bufferGainSmoother (p).getCurrentValue(), 0.0f);

    setRealValue (p, "bypass", 1.0f);

    for (int block = 0; block < 13; ++block)
    {
        const auto ticks = ticksSoFar (p);
        const auto in = input (600, block * 600);
        auto out = in;
        juce::MidiBuffer midi;
        p.processBlock (out, midi);

        EXPECT_EQ (ticksSoFar (p) != ticks, block < 10) << "block " << block;
        if (block >= 10)
        {
            EXPECT_TRUE (sameSamples (out, in, 0, 600)) << "block " << block;
        }
        EXPECT_FALSE (Access::bufferGainSmoother (p).isSmoothing());
    }
}

// The output is dry x input + buffer gain x the sample each write replaced + granulator gain x
// the grains, bit for bit: each part is rendered alone (the other gains at -100 dB, which is
// silence) and the parts are summed in the mixing order. Compared once the opening resize fade,
// which brings the dry signal up in every render, is over.
TEST (AudioPathMix, OutputIsTheExactSumOfItsThreeParts)
{
    const auto render = [] (float dry, float buffer, float granulator)
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, 512);
        setRealValue (p, "gain_db_dry", dry);
        setRealValue (p, "gain_db_buffer", buffer);
        setRealValue (p, "gain_db_granulator", granulator);
        return run (p, 4800, 512);
    };

    const auto all = render (-6.0f, -3.0f, -9.0f);
    const auto dry = render (-6.0f, -100.0f, -100.0f);
    const auto buffer = render (-100.0f, -3.0f, -100.0f);
    const auto grains = render (-100.0f, -100.0f, -9.0f);
    ASSERT_GT (grains.getMagnitude (0, 4800), 0.01f);
    ASSERT_GT (buffer.getMagnitude (0, 4800), 0.01f);

    for (int c = 0; c < 2; ++c)
        for (int i = 2048; i < 4800; ++i)
            ASSERT_EQ (all.getSample (c, i), (dry.getSample (c, i) + buffer.getSample (c, i)) + grains.getSample (c, i))
                << "channel " << c << " sample " << i;
}

// Subnormal numbers are flushed to zero while processing (they would cost a hundred times as
// much in the feedback loop), and the host thread's own setting is back afterwards.
TEST (AudioPathMix, ProcessingFlushesSubnormalsToZero)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    run (p, 4800, 512, silence);   // the dry ramp is over: the dry gain is exactly 1

    const float tiny = std::numeric_limits<float>::denorm_min() * 1000.0f;
    juce::AudioBuffer<float> block (2, 512);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 512; ++i)
            block.setSample (c, i, tiny);

    juce::MidiBuffer midi;
    p.processBlock (block, midi);
    EXPECT_EQ (block.getMagnitude (0, 512), 0.0f);

    volatile float survivor = tiny;
    EXPECT_EQ (survivor * 1.0f, tiny);
}
