// Long random runs of the engine against a plain model written straight from the formulas: every
// division and remainder spelled out, the counter never wrapped, one fetch per loop turn. The engine's
// incremental reads and reader steps must give the same bits.
#include "engine/CircularBuffer.h"
#include "engine/GrainPool.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#if defined(__SSE2__)
 #include <xmmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{
    namespace model
    {
        struct Buffer
        {
            std::vector<std::vector<float>> data;
            int channels = 0;
            std::vector<float> lastOverwritten;
            int G = 0;
            std::int64_t W = 0;
            int L = 0;
            int maxLength = 0;

            void prepare (int maxLen, int crossfade, int numChannels)
            {
                maxLength = maxLen;
                G = crossfade;
                channels = numChannels;
                data.assign (static_cast<std::size_t> (channels), std::vector<float> (static_cast<std::size_t> (maxLen + crossfade), 0.0f));
                lastOverwritten.assign (static_cast<std::size_t> (channels), 0.0f);
                L = maxLen;
            }

            void write (const float* const* inputs, int sampleIndex, float inputGain, float feedback)
            {
                for (int c = 0; c < channels; ++c)
                {
                    auto& s = data[static_cast<std::size_t> (c)];
                    const auto w = static_cast<std::size_t> (W % L);
                    const auto t = static_cast<std::size_t> (maxLength + W % G);
                    const float old = s[w];
                    lastOverwritten[static_cast<std::size_t> (c)] = old;
                    s[t] = old;
                    s[w] = inputGain * inputs[c][sampleIndex] + feedback * old;
                }
                W = W + 1;
            }

            void writeAt (std::uint64_t host, const float* const* inputs, int sampleIndex, float inputGain, float feedback)
            {
                W = static_cast<std::int64_t> (host % static_cast<std::uint64_t> (L));
                write (inputs, sampleIndex, inputGain, feedback);
            }

            int read (float* frame, int maxChannels, int index) const
            {
                const int n = std::min (maxChannels, channels);
                const std::int64_t r = (L + index % L) % L;
                const std::int64_t d = (L + ((W % L) - r) % L) % L;
                const float f = d == 0 ? 1.0f : static_cast<float> (std::min<std::int64_t> (G, d)) / static_cast<float> (G);
                const std::int64_t t = maxLength + (G + (W - d) % G) % G;
                for (int c = 0; c < n; ++c)
                {
                    const auto& s = data[static_cast<std::size_t> (c)];
                    const float tail = s[static_cast<std::size_t> (t)];
                    frame[c] = tail + (s[static_cast<std::size_t> (r)] - tail) * f;
                }
                return n;
            }

            void setLength (int n)
            {
                if (G <= n && n <= maxLength)
                    L = n;
            }

            void clear()
            {
                for (auto& s : data)
                    std::fill (s.begin(), s.end(), 0.0f);
            }
        };

        struct Grain
        {
            double ratio = 0;
            float balance = 0;
            int progress = 0, length = 0, startOffset = 0;
            float gain = 0, pan = 0;
            int stream = 0, A = 0, D = 0, R = 0;
            float sustain = 0;
            int kind = 0;
        };

        struct Reader
        {
            std::vector<float> queue;
            std::uint32_t writeIndex = 0, readIndex = 0;
            Buffer* source = nullptr;
            float history[4] {};
            double phase = 1.0;
            int historyIndex = 0;
            int readPosition = 0;

            void step (double rate, float balance)
            {
                while (phase >= 1.0)
                {
                    float frame[2] {};
                    source->read (frame, 2, readPosition);
                    readPosition = static_cast<int> (static_cast<std::uint32_t> (readPosition) + (rate >= 0 ? 1u : 0xFFFFFFFFu));
                    const float mono = source->channels == 2 ? frame[0] + (frame[1] - frame[0]) * balance : frame[0];
                    history[historyIndex] = mono;
                    historyIndex = (historyIndex + 1) % 4;
                    phase -= 1.0;
                }

                const double t = phase;
                const float y0 = history[historyIndex];
                const float y1 = history[(historyIndex + 1) % 4];
                const float y2 = history[(historyIndex + 2) % 4];
                const float y3 = history[(historyIndex + 3) % 4];
                const float c1 = 0.5f * y2 - 0.5f * y0;
                const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
                const float c3 = 1.5f * (y1 - y2) + 0.5f * (y3 - y0);
                const float out = static_cast<float> (((c3 * t + c2) * t + c1) * t + y1);

                phase += std::max (std::abs (rate), 0.00001);

                const auto capacity = static_cast<std::uint32_t> (queue.size());
                if ((writeIndex + 1) % capacity != readIndex)
                {
                    queue[writeIndex] = out;
                    writeIndex = (writeIndex + 1) % capacity;
                }
            }

            int pop (float* dest, int n)
            {
                int count = 0;
                while (count < n && readIndex != writeIndex)
                {
                    dest[count++] = queue[readIndex];
                    readIndex = (readIndex + 1) % static_cast<std::uint32_t> (queue.size());
                }
                return count;
            }
        };

        float sine (float x)
        {
            const float x2 = x * x;
            return (-x * (-11511339840.0f + x2 * (1640635920.0f + x2 * (-52785432.0f + x2 * 479249.0f))))
                 / (11511339840.0f + x2 * (277920720.0f + x2 * (3177720.0f + x2 * 18361.0f)));
        }

        float clampUnit (float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

        int latency (double ratio) { return static_cast<int> (std::floor (2.0 / std::max (std::abs (ratio), 0.00001))); }

        struct Pool
        {
            std::vector<Grain> grains;
            std::vector<Reader> readers;
            int active = 0;
            int streams = 4;
            int advanced = 0;
            int blockSize = 0;
            std::vector<std::vector<float>> outputs;
            std::vector<float> scratch;

            Pool (int maxGrains, int numStreams) : grains (static_cast<std::size_t> (maxGrains)), readers (static_cast<std::size_t> (maxGrains)), streams (numStreams) {}

            void prepare (int bs)
            {
                blockSize = bs;
                scratch.assign (static_cast<std::size_t> (bs), 0.0f);
                outputs.assign (static_cast<std::size_t> (2 * streams), std::vector<float> (static_cast<std::size_t> (bs), 0.0f));
                for (auto& r : readers)
                {
                    r.queue.assign (static_cast<std::size_t> (bs + 1), 0.0f);
                    r.writeIndex = r.readIndex = 0;
                }
                advanced = 0;
                active = 0;
            }

            void spawn (const qvl::GrainSpawnRequest& q, Buffer* buffer)
            {
                if (active >= static_cast<int> (grains.size()) || q.length <= 0 || q.buffer == nullptr || std::isnan (q.ratio))
                    return;

                Grain& g = grains[static_cast<std::size_t> (active)];
                g.ratio = std::min (std::max (q.ratio, -qvl::GrainPool::maxRatio), qvl::GrainPool::maxRatio);
                g.balance = q.balance;
                g.gain = q.gain;
                g.pan = q.pan;
                g.kind = q.envelopeKind == 2 ? 2 : 1;
                g.progress = 0;
                g.stream = std::min (std::max (q.stream, 0), streams - 1);
                g.startOffset = advanced;
                const int L0 = q.length;
                g.length = L0;
                if (g.kind == 2)
                {
                    const auto Lf = static_cast<float> (L0);
                    g.sustain = clampUnit (q.sustain);
                    const int A0 = static_cast<int> (std::trunc (Lf * clampUnit (q.attack)));
                    const int padA = std::max (48 - A0, 0);
                    g.A = A0 + padA;
                    const int D0 = std::min (std::max (L0 - g.A, 0), static_cast<int> (std::trunc (Lf * clampUnit (q.decay))));
                    const int padD = std::max (48 - D0, 0);
                    g.D = D0 + padD;
                    const int R0 = std::min (std::max (L0 - g.D - g.A, 0), static_cast<int> (std::trunc (Lf * clampUnit (q.release))));
                    const int padR = std::max (48 - R0, 0);
                    g.R = R0 + padR;
                    g.length = L0 + padA + padD + padR;
                }
                g.length += latency (g.ratio);

                Reader& r = readers[static_cast<std::size_t> (active)];
                r.source = buffer;
                r.readPosition = static_cast<int> (q.startIndex);
                r.writeIndex = r.readIndex = 0;
                std::fill (std::begin (r.history), std::end (r.history), 0.0f);
                r.phase = 1.0;
                r.historyIndex = 0;
                ++active;
            }

            void advance()
            {
                for (int i = 0; i < active; ++i)
                    readers[static_cast<std::size_t> (i)].step (grains[static_cast<std::size_t> (i)].ratio, grains[static_cast<std::size_t> (i)].balance);
                ++advanced;
            }

            void render (int numSamples)
            {
                advanced = 0;
                for (auto& o : outputs)
                    std::fill (o.begin(), o.end(), 0.0f);

                for (int i = 0; i < active;)
                {
                    Grain& g = grains[static_cast<std::size_t> (i)];
                    const int m = std::min (g.length - g.progress, numSamples - g.startOffset);
                    float* x = scratch.data();
                    readers[static_cast<std::size_t> (i)].pop (x, m);
                    const int lambda = latency (g.ratio);

                    if (g.kind == 1)
                    {
                        const auto span = static_cast<float> (g.length - lambda);
                        const float tStart = static_cast<float> (g.progress) / span;
                        const float step = ((static_cast<float> (m) / span + tStart) - tStart) / static_cast<float> (m);
                        float t = tStart;
                        for (int k = 0; k < m; ++k)
                        {
                            x[k] *= sine (3.1415927f * std::min (std::max (t, 0.0f), 1.0f));
                            t += step;
                        }
                    }
                    else
                    {
                        const int A = g.A, D = g.D, R = g.R, len = g.length;
                        const float S = g.sustain;
                        struct Segment { int lo, hi; int kind; };
                        const Segment segments[] { { 0, lambda, 0 }, { lambda, lambda + A, 1 }, { lambda + A, lambda + A + D, 2 },
                                                   { lambda + A + D, len - R, 3 }, { len - R, len, 4 } };
                        const auto value = [&] (int kind, int p) -> float
                        {
                            switch (kind)
                            {
                                case 0: return 0.0f;
                                case 1: return static_cast<float> (p - lambda) / static_cast<float> (A);
                                case 2: return 1.0f + (static_cast<float> (p - lambda - A) / static_cast<float> (D)) * (S - 1.0f);
                                case 3: return S;
                                default: return S + (static_cast<float> (p - (len - R)) / static_cast<float> (R)) * (0.0f - S);
                            }
                        };
                        for (const auto& s : segments)
                        {
                            const int p0 = std::max (s.lo, g.progress);
                            const int p1 = std::min (s.hi, g.progress + m);
                            if (p1 <= p0)
                                continue;
                            const int n = p1 - p0;
                            const float start = value (s.kind, p0);
                            const float end = value (s.kind, p1);
                            for (int j = 0; j < n; ++j)
                                x[p0 - g.progress + j] *= start + (static_cast<float> (j) / static_cast<float> (n)) * (end - start);
                        }
                    }

                    float* left = outputs[static_cast<std::size_t> (2 * g.stream)].data() + g.startOffset;
                    float* right = outputs[static_cast<std::size_t> (2 * g.stream + 1)].data() + g.startOffset;
                    for (int k = 0; k < m; ++k)
                    {
                        left[k] += x[k] * (1.0f - g.pan) * g.gain;
                        right[k] += x[k] * g.pan * g.gain;
                    }

                    g.progress += m;
                    g.startOffset = std::max (g.startOffset - numSamples, 0);
                    if (g.progress >= g.length)
                    {
                        if (i != active - 1)
                        {
                            std::swap (grains[static_cast<std::size_t> (i)], grains[static_cast<std::size_t> (active - 1)]);
                            std::swap (readers[static_cast<std::size_t> (i)], readers[static_cast<std::size_t> (active - 1)]);
                        }
                        --active;
                    }
                    else
                    {
                        ++i;
                    }
                }
            }
        };
    }

    bool sameBits (const float* a, const float* b, int n)
    {
        return std::memcmp (a, b, static_cast<std::size_t> (n) * sizeof (float)) == 0;
    }

    // Bit for bit, except that any NaN matches any NaN: which operand's payload an addition keeps
    // depends on the order the compiler puts the operands in.
    bool sameValues (const float* a, const float* b, int n)
    {
        for (int i = 0; i < n; ++i)
            if (! (std::isnan (a[i]) && std::isnan (b[i])) && std::memcmp (a + i, b + i, sizeof (float)) != 0)
                return false;
        return true;
    }

    // The first n samples of all eight outputs, bit for bit or (anyNaN) as sameValues has it.
    testing::AssertionResult sameOutputs (const qvl::GrainPool& pool, const model::Pool& refPool, int n, bool anyNaN = false)
    {
        for (int o = 0; o < 8; ++o)
        {
            const float* const ours = pool.getOutputs()[o];
            const float* const model = refPool.outputs[static_cast<std::size_t> (o)].data();
            if (! (anyNaN ? sameValues (ours, model, n) : sameBits (ours, model, n)))
                return testing::AssertionFailure() << "output " << o;
        }
        return testing::AssertionSuccess();
    }

    // Every live grain has come as far, and its reader stands where the model's does.
    testing::AssertionResult sameGrainStates (const qvl::GrainPool& pool, const model::Pool& refPool)
    {
        for (int g = 0; g < pool.getActiveCount(); ++g)
        {
            const auto i = static_cast<std::size_t> (g);
            if (pool.getGrain (g).progress != refPool.grains[i].progress)
                return testing::AssertionFailure() << "grain " << g << " progress " << pool.getGrain (g).progress
                                                   << ", model " << refPool.grains[i].progress;
            if (pool.getReader (g).getReadPosition() != refPool.readers[i].readPosition)
                return testing::AssertionFailure() << "grain " << g << " read position " << pool.getReader (g).getReadPosition()
                                                   << ", model " << refPool.readers[i].readPosition;
        }
        return testing::AssertionSuccess();
    }

    struct Scenario
    {
        std::mt19937 rng;
        explicit Scenario (unsigned seed) : rng (seed) {}

        int integer (int lo, int hi) { return std::uniform_int_distribution<int> (lo, hi) (rng); }
        float real (float lo, float hi) { return std::uniform_real_distribution<float> (lo, hi) (rng); }
        bool chance (double p) { return std::bernoulli_distribution (p) (rng); }

        double ratio()
        {
            static const double specials[] { 1.0, -1.0, 0.5, -0.5, 1.5, -1.5, 2.0, 4.0, 0.25, -0.25, 64.0, -64.0, 5.5, -13.7, 7.0, 0.3 };
            if (chance (0.01))
                return chance (0.5) ? 0.0 : (chance (0.5) ? 1e-9 : -1e-9);
            if (chance (0.5))
                return specials[integer (0, 15)];
            return static_cast<double> (real (-4.0f, 4.0f));
        }
    };

    // With uneven writes a sample may write the buffer twice or not at all before the readers step.
    void runScenario (unsigned seed, int chunks, bool unevenWrites = false)
    {
        Scenario sc (seed);
        const int maxLength = sc.integer (64, 3000);
        const int crossfade = sc.integer (1, std::min (300, maxLength));
        const int channels = sc.integer (1, 2);
        const int blockSize = sc.integer (1, 64);
        const int maxGrains = sc.integer (1, 40);

        qvl::CircularBuffer buffer;
        model::Buffer refBuffer;
        buffer.prepare (maxLength, crossfade, channels);
        refBuffer.prepare (maxLength, crossfade, channels);

        qvl::GrainPool pool (maxGrains, 4);
        model::Pool refPool (maxGrains, 4);
        pool.prepare (blockSize);
        refPool.prepare (blockSize);

        std::vector<float> left (static_cast<std::size_t> (blockSize)), right (static_cast<std::size_t> (blockSize));
        const float* inputs[] { left.data(), right.data() };

        bool synced = false;
        std::uint64_t host = 0;

        const int warmup = sc.integer (0, 3 * maxLength);
        for (int i = 0; i < warmup; ++i)
        {
            left[0] = sc.real (-1.0f, 1.0f);
            right[0] = sc.real (-1.0f, 1.0f);
            buffer.write (inputs, 0, 1.0f, 0.5f);
            refBuffer.write (inputs, 0, 1.0f, 0.5f);
        }

        for (int chunk = 0; chunk < chunks; ++chunk)
        {
            if (sc.chance (0.03))
            {
                const int n = sc.integer (crossfade - 5, maxLength + 5);
                buffer.setLength (n);
                refBuffer.setLength (n);
                buffer.clear();
                refBuffer.clear();
            }
            if (sc.chance (0.01))
            {
                const std::int64_t w = (std::int64_t (1) << 31) - sc.integer (1, 5000);
                buffer.setWriteCounter (w);
                refBuffer.W = w;
            }
            if (sc.chance (0.05))
            {
                synced = ! synced;
                host = std::uniform_int_distribution<std::uint64_t> () (sc.rng);
            }

            const int n = sc.integer (0, blockSize);
            for (int i = 0; i < n; ++i)
            {
                left[static_cast<std::size_t> (i)] = sc.real (-1.0f, 1.0f);
                right[static_cast<std::size_t> (i)] = sc.real (-1.0f, 1.0f);
            }

            for (int i = 0; i < n; ++i)
            {
                const bool freeze = sc.chance (0.1);
                const float gain = freeze ? 0.0f : 1.0f;
                const float feedback = freeze ? 1.0f : 0.5f;
                if (synced)
                {
                    buffer.writeAt (host, inputs, i, gain, feedback);
                    refBuffer.writeAt (host, inputs, i, gain, feedback);
                    ++host;
                }
                else
                {
                    const int writes = unevenWrites ? (sc.chance (0.1) ? 0 : (sc.chance (0.1) ? 2 : 1)) : 1;
                    for (int w = 0; w < writes; ++w)
                    {
                        buffer.write (inputs, i, gain, feedback);
                        refBuffer.write (inputs, i, gain, feedback);
                    }
                }

                const int spawns = sc.chance (0.3) ? sc.integer (1, 3) : 0;
                for (int k = 0; k < spawns; ++k)
                {
                    qvl::GrainSpawnRequest q;
                    q.buffer = sc.chance (0.02) ? nullptr : &buffer;
                    const int head = buffer.getWritePosition();
                    q.startIndex = sc.chance (0.5) ? static_cast<std::uint32_t> (head + sc.integer (-2 * crossfade, 2 * crossfade))
                                                   : std::uniform_int_distribution<std::uint32_t> () (sc.rng);
                    q.length = sc.chance (0.03) ? sc.integer (-3, 0) : (sc.chance (0.3) ? sc.integer (1, 12) : sc.integer (13, 600));
                    q.ratio = sc.ratio();
                    q.gain = sc.real (0.0f, 1.5f);
                    q.pan = sc.real (0.0f, 1.0f);
                    q.balance = sc.real (0.0f, 1.0f);
                    q.stream = sc.integer (-1, 8);
                    q.envelopeKind = static_cast<std::uint8_t> (sc.chance (0.02) ? sc.integer (0, 5) : sc.integer (1, 2));
                    q.attack = sc.real (-0.1f, 0.6f);
                    q.decay = sc.real (-0.1f, 0.6f);
                    q.sustain = sc.real (-0.1f, 1.1f);
                    q.release = sc.real (-0.1f, 0.6f);

                    pool.spawnGrain (q);
                    refPool.spawn (q, q.buffer != nullptr ? &refBuffer : nullptr);
                }

                pool.advanceReaders();
                refPool.advance();
            }

            pool.renderChunk (n);
            refPool.render (n);

            ASSERT_EQ (pool.getActiveCount(), refPool.active) << "seed " << seed << " chunk " << chunk;
            ASSERT_TRUE (sameOutputs (pool, refPool, blockSize)) << "seed " << seed << " chunk " << chunk;
            ASSERT_TRUE (sameGrainStates (pool, refPool)) << "seed " << seed << " chunk " << chunk;
            for (int c = 0; c < channels; ++c)
                ASSERT_EQ (buffer.getLastOverwritten (c), refBuffer.lastOverwritten[static_cast<std::size_t> (c)]);
        }

        // The loops and tails agree too.
        for (int c = 0; c < channels; ++c)
            ASSERT_TRUE (sameBits (buffer.getChannelData (c), refBuffer.data[static_cast<std::size_t> (c)].data(), maxLength + crossfade));
    }
}

