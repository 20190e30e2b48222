// When the four streams start grains, in which order they are visited, and what a mono bus hears.

#include "tests/plugin/AudioPathTestSupport.h"

using namespace qvl::test;

namespace
{
    void setStreamRateMs (QuorvalisPluginAudioProcessor& p, int stream, float milliseconds)
    {
        const auto n = juce::String (stream);
        setTimed (p, "stream_" + n + "_rate", "stream_" + n + "_rate_timebase", streamRateRanges,
                  Timebase::milliseconds, milliseconds);
    }

    void enableAllStreams (QuorvalisPluginAudioProcessor& p)
    {
        for (int s = 1; s <= 4; ++s)
            setRealValue (p, "stream_" + juce::String (s) + "_is_enabled", 1.0f);
    }

    std::uint64_t firstDraw (juce::int64 seed)
    {
        juce::Random r (seed);
        return (std::uint64_t) r.nextInt64();
    }
}

TEST (AudioPathScheduling, FreeRunningStreamStartsEveryPeriodPlusOneSamples)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setStreamRateMs (p, 1, 100.0f);

    const auto starts = grainStarts (p, 0, 10000);
    EXPECT_EQ (p.streamStates[0].period, 4800);
    EXPECT_EQ (samplesOf (starts), (std::vector<juce::int64> { 0, 4801, 9602 }));
    for (const auto& s : starts)
        EXPECT_EQ (s.stream, 0);
}

// A grain that falls due while the limit is reached is dropped, and the stream's countdown starts
// again as if it had started: the next grain waits a whole period, not until the pool has room.
TEST (AudioPathScheduling, DueGrainDroppedByTheLimitStillRestartsItsCountdown)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "grain_count_limit", 1.0f);
    setStreamRateMs (p, 1, 100.0f);
    setTimed (p, "stream_1_grain_length", "stream_1_grain_length_timebase", grainLengthRanges, Timebase::milliseconds, 150.0f);

    const auto starts = grainStarts (p, 0, 10000);
    EXPECT_EQ (samplesOf (starts), (std::vector<juce::int64> { 0, 9602 }));
}

TEST (AudioPathScheduling, PeriodZeroMakesAGrainDueOnEverySample)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setStreamRateMs (p, 1, 0.0f);

    const auto starts = grainStarts (p, 0, 10);
    EXPECT_EQ (p.streamStates[0].period, 0);
    EXPECT_EQ (samplesOf (starts), (std::vector<juce::int64> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 }));
}

TEST (AudioPathScheduling, BeatSyncedStreamStartsOnMultiplesOfThePeriod)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    FakePlayHead head;
    p.setPlayHead (&head);
    setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
    // A quarter note at 120 BPM: 24000 samples.
    setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, 5, 1.0f);

    const auto starts = grainStarts (p, 0, 48001, &head);
    EXPECT_EQ (p.streamStates[0].period, 24000);
    EXPECT_EQ (samplesOf (starts), (std::vector<juce::int64> { 0, 24000, 48000 }));
}

TEST (AudioPathScheduling, BeatSyncNeedsAPlayingHost)
{
    // Stopped, the same stream runs free: every period + 1 samples.
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    FakePlayHead head;
    head.set (false, 0);
    p.setPlayHead (&head);
    setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
    setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, 5, 1.0f);

    const auto starts = grainStarts (p, 0, 48003);
    EXPECT_EQ (samplesOf (starts), (std::vector<juce::int64> { 0, 24001, 48002 }));
}

TEST (AudioPathScheduling, LimitOfOneGoesToTheFirstStreamVisited)
{
    for (juce::int64 seed = 1; seed <= 12; ++seed)
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, 512);
        enableAllStreams (p);
        setRealValue (p, "grain_count_limit", 1.0f);
        Access::random (p).setSeed (seed);

        const auto starts = grainStarts (p, 0, 1);
        ASSERT_EQ (starts.size(), 1u) << "seed " << seed;
        EXPECT_EQ (starts[0].stream, (int) (firstDraw (seed) % 4)) << "seed " << seed;
        EXPECT_EQ (p.grainPool.getActiveCount(), 1);
    }
}

