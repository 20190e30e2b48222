#include "editor/components/PresetBrowserComponent.h"

#include "editor/components/ListBoxComponent.h"
#include "processor/UntrustedFile.h"

namespace qvl
{

namespace
{
    using Container = next::ContainerComponent;

    constexpr int panelMargin = 16;
    constexpr int panelSpacing = 8;
    constexpr int maximumListHeight = 400;
    constexpr double listHeightShare = 0.66;
    constexpr int categoryListWidth = 300;
    constexpr int presetListWidth = 400;
    constexpr int dialogItemWidth = 80;
    constexpr int dialogItemHeight = 24;
    constexpr int wideDialogItemWidth = 480;
    constexpr float panelCornerSize = 4.0f;

    const juce::String nameTooLongMessage ("The name is too long: no more characters fit.");
    const juce::String incompleteListMessage ("Some presets are not shown: this folder holds too many files.");

    Container::Options dialogColumn()
    {
        return { true, panelSpacing, dialogItemWidth, dialogItemHeight, 0, 0, 0, 0 };
    }

    Container::Options dialogRow()
    {
        return { false, panelSpacing, dialogItemWidth, dialogItemHeight, 0, 0, 0, 0 };
    }

    template <typename ComponentType, typename... Args>
    ComponentType* addOwned (Container& container, int width, Args&&... args)
    {
        return container.addOwnedItem (std::make_unique<ComponentType> (std::forward<Args> (args)...), width);
    }
}

PresetBrowserComponent::PresetBrowserComponent (Presets& presetsToUse)
    : presets (presetsToUse)
{
    setWantsKeyboardFocus (true);
}

PresetBrowserComponent::~PresetBrowserComponent()
{
    content.reset();
}

juce::File PresetBrowserComponent::getDeletableCurrentPreset() const
{
    // Only what could be listed as a preset: never a folder, a link (the file it leads to may
    // lie anywhere) or any other kind of file. A "User" folder linked in from another disk
    // holds presets like any other.
    const auto current = presets.getCurrentPresetFile().file;
    return presets.hasPresetExtension (current) && isPlainFileUnder (current, presets.getOptions().folder) ? current : juce::File();
}

void PresetBrowserComponent::setMode (juce::Rectangle<int> area, int newMode, float scale)
{
    if (newMode == mode)
    {
        close();
        return;
    }

    if (newMode == deleteMode && getDeletableCurrentPreset() == juce::File())
        return;

    mode = newMode;

    // The old panel's widgets go with it: no pointer into it may survive.
    nameEditor = nullptr;
    messageLabel = nullptr;
    nameFilter = nullptr;
    saveButton = nullptr;
    overwriteButton = nullptr;
    saveButtonRow = nullptr;

    content = std::make_unique<Container> (Container::Options { true, panelSpacing, 0, 0,
                                                                panelMargin, panelMargin, panelMargin, panelMargin });
    content->setTransform (juce::AffineTransform::scale (scale, scale));

    // Added before the bounds change: centring the panel needs its parent.
    addAndMakeVisible (*content);
    setBounds (area);
    setVisible (true);
    toFront (true);

    if (mode == listMode)
        buildList (area, scale);
    else if (mode == saveMode)
        buildSaveDialog();
    else if (mode == deleteMode)
        buildDeleteDialog();

    resized();
}

void PresetBrowserComponent::close()
{
    mode = closedMode;
    setVisible (false);
}

void PresetBrowserComponent::buildList (juce::Rectangle<int> area, float scale)
{
    const auto listScale = scale > 0.0f ? (double) scale : 1.0;
    const int height = juce::jmin (maximumListHeight, (int) (area.getHeight() * (listHeightShare / listScale)));

    auto* row = content->addContainer ({ false, panelSpacing, dialogItemWidth, height, 0, 0, 0, 0 });
    auto* categories = row->addOwnedItem (std::make_unique<ListBoxComponent>(), categoryListWidth);
    auto* presetRows = row->addOwnedItem (std::make_unique<ListBoxComponent>(), presetListWidth);

    // Shown only under a list that a bound cut short.
    auto* notice = content->addOwnedItem (std::make_unique<juce::Label> (juce::String(), incompleteListMessage),
                                          categoryListWidth + panelSpacing + presetListWidth, dialogItemHeight);
    notice->setVisible (false);

    for (const auto& category : presets.getCategories())
    {
        categories->addItem (category, [this, presetRows, notice, category]
        {
            presetRows->clearItems();
            const auto listing = presets.getPresetListing (category);

            for (const auto& entry : listing.entries)
            {
                const auto file = entry.file;
                presetRows->addItem (entry.name, [this, file] { presets.loadPreset (file); });
            }

            if (notice->isVisible() == listing.isComplete)
            {
                notice->setVisible (! listing.isComplete);
                resized();
            }
        });
    }

    categories->selectRow (0);
}

void PresetBrowserComponent::buildSaveDialog()
{
    auto* column = content->addContainer (dialogColumn());

    addOwned<juce::Label> (*column, 0, juce::String(), "Save Preset");

    nameEditor = addOwned<juce::TextEditor> (*column, wideDialogItemWidth);
    nameEditor->setText (presets.getCurrentPresetFile().name, false);
    nameEditor->setSelectAllWhenFocused (true);
    nameEditor->setEscapeAndReturnKeysConsumed (false);    // Escape travels on and closes the browser
    nameFilter = new FileNameInputFilter (presets.getMaximumNameBytes());
    nameEditor->setInputFilter (nameFilter, true);

    messageLabel = addOwned<juce::Label> (*column, wideDialogItemWidth);

    saveButtonRow = column->addContainer (dialogRow());
    auto* cancel = addOwned<juce::TextButton> (*saveButtonRow, 0, "Cancel");
    saveButton = addOwned<juce::TextButton> (*saveButtonRow, 0, "Save");
    overwriteButton = addOwned<juce::TextButton> (*saveButtonRow, 0, "Overwrite");
    overwriteButton->setVisible (false);

    cancel->onClick = [this] { close(); };
    saveButton->onClick = [this] { saveClicked(); };
    overwriteButton->onClick = [this] { saveClicked(); };

    // Any edit asks again whether an existing preset may be replaced. Typing past the longest
    // name a file can take is said at once, not only when saving.
    nameEditor->onTextChange = [this]
    {
        saveButton->setEnabled (true);
        overwriteButton->setVisible (false);
        messageLabel->setText (nameFilter->hasCutInput (nameEditor->getText()) ? nameTooLongMessage : juce::String(),
                               juce::dontSendNotification);
        saveButtonRow->layout (true);
    };

    nameEditor->onReturnKey = [this]
    {
        (overwriteButton->isVisible() ? overwriteButton : saveButton)->triggerClick();
    };

    nameEditor->grabKeyboardFocus();
}

void PresetBrowserComponent::saveClicked()
{
    // A blank name is refused by the library, which says why.
    const auto name = nameEditor->getText().trim();

    if (presets.getPresetFileForName (name).existsAsFile() && saveButton->isEnabled())
    {
        saveButton->setEnabled (false);
        overwriteButton->setVisible (true);
        showMessage ("Overwrite existing preset: " + name.quoted() + "?");
        return;
    }

    // Closed only when the file is on disk; otherwise the dialog stays and says why.
    if (const auto saved = presets.savePreset (name); saved.failed())
    {
        showMessage (saved.getErrorMessage());
        return;
    }

    close();
}

void PresetBrowserComponent::showMessage (const juce::String& text)
{
    messageLabel->setText (text, juce::dontSendNotification);
    resized();
}

void PresetBrowserComponent::buildDeleteDialog()
{
    auto* column = content->addContainer (dialogColumn());

    addOwned<juce::Label> (*column, 0, juce::String(), "Delete Preset");
    addOwned<juce::Label> (*column, wideDialogItemWidth, juce::String(),
                           "Delete preset: " + presets.getCurrentPresetFile().name.quoted() + "?");

    auto* buttons = column->addContainer (dialogRow());
    auto* cancel = addOwned<juce::TextButton> (*buttons, 0, "Cancel");
    auto* deleteButton = addOwned<juce::TextButton> (*buttons, 0, "Delete");

    cancel->onClick = [this] { close(); };
    deleteButton->onClick = [this] { deleteClicked(); };
    deleteButton->grabKeyboardFocus();
}

void PresetBrowserComponent::deleteClicked()
{
    // Checked again: the current preset may have changed since the dialog opened.
    const auto file = getDeletableCurrentPreset();

    if (file != juce::File() && file.deleteFile())
    {
        presets.currentPresetFile = juce::File();
        presets.updatePresetName (false);
    }

    close();
}

void PresetBrowserComponent::mouseDown (const juce::MouseEvent& event)
{
    auto* pressed = event.eventComponent;

    if (content != nullptr && pressed != content.get() && ! content->isParentOf (pressed))
        close();
}

void PresetBrowserComponent::paint (juce::Graphics& g)
{
    const auto background = findColour (juce::ResizableWindow::backgroundColourId);

    g.fillAll (background.brighter (0.4f).withAlpha (0.7f));

    if (content != nullptr)
    {
        g.setColour (background);
        g.fillRoundedRectangle (content->getBounds().toFloat().transformedBy (content->getTransform()), panelCornerSize);
    }
}

bool PresetBrowserComponent::keyPressed (const juce::KeyPress& key)
{
    if (key == juce::KeyPress::escapeKey)
        close();

    // Keys never leak to the host while the browser is open.
    return true;
}

void PresetBrowserComponent::resized()
{
    if (content == nullptr)
        return;

    content->layout (true);
    content->centreWithSize (content->getWidth(), content->getHeight());
}

} // namespace qvl
