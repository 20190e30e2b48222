#include "processor/PluginProcessor.h"
#include "processor/StateChunk.h"
#include "processor/StateNames.h"

#include <cmath>
#include <limits>

namespace
{
    // The framework's own text parser wraps around past int's range (and overflows on its lowest
    // value), so "4294967298" would read as 2, a lock.
    int leadingInteger (const juce::String& text)
    {
        auto p = text.getCharPointer().findEndOfWhitespace();
        const bool negative = *p == '-';
        if (negative)
            ++p;

        constexpr auto limit = (juce::int64) std::numeric_limits<int>::max() + 1;
        juce::int64 magnitude = 0;

        for (; *p >= '0' && *p <= '9'; ++p)
            if ((magnitude = magnitude * 10 + (*p - '0')) > limit)
                return 0;

        if (magnitude == limit && ! negative)
            return 0;

        return (int) (negative ? -magnitude : magnitude);
    }

    // A stored flag: a text gives its leading decimal integer; a number outside int's range gives 0.
    int flagFromVar (const juce::var& element)
    {
        if (element.isString())
            return leadingInteger (element.toString());

        const double number = element;
        return std::isfinite (number) && std::abs (number) < 2147483647.0 ? (int) number : 0;
    }

    // A value that is not a finite number must not reach the parameters: without it the
    // parameter takes its default. The parameter state binds a parameter to any child carrying
    // its ID, not only to "PARAM" children, so every "value" is checked, texts included. Other
    // non-finite numbers go too: the framework's number-to-text conversion, which reads IDs,
    // macro names and writes preset files, is undefined for them. The reader's check keeps the
    // nesting shallow.
    void removeNonFiniteValues (juce::ValueTree tree)
    {
        for (int i = tree.getNumProperties(); --i >= 0;)
        {
            const auto name = tree.getPropertyName (i);
            const auto& property = tree.getProperty (name);

            if ((property.isDouble() || name == qvl::stateNames::value) && ! std::isfinite ((double) property))
                tree.removeProperty (name, nullptr);
        }

        for (auto child : tree)
            removeNonFiniteValues (child);
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

// Both hold the parameter state's tree lock only while copying or replacing, and the names' lock
// around it, so a name typed in the editor never meets a host thread's save or restore.
juce::ValueTree QuorvalisPluginAudioProcessor::copyParameterState()
{
    const juce::ScopedLock names (programProperties.stateLock);
    return parameterState.copyState();
}

void QuorvalisPluginAudioProcessor::replaceParameterState (const juce::ValueTree& tree)
{
    const juce::ScopedLock names (programProperties.stateLock);
    parameterState.replaceState (tree);
}

void QuorvalisPluginAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::MemoryOutputStream stream (destData, true);

    auto copy = copyParameterState();

    setVersionProperties (copy);

    juce::Array<juce::var> flags;
    for (int i = 0; i < parameterLockFlags.size(); ++i)
        flags.add (juce::String (parameterLockFlags[i]));

    juce::ValueTree lockTree (qvl::stateNames::lockTree);
    lockTree.setProperty (qvl::stateNames::lockFlags, flags, nullptr);

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

    if (! tree.hasType (qvl::stateNames::root))
        return;

    // The first lock child counts; any other must not stay in the live state either, or the next
    // save would carry a stale list ahead of the real one.
    const auto lock = tree.getChildWithName (qvl::stateNames::lockTree);
    for (auto extra = lock; extra.isValid(); extra = tree.getChildWithName (qvl::stateNames::lockTree))
        tree.removeChild (extra, nullptr);

    if (const auto* list = lock.getProperty (qvl::stateNames::lockFlags).getArray())
    {
        for (int i = 0; i < parameterLockFlags.size(); ++i)
            parameterLockFlags.set (i, i < list->size() ? flagFromVar (list->getReference (i)) : 0);
    }

    removeNonFiniteValues (tree);

    replaceParameterState (tree);

    changeBroadcaster.sendChangeMessage();
}
