#pragma once

// The run-time choice between the instruction sets' kernels (GrainKernels.h): each function here runs
// the widest kernel in use and finishes what it left with narrower ones. Only code compiled for the
// baseline includes this; the check made here is what keeps the wider kernels from running on a
// processor without them.

#include "engine/kernels/GrainKernels.h"

namespace qvl::kernels
{
    enum class VectorSet
    {
        baseline, // SSE2 on x86-64, plain C++ elsewhere
        avx2,
        avx512    // F, VL and DQ, on top of AVX2
    };

    // The widest set this processor has and the kernels were built for.
    VectorSet supportedVectorSet() noexcept;

    // The set in use: the supported one, unless lowered (for tests and benchmarks; not thread-safe).
    // Asking for more than is supported gives what is.
    void useVectorSet (VectorSet set) noexcept;
    extern VectorSet activeVectorSet;

   #if defined(QVL_VECTOR_KERNELS)
    inline bool avx2InUse() noexcept { return activeVectorSet >= VectorSet::avx2; }
    inline bool avx512InUse() noexcept { return activeVectorSet == VectorSet::avx512; }
   #endif

    template <int channels, bool forward, bool stamped>
    void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
                       float balance, float* samples) noexcept
    {
        int done = 0;
       #if defined(QVL_VECTOR_KERNELS)
        if constexpr (! stamped)
        {
            if (avx512InUse())
            {
                avx512::readFrameRun<channels, forward> (sources, firstFrame, firstTailSlot, frames, balance, samples);
                return;
            }
        }
        if (avx2InUse())
        {
            done = avx2::readFrameRun<channels, forward, stamped> (sources, firstFrame, firstTailSlot, frames, fetchTimes,
                                                                 balance, samples);
            if (done == frames)
                return;
        }
       #endif
        const int to = forward ? done : -done;
        baseline::readFrameRun<channels, forward, stamped> (sources, firstFrame + to, firstTailSlot + to, frames - done,
                                                            stamped ? fetchTimes + done : fetchTimes, balance, samples + done);
    }

    template <int channels, bool forward>
    void readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames, float balance,
                              int& wrapped, int& tailPhase, float* samples) noexcept
    {
        int done = 0;
       #if defined(QVL_VECTOR_KERNELS)
        // A block of frames wraps the loop and the tail phase at most once while both are this long.
        if (journal.now.length >= 16 && journal.now.crossfadeLength >= 16)
        {
            if (avx512InUse())
                done = avx512::readJournaledFrames<channels, forward> (journal, fetchTimes, frames, balance, wrapped, tailPhase, samples);
            else if (avx2InUse())
                done = avx2::readJournaledFrames<channels, forward> (journal, fetchTimes, frames, balance, wrapped, tailPhase, samples);
        }
       #endif
        if (done < frames)
            baseline::readJournaledFrames<channels, forward> (journal, fetchTimes + done, frames - done, balance, wrapped,
                                                              tailPhase, samples + done);
    }

    // exactInDoubles: every phase + s speed of the walk is exact in double precision, which the vector
    // walks need; the baseline's integer walk is exact regardless.
    inline void walkPhases (const PhaseWalk& walk, bool exactInDoubles, int steps, int* windowStarts, double* phases) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (exactInDoubles && avx512InUse())
            return avx512::walkPhases (walk, steps, windowStarts, phases);
        if (exactInDoubles && avx2InUse())
            return avx2::walkPhases (walk, steps, windowStarts, phases);
       #else
        (void) exactInDoubles;
       #endif
        baseline::walkPhases (walk, 0, steps, windowStarts, phases);
    }

    // speed is the reader's, in frames per step; lastSample the last sample of the sequence.
    inline void interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps, float* out,
                                  double speed, int lastSample) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (avx2InUse())
        {
            int done = 0;
            if (avx512InUse())
            {
                // Sixteen windows serve two blocks of sixteen steps only at half a sample per step or
                // slower; faster, picking from them costs more than working out every step's own window.
                if (speed <= 0.5)
                    done = avx512::interpolateSharedWindows (sequence, windowStarts, phases, steps, lastSample, out);
                done += avx512::interpolateSteps (sequence, windowStarts + done, phases + done, steps - done, out + done);
            }
            else if (speed < 1.0)
            {
                // With AVX2 alone, picking before widening is cheaper than gathering windows whenever
                // eight steps fit in eight windows.
                done = avx2::interpolateSharedWindows (sequence, windowStarts, phases, steps, out);
            }
            if (done < steps)
                avx2::interpolateSteps (sequence, windowStarts + done, phases + done, steps - done, out + done);
            return;
        }
       #else
        (void) speed;
        (void) lastSample;
       #endif
        baseline::interpolateSteps (sequence, windowStarts, phases, steps, out);
    }

    inline void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (avx2InUse())
        {
            avx2::interpolateUnitSteps (windows, steps, out);
            return;
        }
       #endif
        baseline::interpolateUnitSteps (windows, steps, out);
    }

    inline void mixEnvelopeRamp (float* left, float* right, const float* samples, int numSamples, float startValue,
                                 float delta, float leftPan, float rightPan, float gain) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (avx2InUse())
        {
            avx2::mixEnvelopeRamp (left, right, samples, numSamples, startValue, delta, leftPan, rightPan, gain);
            return;
        }
       #endif
        baseline::mixEnvelopeRamp (left, right, samples, numSamples, startValue, delta, leftPan, rightPan, gain);
    }

    inline void mixEnvelopeLevel (float* left, float* right, const float* samples, int numSamples, float level,
                                  float leftPan, float rightPan, float gain) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (avx2InUse())
        {
            avx2::mixEnvelopeLevel (left, right, samples, numSamples, level, leftPan, rightPan, gain);
            return;
        }
       #endif
        baseline::mixEnvelopeLevel (left, right, samples, numSamples, level, leftPan, rightPan, gain);
    }

    // The sine window positions of up to eight grains, side by side in groups as wide as the kernel in
    // use: rows[g][k] for k below numSamples[g], and up to the longest of its group rounded up to the
    // group's width. starts, increments and rows hold eight entries each, zeros past grains (whose rows
    // are written but read by no one).
    inline void windowPositions (const float* starts, const float* increments, const int* numSamples, int grains,
                                 float* const* rows) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        // The running sums are latency bound: eight lanes halve their cost.
        const int width = avx2InUse() ? 8 : 4;
       #else
        const int width = 4;
       #endif
        for (int first = 0; first < grains; first += width)
        {
            int longest = 0;
            for (int g = first; g < first + width && g < grains; ++g)
                longest = numSamples[g] > longest ? numSamples[g] : longest;
           #if defined(QVL_VECTOR_KERNELS)
            if (width == 8)
            {
                avx2::windowPositions (starts + first, increments + first, longest, rows + first);
                continue;
            }
           #endif
            baseline::windowPositions (starts + first, increments + first, longest, rows + first);
        }
    }

    inline void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                                 float leftPan, float rightPan, float gain) noexcept
    {
       #if defined(QVL_VECTOR_KERNELS)
        if (avx512InUse())
            return avx512::mixSineWindowed (left, right, samples, positions, numSamples, leftPan, rightPan, gain);
        if (avx2InUse())
            return avx2::mixSineWindowed (left, right, samples, positions, numSamples, leftPan, rightPan, gain);
       #endif
        baseline::mixSineWindowed (left, right, samples, positions, numSamples, leftPan, rightPan, gain);
    }
}
