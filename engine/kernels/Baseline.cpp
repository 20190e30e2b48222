// The baseline kernels: SSE2 on x86-64, which every such processor has, and plain C++ elsewhere. Each
// finishes whatever a wider kernel left, and its scalar loops are the arithmetic every lane of the wider
// ones repeats.
#include "engine/kernels/GrainKernels.h"
#include "engine/kernels/InlineKernels.h"
#include "engine/kernels/ReadFrame.h"
#include "engine/kernels/ScalarLoops.h"

#if defined(__SSE2__)
 #include <emmintrin.h>
 #include <xmmintrin.h>
#endif

namespace qvl::kernels
{
    namespace baseline
    {
        // The fade weight of such a run is G / G, exactly 1, and multiplying by it changes no bits (not
        // even under flush-to-zero), so it is left out.
        template <int channels, bool forward, bool stamped>
        void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
                           float balance, float* samples) noexcept
        {
            const float* const x0 = sources.loop0;
            const float* const x1 = sources.loop1;
            const float* const t0 = sources.tail0;
            const float* const t1 = sources.tail1;
            const float* const o0 = sources.replacedTail0;
            const float* const o1 = sources.replacedTail1;
            const int* const stamps = sources.tailStamps;
            const int base = sources.stampBase;

            int i = 0;
           #if defined(__SSE2__)
            const __m128 balanceV = _mm_set1_ps (balance);
            const __m128i baseV = _mm_set1_epi32 (base - 1);
            for (; i + 4 <= frames; i += 4)
            {
                const int wi = forward ? firstFrame + i : firstFrame - i - 3;
                const int ti = forward ? firstTailSlot + i : firstTailSlot - i - 3;
                __m128i st = _mm_loadu_si128 (reinterpret_cast<const __m128i*> (stamps + ti));
                __m128 cur0 = _mm_loadu_ps (t0 + ti);
                __m128 old0 = _mm_loadu_ps (o0 + ti);
                __m128 new0 = _mm_loadu_ps (x0 + wi);
                __m128 cur1 = cur0, old1 = old0, new1 = new0;
                if constexpr (channels == 2)
                {
                    cur1 = _mm_loadu_ps (t1 + ti);
                    old1 = _mm_loadu_ps (o1 + ti);
                    new1 = _mm_loadu_ps (x1 + wi);
                }
                // Backwards, lanes stay in memory order, which is the reverse of fetch order; every step is
                // lane by lane, so only the fetch times going in and the result going out are reversed.
                __m128 useOld = _mm_setzero_ps();
                if constexpr (stamped)
                {
                    __m128i due = _mm_add_epi32 (_mm_loadu_si128 (reinterpret_cast<const __m128i*> (fetchTimes + i)), baseV);
                    if constexpr (! forward)
                        due = _mm_shuffle_epi32 (due, _MM_SHUFFLE (0, 1, 2, 3));
                    useOld = _mm_castsi128_ps (_mm_cmpgt_epi32 (st, due));
                }
                const __m128 a = stamped ? _mm_or_ps (_mm_and_ps (useOld, old0), _mm_andnot_ps (useOld, cur0)) : cur0;
                __m128 mono = _mm_add_ps (a, _mm_sub_ps (new0, a));
                if constexpr (channels == 2)
                {
                    const __m128 b = stamped ? _mm_or_ps (_mm_and_ps (useOld, old1), _mm_andnot_ps (useOld, cur1)) : cur1;
                    const __m128 right = _mm_add_ps (b, _mm_sub_ps (new1, b));
                    mono = _mm_add_ps (mono, _mm_mul_ps (_mm_sub_ps (right, mono), balanceV));
                }
                if constexpr (! forward)
                    mono = _mm_shuffle_ps (mono, mono, _MM_SHUFFLE (0, 1, 2, 3));
                _mm_storeu_ps (samples + i, mono);
            }
           #endif
            for (; i < frames; ++i)
            {
                const int wi = forward ? firstFrame + i : firstFrame - i;
                const int ti = forward ? firstTailSlot + i : firstTailSlot - i;
                const bool useOld = stamped && stamps[ti] >= base + fetchTimes[i];
                const float a = useOld ? o0[ti] : t0[ti];
                float mono = a + (x0[wi] - a);
                if constexpr (channels == 2)
                {
                    const float b = useOld ? o1[ti] : t1[ti];
                    const float right = b + (x1[wi] - b);
                    mono = mono + (right - mono) * balance;
                }
                samples[i] = mono;
            }
        }