TEST (GrainPoolReference, RandomRunsMatchBitForBit)
{
    for (unsigned seed = 1; seed <= 40; ++seed)
    {
        runScenario (seed, 400);
        if (HasFatalFailure())
            return;
    }
}

// A pool of realistic size with long grains, so that reads keep crossing the write head.
TEST (GrainPoolReference, UnevenWritesMatchBitForBit)
{
    for (unsigned seed = 300; seed < 330; ++seed)
    {
        runScenario (seed, 400, true);
        if (HasFatalFailure())
            return;
    }
}

TEST (GrainPoolReference, FullSizeRunMatchesBitForBit)
{
    std::mt19937 rng (2024);
    qvl::CircularBuffer buffer;
    model::Buffer refBuffer;
    buffer.prepare (24000, 480, 2);
    refBuffer.prepare (24000, 480, 2);
    qvl::GrainPool pool;
    model::Pool refPool (qvl::GrainPool::defaultMaxGrains, 4);
    pool.prepare (137);
    refPool.prepare (137);

    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    float left = 0.0f, right = 0.0f;
    const float* inputs[] { &left, &right };
    const double ratios[] { 1.0, 0.5, 1.5, -1.0 };

    for (int chunk = 0; chunk < 250; ++chunk)
    {
        for (int i = 0; i < 137; ++i)
        {
            left = noise (rng);
            right = noise (rng);
            buffer.write (inputs, 0, 1.0f, 0.7f);
            refBuffer.write (inputs, 0, 1.0f, 0.7f);

            if (i % 3 == 0)
            {
                qvl::GrainSpawnRequest q;
                q.buffer = &buffer;
                q.startIndex = static_cast<std::uint32_t> (buffer.getWritePosition() - static_cast<int> (rng() % 2000));
                q.length = 500 + static_cast<int> (rng() % 8000);
                q.ratio = ratios[rng() % 4];
                q.pan = noise (rng) * 0.5f + 0.5f;
                q.balance = noise (rng) * 0.5f + 0.5f;
                q.stream = static_cast<int> (rng() % 4);
                q.envelopeKind = static_cast<std::uint8_t> (1 + rng() % 2);
                q.attack = 0.2f;
                q.decay = 0.1f;
                q.sustain = 0.7f;
                q.release = 0.3f;
                pool.spawnGrain (q);
                refPool.spawn (q, &refBuffer);
            }

            pool.advanceReaders();
            refPool.advance();
        }

        pool.renderChunk (137);
        refPool.render (137);
        ASSERT_EQ (pool.getActiveCount(), refPool.active);
        ASSERT_TRUE (sameOutputs (pool, refPool, 137)) << "chunk " << chunk;
    }
    EXPECT_GT (pool.getActiveCount(), 300);
}

