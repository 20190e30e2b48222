#include "StateFile.h"

#include "processor/StateChunk.h"

#include <cstring>

namespace hoststate
{
    namespace
    {
        constexpr const char* privateDataMagic = "JUCEPrivateData";
    }

    bool readFile (const juce::File& file, juce::MemoryBlock& data, juce::String& error)
    {
        if (! file.existsAsFile())
        {
            error = "state file not found: " + file.getFullPathName();
            return false;
        }

        if (! file.loadFileAsData (data) || data.isEmpty())
        {
            error = "cannot read state file: " + file.getFullPathName();
            return false;
        }

        return true;
    }

    bool writeFile (const juce::File& file, const juce::MemoryBlock& data, juce::String& error)
    {
        if (data.isEmpty())
        {
            error = "the plug-in returned an empty state";
            return false;
        }

        file.getParentDirectory().createDirectory();

        if (! file.replaceWithData (data.getData(), data.getSize()))
        {
            error = "cannot write state file: " + file.getFullPathName();
            return false;
        }

        return true;
    }

    bool isHostState (const juce::MemoryBlock& data)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (data.getData(), (int) data.getSize());
        return xml != nullptr && xml->hasTagName ("VST3PluginState");
    }

    bool processorChunk (const juce::MemoryBlock& data, juce::MemoryBlock& chunk, juce::String& error)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (data.getData(), (int) data.getSize());

        if (xml == nullptr || ! xml->hasTagName ("VST3PluginState"))
        {
            error = "not a state saved by a VST3 host";
            return false;
        }

        auto* component = xml->getChildByName ("IComponent");

        if (component == nullptr)
        {
            error = "the host state has no component chunk";
            return false;
        }

        if (! chunk.fromBase64Encoding (component->getAllSubText()))
        {
            error = "the component chunk is not valid base64";
            return false;
        }

        // The wrapper appends: 8 zero bytes, its private tree, that tree's size as int64, the magic text.
        const auto magicLength = std::strlen (privateDataMagic);
        const auto size = chunk.getSize();

        if (size >= magicLength + 2 * sizeof (juce::int64)
            && std::memcmp (static_cast<const char*> (chunk.getData()) + size - magicLength, privateDataMagic, magicLength) == 0)
        {
            juce::uint64 privateSize = 0;
            std::memcpy (&privateSize, static_cast<const char*> (chunk.getData()) + size - magicLength - sizeof (juce::uint64), sizeof (privateSize));
            privateSize = juce::ByteOrder::swapIfBigEndian (privateSize);

            const auto trailer = (juce::uint64) (magicLength + 2 * sizeof (juce::int64)) + privateSize;

            if (privateSize > size || trailer > size)
            {
                error = "the component chunk's private trailer is damaged";
                return false;
            }

            chunk.setSize ((size_t) (size - trailer));
        }

        return true;
    }

    juce::ValueTree processorTree (const juce::MemoryBlock& data, juce::String& error)
    {
        juce::MemoryBlock chunk;

        if (! processorChunk (data, chunk, error))
            return {};

        // The framework's reader trusts the sizes inside the data; check them first.
        if (! isSafeValueTreeData (chunk.getData(), chunk.getSize()))
        {
            error = "the plug-in's chunk is not a well-formed value tree";
            return {};
        }

        auto tree = juce::ValueTree::readFromData (chunk.getData(), chunk.getSize());

        if (! tree.isValid())
            error = "the plug-in's chunk is not a value tree";

        return tree;
    }

    juce::uint32 vst3IdForStringId (const juce::String& stringId)
    {
        // The wrapper hashes the ID and clears the top bit for hosts that dislike negative IDs.
        return (juce::uint32) stringId.hashCode() & 0x7fffffffu;
    }
}
