#include "editor/PluginEditor.h"
#include "tests/editor/EditorTestSupport.h"

#include <cmath>
#include <limits>
#include <thread>

using namespace qvl::test;

namespace
{
    using Editor = QuorvalisPluginAudioProcessorEditor;

    // Every text button with the text, in component-tree order.
    void collectButtons (juce::Component& root, const juce::String& text, juce::Array<juce::TextButton*>& found)
    {
        for (auto* child : root.getChildren())
        {
            if (auto* button = dynamic_cast<juce::TextButton*> (child); button != nullptr && button->getButtonText() == text)
                found.add (button);
            collectButtons (*child, text, found);
        }
    }

    bool isOn (QuorvalisPluginAudioProcessor& p, const juce::String& id) { return parameter (p, id).getValue() >= 0.5f; }

    struct EditorWindow : EditorFixture
    {
        EditorWindow() { open(); }
        ~EditorWindow() override { close(); }

        void open() { editor.reset (new Editor (processor)); }

        void close()
        {
            if (editor != nullptr)
                processor.editorBeingDeleted (editor.get());
            editor.reset();
        }

        juce::TextButton& button (const juce::String& text, int nth = 0)
        {
            juce::Array<juce::TextButton*> found;
            collectButtons (*editor, text, found);
            if (nth >= found.size())
                throw std::runtime_error (("no button " + text).toStdString());
            return *found[nth];
        }

        qvl::Knob& knob (const juce::String& id) { return *editor->knobsByParameter[param (id).getParameterIndex()]; }
        juce::Rectangle<int> bounds (juce::Component& c) { return editor->getLocalArea (&c, c.getLocalBounds()); }

        void click (juce::Component& c, juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier, bool dragged = false)
        {
            editor->mouseUp (mouseEvent (c, { 2.0f, 2.0f }, mods, 1, dragged));
        }

        // Runs the message loop until both refresh timers, the editor's and the routing view's, have
        // fired: each overwrites a value set aside here.
        bool refreshTimersFired (qvl::Knob& shown)
        {
            processor.displayRequest = 0;
            shown.knobSlider.pendingModulationDepth = std::numeric_limits<float>::quiet_NaN();
            return pumpMessagesUntil ([&] { return processor.displayRequest.load() == 1 && ! std::isnan (shown.knobSlider.pendingModulationDepth); });
        }

        // As the component stores it: in 255ths.
        float alpha (const juce::String& id) { return std::round (knob (id).getAlpha() * 100.0f) / 100.0f; }

        std::unique_ptr<Editor> editor;
    };
}

TEST_F (EditorWindow, LayoutTextsAndHelp)
{
    // The widest rows, header and global row, are 1176 wide plus the margins.
    EXPECT_EQ (editor->rootContainer.getWidth(), 1208);
    EXPECT_EQ (editor->rootContainer.getHeight(), 924);
    EXPECT_EQ (editor->help->getLabel().getText(), "Quorvalis v1.0.2");

    // Packed from the right in order of addition.
    const char* const right[] = { "Reveal", "Reset", "Random", "Lock" };
    for (int i = 0; i < 3; ++i)
        EXPECT_LT (bounds (button (right[i])).getX(), bounds (button (right[i + 1])).getX());
    EXPECT_EQ (bounds (button ("Lock")).getRight(), 1208 - 16);

    EXPECT_EQ (knob ("gain_db_dry").nameLabel.getText(), " Dry");
    EXPECT_EQ (knob ("stream_3_reverse_probability").nameLabel.getText(), "Reverse");
    EXPECT_EQ (knob ("modulator_macro_2").nameLabel.getText(), "Macro 2");
    EXPECT_EQ (editor->help->getHelpText (&button ("Macro 2")),
               "Arm Macro 2. Drag the small knobs to assign or change the modulation amount or double click to remove modulation.");

    struct Edges { const char* text; int edges; };
    for (const auto& e : { Edges { "50", juce::Button::ConnectedOnRight }, Edges { "135", juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight },
                           Edges { "200", juce::Button::ConnectedOnLeft } })
        EXPECT_EQ (button (e.text).getConnectedEdgeFlags(), e.edges) << e.text;

    EXPECT_EQ (bounds (*editor->display), juce::Rectangle<int> (352, 52, 840, 148));
    // The ADSR toggle stands centred over the four envelope knobs.
    EXPECT_EQ (bounds (button ("ADSR")).getCentreX(),
               (bounds (knob ("stream_1_adsr_attack")).getX() + bounds (knob ("stream_1_adsr_release")).getRight()) / 2);
}