// Long chunks of fast readers whose speeds carry many fraction bits, with a crossfade long enough that
// the journal holds a whole chunk: the batched phase walk must not overflow its integer positions.
TEST (GrainPoolReference, LongChunksOfFineRatiosMatchBitForBit)
{
    constexpr int block = 20000;
    constexpr int loop = 400000;
    std::mt19937 rng (77);
    qvl::CircularBuffer buffer;
    model::Buffer refBuffer;
    buffer.prepare (loop, 30000, 2);
    refBuffer.prepare (loop, 30000, 2);
    qvl::GrainPool pool (8, 4);
    model::Pool refPool (8, 4);
    pool.prepare (block);
    refPool.prepare (block);

    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    float left = 0.0f, right = 0.0f;
    const float* inputs[] { &left, &right };
    for (int i = 0; i < loop; ++i)
    {
        left = noise (rng);
        right = noise (rng);
        buffer.write (inputs, 0, 1.0f, 0.0f);
        refBuffer.write (inputs, 0, 1.0f, 0.0f);
    }

    // 4 - 2^-48 and its neighbours: 48 fraction bits, and speeds near the batched path's limit.
    const double ratios[] { 4.0 - std::ldexp (1.0, -48), -(4.0 - std::ldexp (1.0, -48)), 3.0 + std::ldexp (1.0, -47),
                            0.5 + std::ldexp (1.0, -48), 2.5, -1.25 };
    for (int chunk = 0; chunk < 3; ++chunk)
    {
        for (std::size_t k = 0; k < std::size (ratios); ++k)
        {
            qvl::GrainSpawnRequest q;
            q.buffer = &buffer;
            q.startIndex = static_cast<std::uint32_t> (buffer.getWritePosition() + 200000 + static_cast<int> (k) * 1000);
            q.length = 3 * block;
            q.ratio = ratios[k];
            q.balance = 0.3f;
            q.stream = static_cast<int> (k % 4);
            q.envelopeKind = qvl::EnvelopeKind::adsr;
            q.sustain = 1.0f;
            pool.spawnGrain (q);
            refPool.spawn (q, &refBuffer);
        }

        for (int i = 0; i < block; ++i)
        {
            left = noise (rng);
            right = noise (rng);
            buffer.write (inputs, 0, 1.0f, 0.5f);
            refBuffer.write (inputs, 0, 1.0f, 0.5f);
            pool.advanceReaders();
            refPool.advance();
        }

        pool.renderChunk (block);
        refPool.render (block);
        ASSERT_EQ (pool.getActiveCount(), refPool.active);
        ASSERT_TRUE (sameOutputs (pool, refPool, block)) << "chunk " << chunk;
        for (int g = 0; g < pool.getActiveCount(); ++g)
            ASSERT_EQ (pool.getReader (g).getReadPosition(), refPool.readers[static_cast<std::size_t> (g)].readPosition);
    }
}

