#pragma once

#include "engine/CircularBuffer.h"

#include <cstdint>
#include <vector>

namespace qvl
{
    namespace EnvelopeKind
    {
        constexpr std::uint8_t sineWindow = 1;
        constexpr std::uint8_t adsr = 2;
    }

    struct GrainSpawnRequest
    {
        CircularBuffer* buffer = nullptr;
        std::uint32_t startIndex = 0;
        int length = 0;
        double ratio = 1.0;
        float gain = 1.0f;
        float pan = 0.5f;
        float balance = 0.5f;
        int stream = 0;
        std::uint8_t envelopeKind = EnvelopeKind::sineWindow;
        float attack = 0.0f;
        float decay = 0.0f;
        float sustain = 0.0f;
        float release = 0.0f;
    };

    struct Grain
    {
        double ratio = 0.0;
        float balance = 0.0f;
        int progress = 0;
        int length = 0;
        int startOffset = 0;
        float gain = 0.0f;
        float pan = 0.0f;
        int stream = 0;
        int attackSamples = 0;
        int decaySamples = 0;
        int releaseSamples = 0;
        float sustain = 0.0f;
        std::uint8_t envelopeKind = 0;
    };

    // Produces one cubic-interpolated mono sample per output sample into a small queue that the pool
    // empties once per chunk.
    class GrainReader
    {
    public:
        void reset (int blockSize, CircularBuffer* newSource = nullptr);
        void start (CircularBuffer* newSource, std::uint32_t startIndex);
        // One output sample. The reader moves max(|rate|, 0.00001) source samples per step, so even a
        // grain at ratio 0 creeps forward as its latency assumes; speeds beyond GrainPool::maxRatio are
        // held there, and at most four frames are read per step however fast it moves.
        void step (double rate, float balance);
        int popSamples (float* dest, int n);

        int getReadPosition() const noexcept { return readPosition; }
        double getPhase() const noexcept { return phase; }
        const CircularBuffer* getSource() const noexcept { return source; }
        int getCapacity() const noexcept { return static_cast<int> (queue.size()); }
        int getNumQueued() const noexcept;

    private:
        std::vector<float> queue;
        std::uint32_t writeIndex = 0;
        std::uint32_t readIndex = 0;
        CircularBuffer* source = nullptr;
        // The four-sample ring, stored twice over so that its samples can be read oldest to newest as
        // one run from any starting slot.
        float history[8] {};
        double phase = 1.0;
        int historyIndex = 0;
        int readPosition = 0;

        // readPosition wrapped into the source's loop, valid while the loop layout stays the same.
        CircularBuffer::Position position;
        std::uint32_t positionLayout = 0;
        bool positionValid = false;

        // Copied by the pool at spawn from the grain, whose ratio and balance never change, so that
        // stepping touches only the reader.
        double speed = 0.0;
        float balance = 0.0f;
        bool forward = true;

        // First step of the pool's deferred steps that this reader still has to take.
        int pendingFrom = 0;
        // The grain's latency, which its envelope needs every chunk.
        int latency = 0;

        friend class GrainPool;
        void fetchSilent (bool forward) noexcept;
        void fetch (const CircularBuffer::ReadView& view, bool forward, float balance) noexcept;
        template <int channelMode, bool forward, bool journaled>
        void fetchFrom (const CircularBuffer::ReadView& view, const CircularBuffer::JournalView* journal, int epoch,
                        float balance) noexcept;
        void fetchJournaled (const CircularBuffer::JournalView& journal, int epoch) noexcept;
        void appendSamples (const float* samples, int n) noexcept;
        void skipAhead (bool forward) noexcept;
        void interpolateAndQueue (double speed) noexcept;
        void queueSample (float out) noexcept;
        static void interpolateFour (GrainReader* readers) noexcept;
    };

    // Up to maxGrains grains playing at once, each with its own reader; rendered per chunk into a
    // stereo output pair per stream. advanceReaders only records the step: each grain's steps of the
    // chunk are taken together when it is rendered, reading the buffer through its journal so that
    // every read sees the samples as they stood at its own sample. Grains of different buffers are
    // stepped sample by sample instead.
    class GrainPool : private CircularBuffer::DeferredReader
    {
    public:
        static constexpr int defaultMaxGrains = 600;
        static constexpr int defaultNumStreams = 4;

        // Ratios beyond this are clamped: far above any pitch the plug-in asks for, low enough that the
        // reader's phase stays exact in double precision.
        static constexpr double maxRatio = 1048576.0;

        explicit GrainPool (int maxGrains = defaultMaxGrains, int numStreams = defaultNumStreams);
        ~GrainPool();
        // Attaches itself to the buffer it reads, and its outputs point into its own storage.
        GrainPool (const GrainPool&) = delete;
        GrainPool& operator= (const GrainPool&) = delete;