        template <int channels, bool forward>
        void readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                  float balance, int& wrapped, int& tailPhase, float* samples) noexcept
        {
            CircularBuffer::ReadView v = journal.now;
            int w = wrapped, phase = tailPhase;
            for (int i = 0; i < frames; ++i)
            {
                v.writePosition = journal.startPosition + fetchTimes[i];
                samples[i] = readFrame<channels, true> (v, &journal, fetchTimes[i], w, phase, balance);
                stepFrame<forward> (v, w, phase);
            }
            wrapped = w;
            tailPhase = phase;
        }

        void walkPhases (const PhaseWalk& walk, int firstStep, int steps, int* windowStarts, double* phases) noexcept
        {
            int s = firstStep;
           #if defined(__SSE2__)
            if (s < steps)
            {
                const std::int64_t origin = walk.origin;
                const std::int64_t stride = walk.stride;
                const int bits = walk.bits;
                const std::int64_t fraction = (std::int64_t (1) << bits) - 1;
                const double unit = 1.0 / static_cast<double> (std::int64_t (1) << bits);
                // Two steps at a time; a whole number below 2^52 becomes a double through the exponent trick.
                const __m128i strides = _mm_set1_epi64x (2 * stride);
                const __m128i fractionMask = _mm_set1_epi64x (fraction);
                const __m128i magic = _mm_set1_epi64x (0x4330000000000000LL);
                const __m128d magicValue = _mm_set1_pd (4503599627370496.0);
                const __m128i shift = _mm_cvtsi32_si128 (bits);
                const __m128d units = _mm_set1_pd (unit);
                __m128i u = _mm_set_epi64x (origin + stride * (s + 1), origin + stride * s);
                for (; s + 2 <= steps; s += 2)
                {
                    const __m128i whole = _mm_srl_epi64 (u, shift);
                    const __m128i part = _mm_and_si128 (u, fractionMask);
                    const __m128d value = _mm_sub_pd (_mm_castsi128_pd (_mm_or_si128 (part, magic)), magicValue);
                    _mm_storeu_pd (phases + s, _mm_mul_pd (value, units));
                    _mm_storel_epi64 (reinterpret_cast<__m128i*> (windowStarts + s), _mm_shuffle_epi32 (whole, _MM_SHUFFLE (2, 0, 2, 0)));
                    u = _mm_add_epi64 (u, strides);
                }
            }
           #endif
            walkPhasesLoop (walk, s, steps, windowStarts, phases);
        }

        void interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                               float* out) noexcept
        {
            int s = 0;
           #if defined(__SSE2__)
            for (; s + 4 <= steps; s += 4)
            {
                const __m128 windows = cubicFour (_mm_loadu_ps (sequence + windowStarts[s]), _mm_loadu_ps (sequence + windowStarts[s + 1]),
                                                  _mm_loadu_ps (sequence + windowStarts[s + 2]), _mm_loadu_ps (sequence + windowStarts[s + 3]),
                                                  _mm_loadu_pd (phases + s), _mm_loadu_pd (phases + s + 2));
                _mm_storeu_ps (out + s, windows);
            }
           #endif
            interpolateStepsLoop (sequence, windowStarts, phases, s, steps, out);
        }

        void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept
        {
            interpolateUnitStepsLoop (windows, steps, out);
        }

        void mixEnvelopeRamp (float* left, float* right, const float* samples, int numSamples, float startValue,
                              float delta, float leftPan, float rightPan, float gain) noexcept
        {
            mixEnvelopeRampLoop (left, right, samples, numSamples, startValue, delta, leftPan, rightPan, gain);
        }

        void mixEnvelopeLevel (float* left, float* right, const float* samples, int numSamples, float level,
                               float leftPan, float rightPan, float gain) noexcept
        {
            mixEnvelopeLevelLoop (left, right, samples, numSamples, level, leftPan, rightPan, gain);
        }

        void windowPositions (const float* starts, const float* increments, int numSamples, float* const* rows) noexcept
        {
           #if defined(__SSE2__)
            __m128 t = _mm_loadu_ps (starts);
            const __m128 step = _mm_loadu_ps (increments);
            for (int k = 0; k < numSamples; k += 4)
            {
                __m128 p0 = t;
                __m128 p1 = _mm_add_ps (p0, step);
                __m128 p2 = _mm_add_ps (p1, step);
                __m128 p3 = _mm_add_ps (p2, step);
                t = _mm_add_ps (p3, step);
                _MM_TRANSPOSE4_PS (p0, p1, p2, p3);
                _mm_storeu_ps (rows[0] + k, p0);
                _mm_storeu_ps (rows[1] + k, p1);
                _mm_storeu_ps (rows[2] + k, p2);
                _mm_storeu_ps (rows[3] + k, p3);
            }
           #else
            for (int lane = 0; lane < 4; ++lane)
            {
                float t = starts[lane];
                for (int k = 0; k < numSamples; ++k)
                {
                    rows[lane][k] = t;
                    t += increments[lane];
                }
            }
           #endif
        }

        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept
        {
            int k = 0;
           #if defined(__SSE2__)
            // Lane by lane sineWindow: max (0, t) and min (1, t) keep a NaN position, as it does.
            const __m128 zero = _mm_setzero_ps();
            const __m128 one = _mm_set1_ps (1.0f);
            const __m128 pi = _mm_set1_ps (3.1415927f);
            const __m128 sign = _mm_set1_ps (-0.0f);
            const __m128 leftPans = _mm_set1_ps (leftPan);
            const __m128 rightPans = _mm_set1_ps (rightPan);
            const __m128 gains = _mm_set1_ps (gain);
            for (; k + 4 <= numSamples; k += 4)
            {
                const __m128 t = _mm_min_ps (one, _mm_max_ps (zero, _mm_loadu_ps (positions + k)));
                const __m128 x = _mm_mul_ps (pi, t);
                const __m128 x2 = _mm_mul_ps (x, x);
                __m128 num = _mm_add_ps (_mm_set1_ps (-52785432.0f), _mm_mul_ps (x2, _mm_set1_ps (479249.0f)));
                num = _mm_add_ps (_mm_set1_ps (1640635920.0f), _mm_mul_ps (x2, num));
                num = _mm_add_ps (_mm_set1_ps (-11511339840.0f), _mm_mul_ps (x2, num));
                num = _mm_mul_ps (_mm_xor_ps (x, sign), num);
                __m128 den = _mm_add_ps (_mm_set1_ps (3177720.0f), _mm_mul_ps (x2, _mm_set1_ps (18361.0f)));
                den = _mm_add_ps (_mm_set1_ps (277920720.0f), _mm_mul_ps (x2, den));
                den = _mm_add_ps (_mm_set1_ps (11511339840.0f), _mm_mul_ps (x2, den));
                const __m128 weighted = _mm_mul_ps (_mm_loadu_ps (samples + k), _mm_div_ps (num, den));
                _mm_storeu_ps (left + k, _mm_add_ps (_mm_loadu_ps (left + k), _mm_mul_ps (_mm_mul_ps (weighted, leftPans), gains)));
                _mm_storeu_ps (right + k, _mm_add_ps (_mm_loadu_ps (right + k), _mm_mul_ps (_mm_mul_ps (weighted, rightPans), gains)));
            }
           #endif
            mixSineWindowedLoop (left, right, samples, positions, k, numSamples, leftPan, rightPan, gain);
        }

        template void readFrameRun<1, true, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<1, true, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<1, false, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<1, false, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<2, true, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<2, true, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<2, false, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readFrameRun<2, false, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template void readJournaledFrames<1, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template void readJournaledFrames<1, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template void readJournaledFrames<2, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template void readJournaledFrames<2, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
    }
}
