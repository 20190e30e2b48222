#include "engine/CircularBuffer.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace qvl
{
    CircularBuffer::~CircularBuffer()
    {
        completeDeferredReads();
    }

    void CircularBuffer::completeDeferredReads()
    {
        if (auto* r = link.reader)
        {
            link.reader = nullptr;
            r->completeDeferredReads();
        }
    }

    void CircularBuffer::attachDeferredReader (DeferredReader* reader)
    {
        if (link.reader == reader || ! isPrepared())
            return;

        completeDeferredReads();
        link.reader = reader;
        if (reader == nullptr)
            return;

        // Stamps of earlier journals stay below the new base, so they never count as written.
        if (stampBase > (1 << 30))
        {
            std::fill (journalStamps.begin(), journalStamps.end(), -1);
            stampBase = 0;
        }
        stampBase += journalWrites + 1;

        // Within one journal the write position never wraps and no slot is written twice.
        journalStart = writePosition;
        journalStartTail = writeTailPhase;
        journalWrites = 0;
        journalLimit = std::max (0, std::min (crossfadeLength, length - 1 - writePosition));
    }

    void CircularBuffer::detachDeferredReader (DeferredReader* reader) noexcept
    {
        if (link.reader == reader)
            link.reader = nullptr;
    }

    CircularBuffer::JournalView CircularBuffer::getJournalView() const noexcept
    {
        JournalView j;
        j.now = getReadView();
        if (numChannels > 0)
        {
            j.oldLoop0 = journalLoop[0].data();
            j.oldTail0 = journalTail[0].data();
            j.oldLoop1 = j.oldLoop0;
            j.oldTail1 = j.oldTail0;
        }
        if (numChannels > 1)
        {
            j.oldLoop1 = journalLoop[1].data();
            j.oldTail1 = journalTail[1].data();
        }
        j.tailStamp = journalStamps.data();
        j.stampBase = stampBase;
        j.startPosition = journalStart;
        j.startTailSlot = journalStartTail;
        j.writes = journalWrites;
        return j;
    }

    void CircularBuffer::prepare (int newMaxLength, int newCrossfadeLength, int newNumChannels)
    {
        completeDeferredReads();

        // Degenerate sizes are raised so that every modulo below has a non-zero divisor.
        crossfadeLength = std::max (1, newCrossfadeLength);
        maxLength = std::clamp (newMaxLength, 1, INT_MAX - crossfadeLength);
        numChannels = std::max (0, newNumChannels);

        const auto samplesPerChannel = static_cast<std::size_t> (maxLength) + static_cast<std::size_t> (crossfadeLength);
        data.assign (static_cast<std::size_t> (numChannels), std::vector<float> (samplesPerChannel, 0.0f));
        lastOverwritten.assign (static_cast<std::size_t> (numChannels), 0.0f);

        fadeGains.resize (static_cast<std::size_t> (crossfadeLength) + 1);
        fadeGains[0] = 1.0f; // the next position to be written has not been overwritten yet
        for (int d = 1; d <= crossfadeLength; ++d)
            fadeGains[static_cast<std::size_t> (d)] = static_cast<float> (d) / static_cast<float> (crossfadeLength);

        // Only the first two channels are ever read by grains.
        const auto journalChannels = static_cast<std::size_t> (std::min (numChannels, 2));
        journalLoop.assign (journalChannels, std::vector<float> (static_cast<std::size_t> (crossfadeLength), 0.0f));
        journalTail.assign (journalChannels, std::vector<float> (static_cast<std::size_t> (crossfadeLength), 0.0f));
        journalStamps.assign (static_cast<std::size_t> (crossfadeLength), -1);
        stampBase = 0;
        journalWrites = 0;

        length = maxLength;
        updateDerivedPositions();
        ++layoutVersion;
    }

    void CircularBuffer::clear()
    {
        completeDeferredReads();
        for (auto& channel : data)
            std::fill (channel.begin(), channel.end(), 0.0f);
    }

    void CircularBuffer::write (const float* const* inputs, int sampleIndex, float inputGain, float feedback)
    {
        if (! isPrepared())
        {
            writeCounter = writeCounter + 1 < counterWrapLimit ? writeCounter + 1 : 0;
            return;
        }

        bool journal = false;
        if (link.reader != nullptr)
        {
            if (journalWrites < journalLimit)
                journal = true;
            else
                completeDeferredReads();
        }

        const int w = writePosition;
        const int t = maxLength + writeTailPhase;

        if (journal)
        {
            const auto j = static_cast<std::size_t> (journalWrites);
            const auto slot = static_cast<std::size_t> (writeTailPhase);
            for (std::size_t c = 0; c < journalLoop.size(); ++c)
            {
                journalLoop[c][j] = data[c][static_cast<std::size_t> (w)];
                journalTail[c][slot] = data[c][static_cast<std::size_t> (t)];
            }
            journalStamps[slot] = stampBase + journalWrites;
            ++journalWrites;
        }

        for (int c = 0; c < numChannels; ++c)
        {
            float* s = data[static_cast<std::size_t> (c)].data();
            const float old = s[w];
            lastOverwritten[static_cast<std::size_t> (c)] = old;
            s[t] = old;

            const float in = (inputs != nullptr && inputs[c] != nullptr) ? inputs[c][sampleIndex] : 0.0f;
            s[w] = inputGain * in + feedback * old;
        }

        ++writeCounter;

        if (++writeTailPhase == crossfadeLength)
            writeTailPhase = 0;

        if (++writePosition == length)
        {
            writePosition = 0;
            lapTailPhase += lengthTailPhase;
            if (lapTailPhase >= crossfadeLength)
                lapTailPhase -= crossfadeLength;
        }

        if (writeCounter >= counterWrapLimit)
            writeCounter -= counterWrapSpan;
    }

    void CircularBuffer::writeAt (std::uint64_t hostSamplePosition, const float* const* inputs, int sampleIndex,
                                  float inputGain, float feedback)
    {
        if (isPrepared())
        {
            // While the host position runs on, this is the position the write would take anyway.
            const auto counter = static_cast<std::int64_t> (hostSamplePosition % static_cast<std::uint64_t> (length));
            if (counter != writeCounter)
            {
                completeDeferredReads();
                writeCounter = counter;
                updateDerivedPositions();
            }
        }

        write (inputs, sampleIndex, inputGain, feedback);
    }

    int CircularBuffer::read (float* frame, int maxChannels, int index) const
    {
        const int n = std::min (maxChannels, numChannels);
        if (n <= 0 || ! isPrepared())
            return 0;

        const std::int64_t L = length;
        const std::int64_t G = crossfadeLength;
        const std::int64_t r = (L + index % L) % L;
        const std::int64_t d = (L + (writeCounter % L - r) % L) % L;
        const float f = d == 0 ? 1.0f : static_cast<float> (std::min (G, d)) / static_cast<float> (G);
        const std::int64_t t = maxLength + (G + (writeCounter - d) % G) % G;

        for (int c = 0; c < n; ++c)
        {
            const float* s = data[static_cast<std::size_t> (c)].data();
            frame[c] = s[t] + (s[r] - s[t]) * f;
        }

        return n;
    }

    void CircularBuffer::setLength (int newLength)
    {
        if (! isPrepared() || newLength < crossfadeLength || newLength > maxLength || newLength == length)
            return;

        completeDeferredReads();
        length = newLength;
        updateDerivedPositions();
        ++layoutVersion;
    }

    const float* CircularBuffer::getChannelData (int channel) const noexcept
    {
        if (channel < 0 || channel >= numChannels)
            return nullptr;

        return data[static_cast<std::size_t> (channel)].data();
    }

    float CircularBuffer::getLastOverwritten (int channel) const noexcept
    {
        if (channel < 0 || channel >= numChannels)
            return 0.0f;

        return lastOverwritten[static_cast<std::size_t> (channel)];
    }

    void CircularBuffer::setWriteCounter (std::int64_t newCounter) noexcept
    {
        completeDeferredReads();
        writeCounter = std::max<std::int64_t> (0, newCounter);
        updateDerivedPositions();
    }

    CircularBuffer::Position CircularBuffer::positionOf (int index) const noexcept
    {
        Position p;
        if (! isPrepared())
            return p;

        p.wrapped = index % length;
        if (p.wrapped < 0)
            p.wrapped += length;
        p.tailPhase = p.wrapped % crossfadeLength;
        return p;
    }

    void CircularBuffer::updateDerivedPositions() noexcept
    {
        if (! isPrepared())
        {
            if (writeCounter >= counterWrapLimit)
                writeCounter = 0;
            return;
        }

        const std::int64_t L = length;
        const std::int64_t G = crossfadeLength;

        // Any multiple of both lengths can be taken off the counter without moving a position or tail slot.
        const std::int64_t common = std::lcm (L, G);
        counterWrapSpan = (counterWrapLimit / common) * common;
        if (writeCounter >= counterWrapLimit)
            writeCounter %= counterWrapSpan;

        writePosition = static_cast<int> (writeCounter % L);
        writeTailPhase = static_cast<int> (writeCounter % G);
        lapTailPhase = static_cast<int> ((writeCounter - writePosition) % G);
        lengthTailPhase = static_cast<int> (L % G);
        lastTailPhase = static_cast<int> ((L - 1) % G);
    }
}
