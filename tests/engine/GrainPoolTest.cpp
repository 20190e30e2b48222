#include "engine/CircularBuffer.h"
#include "engine/GrainPool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace
{
    using qvl::CircularBuffer;
    using qvl::GrainPool;
    using qvl::GrainReader;
    using qvl::GrainSpawnRequest;

    // Two identical laps, so the tail holds the same values as the loop and every read is exact.
    void fillLaps (CircularBuffer& buffer, int length, int crossfade, const std::vector<std::vector<float>>& channels)
    {
        buffer.prepare (length, crossfade, static_cast<int> (channels.size()));
        std::vector<const float*> inputs (channels.size());
        for (int lap = 0; lap < 2; ++lap)
        {
            for (int i = 0; i < length; ++i)
            {
                for (std::size_t c = 0; c < channels.size(); ++c)
                    inputs[c] = channels[c].data() + i;
                buffer.write (inputs.data(), 0, 1.0f, 0.0f);
            }
        }
    }

    void fillConstant (CircularBuffer& buffer, float value, int channels = 1)
    {
        fillLaps (buffer, 256, 8, std::vector<std::vector<float>> (static_cast<std::size_t> (channels), std::vector<float> (256, value)));
    }

    // Position i holds i + 1.
    void fillRamp (CircularBuffer& buffer)
    {
        std::vector<float> ramp (256);
        for (int i = 0; i < 256; ++i)
            ramp[static_cast<std::size_t> (i)] = static_cast<float> (i + 1);
        fillLaps (buffer, 256, 8, { ramp });
    }

    GrainSpawnRequest request (CircularBuffer& buffer, int length, double ratio = 1.0)
    {
        GrainSpawnRequest r;
        r.buffer = &buffer;
        r.length = length;
        r.ratio = ratio;
        r.gain = 1.0f;
        r.pan = 0.0f; // everything on the left
        r.balance = 0.0f;
        r.stream = 0;
        return r;
    }

    // Steps and renders one chunk; returns the left output of stream 0.
    std::vector<float> runChunk (GrainPool& pool, int samples, int stream = 0)
    {
        for (int i = 0; i < samples; ++i)
            pool.advanceReaders();
        pool.renderChunk (samples);
        const float* left = pool.getOutputs()[2 * stream];
        return std::vector<float> (left, left + samples);
    }

    std::vector<float> readerOutput (CircularBuffer& buffer, std::uint32_t start, double ratio, int steps, float balance = 0.0f)
    {
        GrainReader reader;
        reader.reset (steps);
        reader.start (&buffer, start);
        for (int i = 0; i < steps; ++i)
            reader.step (ratio, balance);
        std::vector<float> out (static_cast<std::size_t> (steps));
        EXPECT_EQ (reader.popSamples (out.data(), steps), steps);
        return out;
    }
}

//==============================================================================
TEST (GrainLatency, TwoSourceSamplesAtTheGrainsSpeed)
{
    EXPECT_EQ (GrainPool::latencyFor (1.0), 2);
    EXPECT_EQ (GrainPool::latencyFor (2.0), 1);
    EXPECT_EQ (GrainPool::latencyFor (4.0), 0);
    EXPECT_EQ (GrainPool::latencyFor (0.25), 8);
    EXPECT_EQ (GrainPool::latencyFor (-1.0), 2);
    EXPECT_EQ (GrainPool::latencyFor (-2.0), 1);
    EXPECT_EQ (GrainPool::latencyFor (-4.0), 0);
    EXPECT_EQ (GrainPool::latencyFor (-0.25), 8);
    EXPECT_EQ (GrainPool::latencyFor (0.0), 199999); // 2 / 0.00001 lands just below 200000 in double
    EXPECT_EQ (GrainPool::latencyFor (1e-9), 199999);

    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (64);
    const double ratios[] { 1.0, 2.0, 4.0, 0.25, -0.25 };
    const int lengths[] { 102, 101, 100, 108, 108 };
    for (int i = 0; i < 5; ++i)
    {
        ASSERT_TRUE (pool.spawnGrain (request (buffer, 100, ratios[i])));
        EXPECT_EQ (pool.getGrain (i).length, lengths[i]);
    }
}

