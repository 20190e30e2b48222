#include "ExpectedParameterTable.h"

#include "processor/PluginProcessor.h"
#include "tests/support/CommaLocale.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <type_traits>

using namespace qvl::test;

namespace
{
    class ParameterLayoutTest : public ::testing::Test
    {
    protected:
        QuorvalisPluginAudioProcessor processor;
        const std::vector<ExpectedParameter>& expected = expectedParameters();

        juce::AudioProcessorParameterWithID* parameterAt (int index)
        {
            return dynamic_cast<juce::AudioProcessorParameterWithID*> (processor.getParameters()[index]);
        }

        int indexOf (const std::string& id) const
        {
            for (const auto& e : expected)
                if (e.id == id)
                    return e.index;
            return -1;
        }

        juce::AudioProcessorParameter* byId (const std::string& id)
        {
            return processor.parameterState.getParameter (id);
        }

        // The handle must be the parameter object found at the index the documented ID has.
        void expectHandle (const juce::AudioProcessorParameterWithID* handle, const std::string& id)
        {
            ASSERT_NE (handle, nullptr) << id;
            EXPECT_EQ (handle->paramID.toStdString(), id);
            const int index = indexOf (id);
            ASSERT_GE (index, 0) << id;
            EXPECT_EQ (processor.getParameters()[index], handle) << id;
        }
    };
}

TEST (ExpectedParameterTable, FillsEveryIndexExactlyOnce)
{
    const auto builder = buildExpectedTable();
    EXPECT_FALSE (builder.overflow);
    for (int i = 0; i < expectedParameterCount; ++i)
        EXPECT_EQ (builder.timesFilled[(size_t) i], 1) << "index " << i;
}

TEST_F (ParameterLayoutTest, ListsEveryParameterWithItsIdNameAndIndex)
{
    const auto& parameters = processor.getParameters();
    ASSERT_EQ (parameters.size(), 449);

    std::set<std::string> ids;

    for (int i = 0; i < parameters.size(); ++i)
    {
        auto* p = parameterAt (i);
        ASSERT_NE (p, nullptr) << i;
        const auto& e = expected[(size_t) i];
        EXPECT_EQ (p->paramID.toStdString(), e.id) << "index " << i;
        EXPECT_EQ (p->getName (1024).toStdString(), e.name) << "index " << i;
        EXPECT_EQ (p->getParameterIndex(), i);
        EXPECT_EQ (byId (e.id), p) << e.id;
        EXPECT_TRUE (p->isAutomatable()) << e.id;
        ids.insert (p->paramID.toStdString());
    }

    EXPECT_EQ (ids.size(), 449u);
    EXPECT_EQ (processor.parameterState.state.getType().toString(), "PARAMETERS");
}

// Whatever locale the host set when it built the plug-in, every ID is the same: hosts keep
// automation, states and presets by them.
TEST (ParameterIds, AreTheSameUnderAnyLocale)
{
    for (const auto& name : { commaDecimalLocale(), dotlessILocale() })
    {
        if (name.empty())
            continue;

        SCOPED_TRACE (name);
        const ScopedHostLocale hostLocale (name);
        QuorvalisPluginAudioProcessor processor;

        for (const auto& e : expectedParameters())
            EXPECT_EQ (dynamic_cast<juce::AudioProcessorParameterWithID*> (processor.getParameters()[e.index])->paramID.toStdString(), e.id);
    }
}