TEST (AudioPathScheduling, StreamsAreVisitedCyclicallyFromTheDrawnOne)
{
    juce::int64 seed = 1;
    while (firstDraw (seed) % 4 != 2)
        ++seed;

    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    enableAllStreams (p);
    Access::random (p).setSeed (seed);

    ASSERT_EQ (p.grainPool.getActiveCount(), 0);
    grainStarts (p, 0, 1);
    ASSERT_EQ (p.grainPool.getActiveCount(), 4);
    EXPECT_EQ (p.grainPool.getGrain (0).stream, 2);
    EXPECT_EQ (p.grainPool.getGrain (1).stream, 3);
    EXPECT_EQ (p.grainPool.getGrain (2).stream, 0);
    EXPECT_EQ (p.grainPool.getGrain (3).stream, 1);
}

TEST (AudioPathScheduling, DisabledStreamKeepsCountingAndDrifting)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "stream_1_is_enabled", 0.0f);
    setRealValue (p, "stream_2_increment", 1.0f);
    setStreamRateMs (p, 2, 100.0f);

    run (p, 137 * 36, 137);
    EXPECT_EQ (p.grainPool.getActiveCount(), 0);
    EXPECT_EQ (p.streamStates[1].phase, 4932.0);
    EXPECT_EQ (p.streamStates[1].countdown, 4932 % 4801);

    // Enabled again at sample 4932: the first grain waits for the countdown, due at 9602.
    setRealValue (p, "stream_2_is_enabled", 1.0f);
    const auto starts = grainStarts (p, 4932, 9603);
    ASSERT_EQ (starts.size(), 1u);
    EXPECT_EQ (starts[0].sample, 9602);
    EXPECT_EQ (starts[0].stream, 1);
    EXPECT_EQ (p.streamStates[1].nextGrainStart, 9602);
}

TEST (AudioPathScheduling, MonoBusHearsOnlyTheLeftOutputs)
{
    for (const bool mono : { true, false })
    {
        for (const float pan : { 1.0f, 0.0f })
        {
            QuorvalisPluginAudioProcessor p;
            if (mono)
            {
                ASSERT_TRUE (setLayout (p, juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono()));
            }
            prepare (p, 48000.0, 512);
            useFullBuffer (p);
            setRealValue (p, "gain_db_dry", -100.0f);
            setRealValue (p, "stream_1_reverse_probability", 0.0f);
            setRealValue (p, "stream_1_grain_pan", pan);

            const int channels = mono ? 1 : 2;
            const auto out = run (p, 9600, 512, sine, 0, channels);
            EXPECT_GT (p.grainPool.getActiveCount(), 0);
            EXPECT_EQ (p.circularBuffer.getNumChannels(), channels);

            const float left = out.getMagnitude (0, 0, 9600);
            const float right = mono ? 0.0f : out.getMagnitude (1, 0, 9600);

            if (pan == 1.0f)
            {
                EXPECT_EQ (left, 0.0f) << (mono ? "mono" : "stereo");
                if (! mono)
                {
                    EXPECT_GT (right, 0.01f);
                }
            }
            else
            {
                EXPECT_GT (left, 0.01f) << (mono ? "mono" : "stereo");
                EXPECT_EQ (right, 0.0f);
            }
        }
    }
}

TEST (AudioPathScheduling, GrainsLastAtLeastHalfAMillisecond)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "stream_1_reverse_probability", 0.0f);
    setStreamRateMs (p, 1, 100.0f);
    run (p, 137, 137);
    ASSERT_EQ (p.grainPool.getActiveCount(), 1);
    // The shortest grain the parameters give is 1 ms.
    EXPECT_EQ (p.grainPool.getGrain (0).length, 12000 + 2);

    // Settings below that (as a tick never leaves them) still give 24 samples plus the latency.
    p.streamStates[0].grainLength = 5;
    p.streamStates[0].countdown = 0;
    juce::AudioBuffer<float> chunk (2, 1);
    fill (chunk, 137, sine);
    Access::processAudioChunk (p, chunk);
    ASSERT_EQ (p.grainPool.getActiveCount(), 2);
    EXPECT_EQ (p.grainPool.getGrain (1).length, 24 + 2);
}
