#include "engine/GrainPool.h"

#include "engine/kernels/Dispatch.h"
#include "engine/kernels/InlineKernels.h"
#include "engine/kernels/ReadFrame.h"
#include "engine/kernels/ScalarLoops.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <utility>

namespace qvl
{
    namespace
    {
        float clamp01 (float x) noexcept
        {
            return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; // NaN gives 0
        }

        // The reader never stands still: below this speed a grain would not reach its own latency.
        double readerSpeed (double rate) noexcept
        {
            const double speed = std::abs (rate);
            if (! (speed > 0.00001))
                return 0.00001;
            return speed < GrainPool::maxRatio ? speed : GrainPool::maxRatio;
        }

    }

    //==============================================================================
    void GrainReader::reset (int blockSize, CircularBuffer* newSource)
    {
        if (newSource != nullptr)
            source = newSource;

        writeIndex = readIndex = 0;
        queue.resize (static_cast<std::size_t> (std::max (0, blockSize)) + 1, 0.0f);
        std::fill (std::begin (history), std::end (history), 0.0f);
        phase = 1.0;
        historyIndex = 0;
        readPosition = 0;
        positionValid = false;
        pendingFrom = 0;
    }

    void GrainReader::start (CircularBuffer* newSource, std::uint32_t startIndex)
    {
        source = newSource;
        readPosition = static_cast<int> (startIndex);
        writeIndex = readIndex = 0;
        std::fill (std::begin (history), std::end (history), 0.0f);
        phase = 1.0;
        historyIndex = 0;
        positionValid = false;
    }

    inline void GrainReader::skipAhead (bool forward) noexcept
    {
        // Only the last four fetched frames reach the history, so the fetches before them are skipped;
        // the phase stays below 2^21, where taking off whole samples at once is exact.
        const double skipped = std::floor (phase) - 4.0;
        const auto count = static_cast<std::uint32_t> (skipped);
        const auto from = static_cast<std::uint32_t> (readPosition);
        readPosition = static_cast<int> (forward ? from + count : from - count);
        historyIndex = (historyIndex + static_cast<int> (count & 3u)) & 3;
        phase -= skipped;
        positionValid = false;
    }

    void GrainReader::fetchSilent (bool forward) noexcept
    {
        if (phase >= 5.0)
            skipAhead (forward);

        while (phase >= 1.0)
        {
            readPosition = static_cast<int> (static_cast<std::uint32_t> (readPosition) + (forward ? 1u : ~0u));
            history[historyIndex] = history[historyIndex + 4] = 0.0f;
            historyIndex = (historyIndex + 1) & 3;
            phase -= 1.0;
        }
    }

    template <int channelMode, bool forward, bool journaled>
    inline void GrainReader::fetchFrom (const CircularBuffer::ReadView& v, const CircularBuffer::JournalView* journal,
                                        int epoch, float balance) noexcept
    {
        if (phase >= 5.0)
            skipAhead (forward);

        if (! positionValid || positionLayout != v.layoutVersion)
        {
            position = source->positionOf (readPosition);
            positionLayout = v.layoutVersion;
            positionValid = true;
        }

        // Local copies: the stores below cannot then be taken to alias the buffer's fields.
        const CircularBuffer::ReadView view = v;
        int rp = readPosition;
        int wrapped = position.wrapped;
        int tailPhase = position.tailPhase;
        int hi = historyIndex;
        double ph = phase;

        do
        {
            const float mono = kernels::readFrame<channelMode, journaled> (view, journal, epoch, wrapped, tailPhase, balance);

            if constexpr (forward)
            {
                if (rp == INT_MAX)
                {
                    rp = INT_MIN; // a 32-bit position wraps, and its loop position jumps with it
                    const auto p = source->positionOf (rp);
                    wrapped = p.wrapped;
                    tailPhase = p.tailPhase;
                }
                else
                {
                    ++rp;
                    kernels::stepFrame<true> (view, wrapped, tailPhase);
                }
            }
            else
            {
                if (rp == INT_MIN)
                {
                    rp = INT_MAX;
                    const auto p = source->positionOf (rp);
                    wrapped = p.wrapped;
                    tailPhase = p.tailPhase;
                }
                else
                {
                    --rp;
                    kernels::stepFrame<false> (view, wrapped, tailPhase);
                }
            }

            history[hi] = history[hi + 4] = mono;
            hi = (hi + 1) & 3;
            ph -= 1.0;
        } while (ph >= 1.0);

        readPosition = rp;
        position.wrapped = wrapped;
        position.tailPhase = tailPhase;
        historyIndex = hi;
        phase = ph;
    }

