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

    // Every name back to its default; from the message thread, while hosts may save or restore.
    void resetNames();

    // The four names as stored now, and one name (index 0 to 3) stored; from any thread.
    juce::StringArray getMacroNames();
    void setMacroName (int index, const juce::String& name);

    juce::ValueTree programPropertiesTree;
    juce::OwnedArray<juce::ValueTreePropertyWithDefault> macroNames;

    // Host threads save and restore the state while the message thread edits the names in it:
    // held around every copy and replacement of the state tree and every edit of a name from
    // outside one, always before the parameter state's own lock, never after it.
    juce::CriticalSection stateLock;

private:
    juce::ValueTree& stateTree; // the parameter state's own handle, which carries the listener

    JUCE_DECLARE_NON_COPYABLE (ProgramProperties)
};
