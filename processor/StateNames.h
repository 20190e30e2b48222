#pragma once

#include <juce_core/juce_core.h>

// The names of the state tree's nodes and properties, as host state chunks and preset files
// store them.
namespace qvl::stateNames
{
    inline const juce::Identifier root ("PARAMETERS");
    inline const juce::Identifier parameter ("PARAM");
    inline const juce::Identifier programProperties ("PROGRAM_PROPERTIES");
    inline const juce::Identifier lockTree ("PARAMETER_LOCK");
    inline const juce::Identifier lockFlags ("parameter_lock_flags");
    inline const juce::Identifier id ("id");
    inline const juce::Identifier value ("value");
}
