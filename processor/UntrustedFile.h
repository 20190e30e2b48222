#pragma once

#include <juce_core/juce_core.h>

#include <memory>

// Reading files that anyone could have put in place: preset folders are shared and settings
// files are edited by hand. Nothing here blocks on a device or a FIFO, reads without bound or
// lets a crafted document recurse or expand without limit.
namespace qvl
{
    // A regular file, after following links.
    bool isRegularFile (const juce::File&);

    // The text of a regular file of at most maximumBytes, opened without blocking; empty for
    // anything else (missing, a device, a FIFO, a folder, too long, unreadable).
    juce::String readBoundedText (const juce::File&, juce::int64 maximumBytes);

    // A plain decimal number, optionally with an exponent, that stays finite as a float: no "nan",
    // "inf", hex or trailing text.
    bool isPlainNumber (const juce::String& text);
}
