// The AVX2 kernels, compiled for AVX2 alone (engine/CMakeLists.txt). Dispatch.h calls them only where
// the processor has AVX2, so nothing here may be reachable otherwise: every helper is file-local, and no
// function of a shared header is instantiated here.
#include "engine/kernels/GrainKernels.h"
#include "engine/kernels/ScalarLoops.h"

#include <immintrin.h>

namespace qvl::kernels
{
    namespace
    {
        // With every sample of a window finite and at most 2^124 in size all three coefficients are
        // finite, so each product with 0 is a zero, and adding y1 gives y1 itself when it is a normal
        // number (not zero, not subnormal, which flush-to-zero could turn into a zero). Eight steps at a
        // time where that holds for all of them; returns how many steps it did.
        int copyPlainWindows (const float* windows, int steps, float* out) noexcept
        {
            const __m256 magnitude = _mm256_castsi256_ps (_mm256_set1_epi32 (0x7fffffff));
            const __m256 largest = _mm256_set1_ps (0x1p124f);
            const __m256 smallest = _mm256_set1_ps (0x1p-126f);
            int s = 0;
            for (; s + 8 <= steps; s += 8)
            {
                // Steps s .. s + 7 read windows[s .. s + 10]; their y1 are windows[s + 1 .. s + 8].
                const __m256 first = _mm256_and_ps (_mm256_loadu_ps (windows + s), magnitude);
                const __m256 last = _mm256_and_ps (_mm256_loadu_ps (windows + s + 3), magnitude);
                const __m256 y1 = _mm256_loadu_ps (windows + s + 1);
                const __m256 inRange = _mm256_and_ps (_mm256_cmp_ps (first, largest, _CMP_LE_OQ),
                                                      _mm256_cmp_ps (last, largest, _CMP_LE_OQ));
                const __m256 normal = _mm256_cmp_ps (_mm256_and_ps (y1, magnitude), smallest, _CMP_GE_OQ);
                if (_mm256_movemask_ps (_mm256_and_ps (inRange, normal)) != 0xff)
                    break;
                _mm256_storeu_ps (out + s, y1);
            }
            return s;
        }

        inline __m256 wideWindows (const float* sequence, int a, int b) noexcept
        {
            return _mm256_insertf128_ps (_mm256_castps128_ps256 (_mm_loadu_ps (sequence + a)), _mm_loadu_ps (sequence + b), 1);
        }

        inline __m128 wideCubic (__m128 a3, __m128 a2, __m128 a1, __m128 a0, __m256d t) noexcept
        {
            __m256d v = _mm256_add_pd (_mm256_mul_pd (_mm256_cvtps_pd (a3), t), _mm256_cvtps_pd (a2));
            v = _mm256_add_pd (_mm256_mul_pd (v, t), _mm256_cvtps_pd (a1));
            return _mm256_cvtpd_ps (_mm256_add_pd (_mm256_mul_pd (v, t), _mm256_cvtps_pd (a0)));
        }

        // The float coefficients of eight consecutive steps' windows.
        struct WideCoefficients
        {
            __m256 c3, c2, c1, y1;
        };

        // The float coefficients of eight windows, oldest to newest sample in y0..y3, one window per lane.
        inline WideCoefficients coefficientsOf (__m256 y0, __m256 y1, __m256 y2, __m256 y3) noexcept
        {
            const __m256 half = _mm256_set1_ps (0.5f);
            WideCoefficients c;
            c.c1 = _mm256_sub_ps (_mm256_mul_ps (half, y2), _mm256_mul_ps (half, y0));
            c.c2 = _mm256_sub_ps (_mm256_add_ps (_mm256_sub_ps (y0, _mm256_mul_ps (_mm256_set1_ps (2.5f), y1)),
                                                 _mm256_mul_ps (_mm256_set1_ps (2.0f), y2)),
                                  _mm256_mul_ps (half, y3));
            c.c3 = _mm256_add_ps (_mm256_mul_ps (_mm256_set1_ps (1.5f), _mm256_sub_ps (y1, y2)),
                                  _mm256_mul_ps (half, _mm256_sub_ps (y3, y0)));
            c.y1 = y1;
            return c;
        }

