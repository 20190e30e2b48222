#include "editor/PluginEditor.h"

#include "processor/Timebase.h"

#if JUCE_LINUX || JUCE_BSD
 #include <spawn.h>
 #include <sys/wait.h>
 #include <thread>
 extern char** environ;
#endif

namespace
{
    // Opens the folder, or the folder holding the file, in the desktop's file manager.
    void showInFileManager (const juce::File& location)
    {
       #if JUCE_LINUX || JUCE_BSD
        // Not through the framework, which builds a shell command from the path: preset folders
        // are shared, and a folder named with "$(...)" would run that command. The launcher is
        // started directly and reaped on a thread of its own; where it is missing nothing happens,
        // and the editor never waits for it.
        const auto folder = location.isDirectory() ? location : location.getParentDirectory();

        if (! folder.isDirectory())
            return;

        const auto path = folder.getFullPathName();
        char program[] = "xdg-open";
        char* const argv[] = { program, const_cast<char*> (path.toRawUTF8()), nullptr };

        posix_spawnattr_t attributes;
        posix_spawnattr_init (&attributes);
        posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSID);

        pid_t pid = 0;
        const bool started = posix_spawnp (&pid, program, nullptr, &attributes, argv, environ) == 0;
        posix_spawnattr_destroy (&attributes);

        if (started)
            std::thread ([pid] { waitpid (pid, nullptr, 0); }).detach();
       #else
        location.revealToUser();
       #endif
    }

}

//==============================================================================
void QuorvalisPluginAudioProcessorEditor::showPresetBrowser (int mode)
{
    const auto& transform = content.getTransform();
    const float scale = std::sqrt (std::abs (transform.getDeterminant()));

    const auto header = getLocalArea (rootContainer.getItem (0), rootContainer.getItem (0)->getLocalBounds());
    const auto helpArea = getLocalArea (help, help->getLocalBounds());
    const int headerBottom = header.getBottom();
    const int height = juce::jmax (0, juce::jmax (0, getHeight() - headerBottom)
                                          - juce::roundToInt ((float) (getHeight() - helpArea.getY()) + 8.0f * scale));

    if (mode == qvl::PresetBrowserComponent::deleteMode)
    {
        const auto current = processor.presets.getCurrentPresetFile().file;
        if (current.getFullPathName().isEmpty() || ! current.existsAsFile())
            return;
    }

    presetBrowser.setMode ({ 0, headerBottom, getWidth(), height }, mode, scale);
}

void QuorvalisPluginAudioProcessorEditor::setScale (float factor)
{
    // On the screen, not within the parent: a plug-in wrapper places the editor at (0, 0) of its
    // own window, wherever that window stands.
    const auto centre = getScreenBounds().getCentre();
    const auto* screen = juce::Desktop::getInstance().getDisplays().getDisplayForPoint (centre);

    if (screen == nullptr)
        return;

    const auto fit = computeContentScale (rootContainer.getWidth(), rootContainer.getHeight(), factor, screen->userArea,
                                          screen->dpi, hostNeedsDpiCorrection());
    content.setTransform (juce::AffineTransform::scale (fit.contentScale));
    resized();
}

//==============================================================================
void QuorvalisPluginAudioProcessorEditor::randomizeParameters()
{
    // One generator for the whole process, seeded at random when first used.
    static juce::Random random;

    for (auto* parameter : processor.getParameters())
    {
        // Locked and routing parameters stay as they are.
        if (processor.parameterLockFlags[parameter->getParameterIndex()] != 0)
            continue;

        parameter->setValueNotifyingHost (random.nextFloat());
    }
}

void QuorvalisPluginAudioProcessorEditor::resetAllParameters()
{
    processor.resetState();
    macroNameLabels.refresh();

    processor.presets.currentPresetFile = juce::File();
    processor.presets.updatePresetName (false);
    repaint();
}

void QuorvalisPluginAudioProcessorEditor::pasteStream (int destination, bool withModulation)
{
    if (copySourceStream < 0 || copySourceStream == destination)
        return;

    const auto& source = processor.streamParameters[(size_t) copySourceStream];
    const auto& target = processor.streamParameters[(size_t) destination];

    if (withModulation)
    {
        modulationState.copyStreamModulation (source, target);
        return;
    }

    const auto from = source.all();
    const auto to = target.all();

    for (size_t k = 0; k < from.size(); ++k)
        to[k]->setValueNotifyingHost (from[k]->getValue());
}

