#include "ExpectedRanges.h"

#include "processor/Timebase.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

using namespace qvl::test;

TEST (TimebaseNames, LongAndShortNamesAndReserved)
{
    for (int tb = 0; tb < 19; ++tb)
    {
        EXPECT_EQ (timebaseName (tb), expectedLongNames()[(size_t) tb]) << tb;
        EXPECT_EQ (timebaseShortName (tb), expectedShortNames()[(size_t) tb]) << tb;
    }

    for (int tb : { -1, 19, 20, INT_MIN, INT_MAX })
    {
        EXPECT_EQ (timebaseName (tb), "RESERVED") << tb;
        EXPECT_EQ (timebaseShortName (tb), "RESERVED") << tb;
    }
}

TEST (TimebaseNames, FromTextMatchesExactlyEitherName)
{
    for (int tb = 0; tb < 19; ++tb)
    {
        EXPECT_EQ (timebaseFromText (expectedLongNames()[(size_t) tb]), tb);
        EXPECT_EQ (timebaseFromText (expectedShortNames()[(size_t) tb]), tb);
    }

    EXPECT_EQ (timebaseFromText ("D 1/8"), 11);
    EXPECT_EQ (timebaseFromText ("Dotted 1/8"), 11);
    EXPECT_EQ (timebaseFromText ("T 1/16"), 17);
    EXPECT_EQ (timebaseFromText ("dotted 1/8"), 19);
    EXPECT_EQ (timebaseFromText ("d 1/8"), 19);
    EXPECT_EQ (timebaseFromText (""), 19);
    EXPECT_EQ (timebaseFromText ("ms "), 19);
    EXPECT_EQ (timebaseFromText (" ms"), 19);
    EXPECT_EQ (timebaseFromText ("hz"), 19);
    EXPECT_EQ (timebaseFromText ("RESERVED"), 19);
    EXPECT_EQ (timebaseFromText ("1/"), 19);
    EXPECT_EQ (timebaseFromText ("5"), 19);
    EXPECT_EQ (timebaseFromText (std::string ("ms\0x", 4)), 19);
}

TEST (TimebaseNames, SyncModeFromText)
{
    EXPECT_EQ (syncModeFromText ("Beat"), 0);
    EXPECT_EQ (syncModeFromText ("Free"), 1);
    EXPECT_EQ (syncModeFromText ("free"), 2);
    EXPECT_EQ (syncModeFromText ("beat"), 2);
    EXPECT_EQ (syncModeFromText (""), 2);
    EXPECT_EQ (syncModeFromText ("RESERVED"), 2);
    EXPECT_EQ (syncModeFromText ("Beat "), 2);
}

TEST (SamplesToTimebaseValue, OneSecondAt120BpmIn44)
{
    // 48000 samples at 48 kHz and 120 BPM: 1 s, which is two quarter notes.
    const double expected[19] = {
        1000.0, 1.0, 1.0, 0.5,
        1.0, 2.0, 4.0, 8.0, 16.0,                                    // plain notes
        2.0 / 3.0, 4.0 / 3.0, 8.0 / 3.0, 16.0 / 3.0, 32.0 / 3.0,     // dotted notes
        3.0, 6.0, 12.0, 24.0, 48.0                                   // triplets
    };

    for (int tb = 0; tb < 19; ++tb)
        EXPECT_NEAR (samplesToTimebaseValue (48000, tb, 120.0, 48000.0, 4, 4), expected[tb], 1e-9) << tb;

    EXPECT_NEAR (samplesToTimebaseValue (48000, 10, 120.0, 48000.0, 4, 4), 1.3333, 1e-4);
    EXPECT_EQ (samplesToTimebaseValue (48000, 19, 120.0, 48000.0, 4, 4), 0.0);
    EXPECT_EQ (samplesToTimebaseValue (48000, -1, 120.0, 48000.0, 4, 4), 0.0);
}

