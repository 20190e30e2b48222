// The AVX-512 kernels (F, VL and DQ), compiled for those instruction sets alone (engine/CMakeLists.txt).
// Dispatch.h calls them only where the processor has them, so nothing here may be reachable otherwise:
// every helper is file-local, and no function of a shared header is instantiated here.
#include "engine/kernels/GrainKernels.h"
#include "engine/kernels/ScalarLoops.h"

#include <immintrin.h>

namespace qvl::kernels
{
    namespace
    {
        inline __m512d lowerAsDoubles (__m512 v) noexcept
        {
            return _mm512_cvtps_pd (_mm512_castps512_ps256 (v));
        }

        // Lanes 8..15 of v as doubles.
        inline __m512d upperAsDoubles (__m512 v) noexcept
        {
            return _mm512_cvtps_pd (_mm256_castpd_ps (_mm512_extractf64x4_pd (_mm512_castps_pd (v), 1)));
        }

        // The windows at starts[0], starts[4], starts[8] and starts[12], one per 128-bit block.
        inline __m512 windowRow (const float* sequence, const int* starts) noexcept
        {
            __m512 v = _mm512_castps128_ps512 (_mm_loadu_ps (sequence + starts[0]));
            v = _mm512_insertf32x4 (v, _mm_loadu_ps (sequence + starts[4]), 1);
            v = _mm512_insertf32x4 (v, _mm_loadu_ps (sequence + starts[8]), 2);
            return _mm512_insertf32x4 (v, _mm_loadu_ps (sequence + starts[12]), 3);
        }

        // The cubic of sixteen steps' windows (oldest to newest sample in y0..y3, one step per lane) at
        // phases t0 (steps 0..7) and t1 (steps 8..15).
        struct SixteenOutputs
        {
            __m256 low, high;
        };

        // The float coefficients of sixteen windows, oldest to newest sample in y0..y3, one window per lane.
        struct SixteenCoefficients
        {
            __m512 c3, c2, c1;
        };

        inline SixteenCoefficients coefficientsSixteen (__m512 y0, __m512 y1, __m512 y2, __m512 y3) noexcept
        {
            const __m512 half = _mm512_set1_ps (0.5f);
            const __m512 c1 = _mm512_sub_ps (_mm512_mul_ps (half, y2), _mm512_mul_ps (half, y0));
            const __m512 c2 = _mm512_sub_ps (_mm512_add_ps (_mm512_sub_ps (y0, _mm512_mul_ps (_mm512_set1_ps (2.5f), y1)),
                                                            _mm512_mul_ps (_mm512_set1_ps (2.0f), y2)),
                                             _mm512_mul_ps (half, y3));
            const __m512 c3 = _mm512_add_ps (_mm512_mul_ps (_mm512_set1_ps (1.5f), _mm512_sub_ps (y1, y2)),
                                             _mm512_mul_ps (half, _mm512_sub_ps (y3, y0)));
            return { c3, c2, c1 };
        }

        inline SixteenOutputs cubicSixteen (__m512 y0, __m512 y1, __m512 y2, __m512 y3, __m512d t0, __m512d t1) noexcept
        {
            const auto [c3, c2, c1] = coefficientsSixteen (y0, y1, y2, y3);
            __m512d v0 = _mm512_add_pd (_mm512_mul_pd (lowerAsDoubles (c3), t0), lowerAsDoubles (c2));
            __m512d v1 = _mm512_add_pd (_mm512_mul_pd (upperAsDoubles (c3), t1), upperAsDoubles (c2));
            v0 = _mm512_add_pd (_mm512_mul_pd (v0, t0), lowerAsDoubles (c1));
            v1 = _mm512_add_pd (_mm512_mul_pd (v1, t1), upperAsDoubles (c1));
            v0 = _mm512_add_pd (_mm512_mul_pd (v0, t0), lowerAsDoubles (y1));
            v1 = _mm512_add_pd (_mm512_mul_pd (v1, t1), upperAsDoubles (y1));
            return { _mm512_cvtpd_ps (v0), _mm512_cvtpd_ps (v1) };
        }