TEST_F (ParameterLayoutTest, BlockBoundariesSitAtTheirIndices)
{
    const std::map<int, std::pair<const char*, const char*>> anchors {
        { 0, { "bypass", "Bypass" } },
        { 8, { "buffer_size_timebase", "Buffer Size Timebase" } },
        { 9, { "buffer_size", "Buffer Size" } },
        { 10, { "stream_1_is_enabled", "Stream 1 Enabled" } },
        { 17, { "stream_1_grain_pitch", "Stream 1 Grain Pitch" } },
        { 20, { "stream_1_grain_volume_db", "Stream 1 Grain Volume" } },
        { 29, { "stream_2_is_enabled", "Stream 2 Enabled" } },
        { 85, { "stream_4_adsr_release", "Stream 4 ADSR Release" } },
        { 86, { "modulator_lfo_1_timebase", "LFO 1 Timebase" } },
        { 101, { "modulator_lfo_4_shape", "LFO 4 Shape" } },
        { 102, { "modulator_macro_1", "Macro 1" } },
        { 105, { "modulator_macro_4", "Macro 4" } },
        { 106, { "modulator_random_1_timebase", "Random 1 Timebase" } },
        { 121, { "modulator_random_4_probability", "Random 4 Probability" } },
        { 122, { "modulator_audio_in_gain", "Audio In Gain" } },
        { 125, { "modulator_audio_out_gain", "Audio Out Gain" } },
        { 127, { "modulator_audio_out_fall", "Audio Out Fall Time" } },
        { 128, { "modulation_1_amount", "Mod 1 Amount" } },
        { 129, { "modulation_1_target", "Modulation 1 Target" } },
        { 130, { "modulator_1_modulator_index", "Modulation 1 Modulator" } },
        { 446, { "modulation_64_is_bipolar", "Mod 64 Bipolar" } },
        { 447, { "modulation_64_is_bypassed", "Mod 64 Bypass" } },
        { 448, { "grain_count_limit", "Grain Count Limit" } },
    };

    ASSERT_EQ (processor.getParameters().size(), 449);

    for (const auto& [index, idAndName] : anchors)
    {
        EXPECT_EQ (parameterAt (index)->paramID, idAndName.first) << index;
        EXPECT_EQ (parameterAt (index)->getName (100), idAndName.second) << index;
    }
}

TEST_F (ParameterLayoutTest, KindsDefaultsAndRangesMatchTheTable)
{
    ASSERT_EQ (processor.getParameters().size(), 449);

    for (const auto& e : expected)
    {
        SCOPED_TRACE (e.id);
        auto* p = processor.getParameters()[e.index];

        switch (e.kind)
        {
            case Kind::boolean:
            {
                auto* b = dynamic_cast<juce::AudioParameterBool*> (p);
                ASSERT_NE (b, nullptr);
                EXPECT_EQ (b->get(), e.defaultValue != 0.0);
                EXPECT_EQ (p->getDefaultValue(), (float) e.defaultValue);
                EXPECT_EQ (b->getLabel(), juce::String());
                break;
            }

            case Kind::integer:
            {
                auto* i = dynamic_cast<juce::AudioParameterInt*> (p);
                ASSERT_NE (i, nullptr);
                EXPECT_EQ (i->getRange().getStart(), (int) e.range.start);
                EXPECT_EQ (i->getRange().getEnd(), (int) e.range.end);
                EXPECT_EQ (i->get(), (int) e.defaultValue);
                EXPECT_NEAR (p->getDefaultValue(), (e.defaultValue - e.range.start) / (e.range.end - e.range.start), 1e-6);
                EXPECT_EQ (i->convertFrom0to1 (0.0f), (float) e.range.start);
                EXPECT_EQ (i->convertFrom0to1 (1.0f), (float) e.range.end);
                const float middle = i->convertFrom0to1 (0.5f);
                EXPECT_EQ (middle, std::round (middle));
                EXPECT_NEAR (middle, 0.5 * (e.range.start + e.range.end), 0.5);
                EXPECT_EQ (i->getLabel(), juce::String());
                break;
            }

            case Kind::floating:
            {
                auto* f = dynamic_cast<juce::AudioParameterFloat*> (p);
                ASSERT_NE (f, nullptr);
                const auto& range = f->getNormalisableRange();
                const double span = e.range.end - e.range.start;
                EXPECT_FLOAT_EQ (range.start, (float) e.range.start);
                EXPECT_FLOAT_EQ (range.end, (float) e.range.end);
                EXPECT_FLOAT_EQ (range.interval, (float) e.range.interval);
                EXPECT_FLOAT_EQ (range.skew, expectedSkew (e.range));
                EXPECT_FALSE (range.symmetricSkew);
                EXPECT_NEAR (f->convertFrom0to1 (0.0f), e.range.start, 1e-6 * span);
                EXPECT_NEAR (f->convertFrom0to1 (0.5f), e.range.centre, 1e-5 * span);
                EXPECT_NEAR (f->convertFrom0to1 (1.0f), e.range.end, 1e-6 * span);
                EXPECT_NEAR (f->get(), e.defaultValue, 1e-5 * span);
                EXPECT_NEAR (p->getDefaultValue(), toNormalised (e.range, e.defaultValue), 1e-5);
                EXPECT_EQ (f->getLabel().toStdString(), e.label);
                EXPECT_EQ (f->getCategory(), juce::AudioProcessorParameter::genericParameter);
                break;
            }
        }
    }
}

