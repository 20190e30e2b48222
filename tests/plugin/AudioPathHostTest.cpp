// What hosts do to the audio path: sample rates, bus layouts, empty blocks, missing play heads
// and broken input.

#include "tests/plugin/AudioPathTestSupport.h"

#include <limits>

using namespace qvl::test;

TEST (AudioPathHost, SampleRatesAndLayouts)
{
    struct Rate
    {
        double sampleRate;
        int tickLength;
        int leftAfterOneSecond;
    };

    // One second in blocks of 512 leaves (-rate) mod tick samples of the last tick.
    const Rate rates[] = { { 44100.0, 126, 0 }, { 48000.0, 137, 87 }, { 96000.0, 274, 174 }, { 192000.0, 549, 150 } };

    for (const auto& rate : rates)
    {
        for (const int channels : { 1, 2 })
        {
            SCOPED_TRACE (juce::String (rate.sampleRate) + " Hz, " + juce::String (channels) + " channel(s)");
            QuorvalisPluginAudioProcessor p;
            const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
            ASSERT_TRUE (setLayout (p, set, set));
            prepare (p, rate.sampleRate, 512);
            setRealValue (p, "gain_db_buffer", -6.0f);

            const int total = (int) rate.sampleRate;
            const auto out = run (p, total, 512, sine, 0, channels);

            EXPECT_EQ (Access::tickLength (p), rate.tickLength);
            EXPECT_EQ (Access::samplesLeftInTick (p), rate.leftAfterOneSecond);
            EXPECT_EQ (p.circularBuffer.getNumChannels(), channels);
            EXPECT_EQ (p.circularBuffer.getMaxLength(), total * 5);
            // The default size is 500 ms.
            EXPECT_EQ (p.circularBuffer.getLength(), total / 2);
            EXPECT_EQ (p.circularBuffer.getWritePosition(), total % (total / 2));
            EXPECT_TRUE (allFinite (out));
            EXPECT_GT (p.grainPool.getActiveCount(), 0);
            EXPECT_GT (out.getMagnitude (0, total / 2, total / 2), 0.1f);
            EXPECT_EQ (Access::timeInSamples (p), total);
        }
    }
}

// A rate that is not a finite positive number (or beyond any interface) must neither reach the
// size arithmetic nor leave the processor unusable: the last good rate stays, 44100 before any.
TEST (AudioPathHost, UnusableSampleRatesKeepTheLastGoodRate)
{
    const double unusable[] = { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                -48000.0, 0.0, 1.0e12 };

    for (const double rate : unusable)
    {
        SCOPED_TRACE (rate);
        QuorvalisPluginAudioProcessor fresh, prepared;
        prepare (prepared, 96000.0, 512);
        prepare (fresh, rate, 512);
        prepare (prepared, rate, 512);

        EXPECT_EQ (fresh.circularBuffer.getMaxLength(), 44100 * 5);
        EXPECT_EQ (prepared.circularBuffer.getMaxLength(), 96000 * 5);
        EXPECT_EQ (Access::tickLength (prepared), 274);
        EXPECT_TRUE (allFinite (run (fresh, 2048, 512)));
        EXPECT_TRUE (allFinite (run (prepared, 2048, 512)));
    }
}

TEST (AudioPathHost, EmptyBlocksChangeNothing)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    EditorPtr editor (p.createEditorIfNeeded());
    run (p, 1000, 500);

    FakePlayHead head;
    head.set (true, 96000);
    p.setPlayHead (&head);
    p.idleCounter = 7;
    p.displayRequest = 1;
    p.clearBufferRequest = 1;
    setRealValue (p, "buffer_write_sync", 1.0f);

    const auto loop = loopContent (p, 0);
    const auto ticks = ticksSoFar (p);
    auto* shown = p.readSnapshot;

    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 9), 0);
    juce::AudioBuffer<float> empty (2, 0);
    p.processBlock (empty, midi);

    EXPECT_EQ (p.presets.pendingPresetIndex.load(), -1);
    EXPECT_EQ (p.idleCounter.load(), 7);
    EXPECT_EQ (p.hostTempoValid.load(), 0);
    EXPECT_FALSE (Access::wasPlaying (p));
    EXPECT_EQ (Access::timeInSamples (p), 1000);
    EXPECT_EQ (Access::samplesLeftInTick (p), 96);
    EXPECT_EQ (ticksSoFar (p), ticks);
    EXPECT_EQ (p.circularBuffer.getWritePosition(), 1000 % 24000);
    EXPECT_EQ (loopContent (p, 0), loop);
    EXPECT_EQ (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 1);
    EXPECT_EQ (p.clearBufferRequest.load(), 1);

    p.setPlayHead (nullptr);
    editor.reset();
}

