// The display snapshot: when it is filled and handed over, and what it holds.

#include "tests/plugin/AudioPathTestSupport.h"

#include <set>

using namespace qvl::test;

namespace
{
    struct SnapshotFixture : ::testing::Test
    {
        void SetUp() override
        {
            prepare (p, 48000.0, 512);
            useFullBuffer (p);
            setRealValue (p, "stream_1_reverse_probability", 0.0f);
            editor.reset (p.createEditorIfNeeded());
            ASSERT_NE (editor, nullptr);
            ASSERT_EQ (p.getActiveEditor(), editor.get());
        }

        void TearDown() override
        {
            editor.reset();
        }

        std::set<int> realisedIndices()
        {
            std::set<int> indices { indexOf (p, "buffer_size") };
            for (int s = 1; s <= 4; ++s)
            {
                indices.insert (indexOf (p, "stream_" + juce::String (s) + "_rate"));
                indices.insert (indexOf (p, "stream_" + juce::String (s) + "_grain_length"));
            }
            return indices;
        }

        QuorvalisPluginAudioProcessor p;
        EditorPtr editor;
    };
}

TEST (AudioPathSnapshot, NoEditorMeansNoHandOver)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    auto* shown = p.readSnapshot;
    p.displayRequest = 1;

    run (p, 2048, 512);

    EXPECT_EQ (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 1);
    // Only the realised values are written without an editor.
    EXPECT_EQ (p.writeSnapshot->modulatedValues[(size_t) indexOf (p, "gain_db_dry")], -1.0f);
    EXPECT_EQ (p.writeSnapshot->grainCount, 0);
    EXPECT_EQ (p.writeSnapshot->grainLimit, 0);
    EXPECT_NEAR (p.writeSnapshot->modulatedValues[(size_t) indexOf (p, "buffer_size")], 1.0f, 1e-6f);
}

TEST_F (SnapshotFixture, EditorRequestIsAnsweredWithACompletePicture)
{
    setRealValue (p, "stream_1_position", 0.9f);
    setRealValue (p, "stream_1_increment", 0.5f);
    setRealValue (p, "grain_count_limit", 37.0f);
    run (p, 512, 512);
    auto* before = p.readSnapshot;

    p.displayRequest = 1;
    run (p, 512, 512);
    ASSERT_NE (p.readSnapshot, before);
    EXPECT_EQ (p.writeSnapshot, before);
    EXPECT_EQ (p.displayRequest.load(), 0);

    // The samples the display's 840-pixel bars read: 140 bars of 1714 samples, 256 measured each.
    const auto& shown = *p.readSnapshot;
    ASSERT_EQ (shown.buffer.getNumChannels(), 2);
    ASSERT_EQ (shown.buffer.getNumSamples(), 240000);
    const WaveformBars bars (240000, p.displayWaveformWidth.load());
    ASSERT_EQ (bars.bars, 140);
    for (int c = 0; c < 2; ++c)
    {
        const auto loop = loopContent (p, c);
        for (int i = 0; i < bars.bars; ++i)
            ASSERT_TRUE (std::equal (loop.begin() + bars.start (i), loop.begin() + bars.start (i) + bars.count (i),
                                     shown.buffer.getReadPointer (c, bars.start (i)))) << "channel " << c << " bar " << i;
    }

    EXPECT_EQ (shown.writePosition, 1024);
    // rint (239999 x 0.9) = 215999, plus 0.5 per sample for 1024 samples.
    EXPECT_EQ (shown.streamPositions[0], 216511);
    EXPECT_EQ (shown.streamPositions[1], 0);
    EXPECT_EQ (shown.grainLimit, 37);
    EXPECT_EQ (shown.grainCount, p.grainPool.getActiveCount());
    // One grain so far, started at 215999 and read forward for 1024 samples.
    ASSERT_EQ (shown.grainCount, 1);
    EXPECT_EQ (shown.grainStreams[0], 0);
    EXPECT_EQ (shown.grainPans[0], 0.5f);
    EXPECT_FLOAT_EQ (shown.grainPositions[0], 217023.0f / 240000.0f);

    const auto realised = realisedIndices();
    for (int i = 0; i < ParameterCounts::total; ++i)
    {
        if (realised.count (i) == 0)
        {
            EXPECT_EQ (shown.modulatedValues[(size_t) i], p.modulationEngine.getModulatedValue (i)) << "index " << i;
        }
    }
    EXPECT_EQ (shown.modulatedValues[449], -1.0f); // no parameter: never written

    // A second block without a new request publishes nothing.
    auto* published = p.readSnapshot;
    run (p, 512, 512);
    EXPECT_EQ (p.readSnapshot, published);
}

// With small blocks the bars are copied over several blocks, a share of each, and the picture is
// handed over once all are in.
TEST_F (SnapshotFixture, SmallBlocksSpreadTheCopy)
{
    run (p, 512, 512);
    auto* shown = p.readSnapshot;
    p.displayRequest = 1;

    int blocks = 0;
    while (p.readSnapshot == shown && blocks < 100)
    {
        run (p, 64, 64);
        ++blocks;
    }

    EXPECT_EQ (blocks, 5);   // 140 bars, 32 per 64-sample block
    EXPECT_EQ (p.displayRequest.load(), 0);
}