TEST (GrainPoolRealtime, NoAllocationAfterPrepare)
{
    qvl::CircularBuffer buffer;
    buffer.prepare (48000, 480, 2);
    qvl::GrainPool pool;
    pool.prepare (256);

    std::mt19937 rng (7);
    std::vector<float> left (256), right (256);
    const float* inputs[] { left.data(), right.data() };

    int mostLive = 0;
    qvl::test::ScopedAllocationCounter allocations;
    for (int chunk = 0; chunk < 300; ++chunk)
    {
        if (chunk == 100)
        {
            buffer.setLength (20000);
            buffer.clear();
        }

        const int n = 1 + static_cast<int> (rng() % 256);
        for (int i = 0; i < n; ++i)
        {
            left[static_cast<std::size_t> (i)] = static_cast<float> (rng() % 1000) / 1000.0f;
            right[static_cast<std::size_t> (i)] = -left[static_cast<std::size_t> (i)];
        }

        for (int i = 0; i < n; ++i)
        {
            if (chunk % 50 < 10)
                buffer.writeAt (static_cast<std::uint64_t> (chunk) * 256 + static_cast<std::uint64_t> (i), inputs, i, 1.0f, 0.5f);
            else
                buffer.write (inputs, i, 1.0f, 0.5f);

            for (int k = 0; k < 4; ++k)
            {
                qvl::GrainSpawnRequest q;
                q.buffer = &buffer;
                q.startIndex = static_cast<std::uint32_t> (rng());
                q.length = 100 + static_cast<int> (rng() % 4000);
                q.ratio = (static_cast<double> (rng() % 800) - 400.0) / 100.0;
                q.stream = k;
                q.envelopeKind = static_cast<std::uint8_t> (1 + k % 2);
                q.attack = q.decay = q.release = 0.1f;
                q.sustain = 0.5f;
                pool.spawnGrain (q); // refused once the pool is full
            }

            pool.advanceReaders();
            mostLive = std::max (mostLive, pool.getActiveCount());
        }

        pool.renderChunk (n);
    }

    EXPECT_EQ (allocations.count(), 0u);
    EXPECT_EQ (mostLive, pool.getMaxGrains()); // grains were retired and replaced while full
}