TEST_F (EditorWindow, DimmingFollowsTheSwitches)
{
    close();
    setRealValue (processor, "freeze", 1.0f);
    setRealValue (processor, "stream_2_adsr_enabled", 1.0f);
    open();

    // At once, from the initial updates.
    EXPECT_EQ (alpha ("gain_db_buffer_input"), 0.35f);
    EXPECT_EQ (alpha ("buffer_feedback"), 0.35f);
    EXPECT_EQ (alpha ("stream_2_position"), 0.35f);
    EXPECT_NEAR (button ("ADSR", 1).getAlpha(), 0.35f, 0.005f);
    EXPECT_EQ (alpha ("stream_2_adsr_attack"), 0.35f);
    for (auto* undimmed : { &button ("Stream 2"), &button ("Copy", 1), &button ("Paste", 1), &button ("Paste Mod.", 1) })
        EXPECT_EQ (undimmed->getAlpha(), 1.0f);

    struct Step { const char* id; float value; float position, attack; };
    const Step steps[] = {
        { "stream_2_is_enabled", 1.0f, 1.0f, 1.0f },
        { "stream_2_adsr_enabled", 0.0f, 1.0f, 0.35f },
        { "stream_2_is_enabled", 0.0f, 0.35f, 0.35f },
        { "freeze", 0.0f, 0.35f, 0.35f },
    };

    for (const auto& s : steps)
    {
        setRealValue (processor, s.id, s.value);
        pumpMessages();
        EXPECT_EQ (alpha ("stream_2_position"), s.position) << s.id << " " << s.value;
        EXPECT_EQ (alpha ("stream_2_adsr_attack"), s.attack) << s.id << " " << s.value;
    }

    EXPECT_EQ (alpha ("buffer_feedback"), 1.0f);
}

TEST_F (EditorWindow, LockModeTogglesFlagsAndClicksOnEmptyPlacesEndIt)
{
    auto& lock = button ("Lock");
    lock.triggerClick();
    pumpMessagesUntil ([&] { return lock.getToggleState(); });
    EXPECT_FALSE (editor->rootContainer.getItem (1)->isEnabled());   // the global row
    EXPECT_TRUE (editor->rootContainer.getItem (0)->isEnabled());    // the header

    auto& slider = knob ("buffer_feedback").knobSlider;
    const int feedback = param ("buffer_feedback").getParameterIndex();
    const int target = param ("modulation_1_target").getParameterIndex();
    processor.parameterLockFlags.set (target, 1);

    click (slider);
    EXPECT_EQ (processor.parameterLockFlags[feedback], 3);
    click (slider, juce::ModifierKeys::leftButtonModifier, true);     // a drag toggles nothing
    click (slider, juce::ModifierKeys::rightButtonModifier);          // nor does a right click
    EXPECT_EQ (processor.parameterLockFlags[feedback], 3);
    click (slider);
    EXPECT_EQ (processor.parameterLockFlags[feedback], 0);

    // A key of a keyboard locks the keyboard's parameter.
    auto* keyboard = dynamic_cast<NoteQuantizeComponent*> (editor->rootContainer.getItem (3)->getChildComponent (5));
    ASSERT_NE (keyboard, nullptr);
    click (*keyboard->keys[3]);
    EXPECT_EQ (processor.parameterLockFlags[param ("stream_1_grain_pitch_quantize").getParameterIndex()], 3);

    // The empty area ends lock mode and enables every section again.
    click (editor->content);
    EXPECT_FALSE (lock.getToggleState());
    EXPECT_TRUE (editor->rootContainer.getItem (1)->isEnabled());
}

