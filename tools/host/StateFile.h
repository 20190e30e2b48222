#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// The host state that JUCE's VST3 host writes is a binary XML "VST3PluginState" holding the
// component's and the controller's chunks in base64. These helpers get at the plug-in's own
// chunk and the value tree inside it.
namespace hoststate
{
    bool readFile (const juce::File& file, juce::MemoryBlock& data, juce::String& error);
    bool writeFile (const juce::File& file, const juce::MemoryBlock& data, juce::String& error);

    // True when data looks like a state written by JUCE's VST3 host.
    bool isHostState (const juce::MemoryBlock& data);

    // The component chunk without the wrapper's private trailer, i.e. exactly what the
    // processor's getStateInformation wrote.
    bool processorChunk (const juce::MemoryBlock& data, juce::MemoryBlock& chunk, juce::String& error);

    // The processor chunk read as a value tree (invalid when it is not one).
    juce::ValueTree processorTree (const juce::MemoryBlock& data, juce::String& error);

    // The VST3 parameter ID that JUCE's VST3 wrapper derives from a string parameter ID.
    juce::uint32 vst3IdForStringId (const juce::String& stringId);
}