TEST (GrainLatency, ReaderOutputTrailsItsSource)
{
    CircularBuffer buffer;
    fillRamp (buffer); // position i holds i + 1

    // The source sample at the start index comes out after exactly 2 / |ratio| output samples.
    EXPECT_EQ (readerOutput (buffer, 5, 1.0, 6), (std::vector<float> { 0, 0, 6, 7, 8, 9 }));
    EXPECT_EQ (readerOutput (buffer, 5, -1.0, 6), (std::vector<float> { 0, 0, 6, 5, 4, 3 }));
    EXPECT_EQ (readerOutput (buffer, 5, 2.0, 4), (std::vector<float> { 0, 6, 8, 10 }));
    EXPECT_EQ (readerOutput (buffer, 5, 0.5, 5)[4], 6.0f);
    EXPECT_EQ (readerOutput (buffer, 5, 0.25, 9)[8], 6.0f);

    // Half-way between samples at ratio 0.5, from a cleared history (0, 0, 0, 6):
    // c2 = -0.5 * 6, c3 = 0.5 * 6, so ((3 * 0.5 - 3) * 0.5) * 0.5 = -0.375.
    EXPECT_EQ (readerOutput (buffer, 5, 0.5, 2)[1], -0.375f);
    // On a straight line the cubic is exact between its middle points: 6.5 halfway from 6 to 7.
    EXPECT_EQ (readerOutput (buffer, 5, 0.5, 8)[7], 7.5f);
}

//==============================================================================
TEST (GrainEnvelope, AdsrExampleWithLength222)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);

    auto r = request (buffer, 100);
    r.envelopeKind = qvl::EnvelopeKind::adsr;
    r.attack = r.decay = r.release = 0.1f;
    r.sustain = 0.5f;

    GrainPool pool;
    pool.prepare (256);
    ASSERT_TRUE (pool.spawnGrain (r));
    const auto& g = pool.getGrain (0);
    EXPECT_EQ (g.attackSamples, 48);  // 10 padded by 38
    EXPECT_EQ (g.decaySamples, 48);   // 10 padded by 38
    EXPECT_EQ (g.releaseSamples, 48); // min(100 - 96, 10) = 4, padded by 44
    EXPECT_EQ (g.length, 222);
    EXPECT_EQ (g.sustain, 0.5f);

    const auto out = runChunk (pool, 222);
    EXPECT_EQ (pool.getActiveCount(), 0);

    // The reader gives 0, 0, then the constant 1: the output is the envelope itself.
    for (int p = 0; p < 222; ++p)
    {
        float expected = 0.5f;
        if (p < 2)
            expected = 0.0f;
        else if (p < 50)
            expected = static_cast<float> (p - 2) / 48.0f;
        else if (p < 98)
            expected = 1.0f + (static_cast<float> (p - 50) / 48.0f) * (0.5f - 1.0f);
        else if (p >= 174)
            expected = 0.5f + (static_cast<float> (p - 174) / 48.0f) * (0.0f - 0.5f);
        EXPECT_EQ (out[static_cast<std::size_t> (p)], expected) << "position " << p;
    }

    // Drawn in 16-sample parts, each ramp piece runs between the segment's own values at its ends.
    pool.prepare (16);
    ASSERT_TRUE (pool.spawnGrain (r));
    std::vector<float> pieces;
    while (pool.getActiveCount() > 0)
    {
        const auto part = runChunk (pool, 16);
        pieces.insert (pieces.end(), part.begin(), part.end());
    }
    ASSERT_GE (pieces.size(), 222u);
    for (std::size_t p = 0; p < 222; ++p)
        EXPECT_NEAR (pieces[p], out[p], 1e-6f) << "position " << p;
    for (std::size_t p = 222; p < pieces.size(); ++p)
        EXPECT_EQ (pieces[p], 0.0f);
}

