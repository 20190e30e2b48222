#pragma once

// How one frame of the buffer is read, as the grain reader reads it step by step: the reference that
// every frame-reading kernel follows lane by lane. Baseline code only (the reader and the baseline
// kernels); the functions have internal linkage and are always inlined.

#include "engine/CircularBuffer.h"

#if defined(__GNUC__)
 #define QVL_FRAME_READ static inline __attribute__ ((always_inline))
#else
 #define QVL_FRAME_READ static inline
#endif

namespace qvl::kernels
{
    // The frame at loop position wrapped, whose tail slot phase is tailPhase, as one mono sample. A
    // journaled read sees what a later write of the chunk replaced, as it stood after epoch writes
    // (v's write position is already there).
    template <int channelMode, bool journaled>
    QVL_FRAME_READ float readFrame (const CircularBuffer::ReadView& v, const CircularBuffer::JournalView* journal, int epoch,
                                    int wrapped, int tailPhase, float balance) noexcept
    {
        // Branch-free: whether a grain is behind or ahead of the head varies from grain to grain.
        int d = v.writePosition - wrapped;
        const int ahead = -static_cast<int> (d < 0); // all ones when the position lies ahead of the head in this lap
        d += v.length & ahead;
        const int crossfade = v.crossfadeLength;
        int tail = v.lapTailPhase + tailPhase - (v.lengthTailPhase & ahead);
        tail += crossfade & -static_cast<int> (tail < 0);
        tail -= crossfade & -static_cast<int> (tail >= crossfade);
        const float f = v.fadeGains[d < crossfade ? d : crossfade];
        const int t = v.maxLength + tail;

        bool oldLoop = false, oldTail = false;
        int jr = 0;
        if constexpr (journaled)
        {
            jr = wrapped - journal->startPosition;
            oldLoop = jr >= epoch && jr < journal->writes;
            oldTail = journal->tailStamp[tail] >= journal->stampBase + epoch;
        }

        float mono = 0.0f;
        if constexpr (channelMode >= 1)
        {
            const float a = oldTail ? journal->oldTail0[tail] : v.channel0[t];
            const float x = oldLoop ? journal->oldLoop0[jr] : v.channel0[wrapped];
            mono = a + (x - a) * f;
        }
        if constexpr (channelMode == 2)
        {
            const float b = oldTail ? journal->oldTail1[tail] : v.channel1[t];
            const float x = oldLoop ? journal->oldLoop1[jr] : v.channel1[wrapped];
            const float right = b + (x - b) * f;
            mono = mono + (right - mono) * balance;
        }
        return mono;
    }

    // One frame on through the loop, away from the ends of the 32-bit position range.
    template <bool forward>
    QVL_FRAME_READ void stepFrame (const CircularBuffer::ReadView& v, int& wrapped, int& tailPhase) noexcept
    {
        if constexpr (forward)
        {
            if (++wrapped == v.length)
            {
                wrapped = 0;
                tailPhase = 0;
            }
            else if (++tailPhase == v.crossfadeLength)
            {
                tailPhase = 0;
            }
        }
        else if (wrapped == 0)
        {
            wrapped = v.length - 1;
            tailPhase = v.lastTailPhase;
        }
        else
        {
            --wrapped;
            tailPhase = (tailPhase == 0 ? v.crossfadeLength : tailPhase) - 1;
        }
    }
}

#undef QVL_FRAME_READ