void QuorvalisPluginAudioProcessorEditor::revealCurrentPreset()
{
    const auto location = processor.presets.getCurrentPresetFile().file;

    // Only the preset folder can be created here; for an existing preset file this fails quietly.
    location.createDirectory();
    showInFileManager (location);
}

//==============================================================================
void QuorvalisPluginAudioProcessorEditor::attachButton (juce::RangedAudioParameter& parameter, juce::Button& button)
{
    buttonAttachments.add (new juce::ButtonParameterAttachment (parameter, button, processor.parameterState.undoManager));
    registerLockTarget (button, &parameter);
}

void QuorvalisPluginAudioProcessorEditor::attachTimebaseButton (qvl::Knob& knob, juce::AudioParameterInt& timebase,
                                                                juce::AudioParameterInt* sync)
{
    // The value text is rewritten in the new unit whenever the unit changes.
    addCallbackAttachment (timebase, [&knob] (float) { knob.knobSlider.valueChanged(); });

    auto& button = knob.extraButton;
    registerLockTarget (button, &timebase);
    help->setHelpText (&button, juce::String ("Select timebase") + (sync != nullptr ? " and sync mode" : ""));
    button.setButtonText ("T");
    button.setVisible (true);
    button.setTriggeredOnMouseDown (true);
    button.onClick = [this, &knob, &timebase, sync] { showTimebaseMenu (knob, timebase, sync); };
}

juce::PopupMenu QuorvalisPluginAudioProcessorEditor::createTimebaseMenu (juce::AudioParameterInt& timebase,
                                                                        juce::AudioParameterInt* sync) const
{
    const bool tempoKnown = processor.hostTempoValid.load() != 0;
    juce::PopupMenu menu;

    // Assigning notifies the host only when the value changes.
    const auto addChoices = [&menu, tempoKnown] (juce::AudioParameterInt& parameter, int first, int count,
                                                 int alwaysEnabled, const std::function<juce::String (int)>& text)
    {
        const int current = parameter.get();

        for (int value = first; value < first + count; ++value)
            menu.addItem (text (value), value < alwaysEnabled || tempoKnown, value == current,
                          [&parameter, value] { parameter = value; });
    };

    menu.addSectionHeader ("Timebase");
    addChoices (timebase, 0, Timebase::count, Timebase::firstMusical, [] (int value) { return timebaseName (value); });

    if (sync != nullptr)
    {
        menu.addSectionHeader ("Sync");
        addChoices (*sync, SyncMode::beat, 2, SyncMode::beat,
                    [] (int value) { return juce::String (value == SyncMode::beat ? "Beat" : "Free"); });
    }

    return menu;
}

void QuorvalisPluginAudioProcessorEditor::showTimebaseMenu (qvl::Knob& knob, juce::AudioParameterInt& timebase,
                                                            juce::AudioParameterInt* sync)
{
    // A right press belongs to the host's parameter menu.
    if (juce::ModifierKeys::currentModifiers.isRightButtonDown())
        return;

    createTimebaseMenu (timebase, sync).showMenuAsync (juce::PopupMenu::Options()
                                                           .withMousePosition()
                                                           .withParentComponent (this)
                                                           .withTargetComponent (&knob.extraButton)
                                                           .withPreferredPopupDirection (juce::PopupMenu::Options::PopupDirection::downwards));
}

void QuorvalisPluginAudioProcessorEditor::addCollapseButton (int section, Container& container, std::vector<juce::Component*> items)
{
    auto* button = addButtonWithHelp (makeTextButton ("-"), "Collapse / expand section.");
    button->setClickingTogglesState (true);

    // The same look in both states: only the text tells them apart.
    button->setColour (juce::TextButton::buttonOnColourId, findColour (juce::TextButton::buttonColourId));
    button->setColour (juce::TextButton::textColourOnId, findColour (juce::TextButton::textColourOffId));

    // Kept by the processor, so a reopened editor shows its sections as they were.
    button->getToggleStateValue().referTo (processor.sectionExpanded.getReference (section));
    container.addItem (button, 40, 0, qvl::next::ContainerComponent::rightTop);

    button->onClick = [this, button, items = std::move (items)]
    {
        const bool expanded = button->getToggleState();
        button->setButtonText (expanded ? "-" : "+");

        for (auto* item : items)
            item->setVisible (expanded);

        resized();
    };

    button->onClick();
}
