#include "tests/host/ExpectedParameters.h"

#include <cmath>
#include <cstdio>

namespace qvl::hosttest
{
    namespace
    {
        std::string format (const char* pattern, int number)
        {
            char buffer[128];
            std::snprintf (buffer, sizeof (buffer), pattern, number);
            return buffer;
        }

        ExpectedParameter boolean (std::string id, std::string name, bool on)
        {
            return { std::move (id), std::move (name), Kind::boolean, 0, 1, on ? 1.0 : 0.0, false };
        }

        ExpectedParameter integer (std::string id, std::string name, int minimum, int maximum, int defaultValue)
        {
            return { std::move (id), std::move (name), Kind::integer, minimum, maximum,
                     (double) (defaultValue - minimum) / (double) (maximum - minimum), false };
        }

        // Continuous parameters: every default sits at the start, the end or the centre of its
        // range, and a range built around a centre puts that centre at one half.
        ExpectedParameter continuous (std::string id, std::string name, double defaultNormalised, bool decibels = false)
        {
            return { std::move (id), std::move (name), Kind::continuous, 0, 1, defaultNormalised, decibels };
        }

        // 0 dB is the centre of the decibel range, -100 dB its start.
        constexpr double zeroDecibels = 0.5;
        constexpr double minusHundredDecibels = 0.0;

