#pragma once

#include "processor/ProgramProperties.h"

#include <juce_data_structures/juce_data_structures.h>

// What the macro name labels show: a copy of the stored names that only the message thread reads
// and writes, since a host thread may restore the state, names and all, at any time. The editor's
// refresh brings stored changes over; a name typed into a label is stored at once.
class MacroNameLabels
{
public:
    explicit MacroNameLabels (ProgramProperties&);
    ~MacroNameLabels();

    // The text value to bind label `index` (0 to 3) to.
    juce::Value getValue (int index) const;

    // Shows the names stored now, where they differ from what is shown. Message thread only.
    void refresh();

private:
    class NameSource;

    ProgramProperties& properties;
    juce::ReferenceCountedArray<NameSource> sources;

    JUCE_DECLARE_NON_COPYABLE (MacroNameLabels)
};
