#include "engine/CircularBuffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace
{
    using qvl::CircularBuffer;

    float readOne (const CircularBuffer& buffer, int index)
    {
        float frame[2] { -123.0f, -123.0f };
        EXPECT_GE (buffer.read (frame, 2, index), 1);
        return frame[0];
    }

    void writeMono (CircularBuffer& buffer, float value, float gain = 1.0f, float feedback = 0.0f)
    {
        const float* inputs[] { &value };
        buffer.write (inputs, 0, gain, feedback);
    }

    // L = 10, G = 4; two laps of 1..20, so position i holds 11 + i and the last four writes (positions
    // 6..9, write numbers 16..19) left 7..10 in the tail slots 16 mod 4 .. 19 mod 4.
    CircularBuffer twoLaps()
    {
        CircularBuffer buffer;
        buffer.prepare (10, 4, 1);
        for (int i = 1; i <= 20; ++i)
            writeMono (buffer, static_cast<float> (i));
        return buffer;
    }
}

TEST (CircularBufferSetup, NewBufferIsEmpty)
{
    CircularBuffer buffer;
    EXPECT_EQ (buffer.getNumChannels(), 0);
    EXPECT_EQ (buffer.getLength(), 0);
    EXPECT_EQ (buffer.getMaxLength(), 0);
    EXPECT_EQ (buffer.getCrossfadeLength(), 0);
    EXPECT_EQ (buffer.getWriteCounter(), 0);

    float frame[2] {};
    EXPECT_EQ (buffer.read (frame, 2, 5), 0);

    writeMono (buffer, 1.0f); // unprepared: only counts
    EXPECT_EQ (buffer.getWriteCounter(), 1);
}

TEST (CircularBufferSetup, PrepareSizesStorageAndKeepsCounter)
{
    CircularBuffer buffer;
    buffer.prepare (240000, 480, 2);
    EXPECT_EQ (buffer.getLength(), 240000);
    EXPECT_EQ (buffer.getMaxLength(), 240000);
    EXPECT_EQ (buffer.getCrossfadeLength(), 480);
    EXPECT_EQ (buffer.getNumChannels(), 2);

    const float left = 0.25f, right = -0.5f;
    const float* inputs[] { &left, &right };
    for (int i = 0; i < 7; ++i)
        buffer.write (inputs, 0, 1.0f, 0.0f);
    buffer.setLength (1000);

    buffer.prepare (240000, 480, 2);
    EXPECT_EQ (buffer.getWriteCounter(), 7);
    EXPECT_EQ (buffer.getWritePosition(), 7);
    EXPECT_EQ (buffer.getLength(), 240000);
    EXPECT_EQ (buffer.getChannelData (0)[3], 0.0f);
    EXPECT_EQ (buffer.getChannelData (1)[3], 0.0f);
    EXPECT_EQ (buffer.getLastOverwritten (0), 0.0f);
}

TEST (CircularBufferWrite, GainAndFeedbackAndLastOverwritten)
{
    CircularBuffer buffer;
    buffer.prepare (4, 2, 1);
    writeMono (buffer, 3.0f);                // position 0 = 3
    for (int i = 0; i < 3; ++i)
        writeMono (buffer, 0.0f);
    writeMono (buffer, 2.0f, 0.5f, 0.5f);    // 0.5 * 2 + 0.5 * 3
    EXPECT_EQ (buffer.getChannelData (0)[0], 2.5f);
    EXPECT_EQ (buffer.getLastOverwritten (0), 3.0f);

    // Freeze: the loop repeats while the output follows it.
    for (int i = 0; i < 3; ++i)
        writeMono (buffer, 9.0f, 0.0f, 1.0f); // positions 1..3 keep their zeros
    EXPECT_EQ (buffer.getLastOverwritten (0), 0.0f);
    writeMono (buffer, 9.0f, 0.0f, 1.0f);     // back at position 0
    EXPECT_EQ (buffer.getChannelData (0)[0], 2.5f);
    EXPECT_EQ (buffer.getLastOverwritten (0), 2.5f);
}

TEST (CircularBufferWrite, TailKeepsWhatTheWritesReplaced)
{
    const auto buffer = twoLaps();
    const float* s = buffer.getChannelData (0);
    // Tail slot 10 + (n mod 4) holds what write n replaced: writes 16..19 replaced 7..10.
    EXPECT_EQ (s[10], 7.0f);
    EXPECT_EQ (s[11], 8.0f);
    EXPECT_EQ (s[12], 9.0f);
    EXPECT_EQ (s[13], 10.0f);
    EXPECT_EQ (buffer.getLastOverwritten (0), 10.0f);
}

