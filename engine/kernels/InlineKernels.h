#pragma once

// Baseline kernels too small to be worth a call, inlined where they are used: the reader's step of four
// grains at once (grains of different buffers are stepped sample by sample) and the four-step block of
// baseline::interpolateSteps. Baseline code only; internal linkage, always inlined.

#include "engine/kernels/ScalarLoops.h"

#if defined(__SSE2__)
 #include <emmintrin.h>
 #include <xmmintrin.h>
#endif

#if defined(__GNUC__)
 #define QVL_INLINE_KERNEL static inline __attribute__ ((always_inline))
#else
 #define QVL_INLINE_KERNEL static inline
#endif

namespace qvl::kernels
{
   #if defined(__SSE2__)
    // The cubic of four windows, window k loaded into yk oldest sample first, at phases tLow (windows 0
    // and 1) and tHigh (windows 2 and 3): interpolateWindow lane by lane.
    QVL_INLINE_KERNEL __m128 cubicFour (__m128 y0, __m128 y1, __m128 y2, __m128 y3, __m128d tLow, __m128d tHigh) noexcept
    {
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

        const __m128d low = cubic (c3, c2, c1, y1, tLow);
        const __m128d high = cubic (upper (c3), upper (c2), upper (c1), upper (y1), tHigh);
        return _mm_movelh_ps (_mm_cvtpd_ps (low), _mm_cvtpd_ps (high));
    }
   #endif

    // One step each of four readers: out[k] is windows[k] interpolated at phases[k].
    QVL_INLINE_KERNEL void interpolateFour (const float* const* windows, const double* phases, float* out) noexcept
    {
       #if defined(__SSE2__)
        _mm_storeu_ps (out, cubicFour (_mm_loadu_ps (windows[0]), _mm_loadu_ps (windows[1]), _mm_loadu_ps (windows[2]),
                                       _mm_loadu_ps (windows[3]), _mm_set_pd (phases[1], phases[0]),
                                       _mm_set_pd (phases[3], phases[2])));
       #else
        for (int k = 0; k < 4; ++k)
            out[k] = interpolateWindow (windows[k], phases[k]);
       #endif
    }
}

#undef QVL_INLINE_KERNEL
