#include "ExpectedParameterTable.h"

#include "processor/NumberText.h"
#include "processor/PluginProcessor.h"
#include "tests/support/CommaLocale.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <optional>

using namespace qvl::test;

namespace
{
    // The parameter classes keep their text overrides private; hosts reach them through the base.
    juce::String textOf (const juce::AudioProcessorParameter* p, float normalised, int maximumLength)
    {
        return p->getText (normalised, maximumLength);
    }

    float valueFor (const juce::AudioProcessorParameter* p, const juce::String& text)
    {
        return p->getValueForText (text);
    }

    class ParameterTextTest : public ::testing::Test
    {
    protected:
        QuorvalisPluginAudioProcessor processor;

        juce::AudioProcessorParameter* byId (const std::string& id)
        {
            auto* p = processor.parameterState.getParameter (id);
            EXPECT_NE (p, nullptr) << id;
            return p;
        }

        static float timebaseNormalised (int tb) { return (float) tb / 18.0f; }

        static void setInt (juce::AudioParameterInt* p, int value)
        {
            *p = value;
            ASSERT_EQ (p->get(), value);
        }

        std::vector<juce::AudioParameterInt*> timebasesWithTexts()
        {
            std::vector<juce::AudioParameterInt*> result;
            for (auto& s : processor.streamParameters)
            {
                result.push_back (s.rateTimebase);
                result.push_back (s.grainLengthTimebase);
            }
            for (auto& l : processor.lfoParameters)
                result.push_back (l.timebase);
            for (auto& r : processor.randomParameters)
                result.push_back (r.timebase);
            return result;
        }

        std::vector<juce::AudioParameterInt*> syncParameters()
        {
            std::vector<juce::AudioParameterInt*> result;
            for (auto& s : processor.streamParameters)
                result.push_back (s.rateSync);
            for (auto& l : processor.lfoParameters)
                result.push_back (l.sync);
            for (auto& r : processor.randomParameters)
                result.push_back (r.sync);
            return result;
        }
    };
}

TEST_F (ParameterTextTest, TimebaseParametersShowLongNamesAndReadLongOrShortNames)
{
    const auto timebases = timebasesWithTexts();
    ASSERT_EQ (timebases.size(), 16u);

    for (auto* p : timebases)
    {
        SCOPED_TRACE (p->paramID);
        for (int tb = 0; tb < 19; ++tb)
        {
            EXPECT_EQ (textOf (p, timebaseNormalised (tb), 1024), expectedLongNames()[(size_t) tb]);
            EXPECT_FLOAT_EQ (valueFor (p, expectedLongNames()[(size_t) tb]), timebaseNormalised (tb));
            EXPECT_FLOAT_EQ (valueFor (p, expectedShortNames()[(size_t) tb]), timebaseNormalised (tb));
        }

        // Anything else is 19, which the 0..18 range holds at 18.
        EXPECT_FLOAT_EQ (valueFor (p, "fast"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "d 1/8"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "HZ"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "2"), 1.0f);
    }
}

TEST_F (ParameterTextTest, DottedEighthEnteredEitherWaySetsTimebase11)
{
    auto* rateTimebase = processor.streamParameters[0].rateTimebase;

    for (const char* text : { "D 1/8", "Dotted 1/8" })
    {
        setInt (rateTimebase, 0);
        rateTimebase->setValueNotifyingHost (valueFor (rateTimebase, text));
        EXPECT_EQ (rateTimebase->get(), 11) << text;
        EXPECT_EQ (rateTimebase->getCurrentValueAsText(), "Dotted 1/8");
    }

    rateTimebase->setValueNotifyingHost (valueFor (rateTimebase, "fast"));
    EXPECT_EQ (rateTimebase->get(), 18);
    EXPECT_EQ (rateTimebase->getCurrentValueAsText(), "Triplet 1/32");
}