        void prepare (int blockSize);

        // Ends every grain at once and silences the outputs, as if none had been started.
        void clear();

        // Returns false, changing nothing, when the request is refused: pool not prepared or full,
        // length below 1, no buffer, or a NaN ratio. A stream index outside the pool is clamped to the
        // nearest stream, ADSR settings to 0..1, and any envelope kind but ADSR plays the sine window.
        bool spawnGrain (const GrainSpawnRequest& request);

        void advanceReaders();
        void renderChunk (int numSamples);

        int getActiveCount() const noexcept { return activeCount; }
        int getMaxGrains() const noexcept { return static_cast<int> (grains.size()); }
        int getNumStreams() const noexcept { return numStreams; }
        int getBlockSize() const noexcept { return blockSize; }
        int getSamplesAdvanced() const noexcept { return samplesAdvanced; }

        const Grain& getGrain (int index) const { return grains[static_cast<std::size_t> (index)]; }
        // Reader steps are carried out in batches; asking for a reader brings every reader up to date.
        const GrainReader& getReader (int index) const
        {
            if (pendingSteps != 0)
                const_cast<GrainPool*> (this)->completeDeferredReads(); // never pending on a pool that is really const
            return readers[static_cast<std::size_t> (index)];
        }

        // 2 x numStreams channels of blockSize samples: entry 2s is stream s left, 2s + 1 its right.
        float* const* getOutputs() const noexcept { return outputs.data(); }
        int getNumOutputs() const noexcept { return static_cast<int> (outputs.size()); }

        // Output delay of a started reader in output samples: two source samples at the grain's speed.
        static int latencyFor (double ratio);

        // Batched reader steps use AVX2, and AVX-512 for the hottest loops, where the processor has them;
        // the baseline code gives the same bits. Switching wide vectors switches both. These switches
        // are for tests (enabling does nothing the processor lacks) and are not thread-safe.
        static void setWideVectorsEnabled (bool enabled) noexcept;
        static bool areWideVectorsEnabled() noexcept;
        // AVX-512 on top of AVX2; turning it off leaves the AVX2 paths, and it needs wide vectors on.
        static void setWidestVectorsEnabled (bool enabled) noexcept;
        static bool areWidestVectorsEnabled() noexcept;
        static bool hasWidestVectors() noexcept;

    private:
        void mixWithAdsr (const Grain& g, const float* samples, int m, int latency);
        void completeDeferredReads() override;
        void stepEagerly();
        void runDeferred (GrainReader& reader, const CircularBuffer::JournalView& journal);
        bool runDeferredFast (GrainReader& reader, const CircularBuffer::JournalView& journal, float* outputs);
        void runDeferredExact (GrainReader& reader, const CircularBuffer::JournalView& journal);
        void refreshCommonSource() noexcept;
        void noteStepEpochs() noexcept;

        std::vector<Grain> grains;
        std::vector<GrainReader> readers;
        int activeCount = 0;
        std::vector<float*> outputs;
        int numStreams = defaultNumStreams;
        int samplesAdvanced = 0;
        std::vector<float> outputStorage;
        std::vector<float> windowPositions;
        static constexpr int groupSize = 8;
        int groupStride = 0;
        std::vector<float> groupSamples;
        int blockSize = 0;
        bool prepared = false;

        // Steps are recorded per sample and carried out grain by grain when the chunk is rendered (or
        // earlier, when the buffer is about to change in a way its journal cannot describe). Each step
        // keeps how many journaled writes the buffer had taken by then.
        CircularBuffer* commonSource = nullptr;  // the buffer of every live grain, or null when they differ
        bool mixedSources = false;
        CircularBuffer* deferredSource = nullptr; // where pending steps read; attached to it while set
        std::vector<int> stepEpochs;
        int pendingSteps = 0;
        // Whether the pending steps each came one journaled write after the last, from firstEpoch on.
        bool epochsAreSteps = false;
        int firstEpoch = 0;

        // Per grain batch: fetch times, the fetched samples behind the history, per-step fetch counts,
        // per-step phases and outputs.
        std::vector<int> fetchEpochs;
        std::vector<float> fetched;
        std::vector<int> stepFetchCounts;
        std::vector<double> stepPhases;
        std::vector<float> stepOutputs;
    };

    // The rational sine approximation the grain window uses, in this exact evaluation order.
    inline float sinApprox (float x) noexcept
    {
        const float x2 = x * x;
        const float numerator = -x * (-11511339840.0f + x2 * (1640635920.0f + x2 * (-52785432.0f + x2 * 479249.0f)));
        const float denominator = 11511339840.0f + x2 * (277920720.0f + x2 * (3177720.0f + x2 * 18361.0f));
        return numerator / denominator;
    }
}
