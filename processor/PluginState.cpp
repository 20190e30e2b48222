#include "processor/PluginProcessor.h"
#include "processor/NumberText.h"
#include "processor/StateChunk.h"
#include "processor/StateNames.h"

#include <cmath>
#include <unordered_set>
#include <vector>

namespace
{
    // A stored flag: a text gives its leading decimal integer; a number outside int's range gives 0.
    int flagFromVar (const juce::var& element)
    {
        if (element.isString())
            return qvl::readLeadingInteger (element.toString());

        const double number = element;
        return std::isfinite (number) && std::abs (number) < 2147483647.0 ? (int) number : 0;
    }

    // A value that is not a finite number must not reach the parameters: without it the
    // parameter takes its default. The parameter state binds a parameter to any child carrying
    // its ID, not only to "PARAM" children, so every "value" is checked. A value given as text is
    // read here, exactly, and kept as its number: the framework's own reading of text wraps round
    // on long exponents, and the text, padding and all, would travel into every later save. Other
    // non-finite numbers go too: the framework's number-to-text conversion, which reads IDs,
    // macro names and writes preset files, is undefined for them. The reader's check keeps the
    // nesting shallow.
    void tidyNumbers (juce::ValueTree tree)
    {
        for (int i = tree.getNumProperties(); --i >= 0;)
        {
            const auto name = tree.getPropertyName (i);
            const auto property = tree.getProperty (name);

            if (name == qvl::stateNames::value)
            {
                // As the float it becomes, beyond a float's range the largest, which the
                // parameter clamps like any number past its end: the parameter state rewrites a
                // value only when the parameter moves, so anything else would stay in the state,
                // and a double's last digits would not survive a preset's text.
                if (const auto number = qvl::readFloatNumber (property))
                    tree.setProperty (name, *number, nullptr);
                else
                    tree.removeProperty (name, nullptr);
            }
            else if (property.isDouble() && ! std::isfinite ((double) property))
            {
                tree.removeProperty (name, nullptr);
            }
        }

        for (auto child : tree)
            tidyNumbers (child);
    }

    // The parameter state binds a parameter to the last child carrying its ID, whatever its type,
    // and that value plays. Only that one stays, as a parameter child, with the value the
    // parameter takes from it: anything else would linger in the state, which rewrites a value
    // only when its parameter moves, and go into a preset saved from it in place of what plays.
    void keepBoundEntries (juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters)
    {
        std::unordered_set<juce::String> bound;

        for (int i = tree.getNumChildren(); --i >= 0;)
        {
            auto child = tree.getChild (i);
            const auto id = child[qvl::stateNames::id].toString();
            const auto* parameter = parameters.getParameter (id);

            if (parameter == nullptr)
                continue;

            if (! bound.insert (id).second)
            {
                tree.removeChild (i, nullptr);
                continue;
            }

            // Another kind of child (macro names, say) keeps what it is, but no longer the ID.
            if (! child.hasType (qvl::stateNames::parameter))
            {
                juce::ValueTree entry (qvl::stateNames::parameter);
                entry.setProperty (qvl::stateNames::id, id, nullptr);

                if (child.hasProperty (qvl::stateNames::value))
                    entry.setProperty (qvl::stateNames::value, child[qvl::stateNames::value], nullptr);

                child.removeProperty (qvl::stateNames::id, nullptr);
                tree.addChild (entry, i + 1, nullptr);
                child = entry;
            }

            if (child.hasProperty (qvl::stateNames::value))
            {
                const auto value = (float) (double) child[qvl::stateNames::value];
                child.setProperty (qvl::stateNames::value, parameter->convertFrom0to1 (parameter->convertTo0to1 (value)), nullptr);
            }
        }
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

void QuorvalisPluginAudioProcessor::installState (const juce::ValueTree& tree)
{
    parameterState.replaceState (tree.createCopy());
}

juce::ValueTree QuorvalisPluginAudioProcessor::copyStateForSaving (bool withLockFlags)
{
    juce::ValueTree copy;
    std::vector<int> flags;

    {
        const juce::ScopedLock lock (stateLock);
        copy = parameterState.copyState(); // flushed values, deep copy

        if (withLockFlags)
            for (int i = 0; i < parameterLockFlags.size(); ++i)
                flags.push_back (parameterLockFlags[i]);
    }

    if (! copy.isValid())
        return copy;

    setVersionProperties (copy);

    if (withLockFlags)
    {
        juce::Array<juce::var> list;
        for (const int flag : flags)
            list.add (juce::String (flag));

        juce::ValueTree lockTree (qvl::stateNames::lockTree);
        lockTree.setProperty (qvl::stateNames::lockFlags, list, nullptr);
        copy.appendChild (lockTree, nullptr);
    }

    return copy;
}

void QuorvalisPluginAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::MemoryOutputStream stream (destData, true);

    const auto copy = copyStateForSaving (true);

    if (copy.isValid())
    {
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
    const auto lockChild = tree.getChildWithName (qvl::stateNames::lockTree);
    for (auto extra = lockChild; extra.isValid(); extra = tree.getChildWithName (qvl::stateNames::lockTree))
        tree.removeChild (extra, nullptr);

    // Without a list the flags stay as they are.
    std::vector<int> flags;

    if (const auto* list = lockChild.getProperty (qvl::stateNames::lockFlags).getArray())
        for (int i = 0; i < parameterLockFlags.size(); ++i)
            flags.push_back (i < list->size() ? flagFromVar (list->getReference (i)) : 0);

    tidyNumbers (tree);
    keepBoundEntries (tree, parameterState);

    {
        const juce::ScopedLock lock (stateLock);

        for (int i = 0; i < (int) flags.size(); ++i)
            parameterLockFlags.set (i, flags[(size_t) i]);

        installState (tree);
    }

    changeBroadcaster.sendChangeMessage();
}
