#include "engine/ModulationEngine.h"

#include <algorithm>
#include <cmath>

namespace qvl
{
    namespace
    {
        float randomUnit (ControlRandom& random)
        {
            return static_cast<float> (random.next() / 32767.0);
        }

        float randomBipolar (ControlRandom& random)
        {
            return static_cast<float> (2.0 * random.next() / 32767.0 - 1.0);
        }

        // A counter taken over from a host position may start near the end of the range: it wraps
        // there instead of overflowing.
        std::int64_t nextTick (std::int64_t tick)
        {
            return static_cast<std::int64_t> (static_cast<std::uint64_t> (tick) + 1u);
        }

        double fractionalPart (double x)
        {
            return x - std::floor (x);
        }

        // Written so that NaN lands on a bound instead of passing through.
        float clampToUnit (float x, float nanResult)
        {
            if (x >= 0.0f)
                return x <= 1.0f ? x : 1.0f;

            return x < 0.0f ? 0.0f : nanResult;
        }

        // controlRate / rate as a whole number of ticks, at least 2; bounded so the
        // conversion stays defined whatever controlRate holds.
        std::int64_t firingPeriod (float controlRate, float rate)
        {
            const float ticks = controlRate / rate;

            if (! (ticks >= 2.0f))
                return 2;

            constexpr float longest = 1.0e18f;
            return static_cast<std::int64_t> (std::min (ticks, longest));
        }
    }

    const char* getModulatorKindName (int kind)
    {
        switch (kind)
        {
            case static_cast<int> (ModulatorKind::LFO):    return "LFO";
            case static_cast<int> (ModulatorKind::Random): return "Random";
            case static_cast<int> (ModulatorKind::Macro):  return "Macro";
            case static_cast<int> (ModulatorKind::Audio):  return "Audio";
            default:                                       return "";
        }
    }

    ModulationEngine::ModulationEngine (int numSlots, int numTargets)
        : slots (static_cast<std::size_t> (std::max (0, numSlots))),
          baseValues (static_cast<std::size_t> (std::max (0, numTargets)), 0.0f),
          modulatedValues (static_cast<std::size_t> (std::max (0, numTargets)))
    {
        lfos.reserve (maxRecordsPerKind);
        randoms.reserve (maxRecordsPerKind);
        followers.reserve (maxRecordsPerKind);
        macros.reserve (maxRecordsPerKind);
        sources.reserve (maxSources);
        modulators.reserve (maxSources);

        for (auto& value : modulatedValues)
            value.store (0.0f, std::memory_order_relaxed);
    }

    void ModulationEngine::addPluginModulators()
    {
        for (auto kind : { ModulatorKind::LFO, ModulatorKind::Random, ModulatorKind::Macro })
            for (int i = 0; i < maxRecordsPerKind; ++i)
                addModulator (kind);

        addModulator (ModulatorKind::Audio);
        addModulator (ModulatorKind::Audio);
    }

    int ModulationEngine::addModulator (ModulatorKind kind)
    {
        if (static_cast<int> (sources.size()) >= maxSources)
            return -1;

        // A record beyond the reserved room would move the others and leave their sources dangling.
        const auto hasRoom = [] (const auto& records) { return static_cast<int> (records.size()) < maxRecordsPerKind; };

        ModulationSource source;
        int indexInKind = 0;

        switch (kind)
        {
            case ModulatorKind::LFO:
                if (! hasRoom (lfos))
                    return -1;

                indexInKind = static_cast<int> (lfos.size());
                lfos.emplace_back();
                source = { &lfos.back().output, 1 };
                break;

            case ModulatorKind::Random:
            {
                if (! hasRoom (randoms))
                    return -1;

                RandomState record;
                record.values.assign (slots.size(), 0.0f);
                indexInKind = static_cast<int> (randoms.size());
                randoms.push_back (std::move (record));
                source = { randoms.back().values.data(), getNumSlots() };
                break;
            }

            case ModulatorKind::Macro:
                if (! hasRoom (macros))
                    return -1;

                indexInKind = static_cast<int> (macros.size());
                macros.emplace_back();
                source = { &macros.back().output, 1 };
                break;

            case ModulatorKind::Audio:
                if (! hasRoom (followers))
                    return -1;

                indexInKind = static_cast<int> (followers.size());
                followers.emplace_back();
                source = { &followers.back().output, 1 };
                break;

            default:
                return -1;
        }

        sources.push_back (source);
        modulators.push_back ({ kind, indexInKind, static_cast<int> (sources.size()) - 1 });
        return static_cast<int> (modulators.size()) - 1;
    }

    void ModulationEngine::setBaseValue (int target, float value)
    {
        if (target >= 0 && target < getNumTargets())
            baseValues[static_cast<std::size_t> (target)] = value;
    }

    float ModulationEngine::getModulatedValue (int target) const
    {
        if (target < 0 || target >= static_cast<int> (modulatedValues.size()))
            return 0.0f;

        return modulatedValues[static_cast<std::size_t> (target)].load (std::memory_order_relaxed);
    }

    void ModulationEngine::process (bool isPlaying, const HostPosition& host)
    {
        for (auto& lfo : lfos)
            processLfo (lfo, isPlaying, host);

        for (auto& modulator : randoms)
            processRandom (modulator, isPlaying, host);

        for (auto& follower : followers)
        {
            const float target = 2.0f * clampToUnit (follower.inputLevel, 0.0f) - 1.0f;
            // A coefficient outside 0..1 would make the output run away; NaN holds the output.
            const float keep = clampToUnit (target >= follower.output ? follower.rise : follower.fall, 1.0f);
            follower.output = target + (follower.output - target) * keep;
        }

        for (auto& macro : macros)
            macro.output = 2.0f * macro.value - 1.0f;

        processSlots();
    }