TEST_F (ParameterTextTest, TimebaseTextIsCutToOneLessThanTheMaximumLength)
{
    auto* p = processor.lfoParameters[1].timebase;
    EXPECT_EQ (textOf (p, timebaseNormalised (14), 8), "Triplet");
    EXPECT_EQ (textOf (p, timebaseNormalised (14), 12), "Triplet 1/2");
    EXPECT_EQ (textOf (p, timebaseNormalised (14), 11), "Triplet 1/");
    EXPECT_EQ (textOf (p, timebaseNormalised (10), 2), "D");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), 3), "Hz");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), 2), "H");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), 1), "");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), 0), "");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), -5), "");
    EXPECT_EQ (textOf (p, timebaseNormalised (2), INT_MIN), "");
    EXPECT_EQ (textOf (p, timebaseNormalised (9), INT_MAX), "Dotted 1/2");

    auto* sync = processor.randomParameters[0].sync;
    EXPECT_EQ (textOf (sync, 0.0f, INT_MIN), "");
    EXPECT_EQ (textOf (sync, 0.0f, INT_MAX), "Beat");
}

TEST_F (ParameterTextTest, SyncTextsAreCaseSensitiveAndFallBackToFree)
{
    for (auto* p : syncParameters())
    {
        SCOPED_TRACE (p->paramID);
        EXPECT_EQ (textOf (p, 0.0f, 1024), "Beat");
        EXPECT_EQ (textOf (p, 1.0f, 1024), "Free");
        EXPECT_EQ (textOf (p, 0.0f, 3), "Be");
        EXPECT_EQ (textOf (p, 1.0f, 1), "");
        EXPECT_FLOAT_EQ (valueFor (p, "Beat"), 0.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "Free"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "beat"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "free"), 1.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "0"), 1.0f);
    }

    auto* sync = processor.streamParameters[2].rateSync;
    sync->setValueNotifyingHost (valueFor (sync, "Beat"));
    EXPECT_EQ (sync->get(), 0);
    sync->setValueNotifyingHost (valueFor (sync, "beat"));
    EXPECT_EQ (sync->get(), 1);
}

TEST_F (ParameterTextTest, ShapeTextsNameTheSixShapes)
{
    const char* names[] = { "Sine", "Triangle", "Square", "Saw Up", "Saw Down", "Noise" };

    for (auto& lfo : processor.lfoParameters)
    {
        auto* p = lfo.shape;
        SCOPED_TRACE (p->paramID);
        for (int shape = 0; shape < 6; ++shape)
        {
            EXPECT_EQ (textOf (p, (float) shape / 5.0f, 1024), names[shape]);
            EXPECT_FLOAT_EQ (valueFor (p, names[shape]), (float) shape / 5.0f);
        }

        EXPECT_FLOAT_EQ (valueFor (p, "saw up"), 0.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "Saw"), 0.0f);
        EXPECT_FLOAT_EQ (valueFor (p, "3"), 0.0f);
        EXPECT_EQ (textOf (p, 3.0f / 5.0f, 4), "Saw");
        EXPECT_EQ (textOf (p, 3.0f / 5.0f, 0), "Saw Up");
        EXPECT_EQ (textOf (p, 3.0f / 5.0f, -1), "Saw Up");
        EXPECT_EQ (textOf (p, 3.0f / 5.0f, 1), "");
        EXPECT_EQ (textOf (p, 1.0f / 5.0f, 2), "T");
    }
}

TEST (LfoShapeName, NamesCutsAndOutOfRange)
{
    EXPECT_EQ (lfoShapeName (0, 0), "Sine");
    EXPECT_EQ (lfoShapeName (4, 100), "Saw Down");
    EXPECT_EQ (lfoShapeName (4, 5), "Saw ");
    EXPECT_EQ (lfoShapeName (5, 1), "");
    EXPECT_EQ (lfoShapeName (6, 0), "");
    EXPECT_EQ (lfoShapeName (-1, 100), "");
    EXPECT_EQ (lfoShapeName (3, INT_MIN), "Saw Up");
    EXPECT_EQ (lfoShapeName (3, INT_MAX), "Saw Up");
}

TEST_F (ParameterTextTest, BufferSizeTimebaseShowsPlainIntegers)
{
    auto* p = processor.bufferSizeTimebaseParameter;
    for (int tb = 0; tb < 19; ++tb)
    {
        EXPECT_EQ (textOf (p, timebaseNormalised (tb), 1024), juce::String (tb));
        EXPECT_FLOAT_EQ (valueFor (p, juce::String (tb)), timebaseNormalised (tb));
    }

    EXPECT_EQ (p->getCurrentValueAsText(), "0");
    // Names mean nothing here.
    EXPECT_FLOAT_EQ (valueFor (p, "Hz"), 0.0f);
}