TEST (SamplesToTimebaseValue, OtherRatesTemposAndSignatures)
{
    // 44.1 kHz, 90 BPM: 22050 samples are 0.5 s = 0.75 quarter notes.
    EXPECT_NEAR (samplesToTimebaseValue (22050, 0, 90.0, 44100.0, 4, 4), 500.0, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (22050, 2, 90.0, 44100.0, 4, 4), 2.0, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (22050, 5, 90.0, 44100.0, 4, 4), 0.75, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (22050, 7, 90.0, 44100.0, 4, 4), 3.0, 1e-9);

    // A bar of 3/4 holds three quarters, a bar of 6/8 three quarters too, 7/8 three and a half.
    EXPECT_NEAR (samplesToTimebaseValue (72000, 3, 120.0, 48000.0, 3, 4), 1.0, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (72000, 3, 120.0, 48000.0, 6, 8), 1.0, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (84000, 3, 120.0, 48000.0, 7, 8), 1.0, 1e-9);
    EXPECT_NEAR (samplesToTimebaseValue (48000, 3, 120.0, 48000.0, 6, 8), 2.0 / 3.0, 1e-9);

    // Zero samples in Hz is an infinite frequency, not a crash.
    EXPECT_TRUE (std::isinf (samplesToTimebaseValue (0, 2, 120.0, 48000.0, 4, 4)));
    EXPECT_EQ (samplesToTimebaseValue (0, 0, 120.0, 48000.0, 4, 4), 0.0);
}

TEST (MakeSkewedRange, PutsTheCentreAtTheMiddle)
{
    const auto r = makeSkewedRange (0.2f, 1000.0f, 10.0f);
    EXPECT_EQ (r.start, 0.2f);
    EXPECT_EQ (r.end, 1000.0f);
    EXPECT_EQ (r.interval, 0.0f);
    EXPECT_FALSE (r.symmetricSkew);
    EXPECT_FLOAT_EQ (r.skew, std::log (0.5f) / std::log (9.8f / 999.8f));
    EXPECT_NEAR (r.convertFrom0to1 (0.5f), 10.0f, 1e-4);
    EXPECT_NEAR (r.convertTo0to1 (10.0f), 0.5f, 1e-6);

    const auto linear = makeSkewedRange (-24.0f, 24.0f, 0.0f, 0.0001f);
    EXPECT_EQ (linear.skew, 1.0f);
    EXPECT_EQ (linear.interval, 0.0001f);
    EXPECT_NEAR (linear.convertFrom0to1 (0.25f), -12.0f, 1e-5);

    const auto decibels = makeSkewedRange (-100.0f, 12.0f, 0.0f);
    EXPECT_NEAR (decibels.skew, 6.116255, 1e-5);

    // A centre below the linear middle gives a skew below 1, above it a skew above 1.
    EXPECT_LT (makeSkewedRange (0.0f, 1.0f, 0.25f).skew, 1.0f);
    EXPECT_GT (makeSkewedRange (0.0f, 1.0f, 0.75f).skew, 1.0f);
}