TEST (CircularBufferWrite, NoChannelsOnlyCounts)
{
    CircularBuffer buffer;
    buffer.prepare (10, 4, 0);
    writeMono (buffer, 1.0f);
    writeMono (buffer, 1.0f);
    EXPECT_EQ (buffer.getWriteCounter(), 2);
    EXPECT_EQ (buffer.getWritePosition(), 2);
    float frame[2] {};
    EXPECT_EQ (buffer.read (frame, 2, 0), 0);
}

TEST (CircularBufferRead, CrossfadeNearTheWriteHead)
{
    const auto buffer = twoLaps(); // W = 20, next write at 0
    EXPECT_EQ (readOne (buffer, 0), 11.0f);   // d = 0: the loop value as is
    EXPECT_EQ (readOne (buffer, 9), 12.5f);   // d = 1: 10 + (20 - 10) / 4
    EXPECT_EQ (readOne (buffer, 8), 14.0f);   // d = 2: 9 + (19 - 9) / 2
    EXPECT_EQ (readOne (buffer, 7), 15.5f);   // d = 3: 8 + (18 - 8) * 3 / 4
    EXPECT_EQ (readOne (buffer, 6), 17.0f);   // d = 4 = G: fully new
    EXPECT_EQ (readOne (buffer, 5), 16.0f);   // beyond G
}

TEST (CircularBufferRead, AnyIndexLandsInTheLoop)
{
    const auto buffer = twoLaps();
    EXPECT_EQ (readOne (buffer, -1), 12.5f);   // position 9, with its crossfade
    EXPECT_EQ (readOne (buffer, -5), 16.0f);
    EXPECT_EQ (readOne (buffer, 15), 16.0f);
    EXPECT_EQ (readOne (buffer, -10), 11.0f);
    EXPECT_EQ (readOne (buffer, INT_MIN), 13.0f); // INT_MIN mod 10 = -8: position 2
    EXPECT_EQ (readOne (buffer, INT_MAX), 15.5f); // INT_MAX mod 10 = 7: position 7, read at d = 3
}

TEST (CircularBufferRead, ChannelCountLimitsTheFrame)
{
    CircularBuffer buffer;
    buffer.prepare (8, 2, 2);
    const float left = 1.0f, right = 2.0f;
    const float* inputs[] { &left, &right };
    for (int i = 0; i < 8; ++i)
        buffer.write (inputs, 0, 1.0f, 0.0f);

    float frame[3] { 0.0f, 0.0f, -7.0f };
    EXPECT_EQ (buffer.read (frame, 3, 4), 2);
    EXPECT_EQ (frame[0], 1.0f);
    EXPECT_EQ (frame[1], 2.0f);
    EXPECT_EQ (frame[2], -7.0f);
    EXPECT_EQ (buffer.read (frame, 1, 4), 1);
    EXPECT_EQ (buffer.read (frame, 0, 4), 0);
    EXPECT_EQ (buffer.read (frame, -3, 4), 0);
}

TEST (CircularBufferLength, SetLengthKeepsCounterAndWrapsReads)
{
    auto buffer = twoLaps();
    for (int i = 0; i < 3; ++i)
        writeMono (buffer, 0.0f); // W = 23

    buffer.setLength (6);
    EXPECT_EQ (buffer.getLength(), 6);
    EXPECT_EQ (buffer.getWriteCounter(), 23);
    EXPECT_EQ (buffer.getWritePosition(), 5);

    writeMono (buffer, 42.0f);
    EXPECT_EQ (buffer.getChannelData (0)[5], 42.0f);
    EXPECT_EQ (buffer.getWritePosition(), 0);
    EXPECT_EQ (readOne (buffer, 6 + 4), readOne (buffer, 4));
    EXPECT_EQ (readOne (buffer, -1), readOne (buffer, 5));
}

TEST (CircularBufferLength, SetLengthBounds)
{
    auto buffer = twoLaps();
    buffer.setLength (3); // below G
    EXPECT_EQ (buffer.getLength(), 10);
    buffer.setLength (11); // above maxLength
    EXPECT_EQ (buffer.getLength(), 10);
    buffer.setLength (-4);
    EXPECT_EQ (buffer.getLength(), 10);
    buffer.setLength (4);
    EXPECT_EQ (buffer.getLength(), 4);
    buffer.setLength (10);
    EXPECT_EQ (buffer.getLength(), 10);
}