TEST_F (ParameterLayoutTest, OnlyTheTenVolumesCarryTheDecibelLabel)
{
    const std::set<std::string> volumes {
        "gain_db_dry", "gain_db_buffer", "gain_db_granulator", "gain_db_buffer_input",
        "stream_1_grain_volume_db", "stream_2_grain_volume_db", "stream_3_grain_volume_db", "stream_4_grain_volume_db",
        "modulator_audio_in_gain", "modulator_audio_out_gain"
    };

    int labelled = 0;

    for (auto* p : processor.getParameters())
    {
        auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (p);
        const bool isVolume = volumes.count (withId->paramID.toStdString()) > 0;
        EXPECT_EQ (p->getLabel(), isVolume ? " dB" : "") << withId->paramID;
        labelled += p->getLabel().isNotEmpty() ? 1 : 0;
    }

    EXPECT_EQ (labelled, 10);
}

TEST_F (ParameterLayoutTest, DecibelVolumesSpanMinus100To12WithZeroInTheMiddle)
{
    for (const char* id : { "gain_db_dry", "gain_db_buffer", "gain_db_granulator", "gain_db_buffer_input",
                            "stream_3_grain_volume_db", "modulator_audio_out_gain" })
    {
        auto* f = dynamic_cast<juce::AudioParameterFloat*> (byId (id));
        ASSERT_NE (f, nullptr) << id;
        EXPECT_FLOAT_EQ (f->convertFrom0to1 (0.0f), -100.0f) << id;
        EXPECT_NEAR (f->convertFrom0to1 (0.5f), 0.0f, 1e-4) << id;
        EXPECT_FLOAT_EQ (f->convertFrom0to1 (1.0f), 12.0f) << id;
        EXPECT_NEAR (f->getNormalisableRange().skew, 6.1163, 1e-3) << id;
    }

    // Envelope times put 0.25 s at the middle with a skew just under one half.
    auto* attack = dynamic_cast<juce::AudioParameterFloat*> (byId ("stream_2_adsr_attack"));
    ASSERT_NE (attack, nullptr);
    EXPECT_NEAR (attack->getNormalisableRange().skew, 0.49989, 1e-4);
    EXPECT_LT (attack->getNormalisableRange().skew, 0.5f);
    EXPECT_NEAR (attack->convertFrom0to1 (0.5f), 0.25f, 1e-5);

    // Pitch snaps to a ten-thousandth of a semitone.
    auto* pitch = dynamic_cast<juce::AudioParameterFloat*> (byId ("stream_1_grain_pitch"));
    ASSERT_NE (pitch, nullptr);
    EXPECT_NEAR (pitch->getNormalisableRange().snapToLegalValue (1.23456f), 1.2346f, 1e-5);
}