TEST (RangeTables, EveryEntryHasItsStartCentreAndEnd)
{
    struct Table { const TimebaseRangeTable& table; TimedFamily family; const char* name; };
    const Table tables[] = {
        { bufferSizeRanges, TimedFamily::bufferSize, "buffer size" },
        { grainLengthRanges, TimedFamily::grainLength, "grain length" },
        { streamRateRanges, TimedFamily::streamRate, "stream rate" },
        { modulatorRateRanges, TimedFamily::modulatorRate, "modulator rate" },
    };

    for (const auto& t : tables)
    {
        ASSERT_EQ (t.table.size(), 19u);

        for (int tb = 0; tb < 19; ++tb)
        {
            SCOPED_TRACE (std::string (t.name) + " timebase " + std::to_string (tb));
            const auto& r = t.table[(size_t) tb];
            const auto want = timedRange (t.family, tb);
            const double span = want.end - want.start;
            EXPECT_FLOAT_EQ (r.start, (float) want.start);
            EXPECT_FLOAT_EQ (r.end, (float) want.end);
            EXPECT_EQ (r.interval, 0.0f);
            EXPECT_FALSE (r.symmetricSkew);
            EXPECT_FLOAT_EQ (r.skew, expectedSkew (want));
            EXPECT_NEAR (r.convertFrom0to1 (0.0f), want.start, 1e-7 * span);
            EXPECT_NEAR (r.convertFrom0to1 (0.5f), want.centre, 1e-6 * span);
            EXPECT_NEAR (r.convertFrom0to1 (1.0f), want.end, 1e-7 * span);
        }
    }

    // A few entries written out by hand.
    EXPECT_FLOAT_EQ (bufferSizeRanges[0].start, 10.0f);
    EXPECT_FLOAT_EQ (grainLengthRanges[1].start, 0.001f);
    EXPECT_FLOAT_EQ (streamRateRanges[2].end, 10000.0f);
    EXPECT_FLOAT_EQ (modulatorRateRanges[0].start, 6.666667f);
    EXPECT_FLOAT_EQ (modulatorRateRanges[14].end, 2.0f);
    EXPECT_FLOAT_EQ (modulatorRateRanges[13].end, 32.0f);
    EXPECT_FLOAT_EQ (streamRateRanges[3].end, 4.0f);
    EXPECT_FLOAT_EQ (grainLengthRanges[17].end, 16.0f);
    EXPECT_NEAR (streamRateRanges[2].skew, 0.100343, 1e-5);
}

namespace
{
    TimebasePeriod period (float normalised, int tb, const TimebaseRangeTable& table,
                           double sampleRate = 48000.0, double bpm = 120.0, int numerator = 4, int denominator = 4,
                           int minSamples = 0, int maxSamples = INT_MAX)
    {
        return timebaseValueToPeriod (normalised, tb, minSamples, maxSamples, table, sampleRate, bpm, numerator, denominator);
    }
}

TEST (TimebaseValueToPeriod, MusicalRatesAt120Bpm)
{
    // 0.5 is a value of 1 in every musical entry.
    EXPECT_EQ (period (0.5f, 15, streamRateRanges).period, 8000);   // triplet quarter: a third of 24000
    EXPECT_EQ (period (0.5f, 10, streamRateRanges).period, 36000);  // dotted quarter
    EXPECT_EQ (period (0.5f, 5, streamRateRanges).period, 24000);   // quarter
    EXPECT_EQ (period (0.5f, 3, streamRateRanges).period, 96000);   // 4/4 bar
    EXPECT_EQ (period (0.5f, 3, streamRateRanges, 48000.0, 120.0, 3, 4).period, 72000);
    EXPECT_EQ (period (0.5f, 4, streamRateRanges).period, 48000);   // half
    EXPECT_EQ (period (0.5f, 8, streamRateRanges).period, 3000);    // thirty-second
    EXPECT_EQ (period (0.5f, 13, streamRateRanges).period, 4500);   // dotted thirty-second
    EXPECT_EQ (period (0.5f, 18, streamRateRanges).period, 1000);   // triplet thirty-second
    EXPECT_EQ (period (0.5f, 14, streamRateRanges).period, 16000);  // triplet half

    // Two quarters in the quarter entry (0.1 to 4, centre 1) at 60 BPM: 2 s.
    const auto twoQuarters = period ((float) toNormalised ({ 0.1, 4.0, 1.0 }, 2.0), 5, modulatorRateRanges, 48000.0, 60.0);
    EXPECT_EQ (twoQuarters.period, 96000);
    EXPECT_NEAR (twoQuarters.realised, 0.711817, 1e-5);

    // The realised value of an exact period is the setting itself.
    EXPECT_NEAR (period (0.5f, 15, streamRateRanges).realised, 0.5f, 1e-5);
}