TEST (GrainEnvelope, AdsrSegmentsNeverShorterThan48)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (64);

    auto r = request (buffer, 1000, 2.0); // latency 1
    r.envelopeKind = qvl::EnvelopeKind::adsr;
    r.attack = 0.5f;
    r.decay = 0.3f;
    r.release = 0.5f;
    r.sustain = 0.25f;
    ASSERT_TRUE (pool.spawnGrain (r));
    const auto& g = pool.getGrain (0);
    EXPECT_EQ (g.attackSamples, 500);
    EXPECT_EQ (g.decaySamples, 300);
    EXPECT_EQ (g.releaseSamples, 200); // cut to what is left of L0
    EXPECT_EQ (g.length, 1001);

    // Out-of-range settings are held to 0..1.
    r.attack = -3.0f;
    r.decay = std::numeric_limits<float>::quiet_NaN();
    r.release = 7.0f;
    r.sustain = 2.0f;
    ASSERT_TRUE (pool.spawnGrain (r));
    const auto& h = pool.getGrain (1);
    EXPECT_EQ (h.attackSamples, 48);
    EXPECT_EQ (h.decaySamples, 48);
    EXPECT_EQ (h.releaseSamples, 904); // min(1000 - 96, 1000)
    EXPECT_EQ (h.sustain, 1.0f);
    EXPECT_EQ (h.length, 1000 + 48 + 48 + 1);
}

TEST (GrainEnvelope, SineWindowPositions)
{
    EXPECT_EQ (static_cast<float> (11511339840.0), 11511340032.0f);
    EXPECT_EQ (static_cast<float> (1640635920.0), 1640635904.0f);
    EXPECT_EQ (static_cast<float> (277920720.0), 277920704.0f);
    EXPECT_EQ (qvl::sinApprox (0.0f), 0.0f);
    for (int i = 0; i <= 64; ++i)
    {
        const double x = 3.141592653589793 * i / 64.0;
        EXPECT_NEAR (qvl::sinApprox (static_cast<float> (x)), std::sin (x), 1.5e-5) << x; // worst near pi
    }

    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (128);
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 100)));
    ASSERT_EQ (pool.getGrain (0).length, 102);

    const auto out = runChunk (pool, 102);
    EXPECT_EQ (out[0], 0.0f);
    EXPECT_NEAR (out[50], 1.0f, 1e-6f);                        // t = 0.5: the peak
    EXPECT_NEAR (out[25], 0.70710678f, 2e-6f);                 // t = 0.25
    EXPECT_NEAR (out[75], 0.70710678f, 2e-6f);
    EXPECT_NEAR (out[100], 0.0f, 1.5e-5f);                     // t = 1
    EXPECT_EQ (out[101], qvl::sinApprox (3.1415927f));          // t = 1.01, held at 1
    EXPECT_NEAR (out[101], -1.1251694e-5f, 1e-11f);
    EXPECT_EQ (pool.getActiveCount(), 0);
}

//==============================================================================
TEST (GrainChunks, SpawnMidChunkStartsAtItsSample)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (16);

    for (int i = 0; i < 5; ++i)
        pool.advanceReaders();
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 100)));
    EXPECT_EQ (pool.getGrain (0).startOffset, 5);
    for (int i = 5; i < 16; ++i)
        pool.advanceReaders();
    pool.renderChunk (16);

    const float* left = pool.getOutputs()[0];
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ (left[i], 0.0f) << i; // before the spawn, then the two latency samples
    for (int i = 7; i < 16; ++i)
        EXPECT_GT (left[i], 0.0f) << i;
    EXPECT_EQ (pool.getGrain (0).progress, 11);
    EXPECT_EQ (pool.getGrain (0).startOffset, 0);

    const float lastOfFirstChunk = left[15];
    const auto next = runChunk (pool, 16);
    EXPECT_GT (next[0], lastOfFirstChunk); // rising side of the window, continuing at sample 0
    EXPECT_EQ (pool.getGrain (0).progress, 27);
}

