#pragma once

#include <juce_core/juce_core.h>

namespace qvl::test
{
    // The empty home folder that the test process made for itself before the framework started
    // (HOME and the XDG folders point into it); the user's real home is never touched.
    juce::File testHomeFolder();
}
