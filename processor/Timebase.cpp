#include "processor/Timebase.h"
#include "processor/NumberText.h"

#include <cmath>
#include <limits>

namespace
{
    const char* const longNames[Timebase::count] = {
        "ms", "s", "Hz", "Bar", "1/2", "1/4", "1/8", "1/16", "1/32",
        "Dotted 1/2", "Dotted 1/4", "Dotted 1/8", "Dotted 1/16", "Dotted 1/32",
        "Triplet 1/2", "Triplet 1/4", "Triplet 1/8", "Triplet 1/16", "Triplet 1/32"
    };

    const char* const shortNames[Timebase::count] = {
        "ms", "s", "Hz", "Bar", "1/2", "1/4", "1/8", "1/16", "1/32",
        "D 1/2", "D 1/4", "D 1/8", "D 1/16", "D 1/32",
        "T 1/2", "T 1/4", "T 1/8", "T 1/16", "T 1/32"
    };

    // A duration in quarter notes times m counts the plain notes "1/2" to "1/32".
    double noteMultiplier (int timebase)
    {
        static const double m[5] = { 0.5, 1.0, 2.0, 4.0, 8.0 };
        return m[(timebase - 4) % 5];
    }

    // The 16 musical entries share one shape per note value; only ms, s and Hz differ per table.
    TimebaseRangeTable makeTable (juce::NormalisableRange<float> ms,
                                  juce::NormalisableRange<float> s,
                                  juce::NormalisableRange<float> hz)
    {
        TimebaseRangeTable t;
        t[0] = ms;
        t[1] = s;
        t[2] = hz;
        t[3] = makeSkewedRange (0.1f, 4.0f, 1.0f);
        static const float noteEnds[5] = { 2.0f, 4.0f, 8.0f, 16.0f, 32.0f };

        for (int tb = 4; tb < Timebase::count; ++tb)
            t[(size_t) tb] = makeSkewedRange (0.1f, noteEnds[(tb - 4) % 5], 1.0f);

        return t;
    }
}

juce::String timebaseName (int timebase)
{
    if (timebase < 0 || timebase >= Timebase::count)
        return "RESERVED";
    return longNames[timebase];
}

juce::String timebaseShortName (int timebase)
{
    if (timebase < 0 || timebase >= Timebase::count)
        return "RESERVED";
    return shortNames[timebase];
}

int timebaseFromText (const std::string& text)
{
    for (int tb = 0; tb < Timebase::count; ++tb)
        if (text == longNames[tb] || text == shortNames[tb])
            return tb;

    return Timebase::count;
}

int syncModeFromText (const std::string& text)
{
    if (text == "Beat")
        return SyncMode::beat;
    if (text == "Free")
        return SyncMode::free;
    return 2;
}

double samplesToTimebaseValue (int samples, int timebase, double bpm, double sampleRate,
                               int numerator, int denominator)
{
    const double s = (double) samples;
    const double quarters = s * (bpm / 60.0) / sampleRate;

    if (timebase == 0)   return s / sampleRate * 1000.0;
    if (timebase == 1)   return s / sampleRate;
    if (timebase == 2)   return sampleRate / s;
    if (timebase == 3)   return quarters * 0.25 * denominator / numerator;
    if (timebase >= 4 && timebase <= 8)    return quarters * noteMultiplier (timebase);
    if (timebase >= 9 && timebase <= 13)   return quarters / 1.5 * noteMultiplier (timebase);
    if (timebase >= 14 && timebase <= 18)  return quarters * 3.0 * noteMultiplier (timebase);
    return 0.0;
}