TEST_F (SnapshotFixture, HeldLockPostponesTheHandOver)
{
    run (p, 512, 512);
    auto* shown = p.readSnapshot;
    p.displayRequest = 1;

    p.snapshotLock.enter();
    run (p, 512, 512);
    EXPECT_EQ (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 1);
    p.snapshotLock.exit();

    run (p, 512, 512);
    EXPECT_NE (p.readSnapshot, shown);
    EXPECT_EQ (p.displayRequest.load(), 0);
    EXPECT_EQ (p.readSnapshot->writePosition, 1536);
}

TEST_F (SnapshotFixture, ResizedBufferIsPublishedAtItsNewLength)
{
    setRealValue (p, "stream_1_position", 0.9f);
    setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, Timebase::milliseconds, 100.0f);
    setTimed (p, "stream_1_grain_length", "stream_1_grain_length_timebase", grainLengthRanges, Timebase::seconds, 5.0f);
    run (p, 137 * 80, 137);
    ASSERT_EQ (p.grainPool.getActiveCount(), 3);

    setTimed (p, "buffer_size", "buffer_size_timebase", bufferSizeRanges, Timebase::milliseconds, 1000.0f);
    run (p, 2048, 512);
    ASSERT_EQ (p.circularBuffer.getLength(), 48000);

    p.displayRequest = 1;
    run (p, 512, 512);
    ASSERT_EQ (p.displayRequest.load(), 0);

    const auto& shown = *p.readSnapshot;
    EXPECT_EQ (shown.buffer.getNumChannels(), 2);
    EXPECT_EQ (shown.buffer.getNumSamples(), 48000);
    EXPECT_EQ (shown.writePosition, p.circularBuffer.getWritePosition());
    EXPECT_LT (shown.writePosition, 48000);
    ASSERT_EQ (shown.grainCount, p.grainPool.getActiveCount());

    // The grains from before the resize read beyond 48000; they are shown wrapped into the loop.
    int beyond = 0;
    for (int i = 0; i < shown.grainCount; ++i)
    {
        const float position = shown.grainPositions[(size_t) i];
        EXPECT_GE (position, 0.0f);
        EXPECT_LT (position, 1.0f);

        const int readPosition = p.grainPool.getReader (i).getReadPosition();
        if (readPosition >= 48000)
        {
            ++beyond;
            EXPECT_FLOAT_EQ (position, (float) (readPosition % 48000) / 48000.0f);
        }
    }
    EXPECT_EQ (beyond, 3);
}

TEST_F (SnapshotFixture, ReverseGrainBeforeTheLoopStartIsShownAtTheLoopEnd)
{
    setRealValue (p, "stream_1_reverse_probability", 1.0f);
    p.modulationEngine.random.setSeed (1);
    setTimed (p, "stream_1_grain_length", "stream_1_grain_length_timebase", grainLengthRanges, Timebase::seconds, 1.0f);
    run (p, 512, 512);

    p.displayRequest = 1;
    run (p, 512, 512);
    const auto& shown = *p.readSnapshot;
    ASSERT_GE (shown.grainCount, 1);

    // Started at index 0 and read backwards for about 1024 samples.
    for (int i = 0; i < shown.grainCount; ++i)
    {
        EXPECT_GT (shown.grainPositions[(size_t) i], (240000.0f - 1100.0f) / 240000.0f);
        EXPECT_LT (shown.grainPositions[(size_t) i], 1.0f);
    }
}

TEST_F (SnapshotFixture, GrainLimitIsTheModulatedInteger)
{
    // Limit 100 plus a bipolar slot of 0.1 from a macro at full scale: 1 + 599 x (99/599 + 0.1) = 159.9.
    setRealValue (p, "grain_count_limit", 100.0f);
    setRealValue (p, "modulator_macro_1", 1.0f);
    setRealValue (p, "modulation_1_target", (float) indexOf (p, "grain_count_limit"));
    setRealValue (p, "modulator_1_modulator_index", 8.0f);
    setRealValue (p, "modulation_1_is_bipolar", 1.0f);
    setRealValue (p, "modulation_1_amount", 0.1f);
    run (p, 512, 512);

    EXPECT_EQ (p.getModulatedIntValue (*p.grainCountLimitParameter), 160);
    p.displayRequest = 1;
    run (p, 512, 512);
    EXPECT_EQ (p.readSnapshot->grainLimit, 160);
}

TEST_F (SnapshotFixture, BufferSizeBeyondTheMaximumShowsTheMaximum)
{
    // Four bars at 120 BPM are 8 s; the loop stops at 5 s, which is 2.5 bars.
    FakePlayHead head;
    p.setPlayHead (&head);
    setTimed (p, "buffer_size", "buffer_size_timebase", bufferSizeRanges, Timebase::bar, 4.0f);
    p.displayRequest = 1;
    run (p, 512, 512);

    EXPECT_EQ (p.circularBuffer.getLength(), 240000);
    EXPECT_NEAR (p.readSnapshot->modulatedValues[(size_t) indexOf (p, "buffer_size")],
                 bufferSizeRanges[Timebase::bar].convertTo0to1 (2.5f), 1e-6f);
    p.setPlayHead (nullptr);
}
