#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_graphics/juce_graphics.h>

// The per-user settings file of the editor; it keeps the UI scale. One object per process,
// shared by every open editor through juce::SharedResourcePointer<EditorSettings>.
class EditorSettings : public juce::ApplicationProperties
{
public:
    EditorSettings();

    static constexpr const char* scaleKey = "editor_scale_percent";

    // Percentages a scale button can store; anything else in the file is brought into this range.
    static constexpr int minimumScalePercent = 50;
    static constexpr int maximumScalePercent = 200;

    // On Linux the file lies in $XDG_CONFIG_HOME/quorvalis (~/.config/quorvalis when unset);
    // elsewhere in the framework's default per-user folder.
    static juce::PropertiesFile::Options makeOptions();

    // The stored factor: 1.0 when the key is missing, not a number or the file cannot be opened;
    // other values are limited to 0.5 .. 2.0.
    float getEditorScale();

    // Stores the factor as a whole percent; written to disk a few seconds later or when the
    // last editor closes. Skipped when the file cannot be opened.
    void storeEditorScale (float factor);

private:
    juce::PropertiesFile* openUserSettings();

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