        inline WideCoefficients wideCoefficients (const float* sequence, const int* starts) noexcept
        {
            // Lane k of each 128-bit half is one output's window; the transpose runs in both halves.
            const __m256 r0 = wideWindows (sequence, starts[0], starts[4]);
            const __m256 r1 = wideWindows (sequence, starts[1], starts[5]);
            const __m256 r2 = wideWindows (sequence, starts[2], starts[6]);
            const __m256 r3 = wideWindows (sequence, starts[3], starts[7]);
            const __m256 t0 = _mm256_unpacklo_ps (r0, r1);
            const __m256 t1 = _mm256_unpackhi_ps (r0, r1);
            const __m256 t2 = _mm256_unpacklo_ps (r2, r3);
            const __m256 t3 = _mm256_unpackhi_ps (r2, r3);
            const __m256 y0 = _mm256_shuffle_ps (t0, t2, _MM_SHUFFLE (1, 0, 1, 0));
            const __m256 y1 = _mm256_shuffle_ps (t0, t2, _MM_SHUFFLE (3, 2, 3, 2));
            const __m256 y2 = _mm256_shuffle_ps (t1, t3, _MM_SHUFFLE (1, 0, 1, 0));
            const __m256 y3 = _mm256_shuffle_ps (t1, t3, _MM_SHUFFLE (3, 2, 3, 2));

            return coefficientsOf (y0, y1, y2, y3);
        }

        inline __m256d low (__m256 v) noexcept { return _mm256_cvtps_pd (_mm256_castps256_ps128 (v)); }
        inline __m256d high (__m256 v) noexcept { return _mm256_cvtps_pd (_mm256_extractf128_ps (v, 1)); }

        // base[index] lane by lane for eight lanes, in fetch order; where the indices run on from low
        // (forward) or down to it, as one load.
        template <bool forward>
        inline __m256 runOrGatherEight (bool isRun, const float* base, int low, __m256i index) noexcept
        {
            if (! isRun)
                return _mm256_i32gather_ps (base, index, 4);
            const __m256 v = _mm256_loadu_ps (base + low);
            return forward ? v : _mm256_permutevar8x32_ps (v, _mm256_set_epi32 (0, 1, 2, 3, 4, 5, 6, 7));
        }

        // Lanes where a >= b.
        inline __m256i atLeast (__m256i a, __m256i b) noexcept
        {
            return _mm256_xor_si256 (_mm256_cmpgt_epi32 (b, a), _mm256_set1_epi32 (-1));
        }