TEST (GrainChunks, PanAndGainAreLinear)
{
    CircularBuffer buffer;
    fillConstant (buffer, 2.0f);
    GrainPool pool;
    pool.prepare (64);

    auto r = request (buffer, 100, 4.0); // no latency
    r.envelopeKind = qvl::EnvelopeKind::adsr;
    r.sustain = 1.0f;
    r.pan = 0.25f;
    r.gain = 0.5f;
    r.stream = 1;
    ASSERT_TRUE (pool.spawnGrain (r));
    // 48-sample attack: sample 8 has envelope 8/48 and reader output 2.
    runChunk (pool, 10);
    const float env = 8.0f / 48.0f;
    EXPECT_FLOAT_EQ (pool.getOutputs()[2][8], 2.0f * env * 0.75f * 0.5f);
    EXPECT_FLOAT_EQ (pool.getOutputs()[3][8], 2.0f * env * 0.25f * 0.5f);
    EXPECT_EQ (pool.getOutputs()[0][8], 0.0f);
}

TEST (GrainChunks, StreamBeyondTheLastIsClamped)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (32);

    auto r = request (buffer, 100);
    r.stream = 7;
    ASSERT_TRUE (pool.spawnGrain (r));
    EXPECT_EQ (pool.getGrain (0).stream, 3);
    r.stream = -2;
    ASSERT_TRUE (pool.spawnGrain (r));
    EXPECT_EQ (pool.getGrain (1).stream, 0);

    const auto out = runChunk (pool, 32, 3);
    EXPECT_GT (out[20], 0.0f);
    EXPECT_EQ (pool.getNumOutputs(), 8);
    EXPECT_EQ (pool.getOutputs()[0][20], out[20]); // the same grain once more on stream 0
    for (int s = 1; s < 3; ++s)
        EXPECT_EQ (pool.getOutputs()[2 * s][20], 0.0f);
}

//==============================================================================
TEST (GrainDirection, ReverseReadsWrapBelowZero)
{
    // One lap of 1..16 over a silent buffer: the head is at 0 and the tail holds zeros, so positions
    // 15, 14, 13 come in with the crossfade weights 1/4, 2/4, 3/4.
    std::vector<float> ramp (16);
    for (int i = 0; i < 16; ++i)
        ramp[static_cast<std::size_t> (i)] = static_cast<float> (i + 1);
    CircularBuffer buffer;
    buffer.prepare (16, 4, 1);
    for (int i = 0; i < 16; ++i)
    {
        const float* in[] { ramp.data() + i };
        buffer.write (in, 0, 1.0f, 0.0f);
    }

    GrainReader reader;
    reader.reset (32);
    reader.start (&buffer, 2);
    for (int i = 0; i < 9; ++i)
        reader.step (-1.0, 0.0f);
    EXPECT_EQ (reader.getReadPosition(), -7);

    float out[9] {};
    ASSERT_EQ (reader.popSamples (out, 9), 9);
    const float expected[9] { 0, 0, 3, 2, 1, 16 * 0.25f, 15 * 0.5f, 14 * 0.75f, 13 };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ (out[i], expected[i]) << i;

    // A start index above 2^31 is a negative position, wrapped into the loop the same way.
    reader.start (&buffer, 0xFFFFFFFEu); // -2, position 14
    for (int i = 0; i < 3; ++i)
        reader.step (1.0, 0.0f);
    ASSERT_EQ (reader.popSamples (out, 3), 3);
    EXPECT_EQ (out[2], 15 * 0.5f);
    EXPECT_EQ (reader.getReadPosition(), 1);
}

