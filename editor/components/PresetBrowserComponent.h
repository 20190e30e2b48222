#pragma once

#include "editor/components/ContainerComponent.h"
#include "editor/components/FileNameInputFilter.h"
#include "processor/Presets.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace qvl
{

// The overlay for choosing, saving and deleting presets: a translucent veil over the editor
// with one centred panel. All file work goes through the preset library.
class PresetBrowserComponent : public juce::Component
{
public:
    enum Mode
    {
        closedMode = -1,
        listMode = 0,
        saveMode = 1,
        deleteMode = 2
    };

    explicit PresetBrowserComponent (Presets&);
    ~PresetBrowserComponent() override;

    // Opens the mode over area (editor coordinates) at the editor's UI scale, replacing any open
    // panel; the mode that is already open closes instead. The delete panel opens only while the
    // current preset is a file that may be deleted.
    void setMode (juce::Rectangle<int> area, int newMode, float scale);

    void close();

    int getMode() const noexcept { return mode; }

    // The file "Delete" would remove: the current preset when it is a plain preset file listed
    // below the preset folder (on whatever disk a linked folder leads to), otherwise an empty File.
    juce::File getDeletableCurrentPreset() const;

    void mouseDown (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;
    bool keyPressed (const juce::KeyPress&) override;
    void resized() override;

private:
    void buildList (juce::Rectangle<int> area, float scale);
    void buildSaveDialog();
    void buildDeleteDialog();
    void saveClicked();
    void showMessage (const juce::String&);
    void deleteClicked();

    std::unique_ptr<next::ContainerComponent> content;
    Presets& presets;
    int mode = closedMode;

    // The save dialog's parts, owned by content.
    juce::TextEditor* nameEditor = nullptr;
    juce::Label* messageLabel = nullptr;
    FileNameInputFilter* nameFilter = nullptr;    // owned by nameEditor
    juce::TextButton* saveButton = nullptr;
    juce::TextButton* overwriteButton = nullptr;
    next::ContainerComponent* saveButtonRow = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PresetBrowserComponent)
};

} // namespace qvl
