#pragma once

// Loops in plain C++ that are built once per instruction set: the baseline kernels and the AVX2 ones
// each compile their own copy, which the compiler vectorises for that file's instructions. Everything
// here has internal linkage and is always inlined, so no copy built for AVX2 can stand in for the
// baseline's at link time.

#if defined(__GNUC__)
 #define QVL_SCALAR_LOOP static inline __attribute__ ((always_inline))
#else
 #define QVL_SCALAR_LOOP static inline
#endif

namespace qvl::kernels
{
    // Steps at phase 0 reading consecutive windows (a reader at exactly one sample per step). With t = 0
    // every product in the cubic is a signed zero or NaN and every sum is exact, so single precision
    // gives the same bits as the double evaluation.
    QVL_SCALAR_LOOP void interpolateUnitStepsLoop (const float* __restrict windows, int steps, float* __restrict out) noexcept
    {
        for (int s = 0; s < steps; ++s)
        {
            const float y0 = windows[s], y1 = windows[s + 1], y2 = windows[s + 2], y3 = windows[s + 3];
            const float c1 = 0.5f * y2 - 0.5f * y0;
            const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
            const float c3 = 1.5f * (y1 - y2) + 0.5f * (y3 - y0);
            out[s] = ((c3 * 0.0f + c2) * 0.0f + c1) * 0.0f + y1;
        }
    }

    // An envelope segment applied and mixed in one pass: each sample is weighted exactly as it would be in
    // place, then panned and added.
    QVL_SCALAR_LOOP void mixEnvelopeRampLoop (float* __restrict left, float* __restrict right, const float* __restrict samples,
                                              int numSamples, float startValue, float delta, float leftPan, float rightPan,
                                              float gain) noexcept
    {
        const auto nf = static_cast<float> (numSamples);
        for (int j = 0; j < numSamples; ++j)
        {
            const float weighted = samples[j] * (startValue + (static_cast<float> (j) / nf) * delta);
            left[j] += weighted * leftPan * gain;
            right[j] += weighted * rightPan * gain;
        }
    }

    QVL_SCALAR_LOOP void mixEnvelopeLevelLoop (float* __restrict left, float* __restrict right, const float* __restrict samples,
                                               int numSamples, float level, float leftPan, float rightPan, float gain) noexcept
    {
        for (int j = 0; j < numSamples; ++j)
        {
            const float weighted = samples[j] * level;
            left[j] += weighted * leftPan * gain;
            right[j] += weighted * rightPan * gain;
        }
    }
}

#undef QVL_SCALAR_LOOP
