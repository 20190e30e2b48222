#pragma once

#include "ExpectedRanges.h"

#include <string>
#include <vector>

// The full parameter list as the plug-in documents it, built from the naming patterns and index
// formulas rather than from the layout code, so a slip in either shows up as a mismatch.
namespace qvl::test
{
    enum class Kind { boolean, integer, floating };
    enum class Texts { framework, timebase, sync, shape, timed };

    struct ExpectedParameter
    {
        int index = -1;
        std::string id;
        std::string name;
        Kind kind = Kind::floating;
        Texts texts = Texts::framework;
        RangeSpec range;            // floats: the range; ints: start = minimum, end = maximum
        double defaultValue = 0.0;  // in the range's own units; bools 0 or 1
        std::string label;
        std::string timebaseId;     // timed parameters: the timebase parameter that selects the range
        TimedFamily family = TimedFamily::bufferSize;
        int timebaseDefault = 0;    // timed parameters: that timebase's default
    };

    constexpr int expectedParameterCount = 449;

    inline std::string withNumber (std::string pattern, int number)
    {
        const auto pos = pattern.find ("%d");
        if (pos != std::string::npos)
            pattern.replace (pos, 2, std::to_string (number));
        return pattern;
    }

    namespace ranges
    {
        inline const RangeSpec unit { 0.0, 1.0, 0.5 };
        inline const RangeSpec decibel { -100.0, 12.0, 0.0 };
        inline const RangeSpec envelopeTime { 0.0001, 1.0, 0.25 };
        inline const RangeSpec increment { -4.0, 4.0, 0.0 };
        inline const RangeSpec grainPitch { -24.0, 24.0, 0.0, 0.0001 };
        inline const RangeSpec modulationAmount { -1.0, 1.0, 0.0 };
    }

    class ExpectedTableBuilder
    {
    public:
        std::vector<ExpectedParameter> table = std::vector<ExpectedParameter> (expectedParameterCount);
        std::vector<int> timesFilled = std::vector<int> (expectedParameterCount, 0);

        void put (int index, ExpectedParameter p)
        {
            if (index < 0 || index >= expectedParameterCount)
            {
                overflow = true;
                return;
            }
            p.index = index;
            table[(size_t) index] = std::move (p);
            ++timesFilled[(size_t) index];
        }

        static ExpectedParameter boolean (std::string id, std::string name, bool def)
        {
            ExpectedParameter p;
            p.id = std::move (id);
            p.name = std::move (name);
            p.kind = Kind::boolean;
            p.range = { 0.0, 1.0, 0.5 };
            p.defaultValue = def ? 1.0 : 0.0;
            return p;
        }

        static ExpectedParameter integer (std::string id, std::string name, int minimum, int maximum, int def,
                                          Texts texts = Texts::framework)
        {
            ExpectedParameter p;
            p.id = std::move (id);
            p.name = std::move (name);
            p.kind = Kind::integer;
            p.texts = texts;
            p.range = { (double) minimum, (double) maximum, 0.5 * (minimum + maximum) };
            p.defaultValue = def;
            return p;
        }

        static ExpectedParameter floating (std::string id, std::string name, RangeSpec range, double def,
                                           std::string label = {})
        {
            ExpectedParameter p;
            p.id = std::move (id);
            p.name = std::move (name);
            p.kind = Kind::floating;
            p.range = range;
            p.defaultValue = def;
            p.label = std::move (label);
            return p;
        }

        static ExpectedParameter timed (std::string id, std::string name, std::string timebaseId,
                                        TimedFamily family, int timebaseDefault)
        {
            auto p = floating (std::move (id), std::move (name), ranges::unit, 0.5);
            p.texts = Texts::timed;
            p.timebaseId = std::move (timebaseId);
            p.family = family;
            p.timebaseDefault = timebaseDefault;
            return p;
        }

        bool overflow = false;
    };