    // Only a source with exactly two channels is balanced; any other count reads its first channel.
    inline void GrainReader::fetch (const CircularBuffer::ReadView& v, bool forward, float balance) noexcept
    {
        const int mode = v.numChannels == 2 ? 2 : (v.numChannels > 0 ? 1 : 0);
        switch (mode * 2 + (forward ? 1 : 0))
        {
            case 5: fetchFrom<2, true, false> (v, nullptr, 0, balance); break;
            case 4: fetchFrom<2, false, false> (v, nullptr, 0, balance); break;
            case 3: fetchFrom<1, true, false> (v, nullptr, 0, balance); break;
            case 2: fetchFrom<1, false, false> (v, nullptr, 0, balance); break;
            case 1: fetchFrom<0, true, false> (v, nullptr, 0, balance); break;
            default: fetchFrom<0, false, false> (v, nullptr, 0, balance); break;
        }
    }

    // The same fetch as it would have gone after the first epoch journaled writes of the chunk.
    void GrainReader::fetchJournaled (const CircularBuffer::JournalView& journal, int epoch) noexcept
    {
        CircularBuffer::ReadView v = journal.now;
        v.writePosition = journal.startPosition + epoch;
        const int mode = v.numChannels == 2 ? 2 : (v.numChannels > 0 ? 1 : 0);
        switch (mode * 2 + (forward ? 1 : 0))
        {
            case 5: fetchFrom<2, true, true> (v, &journal, epoch, balance); break;
            case 4: fetchFrom<2, false, true> (v, &journal, epoch, balance); break;
            case 3: fetchFrom<1, true, true> (v, &journal, epoch, balance); break;
            case 2: fetchFrom<1, false, true> (v, &journal, epoch, balance); break;
            case 1: fetchFrom<0, true, true> (v, &journal, epoch, balance); break;
            default: fetchFrom<0, false, true> (v, &journal, epoch, balance); break;
        }
    }

    void GrainReader::appendSamples (const float* samples, int n) noexcept
    {
        const auto capacity = static_cast<std::uint32_t> (queue.size());
        if (capacity == 0 || n <= 0)
            return;

        // Appended one by one until the queue is full; the rest are dropped, as step would.
        const auto room = capacity - 1 - static_cast<std::uint32_t> (getNumQueued());
        auto count = std::min (static_cast<std::uint32_t> (n), room);
        const auto firstRun = std::min (count, capacity - writeIndex);
        std::copy_n (samples, firstRun, queue.data() + writeIndex);
        std::copy_n (samples + firstRun, count - firstRun, queue.data());
        writeIndex += count;
        if (writeIndex >= capacity)
            writeIndex -= capacity;
    }

    inline void GrainReader::interpolateAndQueue (double speed) noexcept
    {
        const float out = kernels::interpolateWindow (history + historyIndex, phase); // oldest to newest
        phase += speed;
        queueSample (out);
    }

    inline void GrainReader::queueSample (float out) noexcept
    {
        const auto capacity = static_cast<std::uint32_t> (queue.size());
        if (capacity == 0)
            return;

        auto next = writeIndex + 1;
        if (next == capacity)
            next = 0;

        if (next != readIndex)
        {
            queue[writeIndex] = out;
            writeIndex = next;
        }
    }

    // The same arithmetic as interpolateAndQueue for four readers at once, lane by lane, so the results
    // are the same bits.
    void GrainReader::interpolateFour (GrainReader* r) noexcept
    {
        const float* const windows[4] { r[0].history + r[0].historyIndex, r[1].history + r[1].historyIndex,
                                        r[2].history + r[2].historyIndex, r[3].history + r[3].historyIndex };
        const double phases[4] { r[0].phase, r[1].phase, r[2].phase, r[3].phase };
        float out[4];
        kernels::interpolateFour (windows, phases, out);

        for (int k = 0; k < 4; ++k)
        {
            r[k].phase += r[k].speed;
            r[k].queueSample (out[k]);
        }
    }