        // Where every window starts within 28 samples of base (offsets from it, one step per lane, all at
        // most last - base), two loads and one two-source permute per window sample fetch them all. The
        // loads may run past the last window into the sequence's spare room, whose samples no lane picks.
        // Returns false, touching nothing, where they do not fit.
        inline bool permutedWindows (const float* sequence, int base, int last, __m512i offsets, __m512* y) noexcept
        {
            if (! (last - base <= 28 && _mm512_cmpgt_epu32_mask (offsets, _mm512_set1_epi32 (last - base)) == 0))
                return false;
            const __m512 lo = _mm512_loadu_ps (sequence + base);
            const __m512 hi = _mm512_loadu_ps (sequence + base + 16);
            const __m512i one = _mm512_set1_epi32 (1);
            const __m512i i1 = _mm512_add_epi32 (offsets, one);
            const __m512i i2 = _mm512_add_epi32 (i1, one);
            const __m512i i3 = _mm512_add_epi32 (i2, one);
            y[0] = _mm512_permutex2var_ps (lo, offsets, hi);
            y[1] = _mm512_permutex2var_ps (lo, i1, hi);
            y[2] = _mm512_permutex2var_ps (lo, i2, hi);
            y[3] = _mm512_permutex2var_ps (lo, i3, hi);
            return true;
        }

        inline __m512d pickDoubles (__m512d low, __m512d high, __m512i index) noexcept
        {
            return _mm512_permutex2var_pd (low, index, high);
        }

        // Sixteen windows' coefficients, widened: Low holds windows 0..7, High windows 8..15.
        struct SharedWindows
        {
            __m512d c3Low, c3High, c2Low, c2High, c1Low, c1High, y1Low, y1High;
        };

        // The windows starting at sequence[base] .. sequence[base + 15]; samples past lastSample are not read.
        inline SharedWindows sharedWindowsAt (const float* sequence, int base, int lastSample) noexcept
        {
            __m512 y[4];
            for (int j = 0; j < 4; ++j)
            {
                const int available = lastSample - base - j + 1;
                const auto mask = static_cast<__mmask16> (available >= 16 ? 0xffffu : (available > 0 ? (1u << available) - 1u : 0u));
                y[j] = _mm512_maskz_loadu_ps (mask, sequence + base + j);
            }
            const auto [c3, c2, c1] = coefficientsSixteen (y[0], y[1], y[2], y[3]);
            return { lowerAsDoubles (c3), upperAsDoubles (c3), lowerAsDoubles (c2), upperAsDoubles (c2),
                     lowerAsDoubles (c1), upperAsDoubles (c1), lowerAsDoubles (y[1]), upperAsDoubles (y[1]) };
        }

        // The cubic of sixteen steps, step k at phase t0[k] or t1[k - 8] on window window[k] of w.
        inline SixteenOutputs cubicPicked (const SharedWindows& w, __m512i window, __m512d t0, __m512d t1) noexcept
        {
            const __m512i k0 = _mm512_cvtepi32_epi64 (_mm512_castsi512_si256 (window));
            const __m512i k1 = _mm512_cvtepi32_epi64 (_mm512_extracti64x4_epi64 (window, 1));
            __m512d v0 = _mm512_add_pd (_mm512_mul_pd (pickDoubles (w.c3Low, w.c3High, k0), t0), pickDoubles (w.c2Low, w.c2High, k0));
            __m512d v1 = _mm512_add_pd (_mm512_mul_pd (pickDoubles (w.c3Low, w.c3High, k1), t1), pickDoubles (w.c2Low, w.c2High, k1));
            v0 = _mm512_add_pd (_mm512_mul_pd (v0, t0), pickDoubles (w.c1Low, w.c1High, k0));
            v1 = _mm512_add_pd (_mm512_mul_pd (v1, t1), pickDoubles (w.c1Low, w.c1High, k1));
            v0 = _mm512_add_pd (_mm512_mul_pd (v0, t0), pickDoubles (w.y1Low, w.y1High, k0));
            v1 = _mm512_add_pd (_mm512_mul_pd (v1, t1), pickDoubles (w.y1Low, w.y1High, k1));
            return { _mm512_cvtpd_ps (v0), _mm512_cvtpd_ps (v1) };
        }

        // base[index] lane by lane, in fetch order; where the indices run on from low (forward) or down
        // to it, as one load.
        template <bool forward>
        inline __m512 runOrGather (bool isRun, const float* base, int low, __m512i index) noexcept
        {
            if (! isRun)
                return _mm512_i32gather_ps (index, base, 4);
            const __m512 v = _mm512_loadu_ps (base + low);
            return forward ? v : _mm512_permutexvar_ps (_mm512_set_epi32 (0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), v);
        }