    void ModulationEngine::processLfo (LfoState& lfo, bool isPlaying, const HostPosition& host)
    {
        // Stopped LFOs hold their output and phase; NaN counts as stopped.
        if (! (lfo.frequency >= 0.001f))
            return;

        const float frequency = std::min (controlRate * 0.5f, lfo.frequency);
        float ticksPerCycle = controlRate / frequency;

        if (! (ticksPerCycle >= 2.0f))
            ticksPerCycle = 2.0f;

        double x;
        double firstTickOfCycle = 1.0 / ticksPerCycle;

        if (isPlaying && lfo.synced)
        {
            lfo.tickCounter = host.tick;

            if (lfo.syncedCycle > 0.0)
            {
                // Exact: the cycle is given in the host position's unit, and a tick spans what it
                // spans.
                x = fractionalPart (host.start / lfo.syncedCycle);
                firstTickOfCycle = (host.end - host.start) / lfo.syncedCycle;
            }
            else
            {
                x = fractionalPart (static_cast<float> (host.tick) / ticksPerCycle);
            }

            // A position beyond what the quotient can hold starts the cycle.
            if (! (x >= 0.0 && x < 1.0))
                x = 0.0;
        }
        else
        {
            lfo.tickCounter = nextTick (lfo.tickCounter);
            x = lfo.phase;
            lfo.phase = fractionalPart (x + 1.0 / ticksPerCycle);
        }

        switch (std::clamp (lfo.shape, 0, 5))
        {
            case 0:
                lfo.output = std::sin (static_cast<float> (x * 6.2831854820251465));
                break;

            case 1:
                lfo.output = static_cast<float> (2.0 * std::abs (2.0 * x - 1.0) - 1.0);
                break;

            case 2:
                lfo.output = x < 0.5 ? -1.0f : 1.0f;
                break;

            case 3:
                lfo.output = static_cast<float> (2.0 * x - 1.0);
                break;

            case 4:
                lfo.output = static_cast<float> (2.0 * (1.0 - x) - 1.0);
                break;

            default:
                // A new pair of points on the first tick of every cycle.
                if (x < firstTickOfCycle)
                {
                    lfo.noisePrevious = lfo.noiseNext;
                    lfo.noiseNext = randomUnit (random);
                }

                lfo.output = static_cast<float> (2.0 * (lfo.noisePrevious + (lfo.noiseNext - lfo.noisePrevious) * x) - 1.0);
                break;
        }
    }

    void ModulationEngine::processRandom (RandomState& modulator, bool isPlaying, const HostPosition& host)
    {
        const bool synced = isPlaying && modulator.synced;

        if (synced)
            modulator.tickCounter = host.tick;
        else
            modulator.tickCounter = nextTick (modulator.tickCounter);

        // fminf would turn a NaN rate into the fastest rate; treat it as no rate instead.
        const float rate = std::isnan (modulator.rate) ? 0.0f : std::fmin (modulator.rate, controlRate * 0.5f);

        modulator.cleared = modulator.cleared || modulator.clearRequest;
        bool fire = modulator.triggerRequest;

        if (rate > 0.001f)
        {
            bool opportunity;

            if (synced && modulator.syncedCycle > 0.0)
            {
                // Fires in the tick that holds a line of the grid, once a line: the ticks' spans
                // join up, so a line on a boundary belongs to one of them.
                const double spacing = modulator.syncedCycle;
                opportunity = std::ceil (host.end / spacing) > std::ceil (host.from / spacing);
            }
            else
            {
                opportunity = modulator.tickCounter % firingPeriod (controlRate, rate) == 0;
            }

            // Drawn on every opportunity, fired or not, so the sequence does not depend on the trigger.
            const float u = randomUnit (random);
            fire = fire || (u <= modulator.probability && opportunity);
        }

        if (fire)
        {
            for (auto& value : modulator.values)
                value = randomBipolar (random);

            modulator.cleared = false;
        }
    }

    void ModulationEngine::processSlots()
    {
        const auto numTargets = static_cast<int> (modulatedValues.size());
        const auto numModulators = static_cast<int> (modulators.size());

        for (int i = 0; i < numTargets; ++i)
            modulatedValues[static_cast<std::size_t> (i)].store (baseValues[static_cast<std::size_t> (i)], std::memory_order_relaxed);

        const auto numSlots = static_cast<int> (slots.size());

        for (int i = 0; i < numSlots; ++i)
        {
            const auto& slot = slots[static_cast<std::size_t> (i)];

            if (slot.target == -1 || slot.bypassed)
                continue;

            // Routing comes from host parameters: anything out of range is ignored, never followed.
            if (slot.target < 0 || slot.target >= numTargets || slot.modulator < 0 || slot.modulator >= numModulators)
                continue;

            const auto& info = modulators[static_cast<std::size_t> (slot.modulator)];
            const auto& source = sources[static_cast<std::size_t> (info.sourceIndex)];
            float v = i < source.count ? source.outputs[i] : source.outputs[0];

            if (info.kind == ModulatorKind::Random && randoms[static_cast<std::size_t> (info.indexInKind)].cleared)
                continue;

            if (! slot.bipolar)
                v = 0.5f * v + 0.5f;

            auto& value = modulatedValues[static_cast<std::size_t> (slot.target)];
            const float sum = value.load (std::memory_order_relaxed) + v * slot.amount;

            // A NaN amount (or 0 x infinity) would poison the target for good: skip the slot.
            if (std::isnan (sum))
                continue;

            // Clamped after every slot, so slot order matters on a shared target.
            value.store (std::clamp (sum, 0.0f, 1.0f), std::memory_order_relaxed);
        }
    }
}
