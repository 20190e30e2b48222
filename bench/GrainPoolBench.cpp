// Grain pool throughput: 600 live grains on a 5 s stereo buffer at 48 kHz, rendered in 137-sample chunks
// (one control tick). Reports nanoseconds per grain-sample: one reader step plus its share of the render.
// The grains start anywhere in the loop, or (nearHead) within 300 samples behind the write head, as
// when the plug-in granulates what it has only just recorded. The avx2Only rows leave AVX-512 out, as
// on most desktop processors.
#include "engine/CircularBuffer.h"
#include "engine/GrainPool.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace
{
    constexpr int bufferFrames = 240000;
    constexpr int crossfade = 480;
    constexpr int chunk = 137;
    constexpr int liveGrains = 600;

    // Turns AVX-512 off while alive, where asked.
    struct WidestVectorsOff
    {
        explicit WidestVectorsOff (bool off) : saved (qvl::GrainPool::areWidestVectorsEnabled())
        {
            if (off)
                qvl::GrainPool::setWidestVectorsEnabled (false);
        }
        ~WidestVectorsOff() { qvl::GrainPool::setWidestVectorsEnabled (saved); }
        bool saved;
    };

    void grainPoolChunks (benchmark::State& state, bool nearHead, bool avx2Only = false)
    {
        const WidestVectorsOff vectors (avx2Only);
        const double ratio = static_cast<double> (state.range (0)) / 100.0;
        const auto kind = static_cast<std::uint8_t> (state.range (1));

        qvl::CircularBuffer buffer;
        buffer.prepare (bufferFrames, crossfade, 2);

        std::mt19937 rng (1234);
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
        std::vector<float> left (chunk), right (chunk);
        const float* inputs[] { left.data(), right.data() };

        // A full loop of signal, so reads see real data everywhere.
        for (int i = 0; i < bufferFrames; ++i)
        {
            left[0] = noise (rng);
            right[0] = noise (rng);
            buffer.write (inputs, 0, 1.0f, 0.0f);
        }

        qvl::GrainPool pool;
        pool.prepare (512);

        std::uniform_int_distribution<std::uint32_t> start (0, bufferFrames - 1);
        std::uniform_int_distribution<int> length (2400, 48000);
        std::uniform_real_distribution<float> unit (0.0f, 1.0f);

        const auto refill = [&]
        {
            while (pool.getActiveCount() < liveGrains)
            {
                qvl::GrainSpawnRequest request;
                request.buffer = &buffer;
                request.startIndex = nearHead ? static_cast<std::uint32_t> (buffer.getWritePosition()) - start (rng) % 300u
                                              : start (rng);
                request.length = length (rng);
                request.ratio = ratio;
                request.gain = 0.5f;
                request.pan = unit (rng);
                request.balance = unit (rng);
                request.stream = static_cast<int> (request.startIndex % 4);
                request.envelopeKind = kind;
                request.attack = 0.2f * unit (rng);
                request.decay = 0.2f * unit (rng);
                request.sustain = unit (rng);
                request.release = 0.3f * unit (rng);
                pool.spawnGrain (request);
            }
        };

        std::int64_t grainSamples = 0;
        const auto began = std::chrono::steady_clock::now();
        for (auto _ : state)
        {
            refill();

            for (int i = 0; i < chunk; ++i)
            {
                left[static_cast<std::size_t> (i)] = noise (rng);
                right[static_cast<std::size_t> (i)] = noise (rng);
            }

            for (int i = 0; i < chunk; ++i)
            {
                buffer.write (inputs, i, 1.0f, 0.5f);
                pool.advanceReaders();
            }

            grainSamples += static_cast<std::int64_t> (pool.getActiveCount()) * chunk;
            pool.renderChunk (chunk);
            benchmark::DoNotOptimize (pool.getOutputs()[0][chunk - 1]);
        }

        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - began;
        state.counters["ns_per_grain_sample"] = grainSamples > 0 ? elapsed.count() / static_cast<double> (grainSamples) : 0.0;
    }
}

BENCHMARK_CAPTURE (grainPoolChunks, anywhere, false)
    ->Name ("GrainPool/chunks")
    ->ArgNames ({ "ratio_pct", "envelope" })
    ->ArgsProduct ({ { 100, 50, 150, -100 }, { qvl::EnvelopeKind::sineWindow, qvl::EnvelopeKind::adsr } })
    ->Unit (benchmark::kMicrosecond);

BENCHMARK_CAPTURE (grainPoolChunks, nearHead, true)
    ->Name ("GrainPool/nearHead")
    ->ArgNames ({ "ratio_pct", "envelope" })
    ->ArgsProduct ({ { 100, 150 }, { qvl::EnvelopeKind::sineWindow, qvl::EnvelopeKind::adsr } })
    ->Unit (benchmark::kMicrosecond);

BENCHMARK_CAPTURE (grainPoolChunks, avx2Only, false, true)
    ->Name ("GrainPool/avx2Only")
    ->ArgNames ({ "ratio_pct", "envelope" })
    ->ArgsProduct ({ { 100, 50, 150, -100 }, { qvl::EnvelopeKind::sineWindow, qvl::EnvelopeKind::adsr } })
    ->Unit (benchmark::kMicrosecond);
