#pragma once

// The grain pool's inner loops, once per instruction set. Every kernel gives the bits of the baseline
// one, lane by lane: the same operations in the same order, and never a fused multiply-add.
//
// A chunk of one grain goes through them in this order: the reader's phase walk (which window of
// fetched frames each output step interpolates, at which phase), the frame reads that fill that
// sequence of fetched samples, the cubic interpolation of every step, and the envelope and pan mix into
// the stream's outputs.
//
// avx2 and avx512 (F, VL and DQ) are compiled for those instruction sets in files of their own and
// are called only through Dispatch.h, after the processor was found to have them. A kernel that
// returns a count did that many leading items; the caller finishes the rest with a narrower one.

#include "engine/CircularBuffer.h"

namespace qvl::kernels
{
    // Where a run of frame reads finds its samples: the loop, the tail slots (as they are now, or as they
    // were before this chunk's writes), and for stamped runs the replaced tail samples with their write
    // stamps. The second channel's pointers repeat the first's for a mono buffer.
    struct FrameSources
    {
        const float* loop0 = nullptr;
        const float* loop1 = nullptr;
        const float* tail0 = nullptr;
        const float* tail1 = nullptr;
        const float* replacedTail0 = nullptr;
        const float* replacedTail1 = nullptr;
        const int* tailStamps = nullptr;
        int stampBase = 0;
    };

    namespace avx2
    {
        // Frames firstFrame on (down from it when not forward) with tail slots from firstTailSlot, read as
        // mono samples in fetch order: a run of loop positions at least a crossfade behind the write head
        // and not written in this chunk. Stamped, fetch i reads a tail slot as it stood before this
        // chunk's writes where its stamp says the write came after fetchTimes[i]; otherwise every tail slot
        // reads as it stands in sources. Whole blocks of eight; returns how many frames it read.
        template <int channels, bool forward, bool stamped>
        int readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
                          float balance, float* samples) noexcept;

        // avx512::readJournaledFrames in blocks of eight.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept;

        // avx512::walkPhases four steps at a time.
        int walkPhases (double phase, double speed, int steps, int* windowStarts, double* phases) noexcept;

        // avx512::interpolateSteps in blocks of eight, without the masked end.
        int interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                              float* out) noexcept;

        // interpolateSteps for a reader slower than a sample per step: eight windows are worked out once,
        // and each step picks its own. Stops where eight steps span more than eight windows; returns how
        // many it did.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                      float* out) noexcept;

        // Steps of a reader at exactly one sample per step and phase 0: step s interpolates the window at
        // windows[s]. All steps.
        void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept;

        // An ADSR segment of a grain: its samples weighted by startValue + (j / numSamples) delta, panned,
        // scaled by gain and added to left and right. All samples.
        void mixEnvelopeRamp (float* left, float* right, const float* samples, int numSamples, float startValue,
                              float delta, float leftPan, float rightPan, float gain) noexcept;

        // A flat ADSR segment: every sample weighted by level. All samples.
        void mixEnvelopeLevel (float* left, float* right, const float* samples, int numSamples, float level,
                               float leftPan, float rightPan, float gain) noexcept;

        // The sine window positions of eight grains side by side: rows[g][k] = starts[g] plus k times
        // increments[g], as a running sum in single precision, for k below numSamples rounded up to eight.
        void windowPositions (const float* starts, const float* increments, int numSamples, float* const* rows) noexcept;

        // avx512::mixSineWindowed in blocks of eight; returns how many samples it mixed.
        int mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                             float leftPan, float rightPan, float gain) noexcept;
    }

    namespace avx512
    {
        // Frames firstFrame on (down from it when not forward) with tail slots from firstTailSlot, read
        // as mono samples in fetch order: a run of loop positions at least a crossfade behind the write
        // head and not written in this chunk, whose tail slots all read as they stand in sources. All
        // frames, the last few as one masked block.
        template <int channels, bool forward>
        void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, float balance,
                           float* samples) noexcept;

        // Frames wrapped on, each read through the journal as the buffer stood after fetchTimes[i]
        // journaled writes; for a loop and a crossfade of at least sixteen frames. Whole blocks of
        // sixteen; moves wrapped and tailPhase past them and returns how many frames it read.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept;

        // Output step s of a reader at phase + s speed, where every such sum is exact in double precision:
        // windowStarts[s] is its whole part (the frames fetched before the step's window), phases[s] the
        // rest. Eight steps at a time; returns how many it did.
        int walkPhases (double phase, double speed, int steps, int* windowStarts, double* phases) noexcept;

        // Output step s interpolates the four samples sequence[windowStarts[s] ..] at phases[s]. Sixteen
        // steps at a time, the last few as one masked block where their windows lie close together;
        // returns how many it did.
        int interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                              float* out) noexcept;

        // interpolateSteps for a reader at half a sample per step or slower, whose neighbouring steps share
        // windows: sixteen windows are worked out once, and each step picks its own. Samples past lastSample
        // are not read. Stops where sixteen steps span more than sixteen windows; returns how many it did.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                      int lastSample, float* out) noexcept;

        // A sine grain's samples weighted by its window at positions (clamped to 0..1), panned, scaled by
        // gain and added to left and right. All samples, the last few as one masked block; returns them.
        int mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                             float leftPan, float rightPan, float gain) noexcept;
    }
}
