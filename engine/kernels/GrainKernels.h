#pragma once

// The grain pool's inner loops, once per instruction set. A chunk of one grain goes through them in
// this order: the reader's phase walk (which window of fetched samples each output step interpolates,
// and at which phase), the frame reads that fill that sequence of fetched samples, the cubic
// interpolation of every output step, and the envelope, pan and gain mix into the stream's outputs.
//
// Every kernel gives the bits of the baseline one, lane by lane: the same operations in the same order,
// never a fused multiply-add. The baseline kernels are SSE2 on x86-64 and plain C++ elsewhere, and do
// every item they are given. The avx2 and avx512 (F, VL and DQ) kernels are compiled for those sets in
// files of their own and run only through Dispatch.h, once the processor was found to have them; one
// that returns a count did that many leading items, and Dispatch.h finishes the rest with a narrower one.
//
// Units: a frame is one position of the buffer's loop (one sample per channel), read as one mono sample;
// a step is one output sample of a grain's reader; samples are output samples.
//
// Beside this file: Baseline.cpp, Avx2.cpp and Avx512.cpp, one per instruction set, each compiled with
// its own flags (engine/CMakeLists.txt); Dispatch.h, the run-time choice; ScalarLoops.h, plain loops
// that each of those files compiles for itself (whole kernels, or the tails after the last full
// vector); ReadFrame.h and InlineKernels.h, baseline code inlined where it is used. A kernel for
// another instruction set gets a file and a namespace of its own here, and its place in Dispatch.h.

#include "engine/CircularBuffer.h"

#include <cstdint>

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

    // A reader's walk over a chunk's steps where its phase and speed are multiples of 2^-bits: step s
    // stands at phase + s speed = (origin + s stride) 2^-bits, whose whole part is how many frames were
    // fetched before the step's window, and the rest its phase.
    struct PhaseWalk
    {
        double phase = 0.0;
        double speed = 0.0;
        std::int64_t origin = 0;
        std::int64_t stride = 0;
        int bits = 0;
    };

    namespace baseline
    {
        // Frames firstFrame on (down from it when not forward) with tail slots from firstTailSlot, read as
        // mono samples in fetch order: a run of loop positions at least a crossfade behind the write head
        // and not written in this chunk, so only a tail slot can have changed. Stamped, frame i reads its
        // tail slot as it stood before this chunk's writes where the slot's stamp says the write came
        // after fetchTimes[i] journaled writes; otherwise every tail slot reads as it stands in sources.
        template <int channels, bool forward, bool stamped>
        void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
                           float balance, float* samples) noexcept;

        // Frames from loop position wrapped on, each read through the journal as the buffer stood after
        // fetchTimes[i] journaled writes (near the write head); wrapped and tailPhase end past the last.
        template <int channels, bool forward>
        void readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                  float balance, int& wrapped, int& tailPhase, float* samples) noexcept;

        // windowStarts[s] and phases[s] of steps firstStep .. steps - 1 of walk, in integers.
        void walkPhases (const PhaseWalk& walk, int firstStep, int steps, int* windowStarts, double* phases) noexcept;

        // Step s interpolates the four samples sequence[windowStarts[s] ..] at phases[s]: float
        // coefficients, a double cubic, rounded to float.
        void interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                               float* out) noexcept;

        // Steps of a reader at exactly one sample per step and phase 0: step s interpolates the window at
        // windows[s].
        void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept;

        // An ADSR segment of a grain: its samples weighted by startValue + (j / numSamples) delta, panned,
        // scaled by gain and added to left and right.
        void mixEnvelopeRamp (float* left, float* right, const float* samples, int numSamples, float startValue,
                              float delta, float leftPan, float rightPan, float gain) noexcept;

        // A flat ADSR segment: every sample weighted by level.
        void mixEnvelopeLevel (float* left, float* right, const float* samples, int numSamples, float level,
                               float leftPan, float rightPan, float gain) noexcept;

        // The sine window positions of four grains side by side: rows[g][k] = starts[g] plus k times
        // increments[g] as a running sum in single precision, for k below numSamples rounded up to four.
        void windowPositions (const float* starts, const float* increments, int numSamples, float* const* rows) noexcept;

        // A sine grain's samples weighted by its window at positions (clamped to 0..1), panned, scaled by
        // gain and added to left and right.
        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept;
    }

    namespace avx2
    {
        // Whole blocks of eight frames.
        template <int channels, bool forward, bool stamped>
        int readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, const int* fetchTimes,
                          float balance, float* samples) noexcept;

        // Whole blocks of eight frames, for a loop and a crossfade of at least sixteen frames.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept;

        // All steps, in double precision: only where every phase + s speed is exact there.
        void walkPhases (const PhaseWalk& walk, int steps, int* windowStarts, double* phases) noexcept;

        // All steps.
        void interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                               float* out) noexcept;

        // interpolateSteps for a reader slower than a sample per step, whose neighbouring steps share
        // windows: eight windows are worked out once and each step picks its own. Stops where eight steps
        // span more than eight windows.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                      float* out) noexcept;

        // All steps: runs of plain windows (where the result is y1 itself) are copied.
        void interpolateUnitSteps (const float* windows, int steps, float* out) noexcept;

        // All samples.
        void mixEnvelopeRamp (float* left, float* right, const float* samples, int numSamples, float startValue,
                              float delta, float leftPan, float rightPan, float gain) noexcept;
        void mixEnvelopeLevel (float* left, float* right, const float* samples, int numSamples, float level,
                               float leftPan, float rightPan, float gain) noexcept;

        // Eight grains side by side, for k below numSamples rounded up to eight.
        void windowPositions (const float* starts, const float* increments, int numSamples, float* const* rows) noexcept;

        // All samples.
        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept;
    }

    namespace avx512
    {
        // All frames of an unstamped run, the last few as one masked block.
        template <int channels, bool forward>
        void readFrameRun (const FrameSources& sources, int firstFrame, int firstTailSlot, int frames, float balance,
                           float* samples) noexcept;

        // Whole blocks of sixteen frames, for a loop and a crossfade of at least sixteen frames.
        template <int channels, bool forward>
        int readJournaledFrames (const CircularBuffer::JournalView& journal, const int* fetchTimes, int frames,
                                 float balance, int& wrapped, int& tailPhase, float* samples) noexcept;

        // All steps, as avx2::walkPhases.
        void walkPhases (const PhaseWalk& walk, int steps, int* windowStarts, double* phases) noexcept;

        // Whole blocks of sixteen steps, and the last few as one masked block where their windows lie
        // close together.
        int interpolateSteps (const float* sequence, const int* windowStarts, const double* phases, int steps,
                              float* out) noexcept;

        // interpolateSteps for a reader at half a sample per step or slower: sixteen windows are worked out
        // once and each step picks its own. Samples past lastSample are not read. Stops where sixteen
        // steps span more than sixteen windows.
        int interpolateSharedWindows (const float* sequence, const int* windowStarts, const double* phases, int steps,
                                      int lastSample, float* out) noexcept;

        // All samples, the last few as one masked block.
        void mixSineWindowed (float* left, float* right, const float* samples, const float* positions, int numSamples,
                              float leftPan, float rightPan, float gain) noexcept;
    }
}
