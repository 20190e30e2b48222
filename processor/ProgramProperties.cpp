#include "processor/ProgramProperties.h"

#include "processor/StateNames.h"
#include "processor/Utf8.h"

#include <string>
#include <string_view>

namespace
{
    juce::Identifier macroPropertyName (int k) { return "macro_" + juce::String (k); }
    juce::String macroDefaultName (int k) { return "Macro " + juce::String (k); }
}

ProgramProperties::ProgramProperties (juce::ValueTree& state, juce::CriticalSection& stateLock)
    : stateTree (state), lock (stateLock)
{
    const juce::ScopedLock scope (lock);

    // Listen on the parameter state's own handle so every replaceState reaches valueTreeRedirected.
    state.addListener (this);
    programPropertiesTree = state.getOrCreateChildWithName (qvl::stateNames::programProperties, nullptr);

    for (int k = 1; k <= numMacros; ++k)
        programPropertiesTree.setProperty (macroPropertyName (k), macroDefaultName (k), nullptr);
}

ProgramProperties::~ProgramProperties()
{
    const juce::ScopedLock scope (lock);
    stateTree.removeListener (this);
}

void ProgramProperties::valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property)
{
    if (tree == programPropertiesTree && programPropertiesTree.hasProperty (property))
        tidyNames();
}

void ProgramProperties::valueTreeChildAdded (juce::ValueTree& parent, juce::ValueTree& child)
{
    // The parameter state adds "PARAM" children for parameters a restored tree lacks, and may do
    // so after the node has moved in: keep the node last.
    if (child == programPropertiesTree || parent != programPropertiesTree.getParent())
        return;

    const int index = parent.indexOf (programPropertiesTree);
    const int last = parent.getNumChildren() - 1;

    if (index != last)
        parent.moveChild (index, last, nullptr);
}

void ProgramProperties::valueTreeRedirected (juce::ValueTree& newState)
{
    auto incoming = newState.getOrCreateChildWithName (qvl::stateNames::programProperties, nullptr);
    newState.removeChild (incoming, nullptr);

    // Only the first counts; another left behind would come back on the next restore.
    for (auto extra = newState.getChildWithName (qvl::stateNames::programProperties); extra.isValid();
         extra = newState.getChildWithName (qvl::stateNames::programProperties))
        newState.removeChild (extra, nullptr);

    programPropertiesTree.copyPropertiesAndChildrenFrom (incoming, nullptr);
    tidyNames();

    auto previousParent = programPropertiesTree.getParent();
    if (previousParent.isValid())
        previousParent.removeChild (programPropertiesTree, nullptr);

    newState.appendChild (programPropertiesTree, nullptr);
}

juce::String ProgramProperties::tidyName (const juce::String& name)
{
    // A host state can hand over any bytes; written into a preset they would make it unreadable.
    // Measured as stored: the framework's measure decodes them, and can count past the end. Only
    // the characters kept are looked at, however long the name.
    const std::string_view stored (name.toRawUTF8());
    const auto* p = reinterpret_cast<const unsigned char*> (stored.data());
    const auto* end = p + stored.size();
    std::string kept;
    bool repaired = false;

    for (int count = 0; p < end && count < maximumNameLength; ++count)
    {
        std::uint32_t c;
        const int length = qvl::decodeUtf8 (p, end, c);
        repaired = repaired || length == 0;
        qvl::appendUtf8 (kept, length == 0 ? 0xfffdu : c);
        p += length == 0 ? 1 : length;
    }

    return repaired || p < end ? juce::String::fromUTF8 (kept.data(), (int) kept.size()) : name;
}

void ProgramProperties::tidyNames()
{
    for (int k = 1; k <= numMacros; ++k)
    {
        const auto text = programPropertiesTree.getProperty (macroPropertyName (k)).toString();

        if (text.trim().isEmpty())
            programPropertiesTree.setProperty (macroPropertyName (k), macroDefaultName (k), nullptr);
        else if (const auto tidy = tidyName (text); std::string_view (tidy.toRawUTF8()) != text.toRawUTF8())
            programPropertiesTree.setProperty (macroPropertyName (k), tidy, nullptr);
    }
}

juce::StringArray ProgramProperties::getMacroNames()
{
    const juce::ScopedLock scope (lock);
    juce::StringArray names;

    for (int k = 1; k <= numMacros; ++k)
        names.add (programPropertiesTree.getProperty (macroPropertyName (k)).toString());

    return names;
}

void ProgramProperties::resetNames()
{
    const juce::ScopedLock scope (lock);

    for (int k = 1; k <= numMacros; ++k)
        programPropertiesTree.setProperty (macroPropertyName (k), macroDefaultName (k), nullptr);
}

void ProgramProperties::setMacroName (int index, const juce::String& name)
{
    if (! juce::isPositiveAndBelow (index, numMacros))
        return;

    const juce::ScopedLock scope (lock);
    programPropertiesTree.setProperty (macroPropertyName (index + 1), tidyName (name), nullptr);
}