        std::vector<ExpectedParameter> build()
        {
            std::vector<ExpectedParameter> p;

            p.push_back (boolean ("bypass", "Bypass", false));
            p.push_back (continuous ("gain_db_dry", "Volume: Dry", zeroDecibels, true));
            p.push_back (continuous ("gain_db_buffer", "Volume: Buffer", minusHundredDecibels, true));
            p.push_back (continuous ("gain_db_granulator", "Volume: Granulator", zeroDecibels, true));
            p.push_back (boolean ("freeze", "Freeze", false));
            p.push_back (boolean ("buffer_write_sync", "Buffer Write Sync", false));
            p.push_back (continuous ("gain_db_buffer_input", "Volume: Input", zeroDecibels, true));
            p.push_back (continuous ("buffer_feedback", "Feedback", 0.5));
            p.push_back (integer ("buffer_size_timebase", "Buffer Size Timebase", 0, 18, 0));
            p.push_back (continuous ("buffer_size", "Buffer Size", 0.5));

            for (int n = 1; n <= 4; ++n)
            {
                p.push_back (boolean (format ("stream_%d_is_enabled", n), format ("Stream %d Enabled", n), n == 1));
                p.push_back (continuous (format ("stream_%d_increment", n), format ("Stream %d Increment", n), 0.5));    // 0 in -4..4
                p.push_back (continuous (format ("stream_%d_position", n), format ("Stream %d Position", n), 0.0));
                p.push_back (integer (format ("stream_%d_rate_timebase", n), format ("Stream %d Rate Timebase", n), 0, 18, 2));
                p.push_back (integer (format ("stream_%d_rate_sync", n), format ("Stream %d Rate Sync", n), 0, 1, 1));
                p.push_back (continuous (format ("stream_%d_rate", n), format ("Stream %d Rate", n), 0.5));
                p.push_back (continuous (format ("stream_%d_balance", n), format ("Stream %d Balance", n), 0.5));
                p.push_back (continuous (format ("stream_%d_grain_pitch", n), format ("Stream %d Grain Pitch", n), 0.5)); // 0 in -24..24
                p.push_back (integer (format ("stream_%d_grain_pitch_quantize", n), format ("Stream %d Grain Pitch Quantize", n), 0, 4095, 0));
                p.push_back (continuous (format ("stream_%d_reverse_probability", n), format ("Stream %d Reverse Probability", n), 0.5));
                p.push_back (continuous (format ("stream_%d_grain_volume_db", n), format ("Stream %d Grain Volume", n), zeroDecibels, true));
                p.push_back (integer (format ("stream_%d_grain_length_timebase", n), format ("Stream %d Grain Length Timebase", n), 0, 18, 0));
                p.push_back (continuous (format ("stream_%d_grain_length", n), format ("Stream %d Grain Length", n), 0.5));
                p.push_back (continuous (format ("stream_%d_grain_pan", n), format ("Stream %d Grain Pan", n), 0.5));
                p.push_back (boolean (format ("stream_%d_adsr_enabled", n), format ("Stream %d ADSR Enabled", n), false));
                // 0.25 is the centre of the envelope time range.
                p.push_back (continuous (format ("stream_%d_adsr_attack", n), format ("Stream %d ADSR Attack", n), 0.5));
                p.push_back (continuous (format ("stream_%d_adsr_decay", n), format ("Stream %d ADSR Decay", n), 0.5));
                p.push_back (continuous (format ("stream_%d_adsr_sustain", n), format ("Stream %d ADSR Sustain", n), 0.5));
                p.push_back (continuous (format ("stream_%d_adsr_release", n), format ("Stream %d ADSR Release", n), 0.5));
            }

            for (int n = 1; n <= 4; ++n)
            {
                p.push_back (integer (format ("modulator_lfo_%d_timebase", n), format ("LFO %d Timebase", n), 0, 18, 2));
                p.push_back (integer (format ("modulator_lfo_%d_sync", n), format ("LFO %d Sync", n), 0, 1, 1));
                p.push_back (continuous (format ("modulator_lfo_%d_rate", n), format ("LFO %d Rate", n), 0.5));
                p.push_back (integer (format ("modulator_lfo_%d_shape", n), format ("LFO %d Shape", n), 0, 5, 0));
            }

            for (int n = 1; n <= 4; ++n)
                p.push_back (continuous (format ("modulator_macro_%d", n), format ("Macro %d", n), 0.0));

            for (int n = 1; n <= 4; ++n)
            {
                p.push_back (integer (format ("modulator_random_%d_timebase", n), format ("Random %d Timebase", n), 0, 18, 2));
                p.push_back (integer (format ("modulator_random_%d_sync", n), format ("Random %d Sync", n), 0, 1, 1));
                p.push_back (continuous (format ("modulator_random_%d_rate", n), format ("Random %d Rate", n), 0.5));
                p.push_back (continuous (format ("modulator_random_%d_probability", n), format ("Random %d Probability", n), 1.0));
            }

            for (const std::string word : { "In", "Out" })
            {
                const std::string lower = word == "In" ? "in" : "out";
                p.push_back (continuous ("modulator_audio_" + lower + "_gain", "Audio " + word + " Gain", zeroDecibels, true));
                p.push_back (continuous ("modulator_audio_" + lower + "_rise", "Audio " + word + " Rise Time", 0.5));
                p.push_back (continuous ("modulator_audio_" + lower + "_fall", "Audio " + word + " Fall Time", 0.5));
            }

            for (int n = 1; n <= 64; ++n)
            {
                p.push_back (continuous (format ("modulation_%d_amount", n), format ("Mod %d Amount", n), 0.5)); // 0 in -1..1
                p.push_back (integer (format ("modulation_%d_target", n), format ("Modulation %d Target", n), -1, 449, -1));
                p.push_back (integer (format ("modulator_%d_modulator_index", n), format ("Modulation %d Modulator", n), 0, 13, 0));
                p.push_back (boolean (format ("modulation_%d_is_bipolar", n), format ("Mod %d Bipolar", n), false));
                p.push_back (boolean (format ("modulation_%d_is_bypassed", n), format ("Mod %d Bypass", n), false));
            }

            p.push_back (integer ("grain_count_limit", "Grain Count Limit", 1, 600, 60));
            return p;
        }
    }

    const std::vector<ExpectedParameter>& expectedParameters()
    {
        static const auto parameters = build();
        return parameters;
    }

    double snappedNormalised (const ExpectedParameter& parameter, double normalised)
    {
        switch (parameter.kind)
        {
            case Kind::boolean:
                return normalised >= 0.5 ? 1.0 : 0.0;

            case Kind::integer:
            {
                const double span = parameter.maximum - parameter.minimum;
                return std::floor (normalised * span + 0.5) / span;
            }

            case Kind::continuous:
                break;
        }

        return normalised;
    }
}