TEST (CircularBufferLength, ClearZeroesLoopAndTailButKeepsCounters)
{
    auto buffer = twoLaps();
    buffer.clear();
    for (int i = -3; i < 14; ++i)
        EXPECT_EQ (readOne (buffer, i), 0.0f) << i;
    EXPECT_EQ (buffer.getLastOverwritten (0), 10.0f);
    EXPECT_EQ (buffer.getWriteCounter(), 20);

    writeMono (buffer, 5.0f);
    EXPECT_EQ (buffer.getLastOverwritten (0), 0.0f);
    EXPECT_EQ (readOne (buffer, 0), 5.0f * 0.25f); // d = 1, pre-overwrite side is 0
}

TEST (CircularBufferSync, WriteAtUsesTheHostPosition)
{
    auto buffer = twoLaps();
    writeMono (buffer, 0.0f);
    const float value = 77.0f;
    const float* inputs[] { &value };

    buffer.writeAt (1234567, inputs, 0, 1.0f, 0.0f);
    EXPECT_EQ (buffer.getChannelData (0)[7], 77.0f);
    EXPECT_EQ (buffer.getWriteCounter(), 8);
    EXPECT_EQ (buffer.getWritePosition(), 8);

    buffer.writeAt (std::numeric_limits<std::uint64_t>::max(), inputs, 0, 1.0f, 0.0f); // 2^64 - 1 = ...615
    EXPECT_EQ (buffer.getChannelData (0)[5], 77.0f);
    EXPECT_EQ (buffer.getWriteCounter(), 6);

    // The tail slot follows the synced counter: write 5 replaced position 5's old value into slot 5 mod 4.
    EXPECT_EQ (buffer.getChannelData (0)[10 + 1], 16.0f);
    EXPECT_EQ (readOne (buffer, 5), 16.0f + (77.0f - 16.0f) * 0.25f);
}

// Sets the counter so that a lap of 1000 + k ends exactly at `start`, then writes 1, 2, 3, ... from there:
// the write at `start + j` replaces 1000 + j, so reads behind the head show whether the tail slot matches.
static void lapThenCount (CircularBuffer& buffer, std::int64_t start, int count)
{
    buffer.prepare (1000, 48, 1);
    buffer.setWriteCounter (start - 1000);
    for (int k = 0; k < 1000; ++k)
        writeMono (buffer, static_cast<float> (1000 + k));
    for (int j = 0; j < count; ++j)
        writeMono (buffer, static_cast<float> (j + 1));
}

TEST (CircularBufferCounter, CountsPastThirtyOneBits)
{
    CircularBuffer buffer;
    const std::int64_t start = (std::int64_t (1) << 31) - 3; // 2147483645: position 645, tail phase 29
    lapThenCount (buffer, start, 10);

    EXPECT_EQ (buffer.getWriteCounter(), start + 10);
    EXPECT_EQ (buffer.getWritePosition(), 655);
    const float* s = buffer.getChannelData (0);
    for (int j = 0; j < 10; ++j)
        EXPECT_EQ (s[645 + j], static_cast<float> (j + 1));

    EXPECT_EQ (s[1000 + 38], 1009.0f); // write 2^31 + 6 (phase 38) replaced 1009
    EXPECT_EQ (readOne (buffer, 654), 1009.0f + (10.0f - 1009.0f) * (1.0f / 48.0f));
    EXPECT_EQ (readOne (buffer, 653), 1008.0f + (9.0f - 1008.0f) * (2.0f / 48.0f));
    EXPECT_EQ (readOne (buffer, 600), 1955.0f); // far from the head: the loop value
}

TEST (CircularBufferCounter, WrapsByACommonMultipleNearTheLimit)
{
    CircularBuffer buffer;
    const std::int64_t start = CircularBuffer::counterWrapLimit - 2;
    lapThenCount (buffer, start, 5);

    EXPECT_LT (buffer.getWriteCounter(), CircularBuffer::counterWrapLimit);
    EXPECT_GE (buffer.getWriteCounter(), 0);
    EXPECT_EQ (buffer.getWriteCounter() % 1000, (start + 5) % 1000);
    EXPECT_EQ (buffer.getWriteCounter() % 48, (start + 5) % 48);
    const int startPosition = static_cast<int> (start % 1000);
    EXPECT_EQ (buffer.getWritePosition(), (startPosition + 5) % 1000);

    const int newest = (startPosition + 4) % 1000;
    EXPECT_EQ (readOne (buffer, newest), 1004.0f + (5.0f - 1004.0f) * (1.0f / 48.0f));
    EXPECT_EQ (readOne (buffer, newest - 1), 1003.0f + (4.0f - 1003.0f) * (2.0f / 48.0f));

    buffer.setWriteCounter (std::numeric_limits<std::int64_t>::max());
    EXPECT_LT (buffer.getWriteCounter(), CircularBuffer::counterWrapLimit);
    EXPECT_EQ (buffer.getWriteCounter() % 1000, std::numeric_limits<std::int64_t>::max() % 1000);
    EXPECT_EQ (buffer.getWriteCounter() % 48, std::numeric_limits<std::int64_t>::max() % 48);
    buffer.setWriteCounter (-5);
    EXPECT_EQ (buffer.getWriteCounter(), 0);
}

