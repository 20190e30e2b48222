#include "engine/GrainPool.h"

#include <algorithm>
#include <climits>
#include <cmath>
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

        int stepIndex (int index, bool forward) noexcept
        {
            // Wraps like a 32-bit register instead of overflowing.
            const auto u = static_cast<std::uint32_t> (index);
            return static_cast<int> (forward ? u + 1u : u - 1u);
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
    }

    void GrainReader::start (CircularBuffer* newSource, std::uint32_t startIndex)
    {
        source = newSource;
        readPosition = static_cast<int> (startIndex);
        writeIndex = readIndex = 0;
        std::fill (std::begin (history), std::end (history), 0.0f);
        phase = 1.0;
        historyIndex = 0;
    }

    void GrainReader::step (double rate, float balance)
    {
        const bool forward = rate >= 0.0;

        if (phase >= 5.0)
        {
            // Only the last four fetched frames reach the history, so the fetches before them are skipped;
            // the phase stays below 2^21, where taking off whole samples at once is exact.
            const double skipped = std::floor (phase) - 4.0;
            const auto count = static_cast<std::uint32_t> (skipped);
            const auto position = static_cast<std::uint32_t> (readPosition);
            readPosition = static_cast<int> (forward ? position + count : position - count);
            historyIndex = (historyIndex + static_cast<int> (count & 3u)) & 3;
            phase -= skipped;
        }

        while (phase >= 1.0)
        {
            float frame[2] { 0.0f, 0.0f };
            const int n = source != nullptr ? source->read (frame, 2, readPosition) : 0;
            readPosition = stepIndex (readPosition, forward);

            float mono = n > 0 ? frame[0] : 0.0f;
            if (n == 2 && source->getNumChannels() == 2)
                mono = frame[0] + (frame[1] - frame[0]) * balance;

            history[historyIndex] = mono;
            historyIndex = (historyIndex + 1) & 3;
            phase -= 1.0;
        }

        const float y0 = history[historyIndex];
        const float y1 = history[(historyIndex + 1) & 3];
        const float y2 = history[(historyIndex + 2) & 3];
        const float y3 = history[(historyIndex + 3) & 3];
        const float c1 = 0.5f * y2 - 0.5f * y0;
        const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
        const float c3 = 1.5f * (y1 - y2) + 0.5f * (y3 - y0);
        const double t = phase;
        const auto out = static_cast<float> (((c3 * t + c2) * t + c1) * t + y1);

        phase += readerSpeed (rate);

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

    int GrainReader::popSamples (float* dest, int n)
    {
        if (n < 1)
            return 0;

        const auto capacity = static_cast<std::uint32_t> (queue.size());
        int count = 0;
        while (count < n && readIndex != writeIndex)
        {
            dest[count++] = queue[readIndex];
            if (++readIndex == capacity)
                readIndex = 0;
        }
        return count;
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

    int GrainPool::latencyFor (double ratio)
    {
        return static_cast<int> (std::floor (2.0 / std::max (std::abs (ratio), 0.00001)));
    }

    void GrainPool::prepare (int newBlockSize)
    {
        blockSize = std::max (0, newBlockSize);
        const auto bs = static_cast<std::size_t> (blockSize);

        scratch.assign (bs, 0.0f);
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

        samplesAdvanced = 0;
        activeCount = 0;
        prepared = true;
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

        total += latencyFor (g.ratio);
        g.length = static_cast<int> (std::min<std::int64_t> (total, INT_MAX));

        readers[static_cast<std::size_t> (activeCount)].start (request.buffer, request.startIndex);
        ++activeCount;
        return true;
    }

    void GrainPool::advanceReaders()
    {
        for (int i = 0; i < activeCount; ++i)
        {
            const Grain& g = grains[static_cast<std::size_t> (i)];
            readers[static_cast<std::size_t> (i)].step (g.ratio, g.balance);
        }

        ++samplesAdvanced;
    }

    void GrainPool::applyEnvelope (const Grain& g, float* samples, int m, int latency) const
    {
        if (g.envelopeKind != EnvelopeKind::adsr)
        {
            const auto span = static_cast<float> (g.length - latency);
            const float tStart = static_cast<float> (g.progress) / span;
            const auto mf = static_cast<float> (m);
            const float step = ((mf / span + tStart) - tStart) / mf;

            float t = tStart;
            for (int k = 0; k < m; ++k)
            {
                const float clamped = std::min (std::max (t, 0.0f), 1.0f);
                samples[k] *= sinApprox (3.1415927f * clamped);
                t += step;
            }
            return;
        }

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
            const auto nf = static_cast<float> (n);
            float* out = samples + (p0 - first);
            for (int j = 0; j < n; ++j)
                out[j] *= startValue + (static_cast<float> (j) / nf) * delta;
        };

        ramp (0, b0, [] (std::int64_t) { return 0.0f; });
        ramp (b0, b1, attack);
        ramp (b1, b2, decay);
        ramp (b2, b3, [s] (std::int64_t) { return s; });
        ramp (b3, length, release);
    }

    void GrainPool::renderChunk (int numSamples)
    {
        samplesAdvanced = 0;
        std::fill (outputStorage.begin(), outputStorage.end(), 0.0f);

        const int n = std::clamp (numSamples, 0, blockSize);
        float* const work = scratch.data();

        for (int i = 0; i < activeCount;)
        {
            Grain& g = grains[static_cast<std::size_t> (i)];
            const int m = std::max (0, std::min (g.length - g.progress, n - g.startOffset));

            const int popped = readers[static_cast<std::size_t> (i)].popSamples (work, m);
            std::fill (work + popped, work + m, 0.0f);

            applyEnvelope (g, work, m, latencyFor (g.ratio));

            float* left = outputs[static_cast<std::size_t> (2 * g.stream)] + g.startOffset;
            float* right = outputs[static_cast<std::size_t> (2 * g.stream + 1)] + g.startOffset;
            const float leftPan = 1.0f - g.pan;
            const float rightPan = g.pan;
            const float gain = g.gain;
            for (int k = 0; k < m; ++k)
            {
                left[k] += work[k] * leftPan * gain;
                right[k] += work[k] * rightPan * gain;
            }

            g.progress += m;
            g.startOffset = std::max (g.startOffset - n, 0);

            if (g.progress >= g.length)
            {
                const int last = activeCount - 1;
                if (i != last)
                {
                    std::swap (grains[static_cast<std::size_t> (i)], grains[static_cast<std::size_t> (last)]);
                    std::swap (readers[static_cast<std::size_t> (i)], readers[static_cast<std::size_t> (last)]);
                }
                --activeCount;
            }
            else
            {
                ++i;
            }
        }
    }
}
