// A host's NaN, on each of the 449 parameters in turn for one block, set as the framework's VST3
// wrapper sets it, then the earlier value again: it must change nothing at all, neither the
// parameter nor what plays, then or later, nor what the state stores.

#include "tests/plugin/AudioPathTestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

using namespace qvl::test;

namespace
{
    constexpr int rate = 48000;
    constexpr int blockSize = 512;
    constexpr int blocks = 48;
    constexpr int nanBlock = 16;

    // The wrapper's setter, from setParamNormalized and from the process data's parameter changes
    // alike: nothing when the parameter already holds the value, otherwise the value as it came.
    void setAsTheWrapperDoes (juce::AudioProcessorParameter& parameter, float normalised)
    {
        if (parameter.getValue() != normalised)
            parameter.setValueNotifyingHost (normalised);
    }

    // A 100 ms loop, full and heard by the time NaN comes; every stream playing fast short grains
    // from it, drifting, off-centre; ADSR on stream 2; LFO 2 moving Feedback and LFO 1 stream 3's
    // position.
    void prepareBusy (QuorvalisPluginAudioProcessor& p)
    {
        prepare (p, rate, blockSize);
        Access::random (p).setSeed (7);
        setTimed (p, "buffer_size", "buffer_size_timebase", bufferSizeRanges, Timebase::milliseconds, 100.0f);
        setRealValue (p, "gain_db_buffer", -6.0f);

        for (int s = 1; s <= 4; ++s)
        {
            const auto n = "stream_" + juce::String (s) + "_";
            setRealValue (p, n + "is_enabled", 1.0f);
            setRealValue (p, n + "increment", 0.3f * (float) s);
            setRealValue (p, n + "position", 0.1f * (float) s);
            setRealValue (p, n + "balance", 0.2f * (float) s);
            setRealValue (p, n + "grain_pan", 1.0f - 0.2f * (float) s);
            setTimed (p, n + "rate", n + "rate_timebase", streamRateRanges, Timebase::hertz, 150.0f);
            setTimed (p, n + "grain_length", n + "grain_length_timebase", grainLengthRanges, Timebase::milliseconds, 30.0f);
        }

        setRealValue (p, "stream_2_adsr_enabled", 1.0f);
        setTimed (p, "modulator_lfo_2_rate", "modulator_lfo_2_timebase", modulatorRateRanges, Timebase::hertz, 3.0f);

        route (p, 1, "buffer_feedback", 1, 0.5f);
        route (p, 2, "stream_3_position", 0, 0.5f);
    }

    // What the parameter held and what the state stored for it while NaN was set.
    struct WhileNaN
    {
        float held = 0.0f;
        double stored = 0.0;
    };

    double storedFor (QuorvalisPluginAudioProcessor& p, const juce::AudioProcessorParameter& parameter)
    {
        const auto& id = dynamic_cast<const juce::RangedAudioParameter&> (parameter).paramID;
        return savedHostState (p).getChildWithProperty ("id", id)["value"];
    }

    // The busy set-up's output; with `index` set, NaN goes to that parameter before block
    // nanBlock and its earlier value before the next.
    juce::AudioBuffer<float> play (QuorvalisPluginAudioProcessor& p, int index, WhileNaN& whileNaN)
    {
        juce::AudioBuffer<float> output (2, blocks * blockSize);
        juce::AudioBuffer<float> block (2, blockSize);
        juce::MidiBuffer midi;
        auto* parameter = index >= 0 ? p.getParameters()[index] : nullptr;
        const float earlier = parameter != nullptr ? parameter->getValue() : 0.0f;

        for (int b = 0; b < blocks; ++b)
        {
            if (parameter != nullptr && b == nanBlock)
            {
                setAsTheWrapperDoes (*parameter, std::numeric_limits<float>::quiet_NaN());
                whileNaN = { parameter->getValue(), storedFor (p, *parameter) };
            }

            if (parameter != nullptr && b == nanBlock + 1)
                setAsTheWrapperDoes (*parameter, earlier);

            fill (block, b * blockSize, sine);
            p.processBlock (block, midi);

            for (int c = 0; c < 2; ++c)
                output.copyFrom (c, b * blockSize, block, c, 0, blockSize);
        }

        return output;
    }

    // What the NaN left behind; empty when nothing.
    std::string tracesLeft (QuorvalisPluginAudioProcessor& p, int index, float earlier, const WhileNaN& whileNaN,
                            const juce::AudioBuffer<float>& out, const juce::AudioBuffer<float>& expected)
    {
        std::ostringstream traces;

        if (! (whileNaN.held == earlier))
            traces << " held " << whileNaN.held << " instead of " << earlier << ';';

        if (const auto stored = storedFor (p, *p.getParameters()[index]); ! (whileNaN.stored == stored))
            traces << " the state stored " << whileNaN.stored << " instead of " << stored << ';';

        int differing = 0, dropped = 0, first = -1;

        for (int i = 0; i < out.getNumSamples(); ++i)
        {
            bool differs = false, silent = true, heard = false;

            for (int c = 0; c < 2; ++c)
            {
                differs = differs || std::memcmp (out.getReadPointer (c) + i, expected.getReadPointer (c) + i, sizeof (float)) != 0;
                silent = silent && out.getSample (c, i) == 0.0f;
                heard = heard || expected.getSample (c, i) != 0.0f;
            }

            differing += differs ? 1 : 0;
            dropped += silent && heard ? 1 : 0;
            first = first < 0 && differs ? i : first;
        }

        if (differing > 0)
            traces << " output differs at " << differing << " samples from sample " << first << ';';
        if (dropped > 0)
            traces << " dropout of " << dropped << " samples;";

        for (size_t s = 0; s < p.streamStates.size(); ++s)
            if (! std::isfinite (p.streamStates[s].phase))
                traces << " stream " << s + 1 << " phase " << p.streamStates[s].phase << ';';

        for (auto* parameter : p.getParameters())
            if (! std::isfinite (parameter->getValue()))
                traces << ' ' << parameter->getName (100) << " is " << parameter->getValue() << ';';

        for (const auto& child : savedHostState (p))
            if (child.hasProperty ("value") && ! std::isfinite ((double) child["value"]))
                traces << " the state stores " << child["value"].toString() << " for " << child["id"].toString() << ';';

        return traces.str();
    }
}

TEST (HostNaN, ChangesNothingOnAnyParameter)
{
    WhileNaN unused;
    QuorvalisPluginAudioProcessor reference;
    prepareBusy (reference);
    const auto expected = play (reference, -1, unused);
    ASSERT_GT (reference.grainPool.getActiveCount(), 0) << "the set-up must play grains for a NaN to reach them";

    for (int index = 0; index < ParameterCounts::total; ++index)
    {
        QuorvalisPluginAudioProcessor p;
        prepareBusy (p);
        auto& parameter = *p.getParameters()[index];
        const float earlier = parameter.getValue();
        WhileNaN whileNaN { earlier, 0.0 };
        const auto out = play (p, index, whileNaN);

        if (const auto traces = tracesLeft (p, index, earlier, whileNaN, out, expected); ! traces.empty())
            ADD_FAILURE() << index << ' ' << parameter.getName (100) << ':' << traces;
    }
}