TEST_F (ParameterTextTest, GrainCountLimitStaysBetween1And600)
{
    auto* p = processor.grainCountLimitParameter;
    EXPECT_EQ (p->get(), 60);
    EXPECT_FLOAT_EQ (valueFor (p, "0"), 0.0f);
    EXPECT_FLOAT_EQ (valueFor (p, "-20"), 0.0f);
    EXPECT_FLOAT_EQ (valueFor (p, "601"), 1.0f);
    EXPECT_FLOAT_EQ (valueFor (p, "100000"), 1.0f);
    EXPECT_NEAR (valueFor (p, "300"), 299.0f / 599.0f, 1e-6);

    *p = 0;
    EXPECT_EQ (p->get(), 1);
    *p = 10000;
    EXPECT_EQ (p->get(), 600);
    p->setValueNotifyingHost (valueFor (p, "7"));
    EXPECT_EQ (p->get(), 7);
    EXPECT_EQ (p->getCurrentValueAsText(), "7");
}

TEST_F (ParameterTextTest, TimedTextsShowTheValueInTheCurrentTimebase)
{
    // Defaults: buffer in ms, stream rate in Hz, grain length in ms, modulator rates in Hz; 0.5 is the centre.
    EXPECT_EQ (processor.bufferSizeParameter->getCurrentValueAsText(), "500.0000 ms");
    EXPECT_EQ (processor.streamParameters[0].rate->getCurrentValueAsText(), "10.0000 Hz");
    EXPECT_EQ (processor.streamParameters[3].grainLength->getCurrentValueAsText(), "250.0000 ms");
    EXPECT_EQ (processor.lfoParameters[0].rate->getCurrentValueAsText(), "1.0000 Hz");
    EXPECT_EQ (processor.randomParameters[3].rate->getCurrentValueAsText(), "1.0000 Hz");

    // Timed texts are never cut.
    EXPECT_EQ (textOf (processor.streamParameters[0].rate, 0.5f, 3), "10.0000 Hz");
    EXPECT_EQ (textOf (processor.streamParameters[0].rate, 1.0f, 1), "10000.0000 Hz");
    EXPECT_EQ (textOf (processor.streamParameters[0].rate, 0.0f, 1024), "0.0000 Hz");

    // The same unchanged value reads differently once its own timebase changes, and only its own.
    setInt (processor.streamParameters[0].rateTimebase, 0);
    EXPECT_EQ (processor.streamParameters[0].rate->getCurrentValueAsText(), "100.0000 ms");
    EXPECT_EQ (processor.streamParameters[1].rate->getCurrentValueAsText(), "10.0000 Hz");
    setInt (processor.streamParameters[0].rateTimebase, 1);
    EXPECT_EQ (processor.streamParameters[0].rate->getCurrentValueAsText(), "0.1000 s");
    setInt (processor.streamParameters[0].rateTimebase, 15);
    EXPECT_EQ (processor.streamParameters[0].rate->getCurrentValueAsText(), "1.0000 T 1/4");

    setInt (processor.bufferSizeTimebaseParameter, 5);
    EXPECT_EQ (processor.bufferSizeParameter->getCurrentValueAsText(), "1.0000 1/4");
    EXPECT_EQ (textOf (processor.bufferSizeParameter, 1.0f, 1024), "4.0000 1/4");
    setInt (processor.bufferSizeTimebaseParameter, 2);
    EXPECT_EQ (processor.bufferSizeParameter->getCurrentValueAsText(), "2.0000 Hz");

    setInt (processor.lfoParameters[2].timebase, 3);
    EXPECT_EQ (processor.lfoParameters[2].rate->getCurrentValueAsText(), "1.0000 Bar");
    EXPECT_EQ (textOf (processor.lfoParameters[2].rate, 0.0f, 1024), "0.1000 Bar");
    setInt (processor.lfoParameters[2].timebase, 0);
    EXPECT_EQ (textOf (processor.lfoParameters[2].rate, 1.0f, 1024), "1000.0000 ms");

    setInt (processor.randomParameters[0].timebase, 11);
    EXPECT_EQ (textOf (processor.randomParameters[0].rate, 1.0f, 1024), "8.0000 D 1/8");

    setInt (processor.streamParameters[2].grainLengthTimebase, 1);
    EXPECT_EQ (processor.streamParameters[2].grainLength->getCurrentValueAsText(), "0.2000 s");
    EXPECT_EQ (textOf (processor.streamParameters[2].grainLength, 0.0f, 1024), "0.0010 s");
}