    void GrainReader::step (double rate, float balance)
    {
        if (phase >= 1.0)
        {
            if (source == nullptr || ! source->isPrepared())
                fetchSilent (rate >= 0.0);
            else
                fetch (source->getReadView(), rate >= 0.0, balance);
        }

        interpolateAndQueue (readerSpeed (rate));
    }

    int GrainReader::popSamples (float* dest, int n)
    {
        if (n < 1)
            return 0;

        const auto capacity = static_cast<std::uint32_t> (queue.size());
        const auto queued = static_cast<std::uint32_t> (getNumQueued());
        const auto count = std::min (static_cast<std::uint32_t> (n), queued);

        // At most two runs: up to the end of the ring, then from its start.
        const auto firstRun = std::min (count, capacity - readIndex);
        std::copy_n (queue.data() + readIndex, firstRun, dest);
        std::copy_n (queue.data(), count - firstRun, dest + firstRun);

        readIndex += count;
        if (readIndex >= capacity)
            readIndex -= capacity;

        // An emptied queue starts over at its first slot, so a chunk touches only its first samples'
        // worth of memory instead of walking the whole ring.
        if (readIndex == writeIndex)
            readIndex = writeIndex = 0;

        return static_cast<int> (count);
    }

    int GrainReader::getNumQueued() const noexcept
    {
        const auto capacity = static_cast<std::uint32_t> (queue.size());
        return static_cast<int> (writeIndex >= readIndex ? writeIndex - readIndex : writeIndex + capacity - readIndex);
    }

    //==============================================================================
    GrainPool::GrainPool (int maxGrains, int streams)
        : grains (static_cast<std::size_t> (std::max (0, maxGrains))),
          readers (static_cast<std::size_t> (std::max (0, maxGrains))),
          numStreams (std::max (1, streams))
    {
    }

    void GrainPool::setWideVectorsEnabled (bool enabled) noexcept
    {
        kernels::useVectorSet (enabled ? kernels::supportedVectorSet() : kernels::VectorSet::baseline);
    }

    bool GrainPool::areWideVectorsEnabled() noexcept
    {
        return kernels::activeVectorSet != kernels::VectorSet::baseline;
    }

    void GrainPool::setWidestVectorsEnabled (bool enabled) noexcept
    {
        if (areWideVectorsEnabled())
            kernels::useVectorSet (enabled ? kernels::VectorSet::avx512 : kernels::VectorSet::avx2);
    }

    bool GrainPool::areWidestVectorsEnabled() noexcept
    {
        return kernels::activeVectorSet == kernels::VectorSet::avx512;
    }

    bool GrainPool::hasWidestVectors() noexcept
    {
        return kernels::supportedVectorSet() == kernels::VectorSet::avx512;
    }

    int GrainPool::latencyFor (double ratio)
    {
        return static_cast<int> (std::floor (2.0 / std::max (std::abs (ratio), 0.00001)));
    }

    GrainPool::~GrainPool()
    {
        if (deferredSource != nullptr)
            deferredSource->detachDeferredReader (this);
    }

    void GrainPool::prepare (int newBlockSize)
    {
        clear();

        blockSize = std::max (0, newBlockSize);
        const auto bs = static_cast<std::size_t> (blockSize);

        // Rounded up to whole vectors, and kept apart so that groups of grains do not share cache lines.
        groupStride = static_cast<int> ((bs + 3) / 4 * 4 + 16);
        windowPositions.assign (static_cast<std::size_t> (groupSize + 3) * static_cast<std::size_t> (groupStride), 0.0f);
        groupSamples.assign (static_cast<std::size_t> (groupSize) * static_cast<std::size_t> (groupStride), 0.0f);
        outputStorage.assign (static_cast<std::size_t> (numStreams) * 2 * bs, 0.0f);
        outputs.resize (static_cast<std::size_t> (numStreams) * 2);
        for (int s = 0; s < numStreams; ++s)
        {
            float* left = outputStorage.data() + static_cast<std::size_t> (s) * 2 * bs;
            outputs[static_cast<std::size_t> (2 * s)] = left;
            outputs[static_cast<std::size_t> (2 * s + 1)] = left + bs;
        }

        for (auto& reader : readers)
            reader.reset (blockSize);

        // A fetch per step at most four times over (faster readers take the exact path), plus the history.
        const auto steps = static_cast<std::size_t> (std::max (blockSize, 1));
        stepEpochs.assign (steps, 0);
        stepFetchCounts.assign (steps, 0);
        stepPhases.assign (steps, 0.0);
        stepOutputs.assign (steps, 0.0f);
        fetchEpochs.assign (4 * steps + 8, 0);
        // Room past the last window for whole-vector loads of the sequence.
        fetched.assign (4 * steps + 48, 0.0f);

        prepared = true;
    }

