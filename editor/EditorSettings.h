#pragma once

#include "processor/UntrustedXml.h"

#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>
#include <juce_graphics/juce_graphics.h>

// The per-user settings file of the editor; it keeps the UI scale. One object while editors are
// open, shared by all of them through juce::SharedResourcePointer<EditorSettings>.
//
// The file is read once per process and not trusted: only a regular file, opened without
// blocking, of at most maximumFileBytes, in the XML form juce::PropertiesFile writes; anything
// else counts as no settings. A change is written as that class writes it, a few seconds later or
// when the last editor closes: into a temporary file moved over the old one, so a link in its
// place is replaced, never followed.
class EditorSettings : private juce::Timer
{
public:
    EditorSettings();
    ~EditorSettings() override;

    static constexpr const char* scaleKey = "editor_scale_percent";

    // Percentages a scale button can store; anything else in the file is brought into this range.
    static constexpr int minimumScalePercent = 50;
    static constexpr int maximumScalePercent = 200;

    // The file holds one short line; a few kilobytes leave room for hand edits.
    static constexpr juce::int64 maximumFileBytes = 16 * 1024;

    // The file nests two levels, a value per key with two attributes; room for a hundred or two
    // keys written by hand.
    static constexpr qvl::XmlBounds xmlBounds { 4, 256, 8, 512 };

    // Name, folder, format and write delay of the file. On Linux it lies in
    // $XDG_CONFIG_HOME/quorvalis (~/.config/quorvalis when unset); elsewhere in the framework's
    // default per-user folder.
    static juce::PropertiesFile::Options makeOptions();

    juce::File getFile() const { return file; }

    // The stored factor: 1.0 when the key is missing or not a plain number, or the file could not
    // be read; other values are limited to 0.5 .. 2.0.
    float getEditorScale() const;

    // Stores the factor as a whole percent; written to disk a few seconds later or when the last
    // editor closes. Kept for the rest of the process even when the file cannot be written.
    void storeEditorScale (float factor);

    // The factor a settings file, or its text, holds, read as the editor reads it.
    static float readEditorScale (const juce::File&);
    static float readEditorScale (const juce::String& fileText);

private:
    void timerCallback() override;
    void save();

    const juce::File file;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EditorSettings)
};

// How the editor's content is scaled on a display, in the order the editor works it out.
struct ContentScaleFit
{
    juce::Rectangle<int> requested;    // the content at the asked-for factor
    juce::Rectangle<int> limit;        // 90 % of the display's user area, dpi-corrected where needed
    int fittedWidth = 0;               // the requested size fitted into the limit
    float contentScale = 1.0f;         // the transform's scale: fitted width / natural width
};

// Pure: no display or host is asked. naturalWidth and naturalHeight are the root container's
// size at scale 1.0; userArea and dpi describe the display the editor is on.
ContentScaleFit computeContentScale (int naturalWidth, int naturalHeight, float factor,
                                     juce::Rectangle<int> userArea, double dpi, bool needsDpiCorrection);

// Hosts that report display sizes in physical pixels while placing the window in logical ones.
bool hostNeedsDpiCorrection();