TEST_F (ParameterTextTest, TimedTextsReadTheLeadingNumberInTheCurrentRange)
{
    auto* rate = processor.streamParameters[0].rate;
    auto* timebase = processor.streamParameters[0].rateTimebase;

    // Hz: 0 to 10000, centre 10.
    EXPECT_NEAR (valueFor (rate, "10"), 0.5, 1e-5);
    EXPECT_NEAR (valueFor (rate, "100"), 0.629961, 1e-5);
    EXPECT_NEAR (valueFor (rate, "100 ms"), 0.629961, 1e-5);  // the unit is ignored
    EXPECT_FLOAT_EQ (valueFor (rate, "20000 Hz"), 1.0f);
    EXPECT_FLOAT_EQ (valueFor (rate, "-3"), 0.0f);
    EXPECT_FLOAT_EQ (valueFor (rate, "fast"), 0.0f);

    // The same text means something else in ms: 0 to 1000, centre 100.
    setInt (timebase, 0);
    EXPECT_NEAR (valueFor (rate, "100"), 0.5, 1e-5);
    EXPECT_NEAR (valueFor (rate, "100 Hz"), 0.5, 1e-5);
    EXPECT_FLOAT_EQ (valueFor (rate, "5000"), 1.0f);

    // Beyond the Bar range the text is held at its end; below at its start.
    setInt (timebase, 3);
    EXPECT_FLOAT_EQ (valueFor (rate, "9 Bar"), 1.0f);
    EXPECT_FLOAT_EQ (valueFor (rate, "0.01"), 0.0f);
    EXPECT_NEAR (valueFor (rate, "1"), 0.5, 1e-5);

    // Buffer size in ms: 10 to 5000; 1 is below the start.
    EXPECT_FLOAT_EQ (valueFor (processor.bufferSizeParameter, "1"), 0.0f);
    EXPECT_NEAR (valueFor (processor.bufferSizeParameter, "500 ms"), 0.5, 1e-5);
    EXPECT_FLOAT_EQ (valueFor (processor.bufferSizeParameter, "6000"), 1.0f);

    // Grain length in ms: 1 to 5000, centre 250.
    EXPECT_NEAR (valueFor (processor.streamParameters[1].grainLength, "100"), 0.404023, 1e-5);

    // LFO rate in Hz: 0 to 150, centre 1.
    EXPECT_NEAR (valueFor (processor.lfoParameters[0].rate, "20"), 0.756743, 1e-5);
    EXPECT_FLOAT_EQ (valueFor (processor.lfoParameters[0].rate, "150.0000 Hz"), 1.0f);

    // Bar entry of the buffer size: 0.1 to 4; 1.25 bars.
    setInt (processor.bufferSizeTimebaseParameter, 3);
    EXPECT_NEAR (valueFor (processor.bufferSizeParameter, "1.25"), 0.561426, 1e-5);
}

