#include "processor/ProgramProperties.h"

namespace
{
    const juce::Identifier programPropertiesType ("PROGRAM_PROPERTIES");

    juce::Identifier macroPropertyName (int k) { return "macro_" + juce::String (k); }
    juce::String macroDefaultName (int k) { return "Macro " + juce::String (k); }
}

// What a macro name label shows: a copy of the stored name that only the message thread reads and
// writes, so the label never reads the tree while a host thread restores it.
class ProgramProperties::NameSource : public juce::Value::ValueSource
{
public:
    NameSource (ProgramProperties& ownerToUse, int indexToUse, const juce::String& stored)
        : owner (&ownerToUse), index (indexToUse), name (stored)
    {
    }

    juce::var getValue() const override { return name; }

    void setValue (const juce::var& newValue) override
    {
        // The label hands back every name it is shown; only a new one is stored, or a shown name
        // could overwrite one that a host restored meanwhile.
        const auto text = newValue.toString();
        if (text == name)
            return;

        name = text;
        if (owner != nullptr)
            owner->storeName (index, text);
    }

    void show (const juce::String& stored)
    {
        if (stored != name)
        {
            name = stored;
            sendChangeMessage (true);
        }
    }

    ProgramProperties* owner;

private:
    const int index;
    juce::String name;
};

ProgramProperties::ProgramProperties (juce::ValueTree& state)
    : stateTree (state)
{
    // Listen on the parameter state's own handle so every replaceState reaches valueTreeRedirected.
    state.addListener (this);
    programPropertiesTree = state.getOrCreateChildWithName (programPropertiesType, nullptr);

    for (int k = 1; k <= numMacros; ++k)
    {
        auto* name = macroNames.add (new juce::ValueTreePropertyWithDefault (programPropertiesTree, macroPropertyName (k),
                                                                              nullptr, macroDefaultName (k)));
        name->setValue (macroDefaultName (k), nullptr);
        nameSources.add (new NameSource (*this, k - 1, macroDefaultName (k)));
    }
}

ProgramProperties::~ProgramProperties()
{
    stateTree.removeListener (this);
    cancelPendingUpdate();

    for (auto* source : nameSources)
        source->owner = nullptr;
}

void ProgramProperties::valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property)
{
    if (tree != programPropertiesTree)
        return;

    if (programPropertiesTree.hasProperty (property))
        fillEmptyNames();

    // Any thread may get here; the labels hear of it on the message thread.
    triggerAsyncUpdate();
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
    auto incoming = newState.getOrCreateChildWithName (programPropertiesType, nullptr);
    newState.removeChild (incoming, nullptr);

    // Only the first counts; another left behind would come back on the next restore.
    for (auto extra = newState.getChildWithName (programPropertiesType); extra.isValid();
         extra = newState.getChildWithName (programPropertiesType))
        newState.removeChild (extra, nullptr);

    programPropertiesTree.copyPropertiesAndChildrenFrom (incoming, nullptr);
    fillEmptyNames();

    auto previousParent = programPropertiesTree.getParent();
    if (previousParent.isValid())
        previousParent.removeChild (programPropertiesTree, nullptr);

    newState.appendChild (programPropertiesTree, nullptr);
    triggerAsyncUpdate();
}

void ProgramProperties::fillEmptyNames()
{
    for (int k = 1; k <= numMacros; ++k)
    {
        const auto text = programPropertiesTree.getProperty (macroPropertyName (k)).toString();

        if (text.trim().isEmpty())
            programPropertiesTree.setProperty (macroPropertyName (k), macroDefaultName (k), nullptr);
    }
}

juce::Value ProgramProperties::getMacroNameValue (int index)
{
    // A new label starts from the stored name, even before a pending update arrives.
    showStoredNames();
    return juce::Value (nameSources[index]);
}

void ProgramProperties::handleAsyncUpdate()
{
    showStoredNames();
}

void ProgramProperties::showStoredNames()
{
    JUCE_ASSERT_MESSAGE_THREAD

    juce::StringArray stored;
    {
        const juce::ScopedLock lock (stateLock);
        for (int k = 1; k <= numMacros; ++k)
            stored.add (programPropertiesTree.getProperty (macroPropertyName (k)).toString());
    }

    for (int k = 0; k < numMacros; ++k)
        nameSources[k]->show (stored[k]);
}

void ProgramProperties::resetNames()
{
    const juce::ScopedLock lock (stateLock);

    for (int k = 1; k <= numMacros; ++k)
        programPropertiesTree.removeProperty (macroPropertyName (k), nullptr);

    fillEmptyNames();
}

void ProgramProperties::storeName (int index, const juce::String& name)
{
    const juce::ScopedLock lock (stateLock);
    programPropertiesTree.setProperty (macroPropertyName (index + 1), name, nullptr);
}
