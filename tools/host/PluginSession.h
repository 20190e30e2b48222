#pragma once

#include "HostOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <map>
#include <memory>
#include <string>

// Turns whatever the user passed (the bundle, or the .so inside it) into the bundle folder,
// which is what JUCE's VST3 format wants. Empty when nothing usable exists there.
std::string resolveBundlePath (const std::string& path, std::string& error);

// The module inside a bundle for this machine's architecture, or empty.
std::string findModuleBinary (const std::string& bundlePath);

// False, and says so on stderr, when there is no display: JUCE crashes when it builds a window
// with no display to put it on.
bool checkDisplay();

// The instance's editor in a window of its own with a title bar; null when it has none.
std::unique_ptr<juce::AudioProcessorEditor> openEditorWindow (juce::AudioPluginInstance& instance, const juce::String& name,
                                                              juce::Point<int> topLeft = {});

// One hosted instance of the plug-in, loaded through JUCE's VST3 hosting.
class PluginSession
{
public:
    // Returns null and sets exitCode and error when the plug-in cannot be found or loaded.
    static std::unique_ptr<PluginSession> open (const std::string& path, double sampleRate, int blockSize,
                                                int& exitCode, juce::String& error);

    ~PluginSession();

    juce::AudioPluginInstance& getInstance() { return *instance; }
    const juce::PluginDescription& getDescription() const { return description; }

    // ID is a string ID, a VST3 ID in decimal or #index; null with error when unknown.
    juce::AudioProcessorParameter* findParameter (const juce::String& id, juce::String& error);

    // The string ID behind a hosted parameter, learnt from the plug-in's own state; empty if unknown.
    juce::String getStringId (const juce::AudioProcessorParameter& parameter) const;

    static juce::uint32 getVst3Id (const juce::AudioProcessorParameter& parameter);

    bool applySettings (const std::vector<ParameterSetting>& settings, juce::String& error);
    bool loadState (const juce::File& file, juce::String& error);
    bool saveState (const juce::File& file, juce::String& error);

private:
    PluginSession() = default;
    void learnStringIds();

    juce::VST3PluginFormat format;
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    std::map<juce::uint32, juce::String> stringIdsByVst3Id;
};