TEST (AudioPathHost, DisabledInputLeavesTheBufferAsDelivered)
{
    QuorvalisPluginAudioProcessor p;
    ASSERT_TRUE (setLayout (p, juce::AudioChannelSet::disabled(), juce::AudioChannelSet::stereo()));
    prepare (p, 48000.0, 512);
    ASSERT_EQ (p.getTotalNumInputChannels(), 0);
    p.idleCounter = 3;

    juce::AudioBuffer<float> block (2, 512);
    fill (block, 0, sine);
    const auto delivered = block;
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, 9), 0);

    p.processBlock (block, midi);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ (block.getSample (c, i), delivered.getSample (c, i));
    EXPECT_EQ (p.presets.pendingPresetIndex.load(), -1);
    EXPECT_EQ (Access::timeInSamples (p), 0);
    EXPECT_EQ (p.idleCounter.load(), 3);
}

TEST (AudioPathHost, WithoutAPlayHeadTheBlocksRunOnTheirOwnClock)
{
    for (const bool silentPlayHead : { false, true })
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, 512);
        FakePlayHead head;
        head.available = false;
        if (silentPlayHead)
            p.setPlayHead (&head);

        // A beat-synced stream at "1/4" can only fall back to seconds and run free.
        setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
        setRealValue (p, "stream_1_rate_timebase", 5.0f);
        setNormalised (p, "stream_1_rate", 0.5f);

        const auto out = run (p, 48000, 512);
        EXPECT_TRUE (allFinite (out));
        EXPECT_EQ (p.hostTempoValid.load(), 0);
        EXPECT_FALSE (Access::wasPlaying (p));
        EXPECT_EQ (Access::timeInSamples (p), 48000);
        EXPECT_EQ (p.streamStates[0].period, 4800);
        EXPECT_GT (p.grainPool.getActiveCount(), 0);
        p.setPlayHead (nullptr);
    }
}

TEST (AudioPathHost, BrokenInputNeverReachesTheOutput)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    setRealValue (p, "gain_db_buffer", 0.0f);
    setRealValue (p, "buffer_feedback", 1.0f);
    run (p, 24000, 512);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto broken = [nan, inf] (int channel, juce::int64 index)
    {
        if (index % 7 == 0) return nan;
        if (index % 11 == 0) return channel == 0 ? inf : -inf;
        return sine (channel, index);
    };

    auto out = run (p, 4800, 512, broken, 24000);
    EXPECT_TRUE (allFinite (out));

    // Processing goes on as before once the input is clean again.
    out = run (p, 48000, 512, sine, 28800);
    EXPECT_TRUE (allFinite (out));
    EXPECT_GT (out.getMagnitude (0, 24000, 24000), 0.1f);
    EXPECT_GT (p.grainPool.getActiveCount(), 0);

    for (int c = 0; c < 2; ++c)
    {
        const auto* data = p.circularBuffer.getChannelData (c);
        for (int i = 0; i < p.circularBuffer.getMaxLength() + p.circularBuffer.getCrossfadeLength(); ++i)
            ASSERT_TRUE (std::isfinite (data[i])) << "channel " << c << " sample " << i;
    }
}

TEST (AudioPathHost, BrokenSamplesReadAsSilence)
{
    // Dry only, at unity: the output is the input with 0 where the input was not a number.
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "gain_db_granulator", -100.0f);
    run (p, 1024, 512);

    juce::AudioBuffer<float> block (2, 512);
    fill (block, 0, sine);
    const auto clean = block;
    block.setSample (0, 10, std::numeric_limits<float>::quiet_NaN());
    block.setSample (1, 200, std::numeric_limits<float>::infinity());
    block.setSample (0, 300, -std::numeric_limits<float>::infinity());
    juce::MidiBuffer midi;
    p.processBlock (block, midi);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 512; ++i)
        {
            const bool broken = (c == 0 && (i == 10 || i == 300)) || (c == 1 && i == 200);
            ASSERT_EQ (block.getSample (c, i), broken ? 0.0f : clean.getSample (c, i)) << c << ", " << i;
        }
}

TEST (AudioPathHost, BrokenSamplesReadAsSilenceByTheInputFollower)
{
    QuorvalisPluginAudioProcessor withNaN, withZero;
    const float nan = std::numeric_limits<float>::quiet_NaN();

    for (auto* p : { &withNaN, &withZero })
    {
        prepare (*p, 48000.0, 137);
        run (*p, 137 * 4, 137, [] (int, juce::int64) { return 0.5f; });
    }

    juce::MidiBuffer midi;
    for (auto* p : { &withNaN, &withZero })
    {
        juce::AudioBuffer<float> block (2, 137);
        fill (block, 0, [] (int, juce::int64) { return 0.5f; });
        block.setSample (0, 3, p == &withNaN ? nan : 0.0f);
        p->processBlock (block, midi);
    }

    // Left RMS 0.5 x sqrt (136/137) plus right 0.5: just under 0 dB.
    const float expected = 1.0f + 20.0f * std::log10 (0.5f * std::sqrt (136.0f / 137.0f) + 0.5f) / 100.0f;
    EXPECT_NEAR (withZero.modulationEngine.followers[0].inputLevel, expected, 1e-5f);
    EXPECT_EQ (withNaN.modulationEngine.followers[0].inputLevel, withZero.modulationEngine.followers[0].inputLevel);
}
