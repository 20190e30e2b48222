#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <string>

// Units of rates, lengths and the buffer size: 0 "ms", 1 "s", 2 "Hz", 3 "Bar", 4-8 notes,
// 9-13 dotted notes, 14-18 triplet notes.
namespace Timebase
{
    enum : int { milliseconds = 0, seconds = 1, hertz = 2, bar = 3, firstMusical = 3, count = 19 };
}

// 0 "Beat" (phase follows the host position), 1 "Free".
namespace SyncMode
{
    enum : int { beat = 0, free = 1 };
}

using TimebaseRangeTable = std::array<juce::NormalisableRange<float>, Timebase::count>;

juce::String timebaseName (int timebase);
juce::String timebaseShortName (int timebase);
int timebaseFromText (const std::string& text);
int syncModeFromText (const std::string& text);

double samplesToTimebaseValue (int samples, int timebase, double bpm, double sampleRate,
                               int numerator, int denominator);

struct TimebasePeriod
{
    int period = 0;
    float realised = 0.0f;
};

TimebasePeriod timebaseValueToPeriod (float normalised, int timebase, int minSamples, int maxSamples,
                                      const TimebaseRangeTable& table, double sampleRate, double bpm,
                                      int numerator, int denominator);

// The length of one cycle of the setting in quarter notes, for following the host's musical
// position: not rounded to whole samples, only the value to the four decimals its text shows. Note
// values need no tempo, ms, s and Hz take it from bpm. Infinite for zero hertz, not a number for a
// value that is not one.
double timebaseValueToBeats (float normalised, int timebase, const TimebaseRangeTable& table, double bpm,
                             int numerator, int denominator);

juce::NormalisableRange<float> makeSkewedRange (float start, float end, float centre, float interval = 0.0f);

juce::String timebaseValueToText (int timebase, const TimebaseRangeTable& table, float value);

extern const TimebaseRangeTable bufferSizeRanges;
extern const TimebaseRangeTable grainLengthRanges;
extern const TimebaseRangeTable streamRateRanges;
extern const TimebaseRangeTable modulatorRateRanges;