namespace
{
    // Renders n samples on both pools, then compares them: as many live grains, the same outputs (bit
    // for bit, or with any NaN matching any NaN), and every grain as far along.
    testing::AssertionResult renderedAlike (qvl::GrainPool& pool, model::Pool& refPool, int n, bool anyNaN)
    {
        pool.renderChunk (n);
        refPool.render (n);
        if (pool.getActiveCount() != refPool.active)
            return testing::AssertionFailure() << pool.getActiveCount() << " live grains, model " << refPool.active;
        if (const auto outputs = sameOutputs (pool, refPool, n, anyNaN); ! outputs)
            return outputs;
        return sameGrainStates (pool, refPool);
    }

    // The way the processor drives the engine: chunks of at most one control tick (shorter than the
    // crossfade), a write on every sample (host-synced for a while, jumping only between chunks),
    // spawns at any offset with single-precision ratios, grains starting on both sides of the head,
    // and a resize or clear now and then between chunks.
    // specialRate is the share of special samples when specialValues is set.
    void runProcessorScenario (unsigned seed, int chunks, bool specialValues = false, double specialRate = 0.3)
    {
        Scenario sc (seed);
        // Signed zeros, infinities, NaN, huge and subnormal values test that every shortcut keeps IEEE
        // semantics exactly.
        const auto sample = [&sc, specialValues, specialRate]
        {
            static const float specials[] { 0.0f, -0.0f, std::numeric_limits<float>::infinity(),
                                            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                                            3.0e38f, -3.0e38f, 1.0e-40f, -1.0e-40f, 1.0f };
            if (specialValues && sc.chance (specialRate))
                return specials[sc.integer (0, 9)];
            return sc.real (-1.0f, 1.0f);
        };
        const int crossfade = sc.chance (0.5) ? 480 : sc.integer (8, 500);
        const int maxLength = sc.integer (2 * crossfade, 12 * crossfade);
        const int channels = sc.integer (1, 2);
        const int blockSize = sc.integer (16, 300);
        const int tick = sc.integer (1, std::min (blockSize, crossfade - 1));

        qvl::CircularBuffer buffer;
        model::Buffer refBuffer;
        buffer.prepare (maxLength, crossfade, channels);
        refBuffer.prepare (maxLength, crossfade, channels);

        qvl::GrainPool pool (sc.integer (20, 120), 4);
        model::Pool refPool (pool.getMaxGrains(), 4);
        pool.prepare (blockSize);
        refPool.prepare (blockSize);

        std::vector<float> left (static_cast<std::size_t> (blockSize)), right (static_cast<std::size_t> (blockSize));
        const float* inputs[] { left.data(), right.data() };

        for (int i = 0; i < maxLength + sc.integer (0, maxLength); ++i)
        {
            left[0] = sample();
            right[0] = sample();
            buffer.write (inputs, 0, 1.0f, 0.0f);
            refBuffer.write (inputs, 0, 1.0f, 0.0f);
        }

        bool synced = false;
        std::uint64_t host = 0;

        for (int chunk = 0; chunk < chunks; ++chunk)
        {
            if (sc.chance (0.02))
            {
                const int n = sc.integer (crossfade, maxLength);
                buffer.setLength (n);
                refBuffer.setLength (n);
                buffer.clear();
                refBuffer.clear();
            }
            if (sc.chance (0.05))
                synced = ! synced;
            if (synced && sc.chance (0.1))
                host = std::uniform_int_distribution<std::uint64_t> (0, std::uint64_t (1) << 40) (sc.rng);

            const int n = sc.chance (0.2) ? sc.integer (1, tick) : tick;
            for (int i = 0; i < n; ++i)
            {
                left[static_cast<std::size_t> (i)] = sample();
                right[static_cast<std::size_t> (i)] = sample();
            }

            for (int i = 0; i < n; ++i)
            {
                if (synced)
                {
                    buffer.writeAt (host, inputs, i, 1.0f, 0.6f);
                    refBuffer.writeAt (host, inputs, i, 1.0f, 0.6f);
                    ++host;
                }
                else
                {
                    buffer.write (inputs, i, 1.0f, 0.6f);
                    refBuffer.write (inputs, i, 1.0f, 0.6f);
                }

                if (sc.chance (0.15))
                {
                    qvl::GrainSpawnRequest q;
                    q.buffer = &buffer;
                    const int head = buffer.getWritePosition();
                    const int where = sc.integer (0, 3);
                    q.startIndex = static_cast<std::uint32_t> (where == 0 ? head + sc.integer (-3 * crossfade, 3 * crossfade)
                                                               : (where == 1 ? head - sc.integer (0, 2 * crossfade)
                                                                             : sc.integer (0, 4 * maxLength)));
                    q.length = sc.integer (24, 3000);
                    // The processor's ratios are single precision.
                    static const float specials[] { 1.0f, -1.0f, 0.5f, 1.5f, -0.75f, 2.0f, 3.9999f, -4.0f };
                    q.ratio = sc.chance (0.5) ? specials[sc.integer (0, 7)] : sc.real (-4.0f, 4.0f);
                    q.gain = sc.real (0.0f, 1.0f);
                    q.pan = sc.real (0.0f, 1.0f);
                    q.balance = sc.real (0.0f, 1.0f);
                    q.stream = sc.integer (0, 3);
                    q.envelopeKind = static_cast<std::uint8_t> (sc.integer (1, 2));
                    q.attack = sc.real (0.0f, 0.5f);
                    q.decay = sc.real (0.0f, 0.5f);
                    q.sustain = sc.real (0.0f, 1.0f);
                    q.release = sc.real (0.0f, 0.5f);
                    pool.spawnGrain (q);
                    refPool.spawn (q, &refBuffer);
                }

                pool.advanceReaders();
                refPool.advance();
            }

            ASSERT_TRUE (renderedAlike (pool, refPool, n, true)) << "seed " << seed << " chunk " << chunk;
        }
    }