        // The baseline's frame read (ReadFrame.h) for eight consecutive fetches, lane by lane.
        template <int channelMode, bool forward>
        void readEightFrames (const CircularBuffer::JournalView& journal, const int* times, int wrapped, int tailPhase,
                                       float balance, float* out) noexcept
        {
            const CircularBuffer::ReadView& v = journal.now;
            const __m256i zero = _mm256_setzero_si256();
            const __m256i lengthV = _mm256_set1_epi32 (v.length);
            const __m256i crossfadeV = _mm256_set1_epi32 (v.crossfadeLength);
            const __m256i lane = _mm256_set_epi32 (7, 6, 5, 4, 3, 2, 1, 0);

            __m256i p, phase;
            if constexpr (forward)
            {
                p = _mm256_add_epi32 (_mm256_set1_epi32 (wrapped), lane);
                const __m256i past = atLeast (p, lengthV);
                p = _mm256_sub_epi32 (p, _mm256_and_si256 (past, lengthV));
                phase = _mm256_add_epi32 (_mm256_set1_epi32 (tailPhase), lane);
                phase = _mm256_sub_epi32 (phase, _mm256_and_si256 (atLeast (phase, crossfadeV), crossfadeV));
                phase = _mm256_blendv_epi8 (phase, p, past);
            }
            else
            {
                p = _mm256_sub_epi32 (_mm256_set1_epi32 (wrapped), lane);
                const __m256i past = _mm256_cmpgt_epi32 (zero, p);
                p = _mm256_add_epi32 (p, _mm256_and_si256 (past, lengthV));
                phase = _mm256_sub_epi32 (_mm256_set1_epi32 (tailPhase), lane);
                const __m256i beyond = _mm256_sub_epi32 (_mm256_set1_epi32 (v.lastTailPhase), _mm256_sub_epi32 (lane, _mm256_set1_epi32 (wrapped + 1)));
                phase = _mm256_blendv_epi8 (phase, beyond, past);
                phase = _mm256_add_epi32 (phase, _mm256_and_si256 (_mm256_cmpgt_epi32 (zero, phase), crossfadeV));
            }

            const __m256i e = _mm256_loadu_si256 (reinterpret_cast<const __m256i*> (times));
            __m256i d = _mm256_sub_epi32 (_mm256_add_epi32 (_mm256_set1_epi32 (journal.startPosition), e), p);
            const __m256i ahead = _mm256_cmpgt_epi32 (zero, d);
            d = _mm256_add_epi32 (d, _mm256_and_si256 (ahead, lengthV));
            __m256i tail = _mm256_add_epi32 (_mm256_set1_epi32 (v.lapTailPhase), phase);
            tail = _mm256_sub_epi32 (tail, _mm256_and_si256 (ahead, _mm256_set1_epi32 (v.lengthTailPhase)));
            tail = _mm256_add_epi32 (tail, _mm256_and_si256 (_mm256_cmpgt_epi32 (zero, tail), crossfadeV));
            tail = _mm256_sub_epi32 (tail, _mm256_and_si256 (atLeast (tail, crossfadeV), crossfadeV));
            const __m256 f = _mm256_i32gather_ps (v.fadeGains, _mm256_min_epi32 (d, crossfadeV), 4);

            const __m256i jr = _mm256_sub_epi32 (p, _mm256_set1_epi32 (journal.startPosition));
            const __m256 oldLoop = _mm256_castsi256_ps (_mm256_and_si256 (atLeast (jr, e), _mm256_cmpgt_epi32 (_mm256_set1_epi32 (journal.writes), jr)));

            const bool positionsRun = forward ? wrapped <= v.length - 8 : wrapped >= 7;
            const int firstTail = _mm256_cvtsi256_si32 (tail);
            const __m256i tailRun = forward ? _mm256_add_epi32 (_mm256_set1_epi32 (firstTail), lane)
                                            : _mm256_sub_epi32 (_mm256_set1_epi32 (firstTail), lane);
            const bool tailsRun = _mm256_movemask_epi8 (_mm256_cmpeq_epi32 (tail, tailRun)) == -1;
            const int lowPosition = forward ? wrapped : wrapped - 7;
            const int lowTail = forward ? firstTail : firstTail - 7;
            const __m256i stamps = _mm256_castps_si256 (runOrGatherEight<forward> (tailsRun, reinterpret_cast<const float*> (journal.tailStamp),
                                                                                   lowTail, tail));
            const __m256 oldTail = _mm256_castsi256_ps (atLeast (stamps, _mm256_add_epi32 (_mm256_set1_epi32 (journal.stampBase), e)));
            const bool anyOldTail = _mm256_movemask_ps (oldTail) != 0;
            const bool anyOldLoop = _mm256_movemask_ps (oldLoop) != 0;
            __m256 a = runOrGatherEight<forward> (tailsRun, v.channel0 + v.maxLength, lowTail, tail);
            __m256 x = runOrGatherEight<forward> (positionsRun, v.channel0, lowPosition, p);
            if (anyOldTail)
                a = _mm256_mask_i32gather_ps (a, journal.oldTail0, tail, oldTail, 4);
            if (anyOldLoop)
                x = _mm256_mask_i32gather_ps (x, journal.oldLoop0, jr, oldLoop, 4);
            __m256 mono = _mm256_add_ps (a, _mm256_mul_ps (_mm256_sub_ps (x, a), f));
            if constexpr (channelMode == 2)
            {
                __m256 b = runOrGatherEight<forward> (tailsRun, v.channel1 + v.maxLength, lowTail, tail);
                __m256 y = runOrGatherEight<forward> (positionsRun, v.channel1, lowPosition, p);
                if (anyOldTail)
                    b = _mm256_mask_i32gather_ps (b, journal.oldTail1, tail, oldTail, 4);
                if (anyOldLoop)
                    y = _mm256_mask_i32gather_ps (y, journal.oldLoop1, jr, oldLoop, 4);
                const __m256 right = _mm256_add_ps (b, _mm256_mul_ps (_mm256_sub_ps (y, b), f));
                mono = _mm256_add_ps (mono, _mm256_mul_ps (_mm256_sub_ps (right, mono), _mm256_set1_ps (balance)));
            }
            _mm256_storeu_ps (out, mono);
        }
    }