    void GrainPool::clear()
    {
        // Steps still pending belong to grains that are going: they are dropped, not taken.
        if (deferredSource != nullptr)
            deferredSource->detachDeferredReader (this);
        deferredSource = nullptr;
        pendingSteps = 0;
        commonSource = nullptr;
        mixedSources = false;
        samplesAdvanced = 0;
        activeCount = 0;
        std::fill (outputStorage.begin(), outputStorage.end(), 0.0f);
    }

    bool GrainPool::spawnGrain (const GrainSpawnRequest& request)
    {
        if (! prepared || activeCount >= getMaxGrains() || request.length <= 0 || request.buffer == nullptr
            || std::isnan (request.ratio))
            return false;

        Grain& g = grains[static_cast<std::size_t> (activeCount)];
        g.ratio = std::clamp (request.ratio, -maxRatio, maxRatio);
        g.balance = request.balance;
        g.gain = request.gain;
        g.pan = request.pan;
        g.envelopeKind = request.envelopeKind == EnvelopeKind::adsr ? EnvelopeKind::adsr : EnvelopeKind::sineWindow;
        g.progress = 0;
        g.stream = std::clamp (request.stream, 0, numStreams - 1);
        g.startOffset = samplesAdvanced;

        const std::int64_t contentLength = request.length;
        std::int64_t total = contentLength;

        if (g.envelopeKind == EnvelopeKind::adsr)
        {
            const auto lengthAsFloat = static_cast<float> (request.length);
            const auto segment = [lengthAsFloat] (float fraction)
            {
                return static_cast<std::int64_t> (lengthAsFloat * clamp01 (fraction)); // truncates toward zero
            };
            const auto padding = [] (std::int64_t samples) { return std::max<std::int64_t> (48 - samples, 0); };

            g.sustain = clamp01 (request.sustain);

            // Rounding L0 to float can push a full-length segment a few samples past L0.
            const std::int64_t a0 = std::min (segment (request.attack), contentLength);
            const std::int64_t padA = padding (a0);
            const std::int64_t a = a0 + padA;

            const std::int64_t d0 = std::min (std::max<std::int64_t> (contentLength - a, 0), segment (request.decay));
            const std::int64_t padD = padding (d0);
            const std::int64_t d = d0 + padD;

            const std::int64_t r0 = std::min (std::max<std::int64_t> (contentLength - d - a, 0), segment (request.release));
            const std::int64_t padR = padding (r0);
            const std::int64_t r = r0 + padR;

            g.attackSamples = static_cast<int> (a);
            g.decaySamples = static_cast<int> (d);
            g.releaseSamples = static_cast<int> (r);
            total += padA + padD + padR;
        }

        const int latency = latencyFor (g.ratio);
        total += latency;
        g.length = static_cast<int> (std::min<std::int64_t> (total, INT_MAX));

        GrainReader& reader = readers[static_cast<std::size_t> (activeCount)];
        reader.start (request.buffer, request.startIndex);
        reader.speed = readerSpeed (g.ratio);
        reader.balance = g.balance;
        reader.forward = g.ratio >= 0.0;
        reader.pendingFrom = pendingSteps;
        reader.latency = latency;

        if (activeCount == 0)
        {
            commonSource = request.buffer;
            mixedSources = false;
        }
        else if (request.buffer != commonSource)
        {
            mixedSources = true;
        }

        ++activeCount;
        return true;
    }

