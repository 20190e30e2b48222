#include "engine/GrainPool.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#if defined(__SSE2__)
 #include <emmintrin.h>
 #include <xmmintrin.h>
#endif

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

    template <int channelMode, bool forward>
    inline void GrainReader::fetchFrom (const CircularBuffer::ReadView& v, float balance) noexcept
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
        int rp = readPosition;
        int wrapped = position.wrapped;
        int tailPhase = position.tailPhase;
        int hi = historyIndex;
        double ph = phase;
        const int length = v.length;
        const int crossfade = v.crossfadeLength;
        const float* const first = v.channel0;
        const float* const second = v.channel1;

        do
        {
            // Branch-free: whether a grain is behind or ahead of the head varies from grain to grain.
            int d = v.writePosition - wrapped;
            const int ahead = -static_cast<int> (d < 0); // all ones when the position lies ahead of the head in this lap
            d += length & ahead;
            int tail = v.lapTailPhase + tailPhase - (v.lengthTailPhase & ahead);
            tail += crossfade & -static_cast<int> (tail < 0);
            tail -= crossfade & -static_cast<int> (tail >= crossfade);
            const float f = v.fadeGains[d < crossfade ? d : crossfade];
            const int t = v.maxLength + tail;

            float mono = 0.0f;
            if constexpr (channelMode >= 1)
            {
                const float a = first[t];
                mono = a + (first[wrapped] - a) * f;
            }
            if constexpr (channelMode == 2)
            {
                const float b = second[t];
                const float right = b + (second[wrapped] - b) * f;
                mono = mono + (right - mono) * balance;
            }

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
                    if (++wrapped == length)
                    {
                        wrapped = 0;
                        tailPhase = 0;
                    }
                    else if (++tailPhase == crossfade)
                    {
                        tailPhase = 0;
                    }
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
                    if (wrapped == 0)
                    {
                        wrapped = length - 1;
                        tailPhase = v.lastTailPhase;
                    }
                    else
                    {
                        --wrapped;
                        tailPhase = (tailPhase == 0 ? crossfade : tailPhase) - 1;
                    }
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
            case 5: fetchFrom<2, true> (v, balance); break;
            case 4: fetchFrom<2, false> (v, balance); break;
            case 3: fetchFrom<1, true> (v, balance); break;
            case 2: fetchFrom<1, false> (v, balance); break;
            case 1: fetchFrom<0, true> (v, balance); break;
            default: fetchFrom<0, false> (v, balance); break;
        }
    }

    inline void GrainReader::interpolateAndQueue (double speed) noexcept
    {
        const float* y = history + historyIndex; // oldest to newest
        const float c1 = 0.5f * y[2] - 0.5f * y[0];
        const float c2 = y[0] - 2.5f * y[1] + 2.0f * y[2] - 0.5f * y[3];
        const float c3 = 1.5f * (y[1] - y[2]) + 0.5f * (y[3] - y[0]);
        const double t = phase;
        const auto out = static_cast<float> (((c3 * t + c2) * t + c1) * t + y[1]);

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
       #if defined(__SSE2__)
        __m128 y0 = _mm_loadu_ps (r[0].history + r[0].historyIndex);
        __m128 y1 = _mm_loadu_ps (r[1].history + r[1].historyIndex);
        __m128 y2 = _mm_loadu_ps (r[2].history + r[2].historyIndex);
        __m128 y3 = _mm_loadu_ps (r[3].history + r[3].historyIndex);
        _MM_TRANSPOSE4_PS (y0, y1, y2, y3);

        const __m128 half = _mm_set1_ps (0.5f);
        const __m128 c1 = _mm_sub_ps (_mm_mul_ps (half, y2), _mm_mul_ps (half, y0));
        const __m128 c2 = _mm_sub_ps (_mm_add_ps (_mm_sub_ps (y0, _mm_mul_ps (_mm_set1_ps (2.5f), y1)),
                                                  _mm_mul_ps (_mm_set1_ps (2.0f), y2)),
                                      _mm_mul_ps (half, y3));
        const __m128 c3 = _mm_add_ps (_mm_mul_ps (_mm_set1_ps (1.5f), _mm_sub_ps (y1, y2)),
                                      _mm_mul_ps (half, _mm_sub_ps (y3, y0)));

        const auto cubic = [] (__m128 a3, __m128 a2, __m128 a1, __m128 a0, __m128d t)
        {
            __m128d v = _mm_add_pd (_mm_mul_pd (_mm_cvtps_pd (a3), t), _mm_cvtps_pd (a2));
            v = _mm_add_pd (_mm_mul_pd (v, t), _mm_cvtps_pd (a1));
            return _mm_add_pd (_mm_mul_pd (v, t), _mm_cvtps_pd (a0));
        };
        const auto upper = [] (__m128 v) { return _mm_movehl_ps (v, v); };

        const __m128d tLow = _mm_set_pd (r[1].phase, r[0].phase);
        const __m128d tHigh = _mm_set_pd (r[3].phase, r[2].phase);
        const __m128d low = cubic (c3, c2, c1, y1, tLow);
        const __m128d high = cubic (upper (c3), upper (c2), upper (c1), upper (y1), tHigh);

        alignas (16) float out[4];
        _mm_store_ps (out, _mm_movelh_ps (_mm_cvtpd_ps (low), _mm_cvtpd_ps (high)));

        for (int k = 0; k < 4; ++k)
        {
            r[k].phase += r[k].speed;
            r[k].queueSample (out[k]);
        }
       #else
        for (int k = 0; k < 4; ++k)
            r[k].interpolateAndQueue (r[k].speed);
       #endif
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

    int GrainPool::latencyFor (double ratio)
    {
        return static_cast<int> (std::floor (2.0 / std::max (std::abs (ratio), 0.00001)));
    }

    void GrainPool::prepare (int newBlockSize)
    {
        blockSize = std::max (0, newBlockSize);
        const auto bs = static_cast<std::size_t> (blockSize);

        scratch.assign (bs, 0.0f);
        windowPositions.assign (bs, 0.0f);
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

        GrainReader& reader = readers[static_cast<std::size_t> (activeCount)];
        reader.start (request.buffer, request.startIndex);
        reader.speed = readerSpeed (g.ratio);
        reader.balance = g.balance;
        reader.forward = g.ratio >= 0.0;
        ++activeCount;
        return true;
    }

    void GrainPool::advanceReaders()
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

        if (samplesAdvanced < INT_MAX) // stepping for hours without a render must not overflow
            ++samplesAdvanced;
    }

    void GrainPool::applyEnvelope (const Grain& g, float* samples, int m, int latency)
    {
        if (g.envelopeKind != EnvelopeKind::adsr)
        {
            const auto span = static_cast<float> (g.length - latency);
            const float tStart = static_cast<float> (g.progress) / span;
            const auto mf = static_cast<float> (m);
            const float step = ((mf / span + tStart) - tStart) / mf;

            // The positions are a running sum, so they are laid out first; the window itself then
            // vectorises.
            float* positions = windowPositions.data();
            float t = tStart;
            for (int k = 0; k < m; ++k)
            {
                positions[k] = t;
                t += step;
            }

            for (int k = 0; k < m; ++k)
            {
                const float clamped = std::min (std::max (positions[k], 0.0f), 1.0f);
                samples[k] *= sinApprox (3.1415927f * clamped);
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