TEST_F (EditorWindow, TimerCarriesModulatedValuesAndAsksForASnapshot)
{
    auto& knobSlider = knob ("stream_1_grain_pan").knobSlider;
    EXPECT_EQ (knobSlider.modulatedValue, -1.0f);

    processor.readSnapshot->modulatedValues[(size_t) param ("stream_1_grain_pan").getParameterIndex()] = 0.8f;
    knobSlider.pendingModulationDepth = 0.3f;
    processor.displayRequest = 0;
    editor->timerCallback();

    EXPECT_EQ (knobSlider.modulatedValue, 0.8f);
    EXPECT_EQ (knobSlider.modulationDepth, 0.3f);
    EXPECT_EQ (processor.displayRequest.load(), 1);
}

TEST_F (EditorWindow, RandomSkipsLockedAndRoutingParametersAndResetRestoresDefaults)
{
    lockParameter (processor, "buffer_feedback");
    setRealValue (processor, "buffer_feedback", 0.8f);
    setRealValue (processor, "modulation_3_target", 12.0f);
    setRealValue (processor, "modulator_3_modulator_index", 5.0f);

    for (int round = 0; round < 3; ++round)
        button ("Random").triggerClick();
    pumpMessages();

    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.8f);
    EXPECT_EQ (realValue (processor, "modulation_3_target"), 12.0f);
    EXPECT_EQ (realValue (processor, "modulator_3_modulator_index"), 5.0f);
    // 320 parameters are free to change; each of the 139 switches lands on off or on, so about half
    // of them keep their default: some 245 change, give or take a few.
    int changed = 0;
    for (auto* p : processor.getParameters())
        changed += p->getValue() != p->getDefaultValue() ? 1 : 0;
    EXPECT_GT (changed, 200);

    processor.programProperties.setMacroName (1, "Wobble");
    processor.parameterState.state.getChildWithName ("PROGRAM_PROPERTIES").setProperty ("other", 7, nullptr);
    processor.presets.presetName = "Something";
    button ("Reset").triggerClick();
    pumpMessages();

    for (auto* p : processor.getParameters())
        EXPECT_EQ (p->getValue(), p->getDefaultValue()) << p->getName (64);
    EXPECT_EQ (processor.parameterLockFlags[param ("buffer_feedback").getParameterIndex()], 0);
    EXPECT_EQ (processor.parameterLockFlags[param ("modulation_3_target").getParameterIndex()], 1);
    EXPECT_EQ (knob ("modulator_macro_2").nameLabel.getText(), "Macro 2");
    EXPECT_EQ ((int) processor.parameterState.state.getChildWithName ("PROGRAM_PROPERTIES")["other"], 7);
    EXPECT_EQ (processor.presets.presetName.toString(), " ");
}

TEST_F (EditorWindow, StreamCopyPasteAndRequests)
{
    setRealValue (processor, "stream_1_grain_pan", 0.1f);
    button ("Paste", 2).triggerClick();          // nothing copied yet
    button ("Copy", 0).triggerClick();
    button ("Paste", 0).triggerClick();          // onto itself
    pumpMessages();
    EXPECT_FLOAT_EQ (realValue (processor, "stream_3_grain_pan"), 0.5f);
    EXPECT_FLOAT_EQ (realValue (processor, "stream_1_grain_pan"), 0.1f);

    setRealValue (processor, "stream_1_rate", 0.9f);   // after "Copy": the values at "Paste" count
    button ("Paste", 2).triggerClick();
    pumpMessages();
    EXPECT_EQ (param ("stream_3_rate").getValue(), param ("stream_1_rate").getValue());
    EXPECT_TRUE (isOn (processor, "stream_3_is_enabled"));

    knob ("stream_2_position").extraButton.triggerClick();
    button ("Clear").triggerClick();
    button ("R", 1).triggerClick();
    button ("0", 5).triggerClick();   // four position resets come first, then Random 1's and Random 2's "0"
    pumpMessages();
    EXPECT_EQ (processor.streamResetRequests[1].load(), 1);
    EXPECT_EQ (processor.clearBufferRequest.load(), 1);
    EXPECT_EQ (processor.randomParameters[1].triggerRequest->load(), 1);
    EXPECT_EQ (processor.randomParameters[1].clearRequest->load(), 1);
}