TEST_F (ParameterTextTest, TimedTextsRoundTripThroughEveryTimebase)
{
    struct Timed { juce::AudioParameterFloat* value; juce::AudioParameterInt* timebase; TimedFamily family; };
    const std::vector<Timed> timed {
        { processor.bufferSizeParameter, processor.bufferSizeTimebaseParameter, TimedFamily::bufferSize },
        { processor.streamParameters[1].rate, processor.streamParameters[1].rateTimebase, TimedFamily::streamRate },
        { processor.streamParameters[1].grainLength, processor.streamParameters[1].grainLengthTimebase, TimedFamily::grainLength },
        { processor.lfoParameters[3].rate, processor.lfoParameters[3].timebase, TimedFamily::modulatorRate },
        { processor.randomParameters[2].rate, processor.randomParameters[2].timebase, TimedFamily::modulatorRate },
    };

    for (const auto& t : timed)
    {
        for (int tb = 0; tb < 19; ++tb)
        {
            SCOPED_TRACE (t.value->paramID + " timebase " + juce::String (tb));
            setInt (t.timebase, tb);
            const auto range = timedRange (t.family, tb);

            // Text of the range's end and start, then parsing a mid value back.
            const auto endText = juce::String (range.end, 4) + " " + expectedShortNames()[(size_t) tb];
            EXPECT_EQ (textOf (t.value, 1.0f, 1024), endText);
            EXPECT_FLOAT_EQ (valueFor (t.value, endText), 1.0f);
            EXPECT_FLOAT_EQ (valueFor (t.value, juce::String (range.end * 3.0)), 1.0f);

            const double middle = 0.5 * (range.start + range.end);
            EXPECT_NEAR (valueFor (t.value, juce::String (middle)), toNormalised (range, middle), 1e-5);
        }
    }
}

TEST_F (ParameterTextTest, BadTextAlwaysGivesAFiniteValueFollowingTheFallbacks)
{
    const juce::String hugeWord = juce::String::repeatedString ("x", 100000);
    const juce::String hugeNumber = juce::String::repeatedString ("9", 5000);

    // What the number at the start of each text reads as: exactly, for any exponent, whatever
    // the locale; whole numbers drop their fraction.
    struct Bad { juce::String text; double asDouble; int asInt; };
    const double inf = std::numeric_limits<double>::infinity();
    constexpr int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const std::vector<Bad> inputs {
        { "", 0.0, 0 },
        { "abc", 0.0, 0 },
        { "nan", 0.0, 0 },
        { "NaN", 0.0, 0 },
        { "-nan", 0.0, 0 },
        { "inf", inf, most },
        { "-inf", -inf, least },
        { "-5", -5.0, -5 },
        { "1e999", inf, most },
        { "-1e999", -inf, least },
        { "1e4294967297", inf, most },          // the exponent wraps round to 1 in an int
        { "-1e4294967297", -inf, least },
        { "1e-4294967297", 0.0, 0 },
        { "7e-4294967296", 0.0, 0 },
        { "0.0000000000000000000000000000000000000000000000001e48", 0.1, 0 },
        { "5" + juce::String::repeatedString ("0", 400) + "e-400", 5.0, 5 },
        { "2.5e1 dB", 25.0, 25 },
        { "+1e1", 10.0, 10 },
        { "--5", 0.0, 0 },
        { "0,5", 0.5, 0 },                      // a decimal comma, in every locale
        { " \t0.5", 0.5, 0 },
        { hugeWord, 0.0, 0 },
        { hugeNumber, inf, most },
        { "   ", 0.0, 0 },
    };

    const auto& expected = expectedParameters();
    ASSERT_EQ (processor.getParameters().size(), (int) expected.size());

    // Under a locale that writes one half as "0,5", as a host may set one, where this machine has one.
    const ScopedCommaLocale hostLocale;

    for (const auto& e : expected)
    {
        auto* p = processor.getParameters()[e.index];

        for (const auto& bad : inputs)
        {
            SCOPED_TRACE (e.id + " <- \"" + bad.text.substring (0, 20).toStdString() + "\"");
            const float v = valueFor (p, bad.text);
            ASSERT_TRUE (std::isfinite (v));
            EXPECT_GE (v, 0.0f);
            EXPECT_LE (v, 1.0f);

            double want = -1.0;

            switch (e.texts)
            {
                case Texts::timebase: want = 1.0; break;  // no name matches: 19, held at 18
                case Texts::sync:     want = 1.0; break;  // "Free"
                case Texts::shape:    want = 0.0; break;  // "Sine"
                case Texts::timed:
                    want = toNormalised (timedRange (e.family, e.timebaseDefault), bad.asDouble);
                    break;
                case Texts::framework:
                    if (e.kind == Kind::floating)
                        want = toNormalised (e.range, bad.asDouble);
                    else if (e.kind == Kind::integer)
                        want = toNormalised (e.range, bad.asInt);
                    else if (e.kind == Kind::boolean)
                        want = bad.asInt != 0 ? 1.0 : 0.0;
                    break;
            }

            if (want >= 0.0)
            {
                EXPECT_NEAR (v, want, 1e-5);
            }
        }
    }
}

