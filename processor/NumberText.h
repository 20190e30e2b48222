#pragma once

#include <juce_core/juce_core.h>

#include <optional>

// Numbers in text that anyone could have written or typed: preset and settings files, host
// state, values a host or a musician types. The framework's own conversion wraps round on long
// exponents and the C library's follows the host's locale, so these read through std::from_chars:
// exactly, whatever the locale, for any number of digits.
namespace qvl
{
    // The whole text, white space around it aside: an optional sign, decimal digits with an
    // optional point, an optional exponent. Nothing else ("inf", "nan", hex, a comma, trailing
    // text) is a number. Beyond a double's range is no number either (infinity is not finite);
    // a number too small for a double is zero.
    std::optional<double> readNumber (const juce::String& text);

    // The number as the float that every parameter value is, or nothing when that is not finite.
    // At a float's precision, the text the framework writes for a number reads back as the same
    // number; a double's last digits may not.
    std::optional<double> asFloat (double number);

    // readNumber, then asFloat.
    std::optional<double> readFloatNumber (const juce::String& text);

    // A stored value as a float: a number of its own type, or a text that readFloatNumber reads.
    // Nothing for anything else (arrays, objects, binary data, void).
    std::optional<double> readFloatNumber (const juce::var& value);

    // The number a text starts with, as typed ("-6 dB"): after white space and one sign, the
    // longest number, the rest ignored. "inf" and "nan" read as such; beyond a double's range
    // reads as infinity, too small as zero. 0 when the text starts with no number.
    double readLeadingNumber (const juce::String& text);

    // The decimal integer a text starts with, after white space and an optional minus sign ("12abc"
    // gives 12). 0 when there is none, or when it lies beyond an int's range.
    int readLeadingInteger (const juce::String& text);
}