TEST_F (EditorWindow, TimebaseMenuAndCollapsedSectionsSurviveReopening)
{
    auto& rate = *processor.streamParameters[0].rateTimebase;
    processor.hostTempoValid = 0;
    const auto menu = editor->createTimebaseMenu (rate, processor.streamParameters[0].rateSync);

    juce::StringArray enabled, disabled, ticked;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.isSectionHeader)
            continue;
        (item.isEnabled ? enabled : disabled).add (item.text);
        if (item.isTicked)
            ticked.add (item.text);
    }

    EXPECT_EQ (enabled, juce::StringArray ({ "ms", "s", "Hz" }));
    EXPECT_EQ (disabled.size(), 18);   // 16 musical units, "Beat" and "Free"
    EXPECT_EQ (ticked, juce::StringArray ({ "Hz", "Free" }));

    auto& collapse = button ("-", 1);
    collapse.triggerClick();
    pumpMessagesUntil ([&] { return collapse.getButtonText() == "+"; });
    EXPECT_LT (editor->getHeight(), 924);

    close();
    open();
    EXPECT_EQ (button ("+").getButtonText(), "+");
    EXPECT_FALSE (knob ("stream_2_rate").getParentComponent()->isVisible());
    EXPECT_EQ (editor->rootContainer.getHeight(), 924 - 84);   // the knob row and its spacing
}

TEST_F (EditorWindow, PresetBrowserAndStateRestores)
{
    editor->showPresetBrowser (qvl::PresetBrowserComponent::deleteMode);
    EXPECT_FALSE (editor->presetBrowser.isVisible());    // no current preset
    editor->showPresetBrowser (qvl::PresetBrowserComponent::saveMode);
    EXPECT_TRUE (editor->presetBrowser.isVisible());
    EXPECT_EQ (editor->presetBrowser.getY(), 16 + 32);
    EXPECT_EQ (editor->presetBrowser.getBottom(), bounds (*editor->help).getY() - 8);

    // A restored host state disarms the modulators.
    button ("LFO 2").triggerClick();
    pumpMessagesUntil ([&] { return button ("LFO 2").getToggleState(); });
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    processor.setStateInformation (state.getData(), (int) state.getSize());
    pumpMessagesUntil ([&] { return ! button ("LFO 2").getToggleState(); });
    EXPECT_FALSE (button ("LFO 2").getToggleState());
}

// "Reveal" starts the file manager on the preset's folder without a shell: a shared folder named
// like a command substitution must reach the launcher as it is, never run.
TEST_F (EditorWindow, RevealPassesThePathWithoutAShell)
{
    const auto home = testHomeFolder();
    const auto bin = home.getChildFile ("bin");
    const auto record = home.getChildFile ("opened.txt");
    const auto planted = home.getChildFile ("planted");
    bin.createDirectory();
    bin.getChildFile ("xdg-open").replaceWithText ("#!/bin/sh\nprintf '%s' \"$1\" > '" + record.getFullPathName() + "'\n", false, false, nullptr);
    bin.getChildFile ("xdg-open").setExecutePermission (true);

    const auto folder = processor.presets.getOptions().folder.getChildFile ("$(touch " + planted.getFullPathName() + ")");
    const auto preset = folder.getChildFile ("Shared.quorvalis");
    folder.createDirectory();
    preset.replaceWithText ("<PARAMETERS/>");
    processor.presets.currentPresetFile = preset;

    const auto path = juce::SystemStats::getEnvironmentVariable ("PATH", {});
    setenv ("PATH", bin.getFullPathName().toRawUTF8(), 1);
    button ("Reveal").triggerClick();
    pumpMessagesUntil ([&] { return record.existsAsFile() && record.getSize() > 0; });
    setenv ("PATH", path.toRawUTF8(), 1);

    EXPECT_EQ (record.loadFileAsString(), folder.getFullPathName());
    EXPECT_FALSE (planted.exists());
    folder.deleteRecursively();
}