TEST_F (ParameterLayoutTest, FreshProcessorStandsAtItsDefaults)
{
    EXPECT_TRUE (processor.streamParameters[0].isEnabled->get());
    for (size_t s = 1; s < 4; ++s)
        EXPECT_FALSE (processor.streamParameters[s].isEnabled->get()) << s;

    EXPECT_NEAR (processor.bufferGainParameter->get(), -100.0f, 1e-4);
    EXPECT_NEAR (processor.dryGainParameter->get(), 0.0f, 1e-3);
    EXPECT_NEAR (processor.granulatorGainParameter->get(), 0.0f, 1e-3);
    EXPECT_NEAR (processor.inputGainParameter->get(), 0.0f, 1e-3);

    for (const auto& slot : processor.modulationSlotParameters)
    {
        EXPECT_EQ (slot.target->get(), -1);
        EXPECT_EQ (slot.modulatorIndex->get(), 0);
    }

    EXPECT_EQ (processor.grainCountLimitParameter->get(), 60);
    EXPECT_EQ (processor.bufferSizeTimebaseParameter->get(), 0);
}

TEST_F (ParameterLayoutTest, GlobalHandlesPointAtTheirParameters)
{
    expectHandle (processor.bypassParameter, "bypass");
    expectHandle (processor.freezeParameter, "freeze");
    expectHandle (processor.bufferWriteSyncParameter, "buffer_write_sync");
    expectHandle (processor.feedbackParameter, "buffer_feedback");
    expectHandle (processor.bufferSizeParameter, "buffer_size");
    expectHandle (processor.bufferSizeTimebaseParameter, "buffer_size_timebase");
    expectHandle (processor.dryGainParameter, "gain_db_dry");
    expectHandle (processor.bufferGainParameter, "gain_db_buffer");
    expectHandle (processor.granulatorGainParameter, "gain_db_granulator");
    expectHandle (processor.inputGainParameter, "gain_db_buffer_input");
    expectHandle (processor.grainCountLimitParameter, "grain_count_limit");
}

TEST_F (ParameterLayoutTest, RecordHandlesPointAtTheirParameters)
{
    ASSERT_EQ (processor.streamParameters.size(), 4u);
    ASSERT_EQ (processor.lfoParameters.size(), 4u);
    ASSERT_EQ (processor.randomParameters.size(), 4u);
    ASSERT_EQ (processor.macroParameters.size(), 4u);
    ASSERT_EQ (processor.audioFollowerParameters.size(), 2u);
    ASSERT_EQ (processor.modulationSlotParameters.size(), 64);

    for (int n = 1; n <= 4; ++n)
    {
        const auto& s = processor.streamParameters[(size_t) n - 1];
        auto id = [n] (const char* suffix) { return "stream_" + std::to_string (n) + "_" + suffix; };
        expectHandle (s.isEnabled, id ("is_enabled"));
        expectHandle (s.increment, id ("increment"));
        expectHandle (s.position, id ("position"));
        expectHandle (s.rate, id ("rate"));
        expectHandle (s.rateTimebase, id ("rate_timebase"));
        expectHandle (s.rateSync, id ("rate_sync"));
        expectHandle (s.balance, id ("balance"));
        expectHandle (s.grainVolumeDb, id ("grain_volume_db"));
        expectHandle (s.grainPitch, id ("grain_pitch"));
        expectHandle (s.grainPitchQuantize, id ("grain_pitch_quantize"));
        expectHandle (s.reverseProbability, id ("reverse_probability"));
        expectHandle (s.grainLength, id ("grain_length"));
        expectHandle (s.grainLengthTimebase, id ("grain_length_timebase"));
        expectHandle (s.grainPan, id ("grain_pan"));
        expectHandle (s.adsrEnabled, id ("adsr_enabled"));
        expectHandle (s.adsrAttack, id ("adsr_attack"));
        expectHandle (s.adsrDecay, id ("adsr_decay"));
        expectHandle (s.adsrSustain, id ("adsr_sustain"));
        expectHandle (s.adsrRelease, id ("adsr_release"));

        const auto& l = processor.lfoParameters[(size_t) n - 1];
        auto lfo = [n] (const char* suffix) { return "modulator_lfo_" + std::to_string (n) + "_" + suffix; };
        expectHandle (l.rate, lfo ("rate"));
        expectHandle (l.timebase, lfo ("timebase"));
        expectHandle (l.sync, lfo ("sync"));
        expectHandle (l.shape, lfo ("shape"));

        const auto& r = processor.randomParameters[(size_t) n - 1];
        auto rnd = [n] (const char* suffix) { return "modulator_random_" + std::to_string (n) + "_" + suffix; };
        expectHandle (r.rate, rnd ("rate"));
        expectHandle (r.timebase, rnd ("timebase"));
        expectHandle (r.sync, rnd ("sync"));
        expectHandle (r.probability, rnd ("probability"));

        expectHandle (processor.macroParameters[(size_t) n - 1], "modulator_macro_" + std::to_string (n));
    }

    const char* words[] = { "in", "out" };
    for (size_t i = 0; i < 2; ++i)
    {
        const auto& a = processor.audioFollowerParameters[i];
        const std::string base = std::string ("modulator_audio_") + words[i];
        expectHandle (a.gain, base + "_gain");
        expectHandle (a.rise, base + "_rise");
        expectHandle (a.fall, base + "_fall");
    }

    for (int n = 1; n <= 64; ++n)
    {
        const auto& m = processor.modulationSlotParameters[n - 1];
        const auto num = std::to_string (n);
        expectHandle (m.target, "modulation_" + num + "_target");
        expectHandle (m.modulatorIndex, "modulator_" + num + "_modulator_index");
        expectHandle (m.amount, "modulation_" + num + "_amount");
        expectHandle (m.isBipolar, "modulation_" + num + "_is_bipolar");
        expectHandle (m.isBypassed, "modulation_" + num + "_is_bypassed");
    }
}