    inline ExpectedTableBuilder buildExpectedTable()
    {
        using B = ExpectedTableBuilder;
        B b;
        const std::string dB = " dB";

        b.put (0, B::boolean ("bypass", "Bypass", false));
        b.put (1, B::floating ("gain_db_dry", "Volume: Dry", ranges::decibel, 0.0, dB));
        b.put (2, B::floating ("gain_db_buffer", "Volume: Buffer", ranges::decibel, -100.0, dB));
        b.put (3, B::floating ("gain_db_granulator", "Volume: Granulator", ranges::decibel, 0.0, dB));
        b.put (4, B::boolean ("freeze", "Freeze", false));
        b.put (5, B::boolean ("buffer_write_sync", "Buffer Write Sync", false));
        b.put (6, B::floating ("gain_db_buffer_input", "Volume: Input", ranges::decibel, 0.0, dB));
        b.put (7, B::floating ("buffer_feedback", "Feedback", ranges::unit, 0.5));
        b.put (8, B::integer ("buffer_size_timebase", "Buffer Size Timebase", 0, 18, 0));
        b.put (9, B::timed ("buffer_size", "Buffer Size", "buffer_size_timebase", TimedFamily::bufferSize, 0));

        for (int n = 1; n <= 4; ++n)
        {
            const int base = 10 + 19 * (n - 1);
            auto id = [n] (const char* p) { return withNumber (p, n); };

            b.put (base + 0, B::boolean (id ("stream_%d_is_enabled"), id ("Stream %d Enabled"), n == 1));
            b.put (base + 1, B::floating (id ("stream_%d_increment"), id ("Stream %d Increment"), ranges::increment, 0.0));
            b.put (base + 2, B::floating (id ("stream_%d_position"), id ("Stream %d Position"), ranges::unit, 0.0));
            b.put (base + 3, B::integer (id ("stream_%d_rate_timebase"), id ("Stream %d Rate Timebase"), 0, 18, 2, Texts::timebase));
            b.put (base + 4, B::integer (id ("stream_%d_rate_sync"), id ("Stream %d Rate Sync"), 0, 1, 1, Texts::sync));
            b.put (base + 5, B::timed (id ("stream_%d_rate"), id ("Stream %d Rate"), id ("stream_%d_rate_timebase"), TimedFamily::streamRate, 2));
            b.put (base + 6, B::floating (id ("stream_%d_balance"), id ("Stream %d Balance"), ranges::unit, 0.5));
            b.put (base + 7, B::floating (id ("stream_%d_grain_pitch"), id ("Stream %d Grain Pitch"), ranges::grainPitch, 0.0));
            b.put (base + 8, B::integer (id ("stream_%d_grain_pitch_quantize"), id ("Stream %d Grain Pitch Quantize"), 0, 4095, 0));
            b.put (base + 9, B::floating (id ("stream_%d_reverse_probability"), id ("Stream %d Reverse Probability"), ranges::unit, 0.5));
            b.put (base + 10, B::floating (id ("stream_%d_grain_volume_db"), id ("Stream %d Grain Volume"), ranges::decibel, 0.0, dB));
            b.put (base + 11, B::integer (id ("stream_%d_grain_length_timebase"), id ("Stream %d Grain Length Timebase"), 0, 18, 0, Texts::timebase));
            b.put (base + 12, B::timed (id ("stream_%d_grain_length"), id ("Stream %d Grain Length"), id ("stream_%d_grain_length_timebase"), TimedFamily::grainLength, 0));
            b.put (base + 13, B::floating (id ("stream_%d_grain_pan"), id ("Stream %d Grain Pan"), ranges::unit, 0.5));
            b.put (base + 14, B::boolean (id ("stream_%d_adsr_enabled"), id ("Stream %d ADSR Enabled"), false));
            b.put (base + 15, B::floating (id ("stream_%d_adsr_attack"), id ("Stream %d ADSR Attack"), ranges::envelopeTime, 0.25));
            b.put (base + 16, B::floating (id ("stream_%d_adsr_decay"), id ("Stream %d ADSR Decay"), ranges::envelopeTime, 0.25));
            b.put (base + 17, B::floating (id ("stream_%d_adsr_sustain"), id ("Stream %d ADSR Sustain"), ranges::unit, 0.5));
            b.put (base + 18, B::floating (id ("stream_%d_adsr_release"), id ("Stream %d ADSR Release"), ranges::envelopeTime, 0.25));
        }

        for (int n = 1; n <= 4; ++n)
        {
            const int base = 86 + 4 * (n - 1);
            auto id = [n] (const char* p) { return withNumber (p, n); };

            b.put (base + 0, B::integer (id ("modulator_lfo_%d_timebase"), id ("LFO %d Timebase"), 0, 18, 2, Texts::timebase));
            b.put (base + 1, B::integer (id ("modulator_lfo_%d_sync"), id ("LFO %d Sync"), 0, 1, 1, Texts::sync));
            b.put (base + 2, B::timed (id ("modulator_lfo_%d_rate"), id ("LFO %d Rate"), id ("modulator_lfo_%d_timebase"), TimedFamily::modulatorRate, 2));
            b.put (base + 3, B::integer (id ("modulator_lfo_%d_shape"), id ("LFO %d Shape"), 0, 5, 0, Texts::shape));
        }

        for (int n = 1; n <= 4; ++n)
            b.put (101 + n, B::floating (withNumber ("modulator_macro_%d", n), withNumber ("Macro %d", n), ranges::unit, 0.0));

        for (int n = 1; n <= 4; ++n)
        {
            const int base = 106 + 4 * (n - 1);
            auto id = [n] (const char* p) { return withNumber (p, n); };

            b.put (base + 0, B::integer (id ("modulator_random_%d_timebase"), id ("Random %d Timebase"), 0, 18, 2, Texts::timebase));
            b.put (base + 1, B::integer (id ("modulator_random_%d_sync"), id ("Random %d Sync"), 0, 1, 1, Texts::sync));
            b.put (base + 2, B::timed (id ("modulator_random_%d_rate"), id ("Random %d Rate"), id ("modulator_random_%d_timebase"), TimedFamily::modulatorRate, 2));
            b.put (base + 3, B::floating (id ("modulator_random_%d_probability"), id ("Random %d Probability"), ranges::unit, 1.0));
        }

        const std::string words[2] = { "In", "Out" };
        const std::string lowerWords[2] = { "in", "out" };

        for (int i = 0; i < 2; ++i)
        {
            const int base = 122 + 3 * i;
            const auto idBase = "modulator_audio_" + lowerWords[i];
            const auto nameBase = "Audio " + words[i];

            b.put (base + 0, B::floating (idBase + "_gain", nameBase + " Gain", ranges::decibel, 0.0, dB));
            b.put (base + 1, B::floating (idBase + "_rise", nameBase + " Rise Time", ranges::unit, 0.5));
            b.put (base + 2, B::floating (idBase + "_fall", nameBase + " Fall Time", ranges::unit, 0.5));
        }

        for (int n = 1; n <= 64; ++n)
        {
            const int base = 128 + 5 * (n - 1);
            auto id = [n] (const char* p) { return withNumber (p, n); };

            b.put (base + 0, B::floating (id ("modulation_%d_amount"), id ("Mod %d Amount"), ranges::modulationAmount, 0.0));
            b.put (base + 1, B::integer (id ("modulation_%d_target"), id ("Modulation %d Target"), -1, 449, -1));
            b.put (base + 2, B::integer (id ("modulator_%d_modulator_index"), id ("Modulation %d Modulator"), 0, 13, 0));
            b.put (base + 3, B::boolean (id ("modulation_%d_is_bipolar"), id ("Mod %d Bipolar"), false));
            b.put (base + 4, B::boolean (id ("modulation_%d_is_bypassed"), id ("Mod %d Bypass"), false));
        }

        b.put (448, B::integer ("grain_count_limit", "Grain Count Limit", 1, 600, 60));

        return b;
    }

    inline const std::vector<ExpectedParameter>& expectedParameters()
    {
        static const auto table = buildExpectedTable().table;
        return table;
    }
}
