#pragma once

#include <juce_core/juce_core.h>

#include <optional>

// Numbers in text that anyone could have written or typed: preset and settings files, host
// state, values a host or a musician types, and the texts the plug-in writes. The framework's own
// conversions wrap round on long exponents and follow the locale that the host, or any other
// plug-in in its process, may set (the C library's and the C++ global one), so these go through
// std::from_chars and std::to_chars: exactly, with a point, whatever the locale.
namespace qvl
{
    // The whole text, white space around it aside: an optional sign, decimal digits with an
    // optional point, an optional exponent. Nothing else ("inf", "nan", hex, a comma, trailing
    // text) is a number. A number beyond a double's range is the largest double of its sign; a
    // number too small for a double is zero.
    std::optional<double> readNumber (const juce::String& text);

    // The number as the float that every parameter value is: beyond a float's range, the largest
    // float of its sign, so that a larger number never gives a smaller value. Nothing for NaN and
    // infinities.
    std::optional<double> asFloat (double number);

    // readNumber, then asFloat.
    std::optional<double> readFloatNumber (const juce::String& text);

    // A stored value as a float: a number of its own type, or a text that readFloatNumber reads.
    // Nothing for anything else (arrays, objects, binary data, void).
    std::optional<double> readFloatNumber (const juce::var& value);

    // The number a text starts with, as typed ("-6 dB"): after white space and one sign, the
    // longest number, the rest ignored. A comma right after the leading digits of a number that
    // has no point, with a digit behind it, is its decimal separator, as many musicians type it
    // ("-6,5"; "1,000" is 1). "inf" and "nan" read as such; beyond a double's range reads as
    // infinity, too small as zero. 0 when the text starts with no number.
    double readLeadingNumber (const juce::String& text);

    // The decimal integer a text starts with, after white space and an optional minus sign ("12abc"
    // gives 12). 0 when there is none, or when it lies beyond an int's range.
    int readLeadingInteger (const juce::String& text);

    // The shortest text that reads back as the same float, for files. Finite values only.
    juce::String writeNumber (float value);

    // A fixed number of decimals (0 to 20), for display.
    juce::String writeFixed (double value, int decimals);
}