        // readFrame for sixteen consecutive fetches, lane by lane: position and tail phase from the
        // first one's, each fetch's samples picked as its time says.
        template <int channelMode, bool forward>
        void readSixteenFrames (const CircularBuffer::JournalView& journal, const int* times, int wrapped, int tailPhase,
                                float balance, float* out) noexcept
        {
            const CircularBuffer::ReadView& v = journal.now;
            const __m512i zero = _mm512_setzero_si512();
            const __m512i lengthV = _mm512_set1_epi32 (v.length);
            const __m512i crossfadeV = _mm512_set1_epi32 (v.crossfadeLength);
            const __m512i lane = _mm512_set_epi32 (15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);

            // Loop positions and their tail phases (position modulo the crossfade); with both lengths at
            // least sixteen each wraps at most once here.
            __m512i p, phase;
            if constexpr (forward)
            {
                p = _mm512_add_epi32 (_mm512_set1_epi32 (wrapped), lane);
                const __mmask16 past = _mm512_cmpge_epi32_mask (p, lengthV);
                p = _mm512_mask_sub_epi32 (p, past, p, lengthV);
                phase = _mm512_add_epi32 (_mm512_set1_epi32 (tailPhase), lane);
                phase = _mm512_mask_sub_epi32 (phase, _mm512_cmpge_epi32_mask (phase, crossfadeV), phase, crossfadeV);
                phase = _mm512_mask_mov_epi32 (phase, past, p);
            }
            else
            {
                p = _mm512_sub_epi32 (_mm512_set1_epi32 (wrapped), lane);
                const __mmask16 past = _mm512_cmplt_epi32_mask (p, zero);
                p = _mm512_mask_add_epi32 (p, past, p, lengthV);
                phase = _mm512_sub_epi32 (_mm512_set1_epi32 (tailPhase), lane);
                const __m512i beyond = _mm512_sub_epi32 (_mm512_set1_epi32 (v.lastTailPhase), _mm512_sub_epi32 (lane, _mm512_set1_epi32 (wrapped + 1)));
                phase = _mm512_mask_mov_epi32 (phase, past, beyond);
                phase = _mm512_mask_add_epi32 (phase, _mm512_cmplt_epi32_mask (phase, zero), phase, crossfadeV);
            }

            const __m512i e = _mm512_loadu_si512 (times);
            __m512i d = _mm512_sub_epi32 (_mm512_add_epi32 (_mm512_set1_epi32 (journal.startPosition), e), p);
            const __mmask16 ahead = _mm512_cmplt_epi32_mask (d, zero);
            d = _mm512_mask_add_epi32 (d, ahead, d, lengthV);
            __m512i tail = _mm512_add_epi32 (_mm512_set1_epi32 (v.lapTailPhase), phase);
            tail = _mm512_mask_sub_epi32 (tail, ahead, tail, _mm512_set1_epi32 (v.lengthTailPhase));
            tail = _mm512_mask_add_epi32 (tail, _mm512_cmplt_epi32_mask (tail, zero), tail, crossfadeV);
            tail = _mm512_mask_sub_epi32 (tail, _mm512_cmpge_epi32_mask (tail, crossfadeV), tail, crossfadeV);
            const __m512 f = _mm512_i32gather_ps (_mm512_min_epi32 (d, crossfadeV), v.fadeGains, 4);

            const __m512i jr = _mm512_sub_epi32 (p, _mm512_set1_epi32 (journal.startPosition));
            const __mmask16 oldLoop = _mm512_mask_cmplt_epi32_mask (_mm512_cmpge_epi32_mask (jr, e), jr, _mm512_set1_epi32 (journal.writes));

            // Positions that do not wrap here are one run, loaded whole; so are tail slots in step with them.
            const bool positionsRun = forward ? wrapped <= v.length - 16 : wrapped >= 15;
            const int firstTail = _mm_cvtsi128_si32 (_mm512_castsi512_si128 (tail));
            const __m512i tailRun = forward ? _mm512_add_epi32 (_mm512_set1_epi32 (firstTail), lane)
                                            : _mm512_sub_epi32 (_mm512_set1_epi32 (firstTail), lane);
            const bool tailsRun = _mm512_cmpneq_epi32_mask (tail, tailRun) == 0;
            const int lowPosition = forward ? wrapped : wrapped - 15;
            const int lowTail = forward ? firstTail : firstTail - 15;
            const __m512i stamps = _mm512_castps_si512 (runOrGather<forward> (tailsRun, reinterpret_cast<const float*> (journal.tailStamp),
                                                                              lowTail, tail));
            const __mmask16 oldTail = _mm512_cmpge_epi32_mask (stamps, _mm512_add_epi32 (_mm512_set1_epi32 (journal.stampBase), e));
            __m512 a = runOrGather<forward> (tailsRun, v.channel0 + v.maxLength, lowTail, tail);
            __m512 x = runOrGather<forward> (positionsRun, v.channel0, lowPosition, p);
            if (oldTail != 0)
                a = _mm512_mask_i32gather_ps (a, oldTail, tail, journal.oldTail0, 4);
            if (oldLoop != 0)
                x = _mm512_mask_i32gather_ps (x, oldLoop, jr, journal.oldLoop0, 4);
            __m512 mono = _mm512_add_ps (a, _mm512_mul_ps (_mm512_sub_ps (x, a), f));
            if constexpr (channelMode == 2)
            {
                __m512 b = runOrGather<forward> (tailsRun, v.channel1 + v.maxLength, lowTail, tail);
                __m512 y = runOrGather<forward> (positionsRun, v.channel1, lowPosition, p);
                if (oldTail != 0)
                    b = _mm512_mask_i32gather_ps (b, oldTail, tail, journal.oldTail1, 4);
                if (oldLoop != 0)
                    y = _mm512_mask_i32gather_ps (y, oldLoop, jr, journal.oldLoop1, 4);
                const __m512 right = _mm512_add_ps (b, _mm512_mul_ps (_mm512_sub_ps (y, b), f));
                mono = _mm512_add_ps (mono, _mm512_mul_ps (_mm512_sub_ps (right, mono), _mm512_set1_ps (balance)));
            }
            _mm512_storeu_ps (out, mono);
        }