TimebasePeriod timebaseValueToPeriod (float normalised, int timebase, int minSamples, int maxSamples,
                                      const TimebaseRangeTable& table, double sampleRate, double bpm,
                                      int numerator, int denominator)
{
    const auto& range = table[(size_t) timebase];

    // A value that is not a number has no frequency; answering before the range sees it also
    // keeps the range's own range check quiet on the audio thread.
    if (std::isnan (normalised))
        return { maxSamples, range.convertTo0to1 (juce::jlimit (range.start, range.end, 0.0f)) };

    const float v = range.convertFrom0to1 (normalised);
    const double q = bpm / 60.0;
    const double vd = (double) v;
    double f;

    if (v == 0.0f && timebase != Timebase::hertz)
    {
        f = std::numeric_limits<double>::max();
    }
    else
    {
        if (timebase == 0)        f = 1000.0 / vd;
        else if (timebase == 1)   f = 1.0 / vd;
        else if (timebase == 2)   f = vd;
        else if (timebase == 3)   f = q / vd * 0.25 * denominator / numerator;
        else if (timebase <= 8)   f = q / vd * noteMultiplier (timebase);
        else if (timebase <= 13)  f = q / vd / 1.5 * noteMultiplier (timebase);
        else                      f = q / vd * 3.0 * noteMultiplier (timebase);

        if (! (f > 0.0))
            return { maxSamples, range.convertTo0to1 (juce::jlimit (range.start, range.end, 0.0f)) };
    }

    // Halves round away from zero; the clamp happens in double so huge periods cannot overflow an int.
    const double exact = std::round (sampleRate / f);
    int period;

    if (exact < (double) minSamples)
        period = minSamples;
    else
        period = exact > (double) maxSamples ? maxSamples : (int) exact;

    const auto realisedValue = (float) samplesToTimebaseValue (period, timebase, bpm, sampleRate, numerator, denominator);
    return { period, range.convertTo0to1 (juce::jlimit (range.start, range.end, realisedValue)) };
}

double timebaseValueToBeats (float normalised, int timebase, const TimebaseRangeTable& table, double bpm,
                             int numerator, int denominator)
{
    if (std::isnan (normalised))
        return std::numeric_limits<double>::quiet_NaN();

    // The value as its text shows it, to four decimals: the range's float arithmetic turns "1.0000
    // 1/16" into 0.9999996 of a sixteenth, which over a song would drift off the grid it names.
    const double v = std::round ((double) table[(size_t) timebase].convertFrom0to1 (normalised) * 10000.0) / 10000.0;
    const double q = bpm / 60.0;

    if (timebase == 0)    return v / 1000.0 * q;
    if (timebase == 1)    return v * q;
    if (timebase == 2)    return v > 0.0 ? q / v : std::numeric_limits<double>::infinity();
    if (timebase == 3)    return v * 4.0 * numerator / denominator;
    if (timebase <= 8)    return v / noteMultiplier (timebase);
    if (timebase <= 13)   return v * 1.5 / noteMultiplier (timebase);
    return v / 3.0 / noteMultiplier (timebase);
}

juce::NormalisableRange<float> makeSkewedRange (float start, float end, float centre, float interval)
{
    const float skew = std::log (0.5f) / std::log ((centre - start) / (end - start));
    return juce::NormalisableRange<float> (start, end, interval, skew, false);
}

juce::String timebaseValueToText (int timebase, const TimebaseRangeTable& table, float value)
{
    return qvl::writeFixed (table[(size_t) timebase].convertFrom0to1 (value), 4) + " " + timebaseShortName (timebase);
}

const TimebaseRangeTable bufferSizeRanges = makeTable (makeSkewedRange (10.0f, 5000.0f, 500.0f),
                                                       makeSkewedRange (0.01f, 5.0f, 0.5f),
                                                       makeSkewedRange (0.2f, 100.0f, 2.0f));

const TimebaseRangeTable grainLengthRanges = makeTable (makeSkewedRange (1.0f, 5000.0f, 250.0f),
                                                        makeSkewedRange (0.001f, 5.0f, 0.2f),
                                                        makeSkewedRange (0.2f, 1000.0f, 10.0f));

const TimebaseRangeTable streamRateRanges = makeTable (makeSkewedRange (0.0f, 1000.0f, 100.0f),
                                                       makeSkewedRange (0.0f, 1.0f, 0.1f),
                                                       makeSkewedRange (0.0f, 10000.0f, 10.0f));

const TimebaseRangeTable modulatorRateRanges = makeTable (makeSkewedRange (6.666667f, 1000.0f, 500.0f),
                                                          makeSkewedRange (0.006666667f, 10.0f, 0.5f),
                                                          makeSkewedRange (0.0f, 150.0f, 1.0f));
