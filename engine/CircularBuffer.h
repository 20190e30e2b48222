#pragma once

#include <cstdint>
#include <vector>

namespace qvl
{
    // The recording loop: every write applies input gain to the new sample and feedback to the one it
    // replaces. Reads near the write head crossfade from what the last writes replaced to the new
    // content, so a grain crossing the head does not click.
    class CircularBuffer
    {
    public:
        // Someone holding reads that belong to earlier samples of the current chunk. The buffer keeps a
        // journal of what its writes replace while one is attached, and asks it to finish those reads
        // before any change the journal cannot describe (a jump of the write position, clear, resize,
        // a full journal). After that call it is detached.
        class DeferredReader
        {
        public:
            virtual void completeDeferredReads() = 0;

        protected:
            ~DeferredReader() = default;
        };

        CircularBuffer() = default;
        ~CircularBuffer();
        CircularBuffer (const CircularBuffer&) = default;
        CircularBuffer& operator= (const CircularBuffer&) = default;

        // A loop position kept by a caller that walks the loop one sample at a time: the index wrapped
        // into [0, L) and that position modulo G, so sequential reads need no division.
        struct Position
        {
            int wrapped = 0;
            int tailPhase = 0;
        };

        void prepare (int maxLength, int crossfadeLength, int numChannels);
        void clear();
        void write (const float* const* inputs, int sampleIndex, float inputGain, float feedback);
        void writeAt (std::uint64_t hostSamplePosition, const float* const* inputs, int sampleIndex,
                      float inputGain, float feedback);

        // Fills frame[0 .. n-1] with the frame at any absolute index and returns n = min(maxChannels, channels).
        int read (float* frame, int maxChannels, int index) const;

        // Ignored unless crossfadeLength <= newLength <= maxLength.
        void setLength (int newLength);

        int getNumChannels() const noexcept { return numChannels; }
        int getLength() const noexcept { return length; }
        int getMaxLength() const noexcept { return maxLength; }
        int getCrossfadeLength() const noexcept { return crossfadeLength; }
        int getWritePosition() const noexcept { return writePosition; }

        // maxLength + crossfadeLength samples; the first getLength() are the loop.
        const float* getChannelData (int channel) const noexcept;
        float getLastOverwritten (int channel) const noexcept;

        // The write counter is kept wider than 32 bits and wrapped by a common multiple of the loop and
        // crossfade lengths long before it could overflow, so positions and tail slots never jump.
        std::int64_t getWriteCounter() const noexcept { return writeCounter; }

        // For tests and for host sync. Negative values count as 0; values past the wrap limit are wrapped
        // the same way the writes wrap them.
        void setWriteCounter (std::int64_t newCounter) noexcept;

        static constexpr std::int64_t counterWrapLimit = std::int64_t (1) << 62;

        bool isPrepared() const noexcept { return length > 0; }

        // Incremental access for readers that step through the loop: positionOf wraps any index,
        // stepForward/stepBackward move by one sample, readAt returns the same frame as read.
        Position positionOf (int index) const noexcept;

        void stepForward (Position& p) const noexcept
        {
            if (++p.wrapped == length)
            {
                p.wrapped = 0;
                p.tailPhase = 0;
            }
            else if (++p.tailPhase == crossfadeLength)
            {
                p.tailPhase = 0;
            }
        }

        void stepBackward (Position& p) const noexcept
        {
            if (p.wrapped == 0)
            {
                p.wrapped = length - 1;
                p.tailPhase = lastTailPhase;
            }
            else
            {
                --p.wrapped;
                p.tailPhase = (p.tailPhase == 0 ? crossfadeLength : p.tailPhase) - 1;
            }
        }

        int readAt (const Position& p, float* frame, int maxChannels) const noexcept
        {
            const int n = maxChannels < numChannels ? maxChannels : numChannels;
            if (n <= 0)
                return 0;

            int d = writePosition - p.wrapped;
            int tail = lapTailPhase + p.tailPhase;
            if (d < 0)
            {
                d += length;
                tail -= lengthTailPhase;
            }
            tail = tail < 0 ? tail + crossfadeLength : (tail >= crossfadeLength ? tail - crossfadeLength : tail);

            const float f = fadeGains[static_cast<std::size_t> (d < crossfadeLength ? d : crossfadeLength)];
            const int t = maxLength + tail;

            for (int c = 0; c < n; ++c)
            {
                const float* s = data[static_cast<std::size_t> (c)].data();
                frame[c] = s[t] + (s[p.wrapped] - s[t]) * f;
            }

            return n;
        }

