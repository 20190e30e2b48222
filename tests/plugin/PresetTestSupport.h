#pragma once

#include "processor/PluginProcessor.h"
#include "tests/plugin/TestHome.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

namespace juce
{
    // Readable paths in test failure messages.
    inline void PrintTo (const File& file, std::ostream* stream) { *stream << file.getFullPathName(); }
}

// Helpers for tests that drive the processor's own preset library. Its folder lies in the test
// process's temporary home (see TestMain.cpp), so these may create and delete presets freely.
//
// MIDI preset selection end to end: hold a ScopedPresetFolder, call makeNumberedPresets (processor, 6),
// run processBlock with a controller 102 value 5 on channel 1, then runPresetTimerTick (processor.presets):
// the "[All]" entry 5 is then the current preset and "buffer_feedback" holds its number's value.
namespace qvl::test
{
    // Empties the processor's preset folder on entry and on exit. Refuses to touch a folder
    // outside the test home.
    class ScopedPresetFolder
    {
    public:
        explicit ScopedPresetFolder (const qvl::Presets& presets)
            : folder (presets.getOptions().folder)
        {
            wipe();
        }

        ~ScopedPresetFolder() { wipe(); }

        bool isInsideTestHome() const
        {
            const auto home = testHomeFolder();
            return home != juce::File() && folder.isAChildOf (home);
        }

        const juce::File folder;

    private:
        void wipe() const
        {
            if (isInsideTestHome())
                folder.deleteRecursively();
        }

        JUCE_DECLARE_NON_COPYABLE (ScopedPresetFolder)
    };

    inline juce::RangedAudioParameter& parameter (QuorvalisPluginAudioProcessor& processor, const juce::String& id)
    {
        auto* p = processor.parameterState.getParameter (id);
        if (p == nullptr)
            throw std::runtime_error (("no parameter " + id).toStdString());
        return *p;
    }

    inline float realValue (QuorvalisPluginAudioProcessor& processor, const juce::String& id)
    {
        auto& p = parameter (processor, id);
        return p.convertFrom0to1 (p.getValue());
    }

    // Sets a parameter the way an editor knob or host automation does.
    inline void setRealValue (QuorvalisPluginAudioProcessor& processor, const juce::String& id, float value)
    {
        auto& p = parameter (processor, id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    inline void lockParameter (QuorvalisPluginAudioProcessor& processor, const juce::String& id)
    {
        const int index = parameter (processor, id).getParameterIndex();
        processor.parameterLockFlags.set (index, processor.parameterLockFlags[index] | 2);
    }

    // The chunk a host would store, and its tree decoded again.
    inline juce::MemoryBlock savedHostChunk (QuorvalisPluginAudioProcessor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }

    inline juce::ValueTree savedHostState (QuorvalisPluginAudioProcessor& processor)
    {
        const auto block = savedHostChunk (processor);
        return juce::ValueTree::readFromData (block.getData(), block.getSize());
    }

    // The feedback value that makeNumberedPresets stores in "Preset <number>".
    inline float numberedPresetFeedback (int number)
    {
        return 0.05f + 0.1f * (float) number;
    }

    // Saves `count` presets "Preset 0", "Preset 1", ... into "User", preset k with "buffer_feedback"
    // at numberedPresetFeedback (k); then sets the feedback to 1 and forgets the current preset.
    // Returns the "[All]" list: entry i is what a MIDI CC 102 value of i selects.
    inline juce::Array<qvl::PresetEntry> makeNumberedPresets (QuorvalisPluginAudioProcessor& processor, int count)
    {
        for (int k = 0; k < count; ++k)
        {
            setRealValue (processor, "buffer_feedback", numberedPresetFeedback (k));
            processor.presets.savePreset ("Preset " + juce::String (k));
        }

        setRealValue (processor, "buffer_feedback", 1.0f);
        processor.presets.currentPresetFile = juce::File();
        processor.presets.updatePresetName (false);
        return processor.presets.getPresets ("[All]");
    }

    // One tick of the preset library's 50 ms timer, as the message thread runs it: takes
    // pendingPresetIndex (posted by processBlock from CC 102) and loads that "[All]" entry.
    inline void runPresetTimerTick (qvl::Presets& presets)
    {
        presets.timerCallback();
    }
}