    struct WideVectors
    {
        explicit WideVectors (bool enabled) : saved (qvl::GrainPool::areWideVectorsEnabled())
        {
            qvl::GrainPool::setWideVectorsEnabled (enabled);
        }
        ~WideVectors() { qvl::GrainPool::setWideVectorsEnabled (saved); }
        bool saved;
    };

    // Sets AVX2 on and AVX-512 as asked, restoring both afterwards.
    struct WidestVectors
    {
        explicit WidestVectors (bool enabled)
            : wide (true), saved (qvl::GrainPool::areWidestVectorsEnabled())
        {
            qvl::GrainPool::setWidestVectorsEnabled (enabled);
        }
        ~WidestVectors() { qvl::GrainPool::setWidestVectorsEnabled (saved); }
        WideVectors wide;
        bool saved;
    };

    void runMixedScenarios (unsigned firstSeed)
    {
        for (unsigned seed = firstSeed; seed < firstSeed + 12; ++seed)
        {
            runScenario (seed, 300);
            if (::testing::Test::HasFatalFailure())
                return;
        }
        for (unsigned seed = firstSeed + 100; seed < firstSeed + 110; ++seed)
        {
            runProcessorScenario (seed, 300);
            if (::testing::Test::HasFatalFailure())
                return;
        }
        for (unsigned seed = firstSeed + 200; seed < firstSeed + 204; ++seed)
        {
            runProcessorScenario (seed, 200, true);
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}

TEST (GrainPoolReference, VectorSwitchesNest)
{
    const WideVectors restore (qvl::GrainPool::areWideVectorsEnabled());

    // Turning wide vectors off turns AVX-512 off with them, and AVX-512 cannot come on without them.
    qvl::GrainPool::setWideVectorsEnabled (false);
    EXPECT_FALSE (qvl::GrainPool::areWideVectorsEnabled());
    EXPECT_FALSE (qvl::GrainPool::areWidestVectorsEnabled());
    qvl::GrainPool::setWidestVectorsEnabled (true);
    EXPECT_FALSE (qvl::GrainPool::areWidestVectorsEnabled());

    // Turning them on again brings AVX-512 back where the processor has it; it can be left out alone.
    qvl::GrainPool::setWideVectorsEnabled (true);
    EXPECT_EQ (qvl::GrainPool::areWidestVectorsEnabled(), qvl::GrainPool::hasWidestVectors());
    qvl::GrainPool::setWidestVectorsEnabled (false);
    EXPECT_FALSE (qvl::GrainPool::areWidestVectorsEnabled());
    EXPECT_TRUE (qvl::GrainPool::areWideVectorsEnabled() || ! qvl::GrainPool::hasWidestVectors());
    qvl::GrainPool::setWidestVectorsEnabled (true);
    EXPECT_EQ (qvl::GrainPool::areWidestVectorsEnabled(), qvl::GrainPool::hasWidestVectors());
}

// Each vector width on its own must give the model's bits: AVX-512 where the processor has it, and
// AVX2 alone even there, since that is what processors without AVX-512 run.
TEST (GrainPoolReference, WidestVectorsMatchBitForBit)
{
    if (! qvl::GrainPool::hasWidestVectors())
        GTEST_SKIP() << "no AVX-512 on this processor";
    const WidestVectors widest (true);
    ASSERT_TRUE (qvl::GrainPool::areWidestVectorsEnabled());
    runMixedScenarios (400);
}

TEST (GrainPoolReference, Avx2AloneMatchesBitForBit)
{
    const WidestVectors avx2Only (false);
    ASSERT_FALSE (qvl::GrainPool::areWidestVectorsEnabled());
    runMixedScenarios (600);
}

TEST (GrainPoolReference, ProcessorLikeRunsMatchBitForBit)
{
    for (unsigned seed = 100; seed < 130; ++seed)
    {
        runProcessorScenario (seed, 300);
        if (HasFatalFailure())
            return;
    }
}

// Where the processor has wider vectors, the baseline code must give the same bits too.
TEST (GrainPoolReference, BaselineVectorsMatchBitForBit)
{
    const WideVectors baseline (false);
    ASSERT_FALSE (qvl::GrainPool::areWideVectorsEnabled());
    ASSERT_FALSE (qvl::GrainPool::areWidestVectorsEnabled());
    for (unsigned seed = 1; seed <= 20; ++seed)
    {
        runScenario (seed, 300);
        if (HasFatalFailure())
            return;
    }
    for (unsigned seed = 200; seed < 215; ++seed)
    {
        runProcessorScenario (seed, 300);
        if (HasFatalFailure())
            return;
    }
}

TEST (GrainPoolReference, SpecialSampleValuesMatchBitForBit)
{
    for (unsigned seed = 300; seed < 310; ++seed)
    {
        runProcessorScenario (seed, 200, true);
        if (HasFatalFailure())
            return;
    }

    const WideVectors baseline (false);
    for (unsigned seed = 310; seed < 315; ++seed)
    {
        runProcessorScenario (seed, 200, true);
        if (HasFatalFailure())
            return;
    }
}

#if defined(__SSE2__)
// The processor runs with subnormals flushed to zero; shortcuts must agree with the model there too.
TEST (GrainPoolReference, FlushedSubnormalsMatchBitForBit)
{
    const unsigned saved = _mm_getcsr();
    _mm_setcsr (saved | 0x8040u); // flush to zero, denormals are zero
    for (unsigned seed = 320; seed < 328; ++seed)
    {
        runProcessorScenario (seed, 200, true);
        if (HasFatalFailure())
            break;
    }
    _mm_setcsr (saved);
}
#endif

// Special values few and far between: most windows are plain, and the few that are not (a signed zero,
// a subnormal, an infinity) sit among them, with and without flushing to zero.
TEST (GrainPoolReference, SparseSpecialValuesMatchBitForBit)
{
    for (unsigned seed = 340; seed < 352; ++seed)
    {
        runProcessorScenario (seed, 300, true, 0.02);
        if (HasFatalFailure())
            return;
    }
   #if defined(__SSE2__)
    const unsigned saved = _mm_getcsr();
    _mm_setcsr (saved | 0x8040u);
    for (unsigned seed = 352; seed < 364; ++seed)
    {
        runProcessorScenario (seed, 300, true, 0.02);
        if (HasFatalFailure())
            break;
    }
    _mm_setcsr (saved);
   #endif
}

// Unit-speed readers over a loop whose two channels balance out to subnormal mono samples, with
// subnormals kept, flushed, or only read as zero: passing windows through unchanged must agree with
// the formula for every one of them.
TEST (GrainPoolReference, TinySamplesAtUnitSpeedMatchBitForBit)
{
    const auto run = []
    {
        constexpr int length = 4000;
        qvl::CircularBuffer buffer;
        model::Buffer refBuffer;
        buffer.prepare (length, 100, 2);
        refBuffer.prepare (length, 100, 2);
        qvl::GrainPool pool (16, 4);
        model::Pool refPool (16, 4);
        pool.prepare (64);
        refPool.prepare (64);

        float left = 0.0f, right = 0.0f;
        const float* inputs[] { &left, &right };
        const auto write = [&] (float gain, float feedback)
        {
            buffer.write (inputs, 0, gain, feedback);
            refBuffer.write (inputs, 0, gain, feedback);
        };
        // 2.5e-38 + (-2.3e-38 - 2.5e-38) * 0.5 is 1e-39, below the smallest normal number.
        left = 2.5e-38f;
        right = -2.3e-38f;
        for (int i = 0; i < length + 200; ++i)
            write (1.0f, 0.0f);

        for (int chunk = 0; chunk < 20; ++chunk)
        {
            for (int i = 0; i < 64; ++i)
            {
                if (i == 0 && chunk < 8)
                {
                    qvl::GrainSpawnRequest q;
                    q.buffer = &buffer;
                    q.startIndex = static_cast<std::uint32_t> (buffer.getWritePosition() + 500 + 300 * chunk);
                    q.length = 2000;
                    q.ratio = chunk % 2 == 0 ? 1.0 : -1.0;
                    q.balance = 0.5f;
                    q.envelopeKind = qvl::EnvelopeKind::adsr;
                    q.sustain = 1.0f;
                    pool.spawnGrain (q);
                    refPool.spawn (q, &refBuffer);
                }
                write (0.0f, 1.0f); // frozen: the loop keeps its samples
                pool.advanceReaders();
                refPool.advance();
            }
            pool.renderChunk (64);
            refPool.render (64);
            ASSERT_TRUE (sameOutputs (pool, refPool, 64)) << "chunk " << chunk;
        }
    };

    run();
    {
        const WideVectors baseline (false);
        run();
    }
   #if defined(__SSE2__)
    const unsigned saved = _mm_getcsr();
    for (const unsigned flags : { 0x8040u, 0x0040u })
    {
        _mm_setcsr (saved | flags);
        run();
        _mm_setcsr (saved);
        if (HasFatalFailure())
            return;
    }
   #endif
}

// Readers at the write head of loops barely longer than a vector of fetches, with crossfades just
// either side of it: blocks of fetches through the journal wrap the loop, the tail slots, or both, in
// both directions, while the head moves by zero, one or two samples a step.
TEST (GrainPoolReference, ShortLoopsAtTheHeadMatchBitForBit)
{
    const auto run = [] (unsigned seed)
    {
        Scenario sc (seed);
        const int length = sc.integer (14, 40);
        const int crossfade = sc.integer (12, std::min (length, 24));
        const int blockSize = 64;
        qvl::CircularBuffer buffer;
        model::Buffer refBuffer;
        buffer.prepare (length, crossfade, 2);
        refBuffer.prepare (length, crossfade, 2);
        qvl::GrainPool pool (24, 4);
        model::Pool refPool (24, 4);
        pool.prepare (blockSize);
        refPool.prepare (blockSize);

        float left = 0.0f, right = 0.0f;
        const float* inputs[] { &left, &right };
        for (int chunk = 0; chunk < 60; ++chunk)
        {
            const int n = sc.integer (1, blockSize);
            for (int i = 0; i < n; ++i)
            {
                const int writes = sc.chance (0.1) ? 0 : (sc.chance (0.1) ? 2 : 1);
                for (int w = 0; w < writes; ++w)
                {
                    left = sc.real (-1.0f, 1.0f);
                    right = sc.real (-1.0f, 1.0f);
                    buffer.write (inputs, 0, 1.0f, 0.5f);
                    refBuffer.write (inputs, 0, 1.0f, 0.5f);
                }
                if (sc.chance (0.2))
                {
                    static const float ratios[] { 1.0f, -1.0f, 1.5f, -1.5f, 0.75f, -0.75f, 2.0f, 4.0f };
                    qvl::GrainSpawnRequest q;
                    q.buffer = &buffer;
                    q.startIndex = static_cast<std::uint32_t> (buffer.getWritePosition() + sc.integer (-2 * length, 2));
                    q.length = sc.integer (16, 400);
                    q.ratio = ratios[sc.integer (0, 7)];
                    q.balance = sc.real (0.0f, 1.0f);
                    q.pan = sc.real (0.0f, 1.0f);
                    q.stream = sc.integer (0, 3);
                    q.envelopeKind = static_cast<std::uint8_t> (sc.integer (1, 2));
                    q.sustain = 1.0f;
                    pool.spawnGrain (q);
                    refPool.spawn (q, &refBuffer);
                }
                pool.advanceReaders();
                refPool.advance();
            }
            ASSERT_TRUE (renderedAlike (pool, refPool, n, false)) << "seed " << seed << " chunk " << chunk;
        }
    };

    const auto runAll = [&run] (unsigned firstSeed)
    {
        for (unsigned seed = firstSeed; seed < firstSeed + 30 && ! ::testing::Test::HasFatalFailure(); ++seed)
            run (seed);
    };
    runAll (700);
    {
        const WidestVectors avx2Only (false);
        runAll (800);
    }
    {
        const WideVectors baseline (false);
        runAll (900);
    }
}

// Two pools reading one buffer, and a pool whose grains read two buffers: one pool's batched steps
// must be finished when another starts batching on the same buffer, and grains of different buffers
// fall back to stepping sample by sample. Reader positions asked for in the middle of a chunk are
// brought up to date first.
TEST (GrainPoolReference, SharedBuffersAndPoolsMatchBitForBit)
{
    for (unsigned seed = 400; seed < 420; ++seed)
    {
        Scenario sc (seed);
        const int crossfade = sc.integer (4, 200);
        const int lengthA = sc.integer (crossfade, 2000);
        const int lengthB = sc.integer (crossfade, 2000);
        const int blockSize = sc.integer (1, 64);

        qvl::CircularBuffer a, b;
        model::Buffer refA, refB;
        a.prepare (lengthA, crossfade, 2);
        refA.prepare (lengthA, crossfade, 2);
        b.prepare (lengthB, crossfade, 1);
        refB.prepare (lengthB, crossfade, 1);

        qvl::GrainPool first (30, 4), second (30, 4);
        model::Pool refFirst (30, 4), refSecond (30, 4);
        first.prepare (blockSize);
        second.prepare (blockSize);
        refFirst.prepare (blockSize);
        refSecond.prepare (blockSize);

        float left = 0.0f, right = 0.0f;
        const float* inputs[] { &left, &right };

        const auto spawn = [&] (qvl::GrainPool& pool, model::Pool& ref, bool fromA)
        {
            qvl::GrainSpawnRequest q;
            q.buffer = fromA ? &a : &b;
            const int head = q.buffer->getWritePosition();
            q.startIndex = static_cast<std::uint32_t> (head + sc.integer (-3 * crossfade, 3 * crossfade));
            q.length = sc.integer (10, 400);
            q.ratio = sc.ratio();
            q.pan = sc.real (0.0f, 1.0f);
            q.balance = sc.real (0.0f, 1.0f);
            q.stream = sc.integer (0, 3);
            q.envelopeKind = static_cast<std::uint8_t> (sc.integer (1, 2));
            q.attack = q.decay = q.release = 0.2f;
            q.sustain = 0.6f;
            pool.spawnGrain (q);
            ref.spawn (q, fromA ? &refA : &refB);
        };

        for (int chunk = 0; chunk < 200; ++chunk)
        {
            const int n = sc.integer (1, blockSize);
            const bool mixed = sc.chance (0.3);
            for (int i = 0; i < n; ++i)
            {
                left = sc.real (-1.0f, 1.0f);
                right = sc.real (-1.0f, 1.0f);
                a.write (inputs, 0, 1.0f, 0.5f);
                refA.write (inputs, 0, 1.0f, 0.5f);
                b.write (inputs, 0, 1.0f, 0.5f);
                refB.write (inputs, 0, 1.0f, 0.5f);

                if (sc.chance (0.2))
                    spawn (first, refFirst, ! (mixed && sc.chance (0.5)));
                if (sc.chance (0.2))
                    spawn (second, refSecond, true);

                if (sc.chance (0.5))
                {
                    first.advanceReaders();
                    second.advanceReaders();
                }
                else
                {
                    second.advanceReaders();
                    first.advanceReaders();
                }
                refFirst.advance();
                refSecond.advance();

                if (first.getActiveCount() > 0 && sc.chance (0.05))
                {
                    const int g = sc.integer (0, first.getActiveCount() - 1);
                    ASSERT_EQ (first.getReader (g).getReadPosition(), refFirst.readers[static_cast<std::size_t> (g)].readPosition)
                        << "seed " << seed << " chunk " << chunk;
                }
            }

            first.renderChunk (n);
            second.renderChunk (n);
            refFirst.render (n);
            refSecond.render (n);
            ASSERT_TRUE (sameOutputs (first, refFirst, n)) << "seed " << seed << " chunk " << chunk;
            ASSERT_TRUE (sameOutputs (second, refSecond, n)) << "seed " << seed << " chunk " << chunk;
        }
    }
}

// A buffer that goes away before the pool finishes its pending steps for them first; a pool that goes
// away first lets go of the buffer.
TEST (GrainPoolReference, PendingStepsSurviveEitherSideGoingAway)
{
    std::vector<float> expected;
    for (int run = 0; run < 2; ++run)
    {
        auto pool = std::make_unique<qvl::GrainPool> (4, 4);
        pool->prepare (32);
        auto buffer = std::make_unique<qvl::CircularBuffer>();
        buffer->prepare (1000, 50, 1);
        float x = 0.0f;
        const float* inputs[] { &x };
        for (int i = 0; i < 1500; ++i)
        {
            x = static_cast<float> (i % 97) / 97.0f;
            buffer->write (inputs, 0, 1.0f, 0.0f);
        }

        qvl::GrainSpawnRequest q;
        q.buffer = buffer.get();
        q.startIndex = 100;
        q.length = 500;
        ASSERT_TRUE (pool->spawnGrain (q));
        for (int i = 0; i < 20; ++i)
        {
            buffer->write (inputs, 0, 1.0f, 0.0f);
            pool->advanceReaders();
        }

        if (run == 0)
        {
            pool->renderChunk (20);
            expected.assign (pool->getOutputs()[0], pool->getOutputs()[0] + 20);
            pool.reset();
            buffer->write (inputs, 0, 1.0f, 0.0f); // no pool to tell any more
        }
        else
        {
            buffer.reset(); // the pool's reads are finished before the samples go
            pool->renderChunk (20);
            EXPECT_TRUE (sameBits (pool->getOutputs()[0], expected.data(), 20));
            EXPECT_EQ (pool->getReader (0).getReadPosition(), 120);
        }
    }
}