TEST (GrainDirection, BalanceMixesTwoChannelsOnly)
{
    CircularBuffer stereo;
    fillLaps (stereo, 64, 4, { std::vector<float> (64, 1.0f), std::vector<float> (64, 3.0f) });
    EXPECT_EQ (readerOutput (stereo, 9, 1.0, 3, 0.0f)[2], 1.0f);
    EXPECT_EQ (readerOutput (stereo, 9, 1.0, 3, 1.0f)[2], 3.0f);
    EXPECT_EQ (readerOutput (stereo, 9, 1.0, 3, 0.25f)[2], 1.5f);

    CircularBuffer mono;
    fillConstant (mono, 2.0f);
    EXPECT_EQ (readerOutput (mono, 9, 1.0, 3, 0.0f), readerOutput (mono, 9, 1.0, 3, 1.0f));
    EXPECT_EQ (readerOutput (mono, 9, 1.0, 3, 0.7f)[2], 2.0f);
}

//==============================================================================
TEST (GrainRetiring, TwoGrainsFinishInOneChunk)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);

    const int lengths[] { 40, 50, 200, 300 }; // ratio 4: no latency, grain length = content length
    GrainPool pool;
    pool.prepare (32);
    for (int s = 0; s < 4; ++s)
    {
        auto r = request (buffer, lengths[s], 4.0);
        r.stream = s;
        ASSERT_TRUE (pool.spawnGrain (r));
    }

    // Each of the two longer grains alone, for comparison.
    GrainPool solo[2];
    for (int k = 0; k < 2; ++k)
    {
        solo[k].prepare (32);
        auto r = request (buffer, lengths[2 + k], 4.0);
        r.stream = 2 + k;
        ASSERT_TRUE (solo[k].spawnGrain (r));
        runChunk (solo[k], 32);
        runChunk (solo[k], 32);
    }

    runChunk (pool, 32);
    EXPECT_EQ (pool.getActiveCount(), 4);
    runChunk (pool, 32); // the first two end after 8 and 18 samples

    ASSERT_EQ (pool.getActiveCount(), 2);
    EXPECT_EQ (pool.getGrain (0).stream, 3); // the last grain moved into the first free record
    EXPECT_EQ (pool.getGrain (1).stream, 2);
    EXPECT_EQ (pool.getGrain (0).progress, 64);
    EXPECT_EQ (pool.getGrain (1).progress, 64);

    for (int k = 0; k < 2; ++k)
    {
        const int stream = 2 + k;
        for (int side = 0; side < 2; ++side)
            EXPECT_EQ (0, std::memcmp (pool.getOutputs()[2 * stream + side], solo[k].getOutputs()[2 * stream + side], 32 * sizeof (float)));
    }

    const float* first = pool.getOutputs()[0];
    const float* second = pool.getOutputs()[2];
    EXPECT_NE (first[7], 0.0f);
    EXPECT_EQ (first[8], 0.0f);
    EXPECT_NE (second[17], 0.0f);
    EXPECT_EQ (second[18], 0.0f);

    // The grain of length 200 is now the last live one and retires without a swap, in the fifth chunk.
    for (int chunk = 0; chunk < 4; ++chunk)
        runChunk (pool, 32);
    EXPECT_EQ (pool.getActiveCount(), 2);
    runChunk (pool, 32);
    ASSERT_EQ (pool.getActiveCount(), 1);
    EXPECT_EQ (pool.getGrain (0).stream, 3);
    EXPECT_EQ (pool.getGrain (0).progress, 224);
    runChunk (pool, 32);
    runChunk (pool, 32);
    EXPECT_EQ (pool.getActiveCount(), 1);
    runChunk (pool, 32);
    EXPECT_EQ (pool.getActiveCount(), 0);
}

//==============================================================================
TEST (GrainRequests, RefusedRequestsChangeNothing)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);

    GrainPool pool (3, 4);
    EXPECT_FALSE (pool.spawnGrain (request (buffer, 100))); // not prepared: queues have no room
    pool.prepare (16);
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 100, 2.0)));

    const auto unchanged = [&pool]
    {
        const auto& g = pool.getGrain (1);
        return g.length == 0 && g.progress == 0 && g.ratio == 0.0 && g.stream == 0 && g.envelopeKind == 0;
    };

    auto bad = request (buffer, 0);
    EXPECT_FALSE (pool.spawnGrain (bad));
    bad.length = -20;
    EXPECT_FALSE (pool.spawnGrain (bad));
    bad = request (buffer, 100);
    bad.buffer = nullptr;
    EXPECT_FALSE (pool.spawnGrain (bad));
    bad = request (buffer, 100, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE (pool.spawnGrain (bad));
    EXPECT_EQ (pool.getActiveCount(), 1);
    EXPECT_TRUE (unchanged());

    ASSERT_TRUE (pool.spawnGrain (request (buffer, 100)));
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 100)));
    EXPECT_FALSE (pool.spawnGrain (request (buffer, 50, 0.5))); // full
    EXPECT_EQ (pool.getActiveCount(), 3);
    EXPECT_EQ (pool.getGrain (2).length, 102);
}