// Every value's text is the same whatever locale the host set, and reads back as the value it shows.
TEST_F (ParameterTextTest, ValueTextsAreTheSameInEveryLocaleAndReadBack)
{
    const float values[] = { 0.0f, 0.0137f, 0.37f, 0.5f, 0.7290707f, 0.999f, 1.0f };
    std::vector<juce::String> plain;

    for (auto* p : processor.getParameters())
        for (const float v : values)
            plain.push_back (textOf (p, v, 1024));

    const ScopedCommaLocale hostLocale;
    size_t k = 0;

    for (auto* p : processor.getParameters())
    {
        for (const float v : values)
        {
            const auto text = textOf (p, v, 1024);
            SCOPED_TRACE (p->getName (100) + " " + text);
            EXPECT_EQ (text, plain[k++]);

            // Read back, the text gives a value that shows the same text, give or take a float's
            // last digit: nothing is lost but what the last decimal cannot show.
            const auto back = textOf (p, valueFor (p, text), 1024);
            const auto decimals = text.fromFirstOccurrenceOf (".", false, false).initialSectionContainingOnly ("0123456789").length();

            if (text.containsAnyOf ("0123456789") && ! text.contains ("/"))
                EXPECT_NEAR (qvl::readLeadingNumber (back), qvl::readLeadingNumber (text), 1.01 * std::pow (10.0, -decimals));
            else
                EXPECT_EQ (back, text);
        }
    }
}

// Typed text takes a decimal comma where a number has no point; the rest of the text is ignored.
TEST_F (ParameterTextTest, TypedTextsTakeADecimalComma)
{
    struct Typed { const char* id; const char* text; double expected; };
    const Typed rows[] = {
        { "gain_db_dry", "-6,5", -6.5 },
        { "gain_db_dry", "-6,5 dB", -6.5 },
        { "gain_db_dry", "+2,25", 2.25 },
        { "gain_db_dry", "1,000", 1.0 },             // no thousands separator: one
        { "gain_db_dry", "1,500.25", 1.0 },          // with a point, the comma ends the number
        { "gain_db_dry", "1,2,3", 1.2 },
        { "gain_db_dry", "5,", 5.0 },
        { "gain_db_dry", "5,x", 5.0 },
        { "gain_db_dry", ",5", 0.0 },
        { "gain_db_dry", "1e39", 12.0 },             // beyond a float: held at the end
        { "gain_db_dry", "-1e39", -100.0 },
        { "stream_1_grain_pitch", "7,5", 7.5 },
        { "stream_1_grain_pitch", "-0,25 st", -0.25 },
        { "stream_1_grain_length", "250,5", 250.5 }, // in ms
        { "stream_1_grain_length", "1,5e2", 150.0 },
        { "buffer_feedback", "0,73", 0.73 },
        { "grain_count_limit", "12,7", 12.0 },       // whole numbers drop the fraction
        { "stream_1_is_enabled", "0,5", 0.0 },       // switches read whole numbers too
    };

    for (const bool comma : { false, true })
    {
        std::optional<ScopedCommaLocale> hostLocale;
        if (comma)
            hostLocale.emplace();

        for (const auto& row : rows)
        {
            const auto& p = *dynamic_cast<juce::RangedAudioParameter*> (byId (row.id));
            const auto typed = valueFor (&p, row.text);
            const auto* timed = &p == processor.streamParameters[0].grainLength ? &processor.streamParameters[0] : nullptr;
            const auto expected = timed != nullptr ? toNormalised (timedRange (TimedFamily::grainLength, timed->grainLengthTimebase->get()), row.expected)
                                                   : p.convertTo0to1 ((float) row.expected);
            EXPECT_NEAR (typed, expected, 1e-5) << row.id << " <- " << row.text << (comma ? " (comma locale)" : "");
        }
    }
}