TEST (TimebaseValueToPeriod, ZeroValuesGiveShortestOrLongestPeriod)
{
    // 0 ms: a grain on every sample.
    const auto zeroMs = period (0.0f, 0, streamRateRanges);
    EXPECT_EQ (zeroMs.period, 0);
    EXPECT_EQ (zeroMs.realised, 0.0f);
    EXPECT_EQ (period (0.0f, 1, streamRateRanges).period, 0);
    EXPECT_EQ (period (0.0f, 0, streamRateRanges, 48000.0, 120.0, 4, 4, 17, 1000).period, 17);

    // 0 Hz: never.
    const auto zeroHz = period (0.0f, 2, streamRateRanges);
    EXPECT_EQ (zeroHz.period, 2147483647);
    EXPECT_EQ (zeroHz.realised, 0.0f);
    EXPECT_EQ (period (0.0f, 2, modulatorRateRanges, 48000.0, 120.0, 4, 4, 0, 5000).period, 5000);
}

TEST (TimebaseValueToPeriod, ModulatorRates)
{
    const auto fastest = period (1.0f, 2, modulatorRateRanges);
    EXPECT_EQ (fastest.period, 320);
    EXPECT_DOUBLE_EQ (48000.0 / fastest.period, 150.0);
    EXPECT_FLOAT_EQ (fastest.realised, 1.0f);

    // The shortest time in seconds (1/150 s) is the same 150 Hz.
    EXPECT_EQ (period (0.0f, 1, modulatorRateRanges).period, 320);
    EXPECT_EQ (period (0.0f, 0, modulatorRateRanges).period, 320);

    // 1 Hz at 44.1 kHz.
    EXPECT_EQ (period (0.5f, 2, modulatorRateRanges, 44100.0).period, 44100);
}

TEST (TimebaseValueToPeriod, BufferSizeIsHeldAtTheBufferLength)
{
    // 4 bars at 60 BPM in 4/4 last 16 s; the buffer holds 5 s, which is 1.25 bars.
    const auto result = period (1.0f, 3, bufferSizeRanges, 48000.0, 60.0, 4, 4, 480, 240000);
    EXPECT_EQ (result.period, 240000);
    EXPECT_NEAR (result.realised, 0.561426, 1e-5);

    // 500 ms fits.
    const auto half = period (0.5f, 0, bufferSizeRanges, 48000.0, 120.0, 4, 4, 480, 240000);
    EXPECT_EQ (half.period, 24000);
    EXPECT_NEAR (half.realised, 0.5, 1e-5);
}

TEST (TimebaseValueToPeriod, GrainLengthBelowTheMinimum)
{
    // 1 ms at 48 kHz is 48 samples; a minimum of 100 wins and realises 100/48 ms.
    EXPECT_EQ (period (0.0f, 0, grainLengthRanges, 48000.0, 120.0, 4, 4, 48, 240000).period, 48);
    const auto held = period (0.0f, 0, grainLengthRanges, 48000.0, 120.0, 4, 4, 100, 240000);
    EXPECT_EQ (held.period, 100);
    EXPECT_NEAR (held.realised, toNormalised ({ 1, 5000, 250 }, 100.0 / 48.0), 1e-5);

    // 250 ms.
    EXPECT_EQ (period (0.5f, 0, grainLengthRanges, 48000.0, 120.0, 4, 4, 48, 240000).period, 12000);
}

TEST (TimebaseValueToPeriod, HalvesRoundAwayFromZero)
{
    // 10000 Hz: sample rate / frequency = 2.5, 3.5 and 4.8.
    EXPECT_EQ (period (1.0f, 2, streamRateRanges, 25000.0).period, 3);
    EXPECT_EQ (period (1.0f, 2, streamRateRanges, 35000.0).period, 4);
    EXPECT_EQ (period (1.0f, 2, streamRateRanges, 15000.0).period, 2);

    // 4.8 rounds to 5, which realises 9600 Hz rather than the 10000 asked for.
    const auto rounded = period (1.0f, 2, streamRateRanges, 48000.0);
    EXPECT_EQ (rounded.period, 5);
    EXPECT_NEAR (rounded.realised, 0.995912, 1e-5);
}

