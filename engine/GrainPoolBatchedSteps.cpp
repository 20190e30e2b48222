// A reader's pending steps of a chunk taken at once: the phase walk first, then every frame it fetches,
// then every output step. The step-by-step path (GrainPool.cpp) is the reference this must match bit for
// bit; the kernels do the arithmetic.
#include "engine/GrainPool.h"

#include "engine/kernels/Dispatch.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace qvl
{
    namespace
    {
        using kernels::FrameSources;

        // Where a run of frame reads finds the buffer's samples. With replacedTails, every tail slot reads
        // as it stood before this chunk's writes.
        FrameSources frameSources (const CircularBuffer::JournalView& j, bool replacedTails) noexcept
        {
            FrameSources s;
            s.loop0 = j.now.channel0;
            s.loop1 = j.now.channel1;
            s.replacedTail0 = j.oldTail0;
            s.replacedTail1 = j.oldTail1 != nullptr ? j.oldTail1 : j.oldTail0;
            s.tailStamps = j.tailStamp;
            s.stampBase = j.stampBase;
            s.tail0 = replacedTails ? s.replacedTail0 : j.now.channel0 + j.now.maxLength;
            s.tail1 = replacedTails ? s.replacedTail1 : (j.now.channel1 != nullptr ? j.now.channel1 + j.now.maxLength : s.tail0);
            return s;
        }

        // The smallest b >= 0 with x * 2^b a whole number, for finite x >= 0; large when there is none.
        int fractionBits (double x) noexcept
        {
            std::uint64_t bits = 0;
            std::memcpy (&bits, &x, sizeof (bits));
            const auto exponent = static_cast<int> ((bits >> 52) & 0x7ff);
            const std::uint64_t mantissa = bits & ((std::uint64_t (1) << 52) - 1);
            if (exponent == 0x7ff)
                return 9999;
            if (mantissa == 0 && exponent == 0)
                return 0;
            // x = significand * 2^(exponent - 1075), the significand with its implicit leading bit.
            const std::uint64_t significand = exponent == 0 ? mantissa : (mantissa | (std::uint64_t (1) << 52));
            const int shift = exponent == 0 ? 1074 : 1075 - exponent;
            return std::max (0, shift - __builtin_ctzll (significand));
        }

        // 2^b as a double, for |b| well inside the normal range.
        double powerOfTwo (int b) noexcept
        {
            const auto bits = static_cast<std::uint64_t> (1023 + b) << 52;
            double x = 0.0;
            std::memcpy (&x, &bits, sizeof (x));
            return x;
        }

        // A reader's walk as integers: after step s it has made (origin + stride * s) / one fetches in all.
        struct ExactWalk
        {
            std::int64_t origin = 0;
            std::int64_t stride = 0;
            std::int64_t one = 1;
            int steps = 0;
        };

        // Up to four ranges of a run's fetches, in order, that read a tail slot before this chunk's write
        // to it.
        struct OldRanges
        {
            int lo[4] {};
            int hi[4] {};
            int count = 0;

            void add (int from, int to) noexcept
            {
                if (from >= to)
                    return;
                if (count > 0 && hi[count - 1] == from)
                    hi[count - 1] = to;
                else if (count < 4)
                {
                    lo[count] = from;
                    hi[count] = to;
                    ++count;
                }
            }
        };

        // Fetches p0 .. p1 - 1 of a run read slots written by journaled writes k0, k0 + delta, ...; write k
        // is seen from step k - shift + 1 on, fetch i is taken at the first step whose walk passes done + i.
        // A fetch reads the old value when the write comes after its step: always when k - shift is at
        // least the last step, and otherwise when the walk at step k - shift has not yet passed it.
        void addOldRanges (const ExactWalk& w, std::int64_t shift, int done, int p0, int p1, std::int64_t k0, int delta,
                           OldRanges& old) noexcept
        {
            if (p0 >= p1)
                return;
            const std::int64_t q0 = k0 - shift; // the step a fetch must not come after, at p0
            const std::int64_t last = w.steps - 1;
            const auto clampTo = [p0, p1] (std::int64_t i) { return static_cast<int> (std::clamp<std::int64_t> (i, p0, p1)); };
            // The fetches whose step bound is at least v: a tail of the range going forwards, a head going back.
            const auto atLeast = [&] (std::int64_t v, int& lo, int& hi)
            {
                lo = delta > 0 ? clampTo (p0 + (v - q0)) : p0;
                hi = delta > 0 ? p1 : clampTo (p0 + (q0 - v) + 1);
            };
            int allLo = 0, allHi = 0, someLo = 0, someHi = 0;
            atLeast (last, allLo, allHi);
            atLeast (0, someLo, someHi);
            // Between them the bound lies within the walk, and the comparison is linear in the fetch.
            const int m0 = delta > 0 ? someLo : allHi;
            const int m1 = delta > 0 ? allLo : someHi;
            int within0 = m0, within1 = m0;
            if (m0 < m1)
            {
                const std::int64_t bound = q0 + delta * (m0 - p0);
                const std::int64_t alpha = w.origin + w.stride * bound - (done + m0 + 1) * w.one;
                const std::int64_t beta = delta * w.stride - w.one;
                const std::int64_t length = m1 - m0;
                if (beta > 0)
                {
                    const std::int64_t skip = alpha >= 0 ? 0 : (-alpha + beta - 1) / beta;
                    within0 = m0 + static_cast<int> (std::min (skip, length));
                    within1 = m1;
                }
                else if (beta < 0)
                {
                    const std::int64_t keep = alpha < 0 ? 0 : alpha / -beta + 1;
                    within1 = m0 + static_cast<int> (std::min (keep, length));
                }
                else if (alpha >= 0)
                {
                    within1 = m1;
                }
            }
            if (delta > 0)
            {
                old.add (within0, within1);
                old.add (allLo, allHi);
            }
            else
            {
                old.add (allLo, allHi);
                old.add (within0, within1);
            }
        }

        // The old-value ranges of a run of n fetches from tail slot tail, one slot further per fetch.
        void findOldRanges (const ExactWalk& w, int shift, int done, int n, bool forward, int tail,
                            const CircularBuffer::JournalView& journal, OldRanges& old) noexcept
        {
            const int crossfade = journal.now.crossfadeLength;
            const int writes = journal.writes;
            int off = tail - journal.startTailSlot; // write index of the run's first slot, if it was written
            if (off < 0)
                off += crossfade;
            if (forward)
            {
                if (off < writes)
                    addOldRanges (w, shift, done, 0, std::min (n, writes - off), off, 1, old);
                if (off > 0)
                    addOldRanges (w, shift, done, crossfade - off, std::min (n, crossfade - off + writes), 0, 1, old);
            }
            else
            {
                const int a = std::max (0, off - writes + 1);
                addOldRanges (w, shift, done, a, std::min (n, off + 1), off - a, -1, old);
                const int b = off + crossfade - writes + 1;
                addOldRanges (w, shift, done, b, n, writes - 1, -1, old);
            }
        }
    }

    // A whole chunk of one reader at once: the phase walk first, then every fetch, then every output,
    // which land in out. Taken when the reader moves at most four samples per step and its position
    // does not pass the end of the 32-bit range; anything else goes step by step. Fetches well away
    // from the samples written in this chunk go in runs; near them, one at a time through the journal.
    bool GrainPool::runDeferredFast (GrainReader& reader, const CircularBuffer::JournalView& journal, float* out)
    {
        const double speed = reader.speed;
        if (! (speed <= 4.0) || ! (reader.phase < 5.0))
            return false;

        const int from = reader.pendingFrom;
        const int steps = pendingSteps - from;
        const int* const epochs = stepEpochs.data() + from;

        int* const fetchTimes = fetchEpochs.data();
        int* const windowStarts = stepFetchCounts.data();
        double* const phases = stepPhases.data();

        double ph = reader.phase;
        int fetches = 0;
        bool timesKnown = false;
        // The walk as integers, when it is exact and small enough for every product below to stay exact.
        ExactWalk walk {};
        bool walkExact = false;
        bool unitSteps = false;
        int firstWindow = 0;
        const int bits = std::max (fractionBits (speed), fractionBits (ph));
        // Every position of the walk, (5 + 4 steps) 2^bits at most, must fit the 64-bit integers below.
        if (bits <= 48 && (5.0 + 4.0 * steps) * powerOfTwo (bits) < 4611686018427387904.0)
        {
            // Phase and speed are multiples of 2^-bits below 8, so every sum the step-by-step walk forms
            // is exact: the walk is integer arithmetic, and each step's phase and fetch count follow
            // directly from its index.
            const double unit = powerOfTwo (-bits);
            const double scale = powerOfTwo (bits);
            const auto stride = static_cast<std::int64_t> (speed * scale);
            const auto origin = static_cast<std::int64_t> (ph * scale);
            walk = { origin, stride, std::int64_t (1) << bits, steps };
            // While every phase times 2^bits stays below 2^53 the walk is exact in double precision too.
            walkExact = (5.0 + 4.0 * steps) * scale < 9007199254740992.0;
            const std::int64_t fraction = (std::int64_t (1) << bits) - 1;
            if (bits == 0 && stride == 1)
            {
                // One sample per step at phase 0: step s reads the window at firstWindow + s.
                unitSteps = true;
                firstWindow = static_cast<int> (origin);
                if (steps > 0)
                    windowStarts[steps - 1] = firstWindow + steps - 1;
            }
            else
            {
                kernels::walkPhases ({ ph, speed, origin, stride, bits }, walkExact, steps, windowStarts, phases);
            }

            if (steps > 0)
            {
                // From the walk's own formula rather than its stored result, so the fetches need not wait
                // for the stores.
                const std::int64_t last = origin + stride * (steps - 1);
                fetches = static_cast<int> (last >> bits);
                ph = static_cast<double> (last & fraction) * unit + speed;
            }
        }
        else
        {
            for (int s = 0; s < steps; ++s)
            {
                const int epoch = epochs[s];
                while (ph >= 1.0)
                {
                    fetchTimes[fetches++] = epoch;
                    ph -= 1.0;
                }
                windowStarts[s] = fetches;
                phases[s] = ph;
                ph += speed;
            }
            timesKnown = true;
        }

        const CircularBuffer::ReadView& v = journal.now;
        const int length = v.length;
        const int crossfade = v.crossfadeLength;
        const bool forward = reader.forward;
        const auto first = static_cast<std::int64_t> (reader.readPosition);
        float* const sequence = fetched.data();
        int wrapped = 0;
        // Written before the fetches, so that the steps' first loads need not wait for this store.
        std::copy_n (reader.history + reader.historyIndex, 4, sequence);

        if (fetches > 0)
        {
            // Positions within a crossfade behind the head, or written in this chunk, need the journal.
            const std::int64_t danger = static_cast<std::int64_t> (crossfade) + journal.writes + 1;
            bool nearHead = fetches + danger >= length;
            if (forward ? first + fetches - 1 > INT_MAX : first - (fetches - 1) < INT_MIN)
                return false;

            if (! reader.positionValid || reader.positionLayout != v.layoutVersion)
            {
                reader.position = reader.source->positionOf (reader.readPosition);
                reader.positionLayout = v.layoutVersion;
                reader.positionValid = true;
            }

            wrapped = reader.position.wrapped;
            if (! nearHead)
            {
                int low = forward ? wrapped : wrapped - (fetches - 1);
                if (low < 0)
                    low += length;
                int zone = journal.startPosition - crossfade;
                if (zone < 0)
                    zone += length;
                const auto circular = [length] (int a, int b) { return a >= b ? a - b : a - b + length; };
                nearHead = circular (low, zone) < danger || circular (zone, low) < fetches;
            }

            // Outside the zone a position lies ahead of the head at every sample of the chunk, or behind it
            // at every sample, so its tail slot stays put.
            const auto tailOf = [&] (int position, int phaseOfPosition)
            {
                int t = v.lapTailPhase + phaseOfPosition - (position > journal.startPosition ? v.lengthTailPhase : 0);
                if (t < 0)
                    t += crossfade;
                if (t >= crossfade)
                    t -= crossfade;
                return t;
            };

            // Only tail slots written in this chunk need each fetch's time; most runs touch none.
            const auto ensureTimes = [&]
            {
                if (timesKnown)
                    return;
                timesKnown = true;
                if (unitSteps)
                {
                    // The fetches before the first window all come at the first step, then one per step.
                    const int early = std::min (firstWindow, fetches);
                    std::fill_n (fetchTimes, early, epochs[0]);
                    if (fetches > early)
                        std::copy_n (epochs + 1, fetches - early, fetchTimes + early);
                    return;
                }
                // At most four fetches a step: each step marks four slots from its first fetch on, and
                // the next step overwrites what is not its own.
                int previous = 0;
                for (int s = 0; s < steps; ++s)
                {
                    const int epoch = epochs[s];
                    int* const slot = fetchTimes + previous;
                    slot[0] = slot[1] = slot[2] = slot[3] = epoch;
                    previous = windowStarts[s];
                }
            };
            const int written = journal.writes;
            const auto touchesWritten = [&] (int lowTail, int n)
            {
                if (written == 0)
                    return false;
                const auto wrap = [crossfade] (int a) { return a < 0 ? a + crossfade : a; };
                return wrap (lowTail - journal.startTailSlot) < written || wrap (journal.startTailSlot - lowTail) < n;
            };

            const int mode = v.numChannels == 2 ? 2 : 1;
            const FrameSources now = frameSources (journal, false);
            const float balance = reader.balance;
            int done = 0;
            // With one journaled write per step, which fetches see a slot before its write follows from
            // the walk itself, and a run splits into pieces that need no per-fetch check.
            const bool split = walkExact && epochsAreSteps;
            const int shift = firstEpoch + from;
            // Stamped runs check each fetch's time against the journal; plain ones read src as it is.
            const auto run = [&] (auto stamped, const FrameSources& src, int at, int runTail, int n, const int* times,
                                  float* dest)
            {
                constexpr bool checked = decltype (stamped)::value;
                if (forward)
                    mode == 2 ? kernels::readFrameRun<2, true, checked> (src, at, runTail, n, times, balance, dest)
                              : kernels::readFrameRun<1, true, checked> (src, at, runTail, n, times, balance, dest);
                else
                    mode == 2 ? kernels::readFrameRun<2, false, checked> (src, at, runTail, n, times, balance, dest)
                              : kernels::readFrameRun<1, false, checked> (src, at, runTail, n, times, balance, dest);
            };
            const auto plainRun = [&] (const FrameSources& src, int at, int runTail, int n, float* dest)
            {
                run (std::false_type {}, src, at, runTail, n, nullptr, dest);
            };
            const auto fetchRunAt = [&] (int at, int runTail, int n, int lowTail, float* dest)
            {
                if (! touchesWritten (lowTail, n))
                {
                    plainRun (now, at, runTail, n, dest);
                    return;
                }
                if (! split)
                {
                    ensureTimes();
                    run (std::true_type {}, now, at, runTail, n, fetchTimes + done, dest);
                    return;
                }
                OldRanges old;
                findOldRanges (walk, shift, done, n, forward, runTail, journal, old);
                const FrameSources before = frameSources (journal, true);
                const int step = forward ? 1 : -1;
                int cursor = 0;
                for (int r = 0; r < old.count; ++r)
                {
                    const int lo = old.lo[r], hi = old.hi[r];
                    if (lo > cursor)
                        plainRun (now, at + step * cursor, runTail + step * cursor, lo - cursor, dest + cursor);
                    plainRun (before, at + step * lo, runTail + step * lo, hi - lo, dest + lo);
                    cursor = hi;
                }
                if (cursor < n)
                    plainRun (now, at + step * cursor, runTail + step * cursor, n - cursor, dest + cursor);
            };

            float* const firstFetched = sequence + 4; // after the four history samples
            if (nearHead)
            {
                // Each fetch as the step-by-step path makes it, through the journal at its own time; only
                // the steps around it are batched.
                ensureTimes();
                int tailPhase = reader.position.tailPhase;
                if (forward)
                    mode == 2 ? kernels::readJournaledFrames<2, true> (journal, fetchTimes, fetches, balance, wrapped, tailPhase, firstFetched)
                              : kernels::readJournaledFrames<1, true> (journal, fetchTimes, fetches, balance, wrapped, tailPhase, firstFetched);
                else
                    mode == 2 ? kernels::readJournaledFrames<2, false> (journal, fetchTimes, fetches, balance, wrapped, tailPhase, firstFetched)
                              : kernels::readJournaledFrames<1, false> (journal, fetchTimes, fetches, balance, wrapped, tailPhase, firstFetched);
                done = fetches;
            }
            int tail = nearHead ? 0 : tailOf (wrapped, reader.position.tailPhase);
            while (done < fetches)
            {
                const int left = fetches - done;
                if (forward)
                {
                    const int n = std::min (left, std::min (length - wrapped, crossfade - tail));
                    fetchRunAt (wrapped, tail, n, tail, firstFetched + done);
                    done += n;
                    wrapped += n;
                    tail += n;
                    if (wrapped == length)
                    {
                        wrapped = 0;
                        tail = tailOf (0, 0);
                    }
                    else if (tail == crossfade)
                    {
                        tail = 0;
                    }
                }
                else
                {
                    const int n = std::min (left, std::min (wrapped + 1, tail + 1));
                    fetchRunAt (wrapped, tail, n, tail - (n - 1), firstFetched + done);
                    done += n;
                    wrapped -= n;
                    tail -= n;
                    if (wrapped < 0)
                    {
                        wrapped = length - 1;
                        tail = tailOf (length - 1, v.lastTailPhase);
                    }
                    else if (tail < 0)
                    {
                        tail = crossfade - 1;
                    }
                }
            }
        }

        if (unitSteps)
            kernels::interpolateUnitSteps (sequence + firstWindow, steps, out);
        else
            kernels::interpolateSteps (sequence, windowStarts, phases, steps, out, speed, fetches + 3);

        reader.phase = ph;
        const int newest = (reader.historyIndex + fetches) & 3;
        for (int k = 0; k < 4; ++k)
        {
            const int slot = (newest + k) & 3;
            reader.history[slot] = reader.history[slot + 4] = sequence[fetches + k];
        }
        reader.historyIndex = newest;

        if (fetches > 0)
        {
            reader.readPosition = static_cast<int> (forward ? first + fetches : first - fetches);
            reader.position.wrapped = wrapped;
            reader.position.tailPhase = wrapped % crossfade;
        }

        return true;
    }
}