TEST (CircularBufferRobustness, NonFiniteInputsStayInTheirSlots)
{
    CircularBuffer buffer;
    buffer.prepare (64, 8, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float* inputs[] { &nan, &inf };
    for (int i = 0; i < 200; ++i)
        buffer.write (inputs, 0, 1.0f, 0.5f);

    EXPECT_EQ (buffer.getWriteCounter(), 200);
    EXPECT_EQ (buffer.getWritePosition(), 200 % 64);
    float frame[2] {};
    for (int i = -100; i < 100; ++i)
        EXPECT_EQ (buffer.read (frame, 2, i), 2);
    EXPECT_TRUE (std::isnan (buffer.getLastOverwritten (0)));

    buffer.clear();
    EXPECT_EQ (buffer.read (frame, 2, 3), 2);
    EXPECT_EQ (frame[0], 0.0f);
    EXPECT_EQ (frame[1], 0.0f);
}

TEST (CircularBufferRobustness, DegenerateSizesStayUsable)
{
    CircularBuffer buffer;
    buffer.prepare (0, 0, -1);
    EXPECT_EQ (buffer.getLength(), 1);
    EXPECT_EQ (buffer.getCrossfadeLength(), 1);
    EXPECT_EQ (buffer.getNumChannels(), 0);
    writeMono (buffer, 1.0f);

    buffer.prepare (5, 0, 1);
    writeMono (buffer, 2.0f);
    EXPECT_EQ (readOne (buffer, -7), 0.0f);
    EXPECT_EQ (readOne (buffer, buffer.getWritePosition() - 1), 2.0f);
}

// The positioned reads that readers use must give exactly what read() gives for the same index.
TEST (CircularBufferPositions, SteppedPositionsMatchIndexedReads)
{
    std::mt19937 rng (99);
    for (int trial = 0; trial < 60; ++trial)
    {
        CircularBuffer buffer;
        const int maxLength = std::uniform_int_distribution<int> (8, 700) (rng);
        const int crossfade = std::uniform_int_distribution<int> (1, std::min (64, maxLength)) (rng);
        const int channels = std::uniform_int_distribution<int> (1, 2) (rng);
        buffer.prepare (maxLength, crossfade, channels);
        buffer.setWriteCounter (std::uniform_int_distribution<std::int64_t> (0, std::int64_t (1) << 40) (rng));
        buffer.setLength (std::uniform_int_distribution<int> (crossfade, maxLength) (rng));

        std::uniform_real_distribution<float> value (-1.0f, 1.0f);
        const int writes = std::uniform_int_distribution<int> (0, 3 * maxLength) (rng);
        for (int i = 0; i < writes; ++i)
        {
            const float a = value (rng), b = value (rng);
            const float* inputs[] { &a, &b };
            buffer.write (inputs, 0, 1.0f, 0.5f);
        }

        const int start = std::uniform_int_distribution<int> (INT_MIN / 2, INT_MAX / 2) (rng);
        auto forward = buffer.positionOf (start);
        auto backward = forward;
        for (int k = 0; k < 3 * buffer.getLength(); ++k)
        {
            float expected[2] {}, actual[2] {};
            ASSERT_EQ (buffer.read (expected, 2, start + k), buffer.readAt (forward, actual, 2));
            ASSERT_EQ (expected[0], actual[0]);
            ASSERT_EQ (expected[channels - 1], actual[channels - 1]);
            buffer.stepForward (forward);

            ASSERT_EQ (buffer.read (expected, 2, start - k), buffer.readAt (backward, actual, 2));
            ASSERT_EQ (expected[0], actual[0]) << "trial " << trial << " k " << k;
            buffer.stepBackward (backward);
        }
    }
}
