#include "processor/PluginProcessor.h"
#include "processor/StateChunk.h"

#include <cmath>

namespace
{
    const juce::Identifier lockTreeType ("PARAMETER_LOCK");
    const juce::Identifier lockFlagsProperty ("parameter_lock_flags");
    const juce::Identifier parameterType ("PARAM");
    const juce::Identifier valueProperty ("value");

    // A stored flag: a text gives its leading decimal integer; a number outside int's range gives 0.
    int flagFromVar (const juce::var& element)
    {
        if (element.isString())
            return element.toString().getIntValue();

        const double number = element;
        return std::isfinite (number) && std::abs (number) < 2147483647.0 ? (int) number : 0;
    }

    // A value that is not a finite number must not reach the parameters: without it the
    // parameter takes its default.
    void removeNonFiniteValues (juce::ValueTree& tree)
    {
        for (auto child : tree)
            if (child.hasType (parameterType) && child.hasProperty (valueProperty)
                && ! std::isfinite ((double) child.getProperty (valueProperty)))
                child.removeProperty (valueProperty, nullptr);
    }
}

void QuorvalisPluginAudioProcessor::setVersionProperties (juce::ValueTree tree)
{
    if (! tree.isValid())
        return;

    tree.setProperty ("version_major", 1, nullptr);
    tree.setProperty ("version_minor", 0, nullptr);
    tree.setProperty ("version_patch", 2, nullptr);
}

void QuorvalisPluginAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::MemoryOutputStream stream (destData, true);

    // copyState and replaceState hold the tree lock themselves, only while copying or replacing.
    auto copy = parameterState.copyState();

    setVersionProperties (copy);

    juce::Array<juce::var> flags;
    for (const int flag : parameterLockFlags)
        flags.add (juce::String (flag));

    juce::ValueTree lockTree (lockTreeType);
    lockTree.setProperty (lockFlagsProperty, flags, nullptr);

    if (copy.isValid())
    {
        copy.appendChild (lockTree, nullptr);
        copy.writeToStream (stream);
    }
    else
    {
        // The empty record: no type, no properties, no children.
        stream.writeByte (0);
        stream.writeCompressedInt (0);
        stream.writeCompressedInt (0);
    }
}

void QuorvalisPluginAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // A chunk that is damaged, or is not this plug-in's state, keeps the current state: replacing
    // it would reset every parameter and make every later save write an empty record.
    if (sizeInBytes <= 0 || ! isSafeValueTreeData (data, (size_t) sizeInBytes))
        return;

    auto tree = juce::ValueTree::readFromData (data, (size_t) sizeInBytes);

    if (! tree.hasType (parameterState.state.getType()))
        return;

    auto lock = tree.getChildWithName (lockTreeType);
    tree.removeChild (lock, nullptr);

    if (const auto* list = lock.getProperty (lockFlagsProperty).getArray())
    {
        for (int i = 0; i < parameterLockFlags.size(); ++i)
            parameterLockFlags.set (i, i < list->size() ? flagFromVar (list->getReference (i)) : 0);
    }

    removeNonFiniteValues (tree);

    parameterState.replaceState (tree);

    changeBroadcaster.sendChangeMessage();
}
