#pragma once

#include "engine/ControlRandom.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace qvl
{
    enum class ModulatorKind : int
    {
        LFO = 0,
        Random = 1,
        Macro = 2,
        Audio = 3
    };

    // "LFO", "Random", "Macro", "Audio"; the empty text for any other kind.
    const char* getModulatorKindName (int kind);
    inline const char* getModulatorKindName (ModulatorKind kind) { return getModulatorKindName (static_cast<int> (kind)); }

    struct LfoState
    {
        int shape = 0;              // 0 sine, 1 triangle, 2 square, 3 saw up, 4 saw down, 5 noise
        float frequency = 0.0f;     // cycles per second
        bool synced = false;        // follow the host position while the host plays
        double syncedCycle = 0.0;   // while synced: the cycle in the host position's unit, two ticks or more; 0 counts whole ticks
        std::int64_t tickCounter = 0;
        double phase = 0.0;         // free-running cycle position, 0..1
        float noisePrevious = 0.0f;
        float noiseNext = 0.0f;
        float output = 0.0f;        // -1..1
    };

    struct RandomState
    {
        float rate = 0.0f;          // firing opportunities per second
        float probability = 0.0f;   // chance that an opportunity fires
        bool triggerRequest = false;
        bool clearRequest = false;
        bool synced = false;
        double syncedCycle = 0.0;   // as for the LFO: the spacing of the firing grid while synced
        std::int64_t tickCounter = 0;
        bool cleared = true;        // contributes nothing until it first fires
        std::vector<float> values;  // one value per slot, -1..1
    };

    struct AudioFollowerState
    {
        float inputLevel = 0.0f;    // 0..1
        float rise = 0.0f;          // weight kept from the previous output while rising
        float fall = 0.0f;          // weight kept from the previous output while falling
        float output = 0.0f;        // -1..1
    };

    struct MacroState
    {
        float value = 0.0f;         // 0..1
        float output = 0.0f;        // -1..1
    };

    struct ModulationSlot
    {
        int modulator = 0;          // index into the modulator list
        int target = -1;            // target index, -1 for none
        float amount = 0.0f;        // -1..1
        bool bipolar = false;
        bool bypassed = false;
    };

    struct ModulationSource
    {
        const float* outputs = nullptr;
        int count = 0;              // 1, or one value per slot for a random modulator
    };

    // Where the host stands during one control tick, for synced modulators. `tick` is the host's
    // whole control tick, which their counters take. `from`, `start` and `end` are positions in
    // the unit of the records' `syncedCycle`: where the previous tick ended (its start again
    // after a jump), where this one starts and where the next will start.
    struct HostPosition
    {
        std::int64_t tick = 0;
        double from = 0.0;
        double start = 0.0;
        double end = 1.0;

        // Whole ticks as the unit.
        static HostPosition atTick (std::int64_t hostTick)
        {
            const auto t = static_cast<double> (hostTick);
            return { hostTick, t, t, t + 1.0 };
        }
    };

    struct ModulatorInfo
    {
        ModulatorKind kind = ModulatorKind::LFO;
        int indexInKind = 0;
        int sourceIndex = 0;
    };

    /*  Runs the modulators once per control tick and routes them through the slots onto the
        targets' base values.

        Everything the audio thread needs is allocated by the constructor and addModulator;
        process() never allocates. The modulated values may be read from another thread while
        a tick runs: each is a single relaxed atomic float.

        Routing and rates come from host parameters, so nothing here trusts them: slots with an
        out-of-range target or modulator are skipped, as are slots whose contribution is not a
        number; an LFO without a usable frequency holds, a random modulator without a usable
        rate fires only on a trigger.
    */
    class ModulationEngine
    {
    public:
        static_assert (std::atomic<float>::is_always_lock_free, "modulated values are read from the message thread");

        static constexpr int maxRecordsPerKind = 4;
        static constexpr int maxSources = 40;

        ModulationEngine (int numSlots, int numTargets);

        ModulationEngine (const ModulationEngine&) = delete;
        ModulationEngine& operator= (const ModulationEngine&) = delete;

        // Returns the new modulator's index, or -1 when the kind is unknown or already holds
        // maxRecordsPerKind records (the sources point into the records, so they must never move).
        int addModulator (ModulatorKind kind);

        // The plug-in's fourteen modulators: LFO 1-4 (0-3), Random 1-4 (4-7), Macro 1-4 (8-11),
        // then the input (12) and output (13) followers.
        void addPluginModulators();

        // Out-of-range targets are ignored.
        void setBaseValue (int target, float value);

        // 0 for an out-of-range target. Safe to call from any thread.
        float getModulatedValue (int target) const;

        void process (bool isPlaying, const HostPosition& host);
        void process (bool isPlaying, std::int64_t hostTick) { process (isPlaying, HostPosition::atTick (hostTick)); }

        int getNumSlots() const     { return static_cast<int> (slots.size()); }
        int getNumTargets() const   { return static_cast<int> (baseValues.size()); }

        std::vector<LfoState> lfos;
        std::vector<RandomState> randoms;
        std::vector<AudioFollowerState> followers;
        std::vector<MacroState> macros;
        std::vector<ModulationSlot> slots;
        std::vector<float> baseValues;
        std::vector<std::atomic<float>> modulatedValues;
        float controlRate = 1.0f;
        std::vector<ModulationSource> sources;
        std::vector<ModulatorInfo> modulators;

        // Noise points, firing chances and random values; the control tick's reverse decisions
        // draw from it too, on the same thread.
        ControlRandom random;

    private:
        void processLfo (LfoState&, bool isPlaying, const HostPosition& host);
        void processRandom (RandomState&, bool isPlaying, const HostPosition& host);
        void processSlots();
    };
}
