#include "processor/PluginProcessor.h"
#include "processor/NumberOnlyParameter.h"
#include "processor/NumberText.h"
#include "processor/SwitchParameter.h"

#include <cmath>
#include <limits>

namespace
{
    using Layout = juce::AudioProcessorValueTreeState::ParameterLayout;

    const auto unitRange = makeSkewedRange (0.0f, 1.0f, 0.5f);
    const auto decibelRange = makeSkewedRange (-100.0f, 12.0f, 0.0f);
    const auto envelopeTimeRange = makeSkewedRange (0.0001f, 1.0f, 0.25f);
    const auto incrementRange = juce::NormalisableRange<float> (-4.0f, 4.0f, 0.0f, 1.0f, false);
    const auto grainPitchRange = makeSkewedRange (-24.0f, 24.0f, 0.0f, 0.0001f);
    const auto modulationAmountRange = makeSkewedRange (-1.0f, 1.0f, 0.0f);

    const juce::String decibelLabel (" dB");

    juce::String withNumber (const char* pattern, int number)
    {
        return juce::String (pattern).replace ("%d", juce::String (number));
    }

    // The host's maximum length minus one; a maximum of 1 or less leaves nothing.
    juce::String cutToLength (const juce::String& text, int maximumStringLength)
    {
        // Compared first so that a hugely negative maximum cannot wrap round to a long text.
        if (maximumStringLength <= 1)
            return {};

        return text.substring (0, maximumStringLength - 1);
    }

    juce::String syncName (int value)
    {
        if (value == SyncMode::beat) return "Beat";
        if (value == SyncMode::free) return "Free";
        return "RESERVED";
    }

    template <typename Param, typename... Args>
    Param* add (Layout& layout, Args&&... args)
    {
        auto parameter = std::make_unique<Param> (std::forward<Args> (args)...);
        auto* raw = parameter.get();
        layout.add (std::move (parameter));
        return raw;
    }

    // The number a host or a musician typed, read exactly; "nan" reads as 0 like any other text
    // without a number. Every range clamps the rest.
    float typedNumber (const juce::String& text)
    {
        const auto value = (float) qvl::readLeadingNumber (text);
        return std::isnan (value) ? 0.0f : value;
    }

    // Whole numbers as typed: "12.7" is 12, as the framework reads it, but "1e3" is 1000.
    int typedInteger (const juce::String& text)
    {
        const auto value = std::trunc (qvl::readLeadingNumber (text));
        return std::isnan (value) ? 0 : (int) juce::jlimit ((double) std::numeric_limits<int>::min(),
                                                            (double) std::numeric_limits<int>::max(), value);
    }

    // The framework's text for a float, as many decimals as the step needs (7 without a step), but
    // with a point whatever the locale: the framework's own follows the C++ global locale that a
    // host may set, and "-6,5000000" would read back as -6.
    std::function<juce::String (float, int)> floatText (const juce::NormalisableRange<float>& range)
    {
        int decimals = 7;

        if (range.interval != 0.0f)
            for (auto steps = std::abs (juce::roundToInt (range.interval * 1.0e7)); decimals > 0 && steps % 10 == 0; steps /= 10)
                --decimals;

        return [decimals] (float value, int maximumLength)
        {
            const auto text = qvl::writeFixed (value, decimals);
            return maximumLength > 0 ? text.substring (0, maximumLength) : text;
        };
    }

    juce::AudioParameterFloat* addFloat (Layout& layout, const juce::String& id, const juce::String& name,
                                         const juce::NormalisableRange<float>& range, float defaultValue,
                                         const juce::String& label = {})
    {
        return add<qvl::FloatParameter> (layout, juce::ParameterID (id), name, range, defaultValue,
                                         juce::AudioParameterFloatAttributes().withLabel (label)
                                                                              .withStringFromValueFunction (floatText (range))
                                                                              .withValueFromStringFunction (typedNumber));
    }

    juce::AudioParameterInt* addInt (Layout& layout, const juce::String& id, const juce::String& name,
                                     int minimum, int maximum, int defaultValue)
    {
        return add<qvl::IntParameter> (layout, juce::ParameterID (id), name, minimum, maximum, defaultValue,
                                       juce::AudioParameterIntAttributes().withValueFromStringFunction (typedInteger));
    }

