#pragma once

#include <juce_data_structures/juce_data_structures.h>

// Keeps the four macro names in one "PROGRAM_PROPERTIES" node that moves from state tree to
// state tree, so the editor's bindings to it survive every state replacement.
class ProgramProperties : public juce::ValueTree::Listener
{
public:
    static constexpr int numMacros = 4;

    explicit ProgramProperties (juce::ValueTree& state);
    ~ProgramProperties() override;

    void valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property) override;
    void valueTreeChildAdded (juce::ValueTree& parent, juce::ValueTree& child) override;
    void valueTreeRedirected (juce::ValueTree& newState) override;

    // Writes the default into every macro name that is missing or blank.
    void fillEmptyNames();

    juce::ValueTree programPropertiesTree;
    juce::OwnedArray<juce::ValueTreePropertyWithDefault> macroNames;

private:
    juce::ValueTree& stateTree; // the parameter state's own handle, which carries the listener

    JUCE_DECLARE_NON_COPYABLE (ProgramProperties)
};