    namespace avx2
    {
        // Eight frames at a time.
        template <int channels, bool forward, bool stamped>
        int readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
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

            const __m256 balanceV = _mm256_set1_ps (balance);
            const __m256i baseV = _mm256_set1_epi32 (base - 1);
            const __m256i reverse = _mm256_set_epi32 (0, 1, 2, 3, 4, 5, 6, 7);
            int i = 0;
            for (; i + 8 <= frames; i += 8)
            {
                const int wi = forward ? firstFrame + i : firstFrame - i - 7;
                const int ti = forward ? firstTailSlot + i : firstTailSlot - i - 7;
                __m256 cur0 = _mm256_loadu_ps (t0 + ti);
                __m256 new0 = _mm256_loadu_ps (x0 + wi);
                __m256 old0 = cur0, cur1 = cur0, old1 = cur0, new1 = new0;
                __m256i st = _mm256_setzero_si256();
                if constexpr (stamped)
                {
                    st = _mm256_loadu_si256 (reinterpret_cast<const __m256i*> (stamps + ti));
                    old0 = _mm256_loadu_ps (o0 + ti);
                }
                if constexpr (channels == 2)
                {
                    cur1 = _mm256_loadu_ps (t1 + ti);
                    new1 = _mm256_loadu_ps (x1 + wi);
                    if constexpr (stamped)
                        old1 = _mm256_loadu_ps (o1 + ti);
                }
                // Backwards, lanes stay in memory order, which is the reverse of fetch order; every step is
                // lane by lane, so only the fetch times going in and the result going out are reversed.
                __m256 a = cur0, b = cur1;
                if constexpr (stamped)
                {
                    __m256i due = _mm256_add_epi32 (_mm256_loadu_si256 (reinterpret_cast<const __m256i*> (fetchTimes + i)), baseV);
                    if constexpr (! forward)
                        due = _mm256_permutevar8x32_epi32 (due, reverse);
                    const __m256 useOld = _mm256_castsi256_ps (_mm256_cmpgt_epi32 (st, due));
                    a = _mm256_blendv_ps (cur0, old0, useOld);
                    b = _mm256_blendv_ps (cur1, old1, useOld);
                }
                __m256 mono = _mm256_add_ps (a, _mm256_sub_ps (new0, a));
                if constexpr (channels == 2)
                {
                    const __m256 right = _mm256_add_ps (b, _mm256_sub_ps (new1, b));
                    mono = _mm256_add_ps (mono, _mm256_mul_ps (_mm256_sub_ps (right, mono), balanceV));
                }
                if constexpr (! forward)
                    mono = _mm256_permutevar8x32_ps (mono, reverse);
                _mm256_storeu_ps (samples + i, mono);
            }

            return i;
        }

        // Each block of eight frames wraps the loop and the tail phase at most once.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept
        {
            const int length = journal.now.length;
            int i = 0;
            for (; i + 8 <= frames; i += 8)
            {
                readEightFrames<channels, forward> (journal, fetchTimes + i, wrapped, tailPhase, balance, samples + i);
                wrapped = forward ? (wrapped + 8 >= length ? wrapped + 8 - length : wrapped + 8)
                                  : (wrapped - 8 < 0 ? wrapped - 8 + length : wrapped - 8);
                tailPhase = wrapped % journal.now.crossfadeLength;
            }
            return i;
        }

        // Four steps at a time, the last few in integers.
        void walkPhases (const PhaseWalk& walk, int steps, int* windowStarts, double* phases) noexcept
        {
            __m256d x = _mm256_add_pd (_mm256_set1_pd (walk.phase),
                                       _mm256_mul_pd (_mm256_set_pd (3.0, 2.0, 1.0, 0.0), _mm256_set1_pd (walk.speed)));
            const __m256d stride = _mm256_set1_pd (4.0 * walk.speed);
            int s = 0;
            for (; s + 4 <= steps; s += 4)
            {
                const __m256d whole = _mm256_floor_pd (x);
                _mm256_storeu_pd (phases + s, _mm256_sub_pd (x, whole));
                _mm_storeu_si128 (reinterpret_cast<__m128i*> (windowStarts + s), _mm256_cvttpd_epi32 (whole));
                x = _mm256_add_pd (x, stride);
            }
            walkPhasesLoop (walk, s, steps, windowStarts, phases);
        }