TEST (GrainRequests, PrepareDropsEveryGrain)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (16);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE (pool.spawnGrain (request (buffer, 1000)));
    pool.advanceReaders();
    pool.prepare (32);
    EXPECT_EQ (pool.getActiveCount(), 0);
    EXPECT_EQ (pool.getSamplesAdvanced(), 0);
    EXPECT_EQ (pool.getReader (0).getNumQueued(), 0);
    EXPECT_EQ (pool.getReader (0).getCapacity(), 33);
}

//==============================================================================
TEST (GrainReaderQueue, HoldsBlockSizeSamplesAndDropsTheRest)
{
    CircularBuffer buffer;
    fillRamp (buffer);
    GrainReader reader;
    reader.reset (4);
    EXPECT_EQ (reader.getCapacity(), 5);
    reader.start (&buffer, 10);

    for (int i = 0; i < 7; ++i)
        reader.step (1.0, 0.0f);
    EXPECT_EQ (reader.getNumQueued(), 4);

    float out[10] {};
    EXPECT_EQ (reader.popSamples (out, 0), 0);
    EXPECT_EQ (reader.popSamples (out, -1), 0);
    EXPECT_EQ (reader.popSamples (out, 10), 4);
    EXPECT_EQ (out[2], 11.0f);
    EXPECT_EQ (out[3], 12.0f);
    EXPECT_EQ (reader.popSamples (out, 10), 0);

    // The dropped samples are gone; the reader itself kept moving.
    reader.step (1.0, 0.0f);
    reader.step (1.0, 0.0f);
    EXPECT_EQ (reader.popSamples (out, 10), 2);
    EXPECT_EQ (out[0], 16.0f);
    EXPECT_EQ (out[1], 17.0f);
    EXPECT_EQ (reader.getReadPosition(), 19);
}

TEST (GrainReaderQueue, ResetKeepsTheSourceUnlessGiven)
{
    CircularBuffer buffer;
    fillRamp (buffer);
    GrainReader reader;
    reader.reset (8, &buffer);
    EXPECT_EQ (reader.getSource(), &buffer);
    reader.step (1.0, 0.0f);
    reader.reset (8);
    EXPECT_EQ (reader.getSource(), &buffer);
    EXPECT_EQ (reader.getReadPosition(), 0);
    EXPECT_EQ (reader.getPhase(), 1.0);
    EXPECT_EQ (reader.getNumQueued(), 0);
}

//==============================================================================
TEST (GrainExtremes, RatiosAreBoundedPerStep)
{
    CircularBuffer buffer;
    fillRamp (buffer);

    struct Case { double ratio; int stepsAfterFirst; int moved; };
    const Case cases[] {
        { 64.0, 10, 640 }, { -64.0, 10, -640 },
        { 1e12, 3, 3 << 20 }, { -std::numeric_limits<double>::infinity(), 3, -(3 << 20) },
        { 0.0, 99998, 0 }, { 1e-9, 99998, 0 }, { -1e-9, 99998, 0 },
    };

    for (const auto& c : cases)
    {
        GrainReader reader;
        reader.reset (4);
        reader.start (&buffer, 100);
        reader.step (c.ratio, 0.0f); // the first fetch
        const int first = c.ratio >= 0.0 ? 101 : 99;
        EXPECT_EQ (reader.getReadPosition(), first) << c.ratio;
        for (int i = 0; i < c.stepsAfterFirst; ++i)
            reader.step (c.ratio, 0.0f);
        EXPECT_EQ (reader.getReadPosition(), first + c.moved) << c.ratio;
    }

    // At ratio 0 the reader still creeps forward at 0.00001 source samples per step.
    GrainReader slow;
    slow.reset (4);
    slow.start (&buffer, 100);
    for (int i = 0; i < 100003; ++i)
        slow.step (0.0, 0.0f);
    EXPECT_EQ (slow.getReadPosition(), 102);
}