        // The sine window at sixteen positions, clamped to 0..1 as the baseline clamps them.
        inline __m512 sineWindowSixteen (__m512 positions) noexcept
        {
            const __m512 t = _mm512_min_ps (_mm512_set1_ps (1.0f), _mm512_max_ps (_mm512_setzero_ps(), positions));
            const __m512 x = _mm512_mul_ps (_mm512_set1_ps (3.1415927f), t);
            const __m512 x2 = _mm512_mul_ps (x, x);
            __m512 num = _mm512_add_ps (_mm512_set1_ps (-52785432.0f), _mm512_mul_ps (x2, _mm512_set1_ps (479249.0f)));
            num = _mm512_add_ps (_mm512_set1_ps (1640635920.0f), _mm512_mul_ps (x2, num));
            num = _mm512_add_ps (_mm512_set1_ps (-11511339840.0f), _mm512_mul_ps (x2, num));
            num = _mm512_mul_ps (_mm512_xor_ps (x, _mm512_set1_ps (-0.0f)), num);
            __m512 den = _mm512_add_ps (_mm512_set1_ps (3177720.0f), _mm512_mul_ps (x2, _mm512_set1_ps (18361.0f)));
            den = _mm512_add_ps (_mm512_set1_ps (277920720.0f), _mm512_mul_ps (x2, den));
            den = _mm512_add_ps (_mm512_set1_ps (11511339840.0f), _mm512_mul_ps (x2, den));
            return _mm512_div_ps (num, den);
        }
    }