TEST (ParameterHandleRecords, StreamRecordKeepsItsOwnFieldOrder)
{
    // Stream copy and paste walks the record in this order, which differs from the index order.
    constexpr auto slot = sizeof (void*);
    static_assert (std::is_standard_layout<StreamParameters>::value, "record must be plain pointers");
    EXPECT_EQ (sizeof (StreamParameters), 19 * slot);
    EXPECT_EQ (offsetof (StreamParameters, isEnabled), 0 * slot);
    EXPECT_EQ (offsetof (StreamParameters, increment), 1 * slot);
    EXPECT_EQ (offsetof (StreamParameters, position), 2 * slot);
    EXPECT_EQ (offsetof (StreamParameters, rate), 3 * slot);
    EXPECT_EQ (offsetof (StreamParameters, rateTimebase), 4 * slot);
    EXPECT_EQ (offsetof (StreamParameters, rateSync), 5 * slot);
    EXPECT_EQ (offsetof (StreamParameters, balance), 6 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainVolumeDb), 7 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainPitch), 8 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainPitchQuantize), 9 * slot);
    EXPECT_EQ (offsetof (StreamParameters, reverseProbability), 10 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainLength), 11 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainLengthTimebase), 12 * slot);
    EXPECT_EQ (offsetof (StreamParameters, grainPan), 13 * slot);
    EXPECT_EQ (offsetof (StreamParameters, adsrEnabled), 14 * slot);
    EXPECT_EQ (offsetof (StreamParameters, adsrAttack), 15 * slot);
    EXPECT_EQ (offsetof (StreamParameters, adsrDecay), 16 * slot);
    EXPECT_EQ (offsetof (StreamParameters, adsrSustain), 17 * slot);
    EXPECT_EQ (offsetof (StreamParameters, adsrRelease), 18 * slot);

    EXPECT_EQ (offsetof (ModulationSlotParameters, target), 0 * slot);
    EXPECT_EQ (offsetof (ModulationSlotParameters, modulatorIndex), 1 * slot);
    EXPECT_EQ (offsetof (ModulationSlotParameters, amount), 2 * slot);
    EXPECT_EQ (offsetof (ModulationSlotParameters, isBipolar), 3 * slot);
    EXPECT_EQ (offsetof (ModulationSlotParameters, isBypassed), 4 * slot);

    // Handles are typed as the parameter's own class.
    static_assert (std::is_same<decltype (StreamParameters::isEnabled), juce::AudioParameterBool*>::value, "");
    static_assert (std::is_same<decltype (StreamParameters::rate), juce::AudioParameterFloat*>::value, "");
    static_assert (std::is_same<decltype (StreamParameters::rateTimebase), juce::AudioParameterInt*>::value, "");
    static_assert (std::is_same<decltype (StreamParameters::grainPitchQuantize), juce::AudioParameterInt*>::value, "");
    static_assert (std::is_same<decltype (LfoParameters::shape), juce::AudioParameterInt*>::value, "");
    static_assert (std::is_same<decltype (RandomParameters::probability), juce::AudioParameterFloat*>::value, "");
    static_assert (std::is_same<decltype (ModulationSlotParameters::target), juce::AudioParameterInt*>::value, "");
}