        // Blocks of sixteen and eight steps, the last few one by one.
        void interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps, float* out) noexcept
        {
            // Sixteen steps at a time, as four independent Horner chains, so that their latencies overlap.
            int s = 0;
            for (; s + 16 <= steps; s += 16)
            {
                const WideCoefficients a = wideCoefficients (sequence, windowStarts + s);
                const WideCoefficients b = wideCoefficients (sequence, windowStarts + s + 8);
                const __m256d t0 = _mm256_loadu_pd (phases + s);
                const __m256d t1 = _mm256_loadu_pd (phases + s + 4);
                const __m256d t2 = _mm256_loadu_pd (phases + s + 8);
                const __m256d t3 = _mm256_loadu_pd (phases + s + 12);

                __m256d v0 = _mm256_add_pd (_mm256_mul_pd (low (a.c3), t0), low (a.c2));
                __m256d v1 = _mm256_add_pd (_mm256_mul_pd (high (a.c3), t1), high (a.c2));
                __m256d v2 = _mm256_add_pd (_mm256_mul_pd (low (b.c3), t2), low (b.c2));
                __m256d v3 = _mm256_add_pd (_mm256_mul_pd (high (b.c3), t3), high (b.c2));
                v0 = _mm256_add_pd (_mm256_mul_pd (v0, t0), low (a.c1));
                v1 = _mm256_add_pd (_mm256_mul_pd (v1, t1), high (a.c1));
                v2 = _mm256_add_pd (_mm256_mul_pd (v2, t2), low (b.c1));
                v3 = _mm256_add_pd (_mm256_mul_pd (v3, t3), high (b.c1));
                v0 = _mm256_add_pd (_mm256_mul_pd (v0, t0), low (a.y1));
                v1 = _mm256_add_pd (_mm256_mul_pd (v1, t1), high (a.y1));
                v2 = _mm256_add_pd (_mm256_mul_pd (v2, t2), low (b.y1));
                v3 = _mm256_add_pd (_mm256_mul_pd (v3, t3), high (b.y1));
                _mm_storeu_ps (out + s, _mm256_cvtpd_ps (v0));
                _mm_storeu_ps (out + s + 4, _mm256_cvtpd_ps (v1));
                _mm_storeu_ps (out + s + 8, _mm256_cvtpd_ps (v2));
                _mm_storeu_ps (out + s + 12, _mm256_cvtpd_ps (v3));
            }
            for (; s + 8 <= steps; s += 8)
            {
                const WideCoefficients a = wideCoefficients (sequence, windowStarts + s);
                _mm_storeu_ps (out + s, wideCubic (_mm256_castps256_ps128 (a.c3), _mm256_castps256_ps128 (a.c2),
                                                   _mm256_castps256_ps128 (a.c1), _mm256_castps256_ps128 (a.y1),
                                                   _mm256_loadu_pd (phases + s)));
                _mm_storeu_ps (out + s + 4, wideCubic (_mm256_extractf128_ps (a.c3, 1), _mm256_extractf128_ps (a.c2, 1),
                                                       _mm256_extractf128_ps (a.c1, 1), _mm256_extractf128_ps (a.y1, 1),
                                                       _mm256_loadu_pd (phases + s + 4)));
            }
            interpolateStepsLoop (sequence, windowStarts, phases, s, steps, out);
        }

        // Eight windows' coefficients are worked out once, and every step whose window is among them
        // picks its own before widening. The loads may run past the last window into the sequence's spare
        // room, whose samples no step picks.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                                   float* out) noexcept
        {
            int s = 0;
            int base = 0;
            bool haveWindows = false;
            WideCoefficients c {};
            for (; s + 8 <= steps; s += 8)
            {
                const int first = windowStarts[s];
                const int last = windowStarts[s + 7];
                if (last - first > 7)
                    break;
                if (! haveWindows || first < base || last - base > 7)
                {
                    // Window k windowStarts at sample base + k.
                    base = first;
                    haveWindows = true;
                    c = coefficientsOf (_mm256_loadu_ps (sequence + base), _mm256_loadu_ps (sequence + base + 1),
                                        _mm256_loadu_ps (sequence + base + 2), _mm256_loadu_ps (sequence + base + 3));
                }

                const __m256i window = _mm256_sub_epi32 (_mm256_loadu_si256 (reinterpret_cast<const __m256i*> (windowStarts + s)),
                                                         _mm256_set1_epi32 (base));
                const __m256 p3 = _mm256_permutevar8x32_ps (c.c3, window);
                const __m256 p2 = _mm256_permutevar8x32_ps (c.c2, window);
                const __m256 p1 = _mm256_permutevar8x32_ps (c.c1, window);
                const __m256 p0 = _mm256_permutevar8x32_ps (c.y1, window);
                _mm_storeu_ps (out + s, wideCubic (_mm256_castps256_ps128 (p3), _mm256_castps256_ps128 (p2),
                                                   _mm256_castps256_ps128 (p1), _mm256_castps256_ps128 (p0),
                                                   _mm256_loadu_pd (phases + s)));
                _mm_storeu_ps (out + s + 4, wideCubic (_mm256_extractf128_ps (p3, 1), _mm256_extractf128_ps (p2, 1),
                                                       _mm256_extractf128_ps (p1, 1), _mm256_extractf128_ps (p0, 1),
                                                       _mm256_loadu_pd (phases + s + 4)));
            }
            return s;
        }

        // Runs of plain windows are copied, anything else is worked out in full, a few blocks at a time.
        void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept
        {
            for (int s = 0; s < steps;)
            {
                s += copyPlainWindows (windows + s, steps - s, out + s);
                const int end = s + 32 < steps ? s + 32 : steps;
                interpolateUnitStepsLoop (windows + s, end - s, out + s);
                s = end;
            }
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

        // Eight grains side by side: the running sums are latency bound, so twice the baseline's lanes
        // halve their cost.
        void windowPositions (const float* starts, const float* increments, int numSamples, float* const* rows) noexcept
        {
            // Local copies, so that the stores through them cannot make the compiler reload them.
            float* const positions[8] { rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7] };
            __m256 t = _mm256_loadu_ps (starts);
            const __m256 step = _mm256_loadu_ps (increments);
            for (int k = 0; k < numSamples; k += 8)
            {
                const __m256 p0 = t;
                const __m256 p1 = _mm256_add_ps (p0, step);
                const __m256 p2 = _mm256_add_ps (p1, step);
                const __m256 p3 = _mm256_add_ps (p2, step);
                const __m256 p4 = _mm256_add_ps (p3, step);
                const __m256 p5 = _mm256_add_ps (p4, step);
                const __m256 p6 = _mm256_add_ps (p5, step);
                const __m256 p7 = _mm256_add_ps (p6, step);
                t = _mm256_add_ps (p7, step);

                const __m256 a0 = _mm256_unpacklo_ps (p0, p1);
                const __m256 a1 = _mm256_unpackhi_ps (p0, p1);
                const __m256 a2 = _mm256_unpacklo_ps (p2, p3);
                const __m256 a3 = _mm256_unpackhi_ps (p2, p3);
                const __m256 a4 = _mm256_unpacklo_ps (p4, p5);
                const __m256 a5 = _mm256_unpackhi_ps (p4, p5);
                const __m256 a6 = _mm256_unpacklo_ps (p6, p7);
                const __m256 a7 = _mm256_unpackhi_ps (p6, p7);
                const __m256 b0 = _mm256_shuffle_ps (a0, a2, _MM_SHUFFLE (1, 0, 1, 0));
                const __m256 b1 = _mm256_shuffle_ps (a0, a2, _MM_SHUFFLE (3, 2, 3, 2));
                const __m256 b2 = _mm256_shuffle_ps (a1, a3, _MM_SHUFFLE (1, 0, 1, 0));
                const __m256 b3 = _mm256_shuffle_ps (a1, a3, _MM_SHUFFLE (3, 2, 3, 2));
                const __m256 b4 = _mm256_shuffle_ps (a4, a6, _MM_SHUFFLE (1, 0, 1, 0));
                const __m256 b5 = _mm256_shuffle_ps (a4, a6, _MM_SHUFFLE (3, 2, 3, 2));
                const __m256 b6 = _mm256_shuffle_ps (a5, a7, _MM_SHUFFLE (1, 0, 1, 0));
                const __m256 b7 = _mm256_shuffle_ps (a5, a7, _MM_SHUFFLE (3, 2, 3, 2));
                // Row r of each 128-bit half now holds lane r (or r + 4) at four samples.
                _mm256_storeu_ps (positions[0] + k, _mm256_permute2f128_ps (b0, b4, 0x20));
                _mm256_storeu_ps (positions[1] + k, _mm256_permute2f128_ps (b1, b5, 0x20));
                _mm256_storeu_ps (positions[2] + k, _mm256_permute2f128_ps (b2, b6, 0x20));
                _mm256_storeu_ps (positions[3] + k, _mm256_permute2f128_ps (b3, b7, 0x20));
                _mm256_storeu_ps (positions[4] + k, _mm256_permute2f128_ps (b0, b4, 0x31));
                _mm256_storeu_ps (positions[5] + k, _mm256_permute2f128_ps (b1, b5, 0x31));
                _mm256_storeu_ps (positions[6] + k, _mm256_permute2f128_ps (b2, b6, 0x31));
                _mm256_storeu_ps (positions[7] + k, _mm256_permute2f128_ps (b3, b7, 0x31));
            }
        }

        // Eight samples at a time, the last few one by one.
        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept
        {
            const __m256 zero = _mm256_setzero_ps();
            const __m256 one = _mm256_set1_ps (1.0f);
            const __m256 pi = _mm256_set1_ps (3.1415927f);
            const __m256 sign = _mm256_set1_ps (-0.0f);
            const __m256 leftPans = _mm256_set1_ps (leftPan);
            const __m256 rightPans = _mm256_set1_ps (rightPan);
            const __m256 gains = _mm256_set1_ps (gain);
            int k = 0;
            for (; k + 8 <= numSamples; k += 8)
            {
                const __m256 t = _mm256_min_ps (one, _mm256_max_ps (zero, _mm256_loadu_ps (positions + k)));
                const __m256 x = _mm256_mul_ps (pi, t);
                const __m256 x2 = _mm256_mul_ps (x, x);
                __m256 num = _mm256_add_ps (_mm256_set1_ps (-52785432.0f), _mm256_mul_ps (x2, _mm256_set1_ps (479249.0f)));
                num = _mm256_add_ps (_mm256_set1_ps (1640635920.0f), _mm256_mul_ps (x2, num));
                num = _mm256_add_ps (_mm256_set1_ps (-11511339840.0f), _mm256_mul_ps (x2, num));
                num = _mm256_mul_ps (_mm256_xor_ps (x, sign), num);
                __m256 den = _mm256_add_ps (_mm256_set1_ps (3177720.0f), _mm256_mul_ps (x2, _mm256_set1_ps (18361.0f)));
                den = _mm256_add_ps (_mm256_set1_ps (277920720.0f), _mm256_mul_ps (x2, den));
                den = _mm256_add_ps (_mm256_set1_ps (11511339840.0f), _mm256_mul_ps (x2, den));
                const __m256 weighted = _mm256_mul_ps (_mm256_loadu_ps (samples + k), _mm256_div_ps (num, den));
                _mm256_storeu_ps (left + k, _mm256_add_ps (_mm256_loadu_ps (left + k), _mm256_mul_ps (_mm256_mul_ps (weighted, leftPans), gains)));
                _mm256_storeu_ps (right + k, _mm256_add_ps (_mm256_loadu_ps (right + k), _mm256_mul_ps (_mm256_mul_ps (weighted, rightPans), gains)));
            }
            mixSineWindowedLoop (left, right, samples, positions, k, numSamples, leftPan, rightPan, gain);
        }

        template int readFrameRun<1, true, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<1, true, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<1, false, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<1, false, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<2, true, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<2, true, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<2, false, true> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readFrameRun<2, false, false> (const FrameSources&, int, int, int, const int*, float, float*) noexcept;
        template int readJournaledFrames<1, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<1, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<2, true> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
        template int readJournaledFrames<2, false> (const CircularBuffer::JournalView&, const int*, int, float, int&, int&, float*) noexcept;
    }
}