    namespace avx512
    {
        // Sixteen frames at a time; the last few go as one masked block.
        template <int channels, bool forward>
        void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, float balance,
                           float* samples) noexcept
        {
            const __m512 balanceV = _mm512_set1_ps (balance);
            const __m512i descending = _mm512_set_epi32 (0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
            // Local copies, so that the stores to samples cannot make the compiler reload them.
            const float* const x0 = sources.loop0;
            const float* const x1 = sources.loop1;
            const float* const t0 = sources.tail0;
            const float* const t1 = sources.tail1;
            for (int i = 0; i < frames; i += 16)
            {
                const int m = frames - i < 16 ? frames - i : 16;
                const auto mask = static_cast<__mmask16> (m == 16 ? 0xffffu : (1u << m) - 1u);
                // Backwards, the m positions are loaded in ascending order and worked on as they are, lane
                // by lane; only the result is reversed into fetch order.
                const int wi = forward ? firstFrame + i : firstFrame - i - (m - 1);
                const int ti = forward ? firstTailSlot + i : firstTailSlot - i - (m - 1);
                const __m512 a = _mm512_maskz_loadu_ps (mask, t0 + ti);
                __m512 mono = _mm512_add_ps (a, _mm512_sub_ps (_mm512_maskz_loadu_ps (mask, x0 + wi), a));
                if constexpr (channels == 2)
                {
                    const __m512 b = _mm512_maskz_loadu_ps (mask, t1 + ti);
                    const __m512 right = _mm512_add_ps (b, _mm512_sub_ps (_mm512_maskz_loadu_ps (mask, x1 + wi), b));
                    mono = _mm512_add_ps (mono, _mm512_mul_ps (_mm512_sub_ps (right, mono), balanceV));
                }
                if constexpr (! forward)
                    mono = _mm512_permutexvar_ps (_mm512_sub_epi32 (descending, _mm512_set1_epi32 (16 - m)), mono);
                _mm512_mask_storeu_ps (samples + i, mask, mono);
            }
        }

        // Each block of sixteen frames wraps the loop and the tail phase at most once.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept
        {
            const int length = journal.now.length;
            int i = 0;
            for (; i + 16 <= frames; i += 16)
            {
                readSixteenFrames<channels, forward> (journal, fetchTimes + i, wrapped, tailPhase, balance, samples + i);
                wrapped = forward ? (wrapped + 16 >= length ? wrapped + 16 - length : wrapped + 16)
                                  : (wrapped - 16 < 0 ? wrapped - 16 + length : wrapped - 16);
                tailPhase = wrapped % journal.now.crossfadeLength;
            }
            return i;
        }

        // Eight steps at a time, the last few in integers.
        void walkPhases (const PhaseWalk& walk, int steps, int* windowStarts, double* phases) noexcept
        {
            __m512d x = _mm512_add_pd (_mm512_set1_pd (walk.phase),
                                       _mm512_mul_pd (_mm512_set_pd (7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0), _mm512_set1_pd (walk.speed)));
            const __m512d stride = _mm512_set1_pd (8.0 * walk.speed);
            int s = 0;
            for (; s + 8 <= steps; s += 8)
            {
                const __m512d whole = _mm512_roundscale_pd (x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
                _mm512_storeu_pd (phases + s, _mm512_sub_pd (x, whole));
                _mm256_storeu_si256 (reinterpret_cast<__m256i*> (windowStarts + s), _mm512_cvttpd_epi32 (whole));
                x = _mm512_add_pd (x, stride);
            }
            walkPhasesLoop (walk, s, steps, windowStarts, phases);
        }

        int interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                              float* out) noexcept
        {
            int s = 0;
            for (; s + 16 <= steps; s += 16)
            {
                __m512 y[4];
                const int base = windowStarts[s];
                const __m512i offsets = _mm512_sub_epi32 (_mm512_loadu_si512 (windowStarts + s), _mm512_set1_epi32 (base));
                if (! permutedWindows (sequence, base, windowStarts[s + 15], offsets, y))
                {
                    // Row r holds the windows of steps r, r + 4, r + 8 and r + 12; a 4 x 4 transpose in
                    // every 128-bit block puts step 4q + r in lane r of block q.
                    const __m512 r0 = windowRow (sequence, windowStarts + s);
                    const __m512 r1 = windowRow (sequence, windowStarts + s + 1);
                    const __m512 r2 = windowRow (sequence, windowStarts + s + 2);
                    const __m512 r3 = windowRow (sequence, windowStarts + s + 3);
                    const __m512 t0 = _mm512_unpacklo_ps (r0, r1);
                    const __m512 t1 = _mm512_unpackhi_ps (r0, r1);
                    const __m512 t2 = _mm512_unpacklo_ps (r2, r3);
                    const __m512 t3 = _mm512_unpackhi_ps (r2, r3);
                    y[0] = _mm512_shuffle_ps (t0, t2, _MM_SHUFFLE (1, 0, 1, 0));
                    y[1] = _mm512_shuffle_ps (t0, t2, _MM_SHUFFLE (3, 2, 3, 2));
                    y[2] = _mm512_shuffle_ps (t1, t3, _MM_SHUFFLE (1, 0, 1, 0));
                    y[3] = _mm512_shuffle_ps (t1, t3, _MM_SHUFFLE (3, 2, 3, 2));
                }
                const SixteenOutputs o = cubicSixteen (y[0], y[1], y[2], y[3], _mm512_loadu_pd (phases + s),
                                                       _mm512_loadu_pd (phases + s + 8));
                _mm256_storeu_ps (out + s, o.low);
                _mm256_storeu_ps (out + s + 8, o.high);
            }

            // The last few steps as one masked block when their windows are close together. Lanes past
            // the end work on the first window at phase 0 and are not stored.
            if (s < steps)
            {
                const auto active = static_cast<__mmask16> ((1u << (steps - s)) - 1u);
                const auto activeLow = static_cast<__mmask8> (active);
                const auto activeHigh = static_cast<__mmask8> (active >> 8);
                __m512 y[4];
                const int base = windowStarts[s];
                const __m512i offsets = _mm512_maskz_sub_epi32 (active, _mm512_maskz_loadu_epi32 (active, windowStarts + s),
                                                                _mm512_set1_epi32 (base));
                if (permutedWindows (sequence, base, windowStarts[steps - 1], offsets, y))
                {
                    const SixteenOutputs o = cubicSixteen (y[0], y[1], y[2], y[3], _mm512_maskz_loadu_pd (activeLow, phases + s),
                                                           _mm512_maskz_loadu_pd (activeHigh, phases + s + 8));
                    _mm256_mask_storeu_ps (out + s, activeLow, o.low);
                    _mm256_mask_storeu_ps (out + s + 8, activeHigh, o.high);
                    s = steps;
                }
            }
            return s;
        }

        // Sixteen windows' coefficients are worked out and widened once, and every step whose window is
        // among them picks its own.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                      int lastSample, float* out) noexcept
        {
            int s = 0;
            int base = 0;
            bool haveWindows = false;
            SharedWindows windows {};
            for (; s + 16 <= steps; s += 16)
            {
                const int first = windowStarts[s];
                const int last = windowStarts[s + 15];
                if (last - first > 15)
                    break;
                if (! haveWindows || first < base || last - base > 15)
                {
                    base = first;
                    haveWindows = true;
                    windows = sharedWindowsAt (sequence, base, lastSample);
                }

                const __m512i window = _mm512_sub_epi32 (_mm512_loadu_si512 (windowStarts + s), _mm512_set1_epi32 (base));
                const SixteenOutputs o = cubicPicked (windows, window, _mm512_loadu_pd (phases + s), _mm512_loadu_pd (phases + s + 8));
                _mm256_storeu_ps (out + s, o.low);
                _mm256_storeu_ps (out + s + 8, o.high);
            }
            return s;
        }

        // Sixteen samples at a time, the last few as one masked block (lanes past the end see position 0
        // and are not stored). Full blocks load unmasked, so the outputs the previous grain
        // just stored can be forwarded to them.
        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept
        {
            const __m512 leftPans = _mm512_set1_ps (leftPan);
            const __m512 rightPans = _mm512_set1_ps (rightPan);
            const __m512 gains = _mm512_set1_ps (gain);
            int k = 0;
            for (; k + 16 <= numSamples; k += 16)
            {
                const __m512 weighted = _mm512_mul_ps (_mm512_loadu_ps (samples + k), sineWindowSixteen (_mm512_loadu_ps (positions + k)));
                _mm512_storeu_ps (left + k, _mm512_add_ps (_mm512_loadu_ps (left + k), _mm512_mul_ps (_mm512_mul_ps (weighted, leftPans), gains)));
                _mm512_storeu_ps (right + k, _mm512_add_ps (_mm512_loadu_ps (right + k), _mm512_mul_ps (_mm512_mul_ps (weighted, rightPans), gains)));
            }
            if (k < numSamples)
            {
                const auto mask = static_cast<__mmask16> ((1u << (numSamples - k)) - 1u);
                const __m512 weighted = _mm512_mul_ps (_mm512_maskz_loadu_ps (mask, samples + k),
                                                       sineWindowSixteen (_mm512_maskz_loadu_ps (mask, positions + k)));
                _mm512_mask_storeu_ps (left + k, mask, _mm512_add_ps (_mm512_maskz_loadu_ps (mask, left + k),
                                                                      _mm512_mul_ps (_mm512_mul_ps (weighted, leftPans), gains)));
                _mm512_mask_storeu_ps (right + k, mask, _mm512_add_ps (_mm512_maskz_loadu_ps (mask, right + k),
                                                                       _mm512_mul_ps (_mm512_mul_ps (weighted, rightPans), gains)));
            }
        }

        template void readFrameRun<1, true> (const FrameSources&, int, int, int, float, float*) noexcept;
        template void readFrameRun<1, false> (const FrameSources&, int, int, int, float, float*) noexcept;
        template void readFrameRun<2, true> (const FrameSources&, int, int, int, float, float*) noexcept;
        template void readFrameRun<2, false> (const FrameSources&, int, int, int, float, float*) noexcept;
        template int readJournaledFrames<1, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<1, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<2, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<2, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
    }
}
