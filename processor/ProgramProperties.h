#pragma once

#include <juce_data_structures/juce_data_structures.h>

// Keeps the four macro names in one "PROGRAM_PROPERTIES" node that moves from state tree to
// state tree, so the names survive every state replacement.
//
// Host threads save and restore the state while the message thread edits the names in it: every
// read and write of a name from outside a replacement holds the state lock, which the owner also
// holds around every copy and replacement of the state. The node itself is never handed out.
class ProgramProperties : private juce::ValueTree::Listener
{
public:
    static constexpr int numMacros = 4;

    // Far more than a macro's label shows; a longer name is cut to this many characters.
    static constexpr int maximumNameLength = 1024;

    // A name as the state keeps it, wherever it comes from: valid UTF-8 (anything else becomes
    // U+FFFD), at most maximumNameLength characters. So what is stored survives every save and
    // load. A blank name stays blank here; the state then holds the default.
    static juce::String tidyName (const juce::String& name);

    // state: the parameter state's own handle, which carries the listener; stateLock: held by the
    // owner around every copy and replacement of that state.
    ProgramProperties (juce::ValueTree& state, juce::CriticalSection& stateLock);
    ~ProgramProperties() override;

    // The four names as stored now, and one name (index 0 to 3) stored; a blank one becomes its
    // default. From any thread.
    juce::StringArray getMacroNames();
    void setMacroName (int index, const juce::String& name);

    // Every name back to its default.
    void resetNames();

private:
    void valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property) override;
    void valueTreeChildAdded (juce::ValueTree& parent, juce::ValueTree& child) override;
    void valueTreeRedirected (juce::ValueTree& newState) override;

    // Writes the default into every macro name that is missing or blank, and tidies the others.
    void tidyNames();

    juce::ValueTree& stateTree;
    juce::CriticalSection& lock;
    juce::ValueTree programPropertiesTree;

    JUCE_DECLARE_NON_COPYABLE (ProgramProperties)
};