TEST_F (ParameterLayoutTest, RandomRecordsOwnSeparateRequestBytesStartingAtZero)
{
    std::set<const void*> flags;

    for (const auto& r : processor.randomParameters)
    {
        ASSERT_NE (r.triggerRequest, nullptr);
        ASSERT_NE (r.clearRequest, nullptr);
        EXPECT_EQ (r.triggerRequest->load(), 0);
        EXPECT_EQ (r.clearRequest->load(), 0);
        static_assert (sizeof (*r.triggerRequest) == 1, "one byte");
        flags.insert (r.triggerRequest.get());
        flags.insert (r.clearRequest.get());
    }

    EXPECT_EQ (flags.size(), 8u);

    // Setting one request leaves the others alone.
    processor.randomParameters[2].triggerRequest->store (1);
    EXPECT_EQ (processor.randomParameters[2].clearRequest->load(), 0);
    EXPECT_EQ (processor.randomParameters[1].triggerRequest->load(), 0);
}

TEST_F (ParameterLayoutTest, TimebaseRangesMapSeventeenTimebasesToTheirFamilies)
{
    EXPECT_EQ (processor.timebaseRanges.size(), 17);

    auto expectTable = [this] (juce::AudioParameterInt* timebase, const TimebaseRangeTable* table, const char* what)
    {
        ASSERT_TRUE (processor.timebaseRanges.contains (timebase)) << what;
        EXPECT_EQ (processor.timebaseRanges[timebase], table) << what;
    };

    expectTable (processor.bufferSizeTimebaseParameter, &bufferSizeRanges, "buffer size");

    for (size_t n = 0; n < 4; ++n)
    {
        expectTable (processor.streamParameters[n].rateTimebase, &streamRateRanges, "stream rate");
        expectTable (processor.streamParameters[n].grainLengthTimebase, &grainLengthRanges, "grain length");
        expectTable (processor.lfoParameters[n].timebase, &modulatorRateRanges, "lfo rate");
        expectTable (processor.randomParameters[n].timebase, &modulatorRateRanges, "random rate");
    }

    // Nothing else is a key.
    EXPECT_FALSE (processor.timebaseRanges.contains (processor.grainCountLimitParameter));
    EXPECT_FALSE (processor.timebaseRanges.contains (processor.lfoParameters[0].shape));
}

TEST_F (ParameterLayoutTest, LockFlagsMarkOnlyTheRoutingParameters)
{
    ASSERT_EQ (processor.parameterLockFlags.size(), 449);

    std::set<int> routing;
    for (int n = 1; n <= 64; ++n)
    {
        routing.insert (129 + 5 * (n - 1));
        routing.insert (130 + 5 * (n - 1));
    }
    ASSERT_EQ (routing.size(), 128u);

    for (int i = 0; i < 449; ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], routing.count (i) ? 1 : 0) << "index " << i;

    // A reset clears locks and puts the routing marks back.
    processor.parameterLockFlags.set (3, 2);
    processor.parameterLockFlags.set (129, 3);
    processor.parameterLockFlags.set (448, 2);
    processor.resetParameterLockFlags();

    ASSERT_EQ (processor.parameterLockFlags.size(), 449);
    EXPECT_EQ (processor.parameterLockFlags[3], 0);
    EXPECT_EQ (processor.parameterLockFlags[129], 1);
    EXPECT_EQ (processor.parameterLockFlags[448], 0);
}