    void GrainPool::advanceReaders()
    {
        if (activeCount > 0)
        {
            CircularBuffer* const source = mixedSources ? nullptr : commonSource;
            if (source != nullptr && source->isPrepared() && source->getNumChannels() > 0)
            {
                if (pendingSteps == static_cast<int> (stepEpochs.size()))
                    completeDeferredReads();

                if (deferredSource != source)
                {
                    if (deferredSource != nullptr)
                        completeDeferredReads();
                    source->attachDeferredReader (this);
                    deferredSource = source;
                }

                stepEpochs[static_cast<std::size_t> (pendingSteps++)] = source->getJournalWrites();
            }
            else
            {
                if (deferredSource != nullptr || pendingSteps != 0)
                    completeDeferredReads();
                stepEagerly();
            }
        }

        if (samplesAdvanced < INT_MAX) // stepping for hours without a render must not overflow
            ++samplesAdvanced;
    }

    void GrainPool::stepEagerly()
    {
        // Two passes over the grains, fetching and then interpolating: each pass is a short chain of
        // dependent operations per grain, so the processor overlaps many grains at a time.
        const CircularBuffer* viewSource = nullptr;
        CircularBuffer::ReadView view;
        bool readable = false;

        for (int i = 0; i < activeCount; ++i)
        {
            GrainReader& reader = readers[static_cast<std::size_t> (i)];
            if (reader.phase < 1.0)
                continue;

            // Grains almost always share one buffer: its view is taken once per sample.
            if (reader.source != viewSource || viewSource == nullptr)
            {
                viewSource = reader.source;
                readable = viewSource != nullptr && viewSource->isPrepared();
                if (readable)
                    view = viewSource->getReadView();
            }

            if (readable)
                reader.fetch (view, reader.forward, reader.balance);
            else
                reader.fetchSilent (reader.forward);
        }

        int i = 0;
        for (; i + 4 <= activeCount; i += 4)
            GrainReader::interpolateFour (readers.data() + i);
        for (; i < activeCount; ++i)
        {
            GrainReader& reader = readers[static_cast<std::size_t> (i)];
            reader.interpolateAndQueue (reader.speed);
        }
    }


    void GrainPool::completeDeferredReads()
    {
        CircularBuffer* const source = deferredSource;
        deferredSource = nullptr;

        if (source != nullptr)
        {
            source->detachDeferredReader (this);

            if (pendingSteps > 0)
            {
                noteStepEpochs();
                const auto journal = source->getJournalView();
                for (int i = 0; i < activeCount; ++i)
                {
                    GrainReader& reader = readers[static_cast<std::size_t> (i)];
                    if (reader.pendingFrom < pendingSteps)
                        runDeferred (reader, journal);
                }
            }
        }

        for (int i = 0; i < activeCount; ++i)
            readers[static_cast<std::size_t> (i)].pendingFrom = 0;
        pendingSteps = 0;
    }

    void GrainPool::noteStepEpochs() noexcept
    {
        firstEpoch = pendingSteps > 0 ? stepEpochs[0] : 0;
        epochsAreSteps = true;
        for (int s = 1; s < pendingSteps; ++s)
            if (stepEpochs[static_cast<std::size_t> (s)] != firstEpoch + s)
                epochsAreSteps = false;
    }

    void GrainPool::runDeferred (GrainReader& reader, const CircularBuffer::JournalView& journal)
    {
        if (runDeferredFast (reader, journal, stepOutputs.data()))
            reader.appendSamples (stepOutputs.data(), pendingSteps - reader.pendingFrom);
        else
            runDeferredExact (reader, journal);
    }

    // Step by step, as advanceReaders would have gone at each sample.
    void GrainPool::runDeferredExact (GrainReader& reader, const CircularBuffer::JournalView& journal)
    {
        for (int k = reader.pendingFrom; k < pendingSteps; ++k)
        {
            if (reader.phase >= 1.0)
                reader.fetchJournaled (journal, stepEpochs[static_cast<std::size_t> (k)]);
            reader.interpolateAndQueue (reader.speed);
        }
    }