    juce::AudioParameterBool* addBool (Layout& layout, const juce::String& id, const juce::String& name, bool defaultValue)
    {
        // The framework's words, then any number but 0.
        auto fromText = [] (const juce::String& text)
        {
            const auto lower = text.toLowerCase();

            if (lower == "on" || lower == "yes" || lower == "true")
                return true;

            if (lower == "off" || lower == "no" || lower == "false")
                return false;

            return typedInteger (text) != 0;
        };

        return add<qvl::SwitchParameter> (layout, juce::ParameterID (id), name, defaultValue,
                                          juce::AudioParameterBoolAttributes().withValueFromStringFunction (fromText));
    }

    juce::AudioParameterIntAttributes intTexts (std::function<juce::String (int, int)> toText,
                                                std::function<int (const juce::String&)> fromText)
    {
        return juce::AudioParameterIntAttributes().withStringFromValueFunction (std::move (toText))
                                                  .withValueFromStringFunction (std::move (fromText));
    }

    juce::AudioParameterInt* addTimebase (Layout& layout, const juce::String& id, const juce::String& name, int defaultValue)
    {
        return add<qvl::IntParameter> (layout, juce::ParameterID (id), name, 0, Timebase::count - 1, defaultValue,
                                       intTexts ([] (int value, int maximumStringLength) { return cutToLength (timebaseName (value), maximumStringLength); },
                                                 [] (const juce::String& text) { return timebaseFromText (text.toStdString()); }));
    }

    juce::AudioParameterInt* addSync (Layout& layout, const juce::String& id, const juce::String& name)
    {
        return add<qvl::IntParameter> (layout, juce::ParameterID (id), name, 0, 1, SyncMode::free,
                                       intTexts ([] (int value, int maximumStringLength) { return cutToLength (syncName (value), maximumStringLength); },
                                                 [] (const juce::String& text) { return syncModeFromText (text.toStdString()); }));
    }

    // A unit-range value placed inside whatever range its timebase parameter selects right now.
    // `timebaseHandle` is the place that holds the timebase's pointer, read at each call.
    using RangeMap = juce::HashMap<juce::AudioParameterInt*, const TimebaseRangeTable*>;

    juce::AudioParameterFloat* addTimed (Layout& layout, const juce::String& id, const juce::String& name,
                                         juce::AudioParameterInt* const& timebaseHandle, const RangeMap& ranges)
    {
        auto currentTimebase = [&timebaseHandle, &ranges]() -> std::pair<int, const TimebaseRangeTable*>
        {
            auto* timebase = timebaseHandle;
            return { juce::jlimit (0, Timebase::count - 1, timebase->get()), ranges[timebase] };
        };

        auto toText = [currentTimebase] (float value, int)
        {
            auto [tb, table] = currentTimebase();
            return timebaseValueToText (tb, *table, value);
        };

        auto fromText = [currentTimebase] (const juce::String& text)
        {
            auto [tb, table] = currentTimebase();
            const auto& range = (*table)[(size_t) tb];
            return range.convertTo0to1 (juce::jlimit (range.start, range.end, typedNumber (text)));
        };

        return add<qvl::FloatParameter> (layout, juce::ParameterID (id), name, unitRange, 0.5f,
                                         juce::AudioParameterFloatAttributes().withStringFromValueFunction (toText)
                                                                              .withValueFromStringFunction (fromText));
    }
}

juce::String lfoShapeName (int shape, int maximumStringLength)
{
    static const char* const names[] = { "Sine", "Triangle", "Square", "Saw Up", "Saw Down", "Noise" };
    juce::String name = (shape >= 0 && shape < 6) ? names[shape] : "";

    if (maximumStringLength >= 1)
        return name.substring (0, maximumStringLength - 1);

    return name;
}

