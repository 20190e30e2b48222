#pragma once

// Loops in plain C++ that are built once per instruction set: the baseline kernels and the AVX2 ones
// each compile their own copy, whole or as the tail after their last full vector. Everything here has
// internal linkage and is always inlined, so no copy built for AVX2 can stand in for the baseline's at
// link time.

#if defined(__GNUC__)
 #define QVL_SCALAR_LOOP static inline __attribute__ ((always_inline))
#else
 #define QVL_SCALAR_LOOP static inline
#endif

#include "engine/kernels/GrainKernels.h"

namespace qvl::kernels
{
    // Steps firstStep .. steps - 1 of walk, in integers.
    QVL_SCALAR_LOOP void walkPhasesLoop (const PhaseWalk& walk, int firstStep, int steps, int* windowStarts, double* phases) noexcept
    {
        const std::int64_t fraction = (std::int64_t (1) << walk.bits) - 1;
        const double unit = 1.0 / static_cast<double> (std::int64_t (1) << walk.bits);
        int s = firstStep;
        for (std::int64_t u = walk.origin + walk.stride * s; s < steps; ++s, u += walk.stride)
        {
            windowStarts[s] = static_cast<int> (u >> walk.bits);
            phases[s] = static_cast<double> (u & fraction) * unit;
        }
    }

    // The cubic through window[0 .. 3] at phase t between window[1] and window[2]: float coefficients, a
    // double Horner chain, rounded to float.
    QVL_SCALAR_LOOP float interpolateWindow (const float* window, double t) noexcept
    {
        const float c1 = 0.5f * window[2] - 0.5f * window[0];
        const float c2 = window[0] - 2.5f * window[1] + 2.0f * window[2] - 0.5f * window[3];
        const float c3 = 1.5f * (window[1] - window[2]) + 0.5f * (window[3] - window[0]);
        return static_cast<float> (((c3 * t + c2) * t + c1) * t + window[1]);
    }

    QVL_SCALAR_LOOP void interpolateStepsLoop (const float* sequence, const int* windowStarts, const double* phases, int firstStep,
                                               int steps, float* out) noexcept
    {
        for (int s = firstStep; s < steps; ++s)
            out[s] = interpolateWindow (sequence + windowStarts[s], phases[s]);
    }

    // The sine window at a position, held at 0 below 0 and at 1 above 1 (a NaN position stays NaN): the
    // rational approximation of sinApprox (GrainPool.h), repeated here so that no AVX2 build of it can
    // replace the one the rest of the plug-in calls.
    QVL_SCALAR_LOOP float sineWindow (float position) noexcept
    {
        float t = position < 0.0f ? 0.0f : position;
        t = 1.0f < t ? 1.0f : t;
        const float x = 3.1415927f * t;
        const float x2 = x * x;
        const float numerator = -x * (-11511339840.0f + x2 * (1640635920.0f + x2 * (-52785432.0f + x2 * 479249.0f)));
        const float denominator = 11511339840.0f + x2 * (277920720.0f + x2 * (3177720.0f + x2 * 18361.0f));
        return numerator / denominator;
    }

    QVL_SCALAR_LOOP void mixSineWindowedLoop (float* left, float* right, const float* samples, const float* positions, int firstSample,
                                              int numSamples, float leftPan, float rightPan, float gain) noexcept
    {
        for (int k = firstSample; k < numSamples; ++k)
        {
            const float weighted = samples[k] * sineWindow (positions[k]);
            left[k] += weighted * leftPan * gain;
            right[k] += weighted * rightPan * gain;
        }
    }

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