        // Changes whenever the loop or crossfade length changes, which invalidates kept Positions.
        std::uint32_t getLayoutVersion() const noexcept { return layoutVersion; }

        // Everything a positioned read needs, copied out so that a loop over many readers can keep it in
        // registers. Valid until the next write, writeAt, setLength, setWriteCounter or prepare.
        struct ReadView
        {
            const float* channel0 = nullptr;
            const float* channel1 = nullptr;
            const float* fadeGains = nullptr;
            int numChannels = 0;
            int length = 0;
            int crossfadeLength = 0;
            int maxLength = 0;
            int writePosition = 0;
            int lapTailPhase = 0;
            int lengthTailPhase = 0;
            int lastTailPhase = 0;
            std::uint32_t layoutVersion = 0;
        };

        ReadView getReadView() const noexcept
        {
            ReadView v;
            v.numChannels = numChannels;
            v.channel0 = numChannels > 0 ? data[0].data() : nullptr;
            v.channel1 = numChannels > 1 ? data[1].data() : nullptr;
            v.fadeGains = fadeGains.data();
            v.length = length;
            v.crossfadeLength = crossfadeLength;
            v.maxLength = maxLength;
            v.writePosition = writePosition;
            v.lapTailPhase = lapTailPhase;
            v.lengthTailPhase = lengthTailPhase;
            v.lastTailPhase = lastTailPhase;
            v.layoutVersion = layoutVersion;
            return v;
        }

        // Attaching starts a fresh journal at the current write position; attaching a second reader
        // first finishes the reads of the one attached. Detaching a reader that is not attached does nothing.
        void attachDeferredReader (DeferredReader* reader);
        void detachDeferredReader (DeferredReader* reader) noexcept;
        bool hasDeferredReader() const noexcept { return link.reader != nullptr; }

        // Writes journaled since the reader was attached; they went to consecutive loop positions
        // starting at the journal's start position, each to a different position and tail slot.
        int getJournalWrites() const noexcept { return journalWrites; }

        // The buffer as it is now plus the journal, so that a read can be answered as it would have been
        // after any number e of the journaled writes: writePosition there is startPosition + e.
        struct JournalView
        {
            ReadView now;
            const float* oldLoop0 = nullptr;  // value replaced by journaled write j, by j
            const float* oldLoop1 = nullptr;
            const float* oldTail0 = nullptr;  // tail value replaced by a journaled write, by tail slot
            const float* oldTail1 = nullptr;
            const int* tailStamp = nullptr;   // stampBase + j for the slot written by journaled write j
            int stampBase = 0;
            int startPosition = 0;
            int startTailSlot = 0;            // tail slot of journaled write j is (startTailSlot + j) mod G
            int writes = 0;
        };

        JournalView getJournalView() const noexcept;

    private:
        void updateDerivedPositions() noexcept;
        void completeDeferredReads();

        // A copy starts with no reader attached; assigning over a buffer first lets its reader finish,
        // which is why this comes before the data it protects.
        struct ReaderLink
        {
            DeferredReader* reader = nullptr;

            ReaderLink() = default;
            ReaderLink (const ReaderLink&) noexcept {}
            ReaderLink& operator= (const ReaderLink&)
            {
                if (auto* r = reader)
                {
                    reader = nullptr;
                    r->completeDeferredReads();
                }
                return *this;
            }
        };

        ReaderLink link;

        std::vector<std::vector<float>> data;
        int numChannels = 0;
        std::vector<float> lastOverwritten;
        int crossfadeLength = 0;
        std::int64_t writeCounter = 0;
        int length = 0;
        int maxLength = 0;

        // Kept in step with writeCounter so that writes and reads need no division:
        int writePosition = 0;    // W mod L
        int writeTailPhase = 0;   // W mod G
        int lapTailPhase = 0;     // (W - W mod L) mod G: tail phase of loop position 0 in the current lap
        int lengthTailPhase = 0;  // L mod G
        int lastTailPhase = 0;    // (L - 1) mod G
        std::int64_t counterWrapSpan = 0;
        std::vector<float> fadeGains; // weight of the new content at distance 0 .. G
        std::uint32_t layoutVersion = 0;

        std::vector<std::vector<float>> journalLoop;  // per channel, G entries by write
        std::vector<std::vector<float>> journalTail;  // per channel, G entries by tail slot
        std::vector<int> journalStamps;                // G entries by tail slot
        int stampBase = 0;
        int journalStart = 0;
        int journalStartTail = 0;
        int journalWrites = 0;
        int journalLimit = 0;
    };
}