    void GrainPool::refreshCommonSource() noexcept
    {
        if (activeCount == 0)
        {
            commonSource = nullptr;
            mixedSources = false;
            return;
        }

        if (! mixedSources)
            return;

        commonSource = readers[0].source;
        mixedSources = false;
        for (int i = 1; i < activeCount; ++i)
            if (readers[static_cast<std::size_t> (i)].source != commonSource)
                mixedSources = true;
    }

    // Applies the ADSR envelope to a grain's samples of this chunk and mixes them into its outputs.
    void GrainPool::mixWithAdsr (const Grain& g, const float* samples, int m, int latency)
    {
        float* const left = outputs[static_cast<std::size_t> (2 * g.stream)] + g.startOffset;
        float* const right = outputs[static_cast<std::size_t> (2 * g.stream + 1)] + g.startOffset;
        const float leftPan = 1.0f - g.pan;
        const float rightPan = g.pan;
        const float gain = g.gain;

        const std::int64_t length = g.length;
        const std::int64_t lambda = latency;
        const std::int64_t a = g.attackSamples;
        const std::int64_t d = g.decaySamples;
        const std::int64_t r = g.releaseSamples;
        const float s = g.sustain;

        // Segment bounds, kept in order even for a grain whose length was clamped.
        const std::int64_t b0 = std::min (lambda, length);
        const std::int64_t b1 = std::min (b0 + a, length);
        const std::int64_t b2 = std::min (b1 + d, length);
        const std::int64_t b3 = std::max (length - r, b2);

        const auto attack = [=] (std::int64_t p) { return static_cast<float> (p - lambda) / static_cast<float> (a); };
        const auto decay = [=] (std::int64_t p)
        { return 1.0f + (static_cast<float> (p - lambda - a) / static_cast<float> (d)) * (s - 1.0f); };
        const auto release = [=] (std::int64_t p)
        { return s + (static_cast<float> (p - (length - r)) / static_cast<float> (r)) * (0.0f - s); };

        const std::int64_t first = g.progress;
        const std::int64_t last = first + m;

        const auto ramp = [&] (std::int64_t lo, std::int64_t hi, auto&& value)
        {
            const std::int64_t p0 = std::max (lo, first);
            const std::int64_t p1 = std::min (hi, last);
            if (p1 <= p0)
                return;

            const auto n = static_cast<int> (p1 - p0);
            const float startValue = value (p0);
            const float endValue = value (p1);
            const float delta = endValue - startValue;
            const auto offset = static_cast<std::size_t> (p0 - first);
            if (delta == 0.0f)
            {
                // j / n is finite and not negative, so each product is a zero with the sign of delta.
                kernels::mixEnvelopeLevel (left + offset, right + offset, samples + offset, n, startValue + delta, leftPan, rightPan, gain);
                return;
            }
            kernels::mixEnvelopeRamp (left + offset, right + offset, samples + offset, n, startValue, delta, leftPan, rightPan, gain);
        };

        ramp (0, b0, [] (std::int64_t) { return 0.0f; });
        ramp (b0, b1, attack);
        ramp (b1, b2, decay);
        ramp (b2, b3, [s] (std::int64_t) { return s; });
        ramp (b3, length, release);
    }