TEST (GrainExtremes, PoolSurvivesExtremeRatiosAndHugeLengths)
{
    CircularBuffer buffer;
    fillRamp (buffer);
    GrainPool pool;
    pool.prepare (64);
    const double ratios[] { 0.0, 1e-9, -1e-9, 64.0, -64.0, 1e300, -1e300, std::numeric_limits<double>::infinity() };
    for (double ratio : ratios)
        ASSERT_TRUE (pool.spawnGrain (request (buffer, 500, ratio)));
    auto huge = request (buffer, std::numeric_limits<int>::max(), 0.0);
    huge.envelopeKind = qvl::EnvelopeKind::adsr;
    huge.attack = huge.decay = huge.release = 1.0f;
    ASSERT_TRUE (pool.spawnGrain (huge));
    EXPECT_EQ (pool.getGrain (8).length, std::numeric_limits<int>::max());
    EXPECT_EQ (pool.getGrain (6).ratio, -GrainPool::maxRatio);

    for (int chunk = 0; chunk < 20; ++chunk)
    {
        const auto out = runChunk (pool, 64);
        for (float x : out)
            ASSERT_TRUE (std::isfinite (x));
    }
    EXPECT_EQ (pool.getActiveCount(), 4); // 0, +-1e-9 (latency 199999) and the huge one remain
}

TEST (GrainExtremes, NonFiniteSamplesDoNotBreakTheCounters)
{
    CircularBuffer buffer;
    buffer.prepare (128, 8, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float* inputs[] { &nan, &inf };

    GrainPool pool;
    pool.prepare (32);
    for (int chunk = 0; chunk < 40; ++chunk)
    {
        auto r = request (buffer, 40 + chunk, chunk % 2 ? 1.5 : -0.5);
        r.envelopeKind = static_cast<std::uint8_t> (1 + chunk % 2);
        ASSERT_TRUE (pool.spawnGrain (r));
        for (int i = 0; i < 32; ++i)
        {
            buffer.write (inputs, 0, 1.0f, 1.0f);
            pool.advanceReaders();
        }
        pool.renderChunk (32);
        for (int i = 0; i < pool.getActiveCount(); ++i)
        {
            EXPECT_LE (pool.getGrain (i).progress, pool.getGrain (i).length);
            EXPECT_GE (pool.getGrain (i).progress, 0);
        }
    }
    EXPECT_EQ (buffer.getWriteCounter(), 40 * 32);
    EXPECT_LT (pool.getActiveCount(), 10);
}

TEST (GrainExtremes, ChunksAreHeldToTheBlockSize)
{
    CircularBuffer buffer;
    fillConstant (buffer, 1.0f);
    GrainPool pool;
    pool.prepare (16);
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 1000)));
    for (int i = 0; i < 40; ++i)
        pool.advanceReaders(); // more than a block: the queue keeps 16
    pool.renderChunk (1000);
    EXPECT_EQ (pool.getGrain (0).progress, 16);
    pool.renderChunk (-5);
    EXPECT_EQ (pool.getGrain (0).progress, 16);

    // A spawn after the chunk's last step starts in the next chunk.
    for (int i = 0; i < 16; ++i)
        pool.advanceReaders();
    ASSERT_TRUE (pool.spawnGrain (request (buffer, 1000)));
    pool.renderChunk (16);
    EXPECT_EQ (pool.getGrain (1).progress, 0);
    EXPECT_EQ (pool.getGrain (1).startOffset, 0);
}