juce::AudioProcessorValueTreeState::ParameterLayout QuorvalisPluginAudioProcessor::createParameterLayout()
{
    Layout layout;

    bypassParameter = addBool (layout, "bypass", "Bypass", false);
    dryGainParameter = addFloat (layout, "gain_db_dry", "Volume: Dry", decibelRange, 0.0f, decibelLabel);
    bufferGainParameter = addFloat (layout, "gain_db_buffer", "Volume: Buffer", decibelRange, -100.0f, decibelLabel);
    granulatorGainParameter = addFloat (layout, "gain_db_granulator", "Volume: Granulator", decibelRange, 0.0f, decibelLabel);
    freezeParameter = addBool (layout, "freeze", "Freeze", false);
    bufferWriteSyncParameter = addBool (layout, "buffer_write_sync", "Buffer Write Sync", false);
    inputGainParameter = addFloat (layout, "gain_db_buffer_input", "Volume: Input", decibelRange, 0.0f, decibelLabel);
    feedbackParameter = addFloat (layout, "buffer_feedback", "Feedback", unitRange, 0.5f);
    bufferSizeTimebaseParameter = addInt (layout, "buffer_size_timebase", "Buffer Size Timebase", 0, Timebase::count - 1, 0);
    bufferSizeParameter = addTimed (layout, "buffer_size", "Buffer Size", bufferSizeTimebaseParameter, timebaseRanges);
    timebaseRanges.set (bufferSizeTimebaseParameter, &bufferSizeRanges);

    streamParameters.resize (ParameterCounts::streams);

    for (int n = 1; n <= ParameterCounts::streams; ++n)
    {
        auto& s = streamParameters[(size_t) n - 1];
        s.isEnabled = addBool (layout, withNumber ("stream_%d_is_enabled", n), withNumber ("Stream %d Enabled", n), n == 1);
        s.increment = addFloat (layout, withNumber ("stream_%d_increment", n), withNumber ("Stream %d Increment", n), incrementRange, 0.0f);
        s.position = addFloat (layout, withNumber ("stream_%d_position", n), withNumber ("Stream %d Position", n), unitRange, 0.0f);
        s.rateTimebase = addTimebase (layout, withNumber ("stream_%d_rate_timebase", n), withNumber ("Stream %d Rate Timebase", n), Timebase::hertz);
        s.rateSync = addSync (layout, withNumber ("stream_%d_rate_sync", n), withNumber ("Stream %d Rate Sync", n));
        s.rate = addTimed (layout, withNumber ("stream_%d_rate", n), withNumber ("Stream %d Rate", n), s.rateTimebase, timebaseRanges);
        timebaseRanges.set (s.rateTimebase, &streamRateRanges);
        s.balance = addFloat (layout, withNumber ("stream_%d_balance", n), withNumber ("Stream %d Balance", n), unitRange, 0.5f);
        s.grainPitch = addFloat (layout, withNumber ("stream_%d_grain_pitch", n), withNumber ("Stream %d Grain Pitch", n), grainPitchRange, 0.0f);
        s.grainPitchQuantize = addInt (layout, withNumber ("stream_%d_grain_pitch_quantize", n),
                                       withNumber ("Stream %d Grain Pitch Quantize", n), 0, 4095, 0);
        s.reverseProbability = addFloat (layout, withNumber ("stream_%d_reverse_probability", n), withNumber ("Stream %d Reverse Probability", n), unitRange, 0.5f);
        s.grainVolumeDb = addFloat (layout, withNumber ("stream_%d_grain_volume_db", n), withNumber ("Stream %d Grain Volume", n), decibelRange, 0.0f, decibelLabel);
        s.grainLengthTimebase = addTimebase (layout, withNumber ("stream_%d_grain_length_timebase", n), withNumber ("Stream %d Grain Length Timebase", n), Timebase::milliseconds);
        s.grainLength = addTimed (layout, withNumber ("stream_%d_grain_length", n), withNumber ("Stream %d Grain Length", n), s.grainLengthTimebase, timebaseRanges);
        timebaseRanges.set (s.grainLengthTimebase, &grainLengthRanges);
        s.grainPan = addFloat (layout, withNumber ("stream_%d_grain_pan", n), withNumber ("Stream %d Grain Pan", n), unitRange, 0.5f);
        s.adsrEnabled = addBool (layout, withNumber ("stream_%d_adsr_enabled", n), withNumber ("Stream %d ADSR Enabled", n), false);
        s.adsrAttack = addFloat (layout, withNumber ("stream_%d_adsr_attack", n), withNumber ("Stream %d ADSR Attack", n), envelopeTimeRange, 0.25f);
        s.adsrDecay = addFloat (layout, withNumber ("stream_%d_adsr_decay", n), withNumber ("Stream %d ADSR Decay", n), envelopeTimeRange, 0.25f);
        s.adsrSustain = addFloat (layout, withNumber ("stream_%d_adsr_sustain", n), withNumber ("Stream %d ADSR Sustain", n), unitRange, 0.5f);
        s.adsrRelease = addFloat (layout, withNumber ("stream_%d_adsr_release", n), withNumber ("Stream %d ADSR Release", n), envelopeTimeRange, 0.25f);
    }

    lfoParameters.resize (ParameterCounts::lfos);

    for (int n = 1; n <= ParameterCounts::lfos; ++n)
    {
        auto& l = lfoParameters[(size_t) n - 1];
        l.timebase = addTimebase (layout, withNumber ("modulator_lfo_%d_timebase", n), withNumber ("LFO %d Timebase", n), Timebase::hertz);
        l.sync = addSync (layout, withNumber ("modulator_lfo_%d_sync", n), withNumber ("LFO %d Sync", n));
        l.rate = addTimed (layout, withNumber ("modulator_lfo_%d_rate", n), withNumber ("LFO %d Rate", n), l.timebase, timebaseRanges);
        timebaseRanges.set (l.timebase, &modulatorRateRanges);
        l.shape = add<qvl::IntParameter> (layout, juce::ParameterID (withNumber ("modulator_lfo_%d_shape", n)), withNumber ("LFO %d Shape", n),
                                          0, 5, 0,
                                          intTexts ([] (int value, int maximumStringLength) { return lfoShapeName (value, maximumStringLength); },
                                                    [] (const juce::String& text)
                                                    {
                                                        for (int shape = 0; shape < 6; ++shape)
                                                            if (text == lfoShapeName (shape, 0))
                                                                return shape;
                                                        return 0;
                                                    }));
    }

    macroParameters.resize (ParameterCounts::macros);

    for (int n = 1; n <= ParameterCounts::macros; ++n)
        macroParameters[(size_t) n - 1] = addFloat (layout, withNumber ("modulator_macro_%d", n), withNumber ("Macro %d", n), unitRange, 0.0f);

    randomParameters.resize (ParameterCounts::randoms);

    for (int n = 1; n <= ParameterCounts::randoms; ++n)
    {
        auto& r = randomParameters[(size_t) n - 1];
        r.timebase = addTimebase (layout, withNumber ("modulator_random_%d_timebase", n), withNumber ("Random %d Timebase", n), Timebase::hertz);
        r.sync = addSync (layout, withNumber ("modulator_random_%d_sync", n), withNumber ("Random %d Sync", n));
        r.rate = addTimed (layout, withNumber ("modulator_random_%d_rate", n), withNumber ("Random %d Rate", n), r.timebase, timebaseRanges);
        timebaseRanges.set (r.timebase, &modulatorRateRanges);
        r.probability = addFloat (layout, withNumber ("modulator_random_%d_probability", n), withNumber ("Random %d Probability", n), unitRange, 1.0f);
    }

    audioFollowerParameters.resize (ParameterCounts::audioFollowers);
    // The IDs spelt out: lowering the case follows the host's locale, and a Turkish one makes "In"
    // "ın", which would change the IDs that hosts keep automation, states and presets by.
    const char* const followerWords[] = { "In", "Out" };
    const char* const followerIds[] = { "modulator_audio_in", "modulator_audio_out" };

    for (int i = 0; i < ParameterCounts::audioFollowers; ++i)
    {
        const juce::String word (followerWords[i]);
        const juce::String idBase (followerIds[i]);
        auto& a = audioFollowerParameters[(size_t) i];
        a.gain = addFloat (layout, idBase + "_gain", "Audio " + word + " Gain", decibelRange, 0.0f, decibelLabel);
        a.rise = addFloat (layout, idBase + "_rise", "Audio " + word + " Rise Time", unitRange, 0.5f);
        a.fall = addFloat (layout, idBase + "_fall", "Audio " + word + " Fall Time", unitRange, 0.5f);
    }

    modulationSlotParameters.resize (ParameterCounts::modulationSlots);

    for (int n = 1; n <= ParameterCounts::modulationSlots; ++n)
    {
        auto& m = modulationSlotParameters.getReference (n - 1);
        m.amount = addFloat (layout, withNumber ("modulation_%d_amount", n), withNumber ("Mod %d Amount", n), modulationAmountRange, 0.0f);
        m.target = addInt (layout, withNumber ("modulation_%d_target", n), withNumber ("Modulation %d Target", n),
                           -1, ParameterCounts::total, -1);
        m.modulatorIndex = addInt (layout, withNumber ("modulator_%d_modulator_index", n), withNumber ("Modulation %d Modulator", n), 0, 13, 0);
        m.isBipolar = addBool (layout, withNumber ("modulation_%d_is_bipolar", n), withNumber ("Mod %d Bipolar", n), false);
        m.isBypassed = addBool (layout, withNumber ("modulation_%d_is_bypassed", n), withNumber ("Mod %d Bypass", n), false);
    }

    grainCountLimitParameter = addInt (layout, "grain_count_limit", "Grain Count Limit", 1, 600, 60);

    return layout;
}
