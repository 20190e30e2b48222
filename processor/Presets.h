#pragma once

#include "processor/UntrustedFile.h"
#include "processor/UntrustedXml.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace qvl
{

// One listed preset: the file name without its extension, and the file.
struct PresetEntry
{
    juce::String name;
    juce::File file;
};

// A listing of presets, and whether a bound cut it short: then some presets are missing.
struct PresetListing
{
    juce::Array<PresetEntry> entries;
    bool isComplete = true;
};

// The preset library: lists preset files by category (sub-folder), loads them while keeping
// locked parameters, saves into "User", steps through presets and loads the preset whose index
// arrives by MIDI. Everything but audioProcessorParameterChanged runs on the message thread.
class Presets : public juce::AudioProcessorListener,
                public juce::Timer
{
public:
    struct Options
    {
        juce::File folder;
        juce::String extension;                         // without the dot
        std::function<juce::ValueTree()> getState;
        std::function<bool (juce::ValueTree)> setState; // true when a locked parameter kept a differing value
        juce::AudioProcessor* processor = nullptr;      // the library listens to its parameter changes

        // How many directory entries, presets or not, the listing of one category looks at: a
        // huge tree below the folder must not stall the message thread, nor a MIDI preset change.
        int maximumListingEntries = 10000;
    };

    explicit Presets (Options options);
    ~Presets() override;

    // Any category but "[All]" lists one sub-folder, recursively, sorted by name: natural order
    // ("Pad 2" before "Pad 10"), ignoring case, names differing in case only by their exact text,
    // one name in two folders by path. "[All]" lists every preset once: those lying directly in
    // the folder, then each category's in the order of getCategories, each part sorted so. The
    // browser, stepping and the MIDI index all take this order, whatever order the disk keeps.
    // Links are followed, but no real folder is entered twice in one listing. Hidden entries
    // (starting with a dot) and anything but regular files are left out. Each category looks at
    // no more than the options' maximumListingEntries entries, maximumListingDepth folders deep,
    // and "[All]" at no more than maximumAllListingShare times that in all; a listing cut short
    // says so.
    PresetListing getPresetListing (const juce::String& category) const;
    juce::Array<PresetEntry> getPresets (const juce::String& category) const;

    // "[All]", then "Factory" and "User" when they exist, then the other sub-folders that are
    // not hidden (among the first maximumListingEntries entries), by name as presets are sorted.
    juce::StringArray getCategories() const;

    // Whether the file's name ends in "." + extension, as every listed preset's does.
    bool hasPresetExtension (const juce::File& file) const;

    static constexpr int maximumListingDepth = 8;
    static constexpr int maximumAllListingShare = 3;

    // A file that cannot be used as a preset is refused: the state, the current preset and its
    // name stay as they are. True when the file was loaded.
    bool loadPreset (const juce::File& file);

    // Writes the current state into "User". Fails, changing nothing, when the name is refused or
    // the file was not completely written; the message says why in a musician's words.
    juce::Result savePreset (const juce::String& name);

    // The text savePreset writes: what a preset holds of the current state.
    juce::String getPresetText() const;

    // The file savePreset writes for a name: "User"/name + "." + extension. A name that savePreset
    // refuses gives an empty File: blank, with a separator or a control character, starting with
    // a dot (hidden, or leading out of "User"), or longer than getMaximumNameBytes.
    juce::File getPresetFileForName (const juce::String& name) const;

    // The longest name, in bytes of UTF-8, whose file and temporary file the file system can take.
    int getMaximumNameBytes() const;

    // -1 previous, +1 next, through the "[All]" listing, wrapping at both ends; without a current
    // preset "next" loads the first entry and "previous" the last. Steps on past files that are
    // refused to the first other preset that loads; nothing changes when there is none. A file
    // refused once is passed without being read again until it changes.
    void loadAdjacentPreset (int delta);

    // The current preset's name, and its file when it still exists (the preset folder otherwise).
    PresetEntry getCurrentPresetFile() const;

    void updatePresetName (bool isModified);

    // Reads and checks a preset file. Returns an invalid tree when the file is missing, not a
    // regular file, empty, larger than 16 MB, not XML within xmlBounds, is of another root type,
    // holds a parameter value that is not a finite number or names none of the processor's
    // parameters. Only what a preset holds is kept: the version properties, each known parameter
    // once with its id and value, and the first macro name node with the four names.
    juce::ValueTree readPresetFile (const juce::File& file) const;

    // The same for the file's text.
    juce::ValueTree readPresetText (const juce::String& text) const;

    // A preset nests two levels: the root, then 449 parameters with two attributes each and the
    // macro names. Far beyond that is not a preset, and is refused before anything is built.
    static constexpr XmlBounds xmlBounds { 8, 2048, 64, 4096 };

    const Options& getOptions() const noexcept { return options; }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int parameterIndex, float newValue) override;
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void timerCallback() override;

    //==============================================================================
    juce::Value presetName;

    static constexpr const char* modifiedMark = "*";

private:
    juce::Result checkName (const juce::String& name) const;
    PresetListing listPresets (const juce::String& category, int& totalEntriesLeft) const;

    // The processor's parameter IDs, or none to take any ID, as for a library without a processor.
    const std::unordered_set<juce::String>* knownIds() const { return options.processor != nullptr ? &parameterIds : nullptr; }

    Options options;
    std::unordered_set<juce::String> parameterIds;     // fixed once the processor is built

    // Files that stepping found refused, by path, as they stood then.
    std::unordered_map<juce::String, FileStamp> refusedFiles;

public:
    std::atomic<bool> modified { false };

    // Preset index posted by the audio thread from MIDI CC 102; -1 = none. The timer takes it.
    std::atomic<std::int32_t> pendingPresetIndex { -1 };

    // Timer callbacks since the last name update; changes in the first two never mark the preset.
    std::atomic<std::int64_t> timerTicks { 0 };

    // The file last loaded or saved; empty when none.
    juce::File currentPresetFile;

    static constexpr int timerIntervalMs = 50;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Presets)
};

} // namespace qvl