TEST (TimebaseValueToPeriod, NotANumberGivesTheLongestPeriod)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int tb : { 0, 1, 2, 3, 10, 18 })
    {
        const auto result = period (nan, tb, streamRateRanges);
        EXPECT_EQ (result.period, INT_MAX) << tb;
        EXPECT_TRUE (std::isfinite (result.realised)) << tb;
    }
}

TEST (TimebaseValueToText, FourDecimalsAndTheShortName)
{
    EXPECT_EQ (timebaseValueToText (0, streamRateRanges, 0.5f), "100.0000 ms");
    EXPECT_EQ (timebaseValueToText (0, grainLengthRanges, 0.5f), "250.0000 ms");
    EXPECT_EQ (timebaseValueToText (5, streamRateRanges, 0.5f), "1.0000 1/4");
    EXPECT_EQ (timebaseValueToText (11, modulatorRateRanges, modulatorRateRanges[11].convertTo0to1 (0.5f)), "0.5000 D 1/8");
    EXPECT_EQ (timebaseValueToText (17, bufferSizeRanges, 1.0f), "16.0000 T 1/16");
    EXPECT_EQ (timebaseValueToText (2, streamRateRanges, 1.0f), "10000.0000 Hz");
    EXPECT_EQ (timebaseValueToText (2, streamRateRanges, 0.0f), "0.0000 Hz");
    EXPECT_EQ (timebaseValueToText (1, grainLengthRanges, 0.0f), "0.0010 s");
    EXPECT_EQ (timebaseValueToText (0, bufferSizeRanges, 0.25f), "58.1162 ms");
    EXPECT_EQ (timebaseValueToText (2, streamRateRanges, 0.25f), "0.0100 Hz");
    EXPECT_EQ (timebaseValueToText (3, bufferSizeRanges, 0.0f), "0.1000 Bar");
}

// The unrounded cycle in quarter notes that synced grids follow: exact note lengths, the value as
// its text shows it, ms, s and Hz at the tempo.
TEST (TimebaseValueToBeats, ExactCyclesInQuarterNotes)
{
    struct Row { int timebase; float value; double bpm; int numerator, denominator; double beats; };
    const Row rows[] = {
        { 7, 1.0f, 120.0, 4, 4, 0.25 },          // 0.5 normalised comes out 0.9999996 before rounding
        { 8, 3.0f, 60.0, 4, 4, 0.375 },
        { 4, 1.5f, 200.0, 4, 4, 3.0 },
        { 11, 1.0f, 93.7, 4, 4, 0.75 },          // dotted: 1.5 plain
        { 15, 1.0f, 133.0, 4, 4, 1.0 / 3.0 },    // triplet: a third, not two thirds
        { 17, 2.0f, 97.5, 4, 4, 2.0 / 12.0 },
        { 3, 1.0f, 150.0, 7, 8, 3.5 },           // a bar by the time signature
        { 3, 2.0f, 90.0, 3, 4, 6.0 },
        { 0, 500.0f, 120.0, 4, 4, 1.0 },         // ms, s and Hz at the tempo
        { 1, 2.0f, 90.0, 4, 4, 3.0 },
        { 2, 2.0f, 120.0, 4, 4, 1.0 },
        { 2, 0.0f, 120.0, 4, 4, std::numeric_limits<double>::infinity() },
    };

    for (const auto& row : rows)
    {
        const auto& range = modulatorRateRanges[(size_t) row.timebase];
        const float normalised = row.value == 1.0f ? 0.5f : range.convertTo0to1 (row.value);
        EXPECT_EQ (timebaseValueToBeats (normalised, row.timebase, modulatorRateRanges, row.bpm, row.numerator, row.denominator),
                   row.beats) << row.timebase << " " << row.value;
    }

    EXPECT_TRUE (std::isnan (timebaseValueToBeats (std::numeric_limits<float>::quiet_NaN(), 7, streamRateRanges, 120.0, 4, 4)));
}