    void GrainPool::renderChunk (int numSamples)
    {
        // The pending steps are taken grain by grain as each grain is rendered, straight into the
        // render's working samples while they are still in cache.
        CircularBuffer* const source = deferredSource;
        deferredSource = nullptr;
        CircularBuffer::JournalView journal;
        if (source != nullptr)
        {
            source->detachDeferredReader (this);
            journal = source->getJournalView();
            noteStepEpochs();
        }
        const int steps = source != nullptr ? pendingSteps : 0;

        samplesAdvanced = 0;
        std::fill (outputStorage.begin(), outputStorage.end(), 0.0f);

        const int n = std::clamp (numSamples, 0, blockSize);
        const auto stride = static_cast<std::size_t> (groupStride);

        // Grains go in groups of visits. The visits and their order are those of retiring as you go
        // (a finished grain swaps with the last live one, which is visited next), worked out first, so
        // that the grains of a group can be prepared side by side; they are mixed in visit order.
        for (int i = 0; i < activeCount;)
        {
            int visits[groupSize];
            int lengths[groupSize];
            float* work[groupSize];
            int group = 0;

            while (group < groupSize && i < activeCount)
            {
                const Grain& g = grains[static_cast<std::size_t> (i)];
                const int m = std::max (0, std::min (g.length - g.progress, n - g.startOffset));
                if (g.progress + m >= g.length)
                {
                    const int last = activeCount - 1;
                    if (i != last)
                    {
                        std::swap (grains[static_cast<std::size_t> (i)], grains[static_cast<std::size_t> (last)]);
                        std::swap (readers[static_cast<std::size_t> (i)], readers[static_cast<std::size_t> (last)]);
                    }
                    visits[group] = last;
                    --activeCount;
                }
                else
                {
                    visits[group] = i++;
                }
                lengths[group++] = m;
            }

            for (int v = 0; v < group; ++v)
            {
                GrainReader& reader = readers[static_cast<std::size_t> (visits[v])];
                const int m = lengths[v];
                float* const samples = groupSamples.data() + static_cast<std::size_t> (v) * stride;
                work[v] = samples;

                int popped = 0;
                const bool pending = reader.pendingFrom < steps;
                const bool triedFast = pending && reader.readIndex == reader.writeIndex;
                if (triedFast && runDeferredFast (reader, journal, samples))
                {
                    // What the queue would hold after these steps, taken without passing through it;
                    // what this chunk does not use stays queued.
                    const int capacity = static_cast<int> (reader.queue.size());
                    const int kept = std::min (steps - reader.pendingFrom, std::max (capacity - 1, 0));
                    popped = std::min (m, kept);
                    reader.readIndex = reader.writeIndex = 0;
                    reader.appendSamples (samples + popped, kept - popped);
                }
                else
                {
                    // A refused fast path changed nothing but cached positions; it is not tried twice.
                    if (triedFast)
                        runDeferredExact (reader, journal);
                    else if (pending)
                        runDeferred (reader, journal);
                    popped = reader.popSamples (samples, m);
                }
                reader.pendingFrom = 0;
                std::fill (samples + popped, samples + m, 0.0f);
            }

            // Sine window positions side by side: their running sums are the long dependency chains. Each
            // sine grain of the group keeps its own row of positions until it is mixed.
            float* rows[groupSize];
            for (int r = 0; r < groupSize; ++r)
                rows[r] = windowPositions.data() + static_cast<std::size_t> (r) * stride;
            float starts[groupSize] {}, stepsPerSample[groupSize] {};
            int rowLengths[groupSize] {};
            int rowOf[groupSize];
            int numSines = 0;
            for (int v = 0; v < group; ++v)
            {
                const Grain& g = grains[static_cast<std::size_t> (visits[v])];
                rowOf[v] = numSines;
                if (g.envelopeKind == EnvelopeKind::adsr)
                    continue;
                const int m = lengths[v];
                const auto span = static_cast<float> (g.length - readers[static_cast<std::size_t> (visits[v])].latency);
                const float tStart = static_cast<float> (g.progress) / span;
                const auto mf = static_cast<float> (m);
                starts[numSines] = tStart;
                stepsPerSample[numSines] = ((mf / span + tStart) - tStart) / mf;
                rowLengths[numSines++] = m;
            }
            kernels::windowPositions (starts, stepsPerSample, rowLengths, numSines, rows);

            for (int v = 0; v < group; ++v)
            {
                Grain& g = grains[static_cast<std::size_t> (visits[v])];
                const int m = lengths[v];
                const float* const samples = work[v];
                if (g.envelopeKind == EnvelopeKind::adsr)
                {
                    mixWithAdsr (g, samples, m, readers[static_cast<std::size_t> (visits[v])].latency);
                }
                else
                {
                    float* left = outputs[static_cast<std::size_t> (2 * g.stream)] + g.startOffset;
                    float* right = outputs[static_cast<std::size_t> (2 * g.stream + 1)] + g.startOffset;
                    const float* positions = windowPositions.data() + static_cast<std::size_t> (rowOf[v]) * stride;
                    kernels::mixSineWindowed (left, right, samples, positions, m, 1.0f - g.pan, g.pan, g.gain);
                }

                g.progress += m;
                g.startOffset = std::max (g.startOffset - n, 0);
            }
        }

        pendingSteps = 0;
        refreshCommonSource();
    }
}