// A host thread's restore reaches the macro name labels through the message thread only; a name
// typed into a label reaches the state at once, a blank one as the default.
TEST_F (EditorWindow, MacroNamesReachTheLabelsOnTheMessageThreadAndTypedNamesTheState)
{
    auto& label = knob ("modulator_macro_2").nameLabel;
    const auto stored = [this] { return processor.programProperties.getMacroNames()[1]; };
    const auto type = [&label] (const juce::String& text)
    {
        label.showEditor();
        label.getCurrentTextEditor()->setText (text, false);
        label.hideEditor (false);
    };

    type ("Wobble");
    EXPECT_EQ (stored(), "Wobble");
    type ("  ");
    EXPECT_EQ (stored(), "Macro 2");
    EXPECT_TRUE (pumpMessagesUntil ([&] { return label.getText() == "Macro 2"; })) << label.getText();

    type ("Saved");
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    type ("Other");

    std::thread ([&] { processor.setStateInformation (state.getData(), (int) state.getSize()); }).join();
    EXPECT_EQ (stored(), "Saved");
    EXPECT_EQ (label.getText(), "Other");   // not yet: the label belongs to the message thread
    EXPECT_TRUE (pumpMessagesUntil ([&] { return label.getText() == "Saved"; })) << label.getText();
}

// A host recording gestures sees every begin matched by an end when the window closes mid-drag.
TEST_F (EditorWindow, ClosingMidDragEndsTheOpenGesture)
{
    struct Row { const char* what; const char* watched; std::function<juce::Slider&()> start; };
    const Row rows[] = {
        { "knob", "stream_1_grain_pan", [this]() -> juce::Slider& { return knob ("stream_1_grain_pan").knobSlider; } },
        { "new routing", "modulation_1_amount", [this]() -> juce::Slider&
          {
              button ("LFO 1").setToggleState (true, juce::sendNotification);
              return knob ("stream_1_grain_pan").modulationAmountSlider;
          } },
    };

    for (const auto& row : rows)
    {
        close();
        open();
        HostRecorder host (processor);
        host.watched = param (row.watched).getParameterIndex();

        auto& slider = row.start();
        slider.mouseDown (mouseEvent (slider, { 5.0f, 5.0f }));
        slider.mouseDrag (mouseEvent (slider, { 5.0f, 0.0f }, juce::ModifierKeys::leftButtonModifier, 1, true));
        ASSERT_TRUE (refreshTimersFired (knob ("stream_1_grain_pan"))) << row.what;
        EXPECT_EQ (std::pair (host.begins.load(), host.ends.load()), std::pair (1, 0)) << row.what;

        close();
        EXPECT_EQ (std::pair (host.begins.load(), host.ends.load()), std::pair (1, 1)) << row.what;
    }
}

// In a plug-in window the editor stands at (0, 0) of its parent; the display is the one that holds
// it on the screen.
TEST_F (EditorWindow, ScaleFollowsTheDisplayUnderTheEditorOnTheScreen)
{
    auto& displays = const_cast<juce::Displays&> (juce::Desktop::getInstance().getDisplays());
    const auto saved = displays.displays;

    juce::Displays::Display primary, second;
    primary.totalArea = primary.userArea = { 0, 0, 1920, 1080 };
    second.totalArea = second.userArea = { 1920, 0, 1280, 800 };
    primary.isMain = true;
    primary.dpi = second.dpi = 96.0;
    primary.scale = second.scale = 1.0;
    displays.displays = { primary, second };

    juce::Component wrapper;
    wrapper.setBounds (2000, 50, 1200, 700);
    wrapper.addAndMakeVisible (*editor);
    editor->setTopLeftPosition (0, 0);
    editor->setScale (1.0f);
    const float onScreen = editor->content.getTransform().mat00;

    displays.displays = saved;
    wrapper.removeChildComponent (editor.get());

    const auto expected = computeContentScale (editor->rootContainer.getWidth(), editor->rootContainer.getHeight(), 1.0f,
                                               second.userArea, 96.0, false);
    EXPECT_FLOAT_EQ (onScreen, expected.contentScale);
    EXPECT_LT (onScreen, 1.0f);   // the primary display would have room for the natural size
}
