// The plug-in's editor in a real window of qvl_host, used with the mouse and the keyboard; what
// it did is read back from the host's saved state, its settings file, its preset folder and the
// audio.
#include "tests/gui/EditorLayout.h"
#include "tests/gui/HostEditorWindow.h"
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qvl::guitest;
using namespace qvl::hosttest;

namespace
{
    double rmsOfDifference (const WavFile& a, const WavFile& b, size_t from = 0)
    {
        const auto end = std::min (a.samples.size(), b.samples.size());
        double sum = 0.0;

        for (size_t i = from; i < end; ++i)
            sum += (double) (a.samples[i] - b.samples[i]) * (a.samples[i] - b.samples[i]);

        return end > from ? std::sqrt (sum / (double) (end - from)) : 0.0;
    }

    double rms (const WavFile& wav)
    {
        double sum = 0.0;
        for (const float sample : wav.samples)
            sum += (double) sample * sample;
        return wav.samples.empty() ? 0.0 : std::sqrt (sum / (double) wav.samples.size());
    }

    // Pixels that differ between two equally sized areas of one photograph taken at scale 1.
    int differenceBetween (const juce::Image& image, juce::Rectangle<int> a, juce::Rectangle<int> b)
    {
        return countChangedPixels (image.getClippedImage (a), image.getClippedImage (b), a.withZeroOrigin(), a.getWidth());
    }

    // The slot that routes a modulator to a parameter index, or 0 when none does.
    int slotRouting (const std::map<std::string, double>& values, int target, int modulator)
    {
        for (int slot = 1; slot <= 64; ++slot)
        {
            const auto n = std::to_string (slot);
            if (values.at ("modulation_" + n + "_target") == target && values.at ("modulator_" + n + "_modulator_index") == modulator)
                return slot;
        }
        return 0;
    }
}

class EditorWindow : public RealWindowTest
{
protected:
    // With the pointer resting aside before and after, so that hovering alone shows nothing.
    void clickAndSee (HostEditorWindow& window, juce::Point<int> at, juce::Rectangle<int> watched, const char* what)
    {
        window.moveTo (layout->restingPlace());
        const auto before = window.settled (watched);
        window.click (at);
        window.moveTo (layout->restingPlace());
        EXPECT_TRUE (window.waitForChange (watched, before)) << what << " showed no effect";
    }

    std::map<std::string, double> savedValues (const std::string& name)
    {
        const auto dumped = runHost ({ "dump-state", path (name + ".state") });
        EXPECT_EQ (dumped.exitCode, 0) << dumped.err;
        return parseStateValues (dumped.out);
    }

    // An offline render of the same 220 Hz sine.
    WavFile render (const std::string& name, std::vector<std::string> options)
    {
        std::vector<std::string> arguments { "render", bundlePath(), "--signal", "sine", "--freq", "220", "--out", path (name + ".wav") };
        arguments.insert (arguments.end(), options.begin(), options.end());
        const auto rendered = runHost (arguments);
        EXPECT_EQ (rendered.exitCode, 0) << rendered.err;
        return readWav (path (name + ".wav"));
    }

    int index (const juce::String& id) const { return layout->parameter (id).getParameterIndex(); }
};

TEST_F (EditorWindow, ClickingStream2SwitchesItOnInTheStateAndInTheSound)
{
    auto window = open ("live");
    ASSERT_TRUE (window);

    const auto toggle = area (layout->button ("Stream 2"));
    clickAndSee (*window, toggle.getCentre(), toggle, "Stream 2");
    window->capture ("stream-2-on");

    // The host plays 1.5 s more with the stream on before the window closes, however slow the
    // machine: counted in samples, not waited for by the clock.
    const auto clicked = window->played();
    ASSERT_GE (clicked, 0) << "the host did not say how far it had played";
    EXPECT_TRUE (eventually ([&] { return window->played() >= clicked + 72000; })) << "the host stopped playing";
    closeWindow (*window);

    EXPECT_EQ (savedValues ("live")["stream_2_is_enabled"], 1.0);

    // Until the click the live output is the plug-in's output with stream 2 off, sample for
    // sample; from there on stream 2's grains join it.
    const auto live = readWav (path ("live.wav"));
    ASSERT_GT (live.frames, 0);
    const auto off = render ("off", { "--seconds", std::to_string ((double) live.frames / 48000.0 + 0.1) });
    ASSERT_GE (off.samples.size(), live.samples.size());

    size_t split = 0;
    while (split < live.samples.size() && std::abs (live.samples[split] - off.samples[split]) < 1.0e-4f)
        ++split;

    ASSERT_LT (split, live.samples.size()) << "the live output never left the stream-2-off sound";
    EXPECT_GT (split, 0u) << "the sound differed before the click";
    EXPECT_GT (live.samples.size() - split, (size_t) (0.25 * 48000 * 2)) << "stream 2 joined only at the very end";
    EXPECT_GT (rmsOfDifference (live, off, split), 0.05);

    // The saved state sounds louder than the same state with stream 2 off.
    const auto withStream = render ("saved-on", { "--load-state", path ("live.state"), "--seconds", "3" });
    const auto without = render ("saved-off", { "--load-state", path ("live.state"), "--set", "stream_2_is_enabled=0", "--seconds", "3" });
    EXPECT_GT (rms (withStream), 1.05 * rms (without));
}

TEST_F (EditorWindow, LockModeClickLocksFeedbackAndLeavesItsValue)
{
    auto window = open ("locked");
    ASSERT_TRUE (window);

    const auto lock = area (layout->button ("Lock"));
    clickAndSee (*window, lock.getCentre(), lock, "Lock");

    const auto& feedback = layout->knob ("buffer_feedback");
    clickAndSee (*window, area (feedback.knobSlider).getCentre(), area (feedback), "a click on Feedback in lock mode");
    window->capture ("feedback-locked");
    closeWindow (*window);

    const auto tree = savedTree ("locked");
    ASSERT_TRUE (tree);
    const auto* lockTree = tree->getChildByName ("PARAMETER_LOCK");
    ASSERT_NE (lockTree, nullptr);

    juce::StringArray flags;
    flags.addTokens (lockTree->getStringAttribute ("parameter_lock_flags"), " ", {});
    const auto& fresh = layout->processor.parameterLockFlags;
    ASSERT_EQ (flags.size(), fresh.size());

    // Feedback alone changed: locked (both bits); the routing parameters keep their bit.
    for (int i = 0; i < flags.size(); ++i)
        EXPECT_EQ (flags[i].getIntValue(), i == index ("buffer_feedback") ? 3 : fresh[i]) << "parameter " << i;

    const auto& parameter = layout->parameter ("buffer_feedback");
    EXPECT_NEAR (savedValues ("locked")["buffer_feedback"], parameter.convertFrom0to1 (parameter.getDefaultValue()), 1.0e-6);
}

TEST_F (EditorWindow, TypingIntoFeedbacksValueLabelSetsIt)
{
    auto window = open ("typed");
    ASSERT_TRUE (window);

    const auto& feedback = layout->knob ("buffer_feedback");
    const auto label = area (feedback.nameLabel).getCentre();
    const auto dial = area (feedback.knobSlider);

    window->moveTo (layout->restingPlace());
    const auto before = window->settled (dial);

    // Over the labels the knob shows its value label, which edits on a single click.
    window->moveTo (label);
    window->click (label);
    window->type ("0.25");
    window->capture ("feedback-typing");
    window->key ("Return");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (dial, before)) << "the knob did not move";
    window->capture ("feedback-typed");
    closeWindow (*window);

    EXPECT_NEAR (savedValues ("typed")["buffer_feedback"], 0.25, 1.0e-6);
}

TEST_F (EditorWindow, DraggingAnAmountSliderRoutesLfo1AndADoubleClickRemovesIt)
{
    const auto& position = layout->knob ("stream_1_position");
    const auto amount = area (position.modulationAmountSlider).getCentre();
    const auto arm = area (layout->button ("LFO 1"));

    {
        auto window = open ("routed");
        ASSERT_TRUE (window);
        clickAndSee (*window, arm.getCentre(), arm, "LFO 1");

        window->moveTo (layout->restingPlace());
        const auto before = window->settled (area (position));
        window->drag (amount, amount - juce::Point<int> (0, 40));
        window->moveTo (layout->restingPlace());
        EXPECT_TRUE (window->waitForChange (area (position), before)) << "the drag showed no effect";
        window->capture ("position-modulated");
        closeWindow (*window);
    }

    const auto values = savedValues ("routed");
    const int slot = slotRouting (values, index ("stream_1_position"), 0);
    ASSERT_GT (slot, 0) << "no slot routes LFO 1 to Stream 1 Position";
    const auto amountId = "modulation_" + std::to_string (slot) + "_amount";
    EXPECT_GT (values.at (amountId), 0.0);

    // The moving position is heard: the state as saved differs from it without the amount.
    const auto modulated = render ("modulated", { "--load-state", path ("routed.state"), "--seconds", "3" });
    const auto still = render ("still", { "--load-state", path ("routed.state"), "--set", amountId + "=0", "--seconds", "3" });
    EXPECT_GT (rmsOfDifference (modulated, still), 0.01);

    {
        auto window = open ("unrouted", { "--load-state", path ("routed.state") });
        ASSERT_TRUE (window);
        clickAndSee (*window, arm.getCentre(), arm, "LFO 1");

        // The knob itself moves with the LFO; its routing's "B" button shows only while routed.
        window->moveTo (layout->restingPlace());
        const auto before = window->settled (area (position.bypassButton));
        window->doubleClick (amount);
        window->moveTo (layout->restingPlace());
        EXPECT_TRUE (window->waitForChange (area (position.bypassButton), before)) << "the double click showed no effect";
        window->capture ("position-unmodulated");
        closeWindow (*window);
    }

    EXPECT_EQ (savedValues ("unrouted").at ("modulation_" + std::to_string (slot) + "_target"), -1.0);
}

// The pointer wanders over the label being edited: the text editor stays.
TEST_F (EditorWindow, Macro2RenamedWithItsEButtonKeepsTheNameInTheHostState)
{
    auto window = open ("renamed");
    ASSERT_TRUE (window);

    const auto& macro = layout->knob ("modulator_macro_2");
    window->moveTo (layout->restingPlace());
    const auto before = window->settled (area (macro.nameLabel));

    window->click (area (macro.extraButton).getCentre());
    window->moveTo (area (macro.nameLabel).getCentre());
    window->key ("ctrl+a");
    window->type ("Wobble Depth");
    window->capture ("macro-2-editing");
    window->key ("Return");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (area (macro.nameLabel), before)) << "the name did not change";
    window->capture ("macro-2-renamed");
    closeWindow (*window);

    // A fresh instance loads the state and saves it again.
    const auto reloaded = runHost ({ "load-state", bundlePath(), path ("renamed.state"), "--save-state", path ("reloaded.state") });
    ASSERT_EQ (reloaded.exitCode, 0) << reloaded.err;

    const auto tree = savedTree ("reloaded");
    ASSERT_TRUE (tree);
    const auto* names = tree->getChildByName ("PROGRAM_PROPERTIES");
    ASSERT_NE (names, nullptr);
    EXPECT_EQ (names->getStringAttribute ("macro_2"), "Wobble Depth");
    EXPECT_EQ (names->getStringAttribute ("macro_1"), "Macro 1");
}

TEST_F (EditorWindow, SavedPresetLandsInTheUserFolderAndTheBrowserLoadsIt)
{
    auto window = open ("presets");
    ASSERT_TRUE (window);

    const auto presetName = area (layout->presetName());
    window->moveTo (layout->restingPlace());
    const auto before = window->settled (presetName);

    window->click (area (layout->button ("Save...")).getCentre());
    window->type ("Gui Preset");
    window->capture ("save-dialog");
    window->key ("Return");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (presetName, before)) << "the header does not show the saved preset";

    const juce::File preset (home + "/Documents/Quorvalis/Presets/User/Gui Preset.quorvalis");
    EXPECT_TRUE (preset.existsAsFile()) << preset.getFullPathName();

    // Away from the preset, then back to it through the browser's list.
    const auto toggle = area (layout->button ("Stream 2"));
    clickAndSee (*window, toggle.getCentre(), toggle, "Stream 2");
    const auto streamOn = window->settled (toggle);

    const auto row = layout->firstPresetRow();
    window->moveTo (layout->restingPlace());
    const auto closed = window->settled (row);
    window->click (presetName.getCentre());
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (row, closed)) << "the preset list did not open";
    window->capture ("preset-list");

    window->click (row.getCentre());
    window->key ("Escape");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (toggle, streamOn)) << "the preset did not load";
    window->capture ("preset-loaded");
    closeWindow (*window);

    EXPECT_EQ (savedValues ("presets")["stream_2_is_enabled"], 0.0);
}

TEST_F (EditorWindow, ScaleButton50HalvesTheWindowAndIsRemembered)
{
    const juce::Point<int> full (layout->width(), layout->height());

    {
        auto window = open ("scaled");
        ASSERT_TRUE (window);
        EXPECT_EQ (window->windowArea().getWidth(), full.x);

        window->click (area (layout->button ("50")).getCentre());

        eventually ([&] { return window->windowArea().getWidth() <= full.x * 3 / 4; });

        EXPECT_NEAR (window->windowArea().getWidth(), full.x / 2.0, 1.0);
        EXPECT_NEAR (window->windowArea().getHeight(), full.y / 2.0, 1.0);
        window->capture ("scale-50");
        closeWindow (*window);
    }

    auto settings = juce::parseXML (juce::File (home + "/.config/quorvalis/Quorvalis.config"));
    ASSERT_TRUE (settings) << "no settings file";
    const auto* value = settings->getChildByAttribute ("name", "editor_scale_percent");
    ASSERT_NE (value, nullptr);
    EXPECT_EQ (value->getIntAttribute ("val"), 50);

    auto window = open ("reopened");
    ASSERT_TRUE (window);
    EXPECT_NEAR (window->windowArea().getWidth(), full.x / 2.0, 1.0);
    EXPECT_NEAR (window->windowArea().getHeight(), full.y / 2.0, 1.0);
    window->capture ("scale-50-reopened");
    closeWindow (*window);
}

TEST_F (EditorWindow, TimebaseMenuOfStream1RateChoosesSeconds)
{
    auto window = open ("timebase");
    ASSERT_TRUE (window);

    const auto& rate = layout->knob ("stream_1_rate");
    const auto label = area (rate.nameLabel);
    const auto button = area (rate.extraButton);
    const juce::Rectangle<int> below (button.getX(), button.getBottom() + 2, 120, 240);

    // Over its labels the knob shows its value, in the unit of its timebase.
    window->moveTo (layout->restingPlace());
    const auto name = window->settled (label);
    window->moveTo (label.getCentre());
    ASSERT_TRUE (window->waitForChange (label, name)) << "the value label did not show";
    const auto inHertz = window->settled (label);

    window->moveTo (layout->restingPlace());
    const auto closed = window->settled (below);
    window->click (button.getCentre());
    EXPECT_TRUE (window->waitForChange (below, closed)) << "the timebase menu did not open";
    window->capture ("timebase-menu");

    // The first item is "ms", the second "s".
    window->key ("Down Down Return");
    window->moveTo (label.getCentre());
    EXPECT_TRUE (window->waitForChange (label, inHertz)) << "the value is not shown in the new unit";
    window->capture ("rate-in-seconds");
    closeWindow (*window);

    EXPECT_EQ (savedValues ("timebase")["stream_1_rate_timebase"], 1.0);
}

TEST_F (EditorWindow, FreezeClickTurnsItOnAndDimsInputAndFeedback)
{
    auto window = open ("frozen");
    ASSERT_TRUE (window);

    clickAndSee (*window, area (layout->button ("Freeze")).getCentre(), area (layout->knob ("buffer_feedback")), "Freeze");
    window->capture ("frozen");
    closeWindow (*window);

    EXPECT_EQ (savedValues ("frozen")["freeze"], 1.0);
}

TEST_F (EditorWindow, CollapsingStream2ShrinksTheWindowAndItsButtonReadsPlus)
{
    auto window = open ("collapsed");
    ASSERT_TRUE (window);

    const auto button = area (layout->collapseButton ("Stream 2"));
    const auto stillExpanded = area (layout->collapseButton ("Stream 1"));
    const int height = window->windowArea().getHeight();
    ASSERT_EQ (height, layout->height());

    window->moveTo (layout->restingPlace());
    const auto before = window->settled (button);
    EXPECT_LE (differenceBetween (before, button, stillExpanded), 2) << "two expanded sections' buttons differ";

    // The knob row goes: 72 high, with its margin of 8 and the column's spacing of 4.
    window->click (button.getCentre());
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (eventually ([&] { return window->windowArea().getHeight() != height; })) << "the window kept its size";
    EXPECT_EQ (height - window->windowArea().getHeight(), 84);

    const auto after = window->settled (button);
    window->capture ("stream-2-collapsed");
    EXPECT_GE (differenceBetween (after, button, stillExpanded), 6) << "the button still reads \"-\"";

    window->click (button.getCentre());
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (eventually ([&] { return window->windowArea().getHeight() == height; })) << "expanding did not restore the size";
    closeWindow (*window);
}

TEST_F (EditorWindow, PresetSavedUnderAFilteredNameIsOverwrittenLoadedAndDeleted)
{
    const auto header = area (layout->presetName());
    const auto save = area (layout->button ("Save...")).getCentre();
    const auto toggle = area (layout->button ("Stream 2"));
    const auto row = layout->firstPresetRow();
    const auto saveButton = layout->browserArea (qvl::PresetBrowserComponent::saveMode, "Save");
    const auto deleteButton = layout->browserArea (qvl::PresetBrowserComponent::deleteMode, "Delete");
    // The message line and the buttons of the save dialog; the name field above has a blinking caret.
    const auto confirmation = saveButton.withRight (layout->browserArea (qvl::PresetBrowserComponent::saveMode).getRight())
                                        .withTop (saveButton.getY() - 32);
    const juce::File preset (home + "/Documents/Quorvalis/Presets/User/PadOneTwo.quorvalis");

    auto window = open ("preset-steps");
    ASSERT_TRUE (window);

    // "/" and ":" never reach the name.
    window->moveTo (layout->restingPlace());
    const auto unnamed = window->settled (header);
    window->click (save);
    window->type ("Pad/One:Two");
    window->key ("Return");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (header, unnamed)) << "the header does not show the saved preset";
    juce::StringArray saved;
    for (const auto& file : preset.getParentDirectory().getParentDirectory().findChildFiles (juce::File::findFiles, true))
        saved.add (file.getFullPathName());
    ASSERT_TRUE (preset.existsAsFile()) << "saved: " << saved.joinIntoString (", ");
    EXPECT_EQ (presetValue (preset, "stream_2_is_enabled"), 0.0);

    // Saving the same name again with stream 2 on: the first Return asks, the second overwrites.
    clickAndSee (*window, toggle.getCentre(), toggle, "Stream 2");
    window->click (save);
    window->type ("Pad/One:Two");
    const auto plain = window->settled (confirmation);
    window->key ("Return");
    EXPECT_TRUE (window->waitForChange (confirmation, plain)) << "no overwrite question";
    window->capture ("save-overwrite");
    EXPECT_EQ (presetValue (preset, "stream_2_is_enabled"), 0.0) << "saved without asking";
    window->key ("Return");
    EXPECT_TRUE (eventually ([&] { return presetValue (preset, "stream_2_is_enabled") == 1.0; })) << "not overwritten";

    // Stream 2 off again, then back to the preset through the list.
    clickAndSee (*window, toggle.getCentre(), toggle, "Stream 2");
    const auto streamOff = window->settled (toggle);
    const auto closed = window->settled (row);
    window->click (header.getCentre());
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (row, closed)) << "the preset list did not open";
    window->capture ("preset-list-filtered");
    window->click (row.getCentre());
    window->key ("Escape");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (toggle, streamOff)) << "the preset did not load";

    window->click (area (layout->button ("Delete...")).getCentre());
    window->moveTo (layout->restingPlace());
    const auto asked = window->settled (deleteButton);
    window->capture ("delete-dialog");
    window->click (deleteButton.getCentre());
    EXPECT_TRUE (eventually ([&] { return ! preset.exists(); })) << "the preset file is still there";
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (deleteButton, asked)) << "the delete dialog stayed open";
    closeWindow (*window);

    EXPECT_EQ (savedValues ("preset-steps")["stream_2_is_enabled"], 1.0);
}

TEST_F (EditorWindow, Scale135IsLimitedByTheDisplayAndSharedByInstancesOfOneProcess)
{
    const auto screen = screenArea();
    ASSERT_FALSE (screen.isEmpty());

    // The window may take at most 90 % of the display (1728 x 1080 of 1920 x 1200).
    const auto expectedSize = [&] (double factor)
    {
        const double fit = std::min ({ factor, 0.9 * screen.getWidth() / layout->width(), 0.9 * screen.getHeight() / layout->height() });
        return juce::Point<double> (layout->width() * fit, layout->height() * fit);
    };

    const auto expectSize = [&] (HostEditorWindow& window, double factor, const char* what)
    {
        const auto size = window.windowArea();
        EXPECT_NEAR (size.getWidth(), expectedSize (factor).x, 2.0) << what;
        EXPECT_NEAR (size.getHeight(), expectedSize (factor).y, 2.0) << what;
    };

    {
        auto window = open ("scale-135");
        ASSERT_TRUE (window);
        window->click (area (layout->button ("135")).getCentre());
        EXPECT_TRUE (eventually ([&] { return window->windowArea().getWidth() > layout->width(); })) << "the window did not grow";
        expectSize (*window, 1.35, "after the click");
        window->capture ("scale-135");
        closeWindow (*window);
    }

    {
        auto first = open ("two-at-135", { "--instances", "2" }, "qvl_host editor 1");
        ASSERT_TRUE (first);
        expectSize (*first, 1.35, "window 1 of 2");
        ASSERT_TRUE (first->useWindow ("qvl_host editor 2"));
        expectSize (*first, 1.35, "window 2 of 2");
        first->captureScreen ("two-windows-135");

        // Window 2 keeps its size until it opens again.
        ASSERT_TRUE (first->useWindow ("qvl_host editor 1"));
        first->click (area (layout->button ("75")).getCentre());
        EXPECT_TRUE (eventually ([&] { return first->windowArea().getWidth() < layout->width(); })) << "window 1 did not shrink";
        expectSize (*first, 0.75, "window 1 after the click");
        ASSERT_TRUE (first->useWindow ("qvl_host editor 2"));
        expectSize (*first, 1.35, "window 2 after the click in window 1");
        closeWindow (*first);
    }

    auto again = open ("two-at-75", { "--instances", "2" }, "qvl_host editor 1");
    ASSERT_TRUE (again);
    expectSize (*again, 0.75, "window 1 of the next run");
    ASSERT_TRUE (again->useWindow ("qvl_host editor 2"));
    expectSize (*again, 0.75, "window 2 of the next run");
    again->captureScreen ("two-windows-75");
    closeWindow (*again);
}

TEST_F (EditorWindow, TwoInstancesReopenedTenTimesUnderAutomationEndCleanly)
{
    const auto run = runHost ({ "editor", bundlePath(), "--instances", "2", "--reopen", "10", "--seconds", "8",
                                "--signal", "sine", "--freq", "220", "--check-finite" });
    EXPECT_EQ (run.exitCode, 0) << run.err;
    EXPECT_EQ (run.value ("editors reopened"), "10");
    // The host reopens only after 20 automated changes each time.
    EXPECT_GE (std::atoll (run.value ("automated changes").c_str()), 200);

    // Both instances played all 8 s (what the clock did not reach is played at the end), every
    // sample finite.
    int complete = 0, finite = 0;
    for (const auto& line : run.lines())
    {
        complete += line == "samples: 384000" ? 1 : 0;
        finite += line == "nan samples: 0" || line == "inf samples: 0" ? 1 : 0;
    }
    EXPECT_EQ (complete, 2) << run.out;
    EXPECT_EQ (finite, 4) << run.out;

    for (const char* problem : { "X Error", "BadWindow", "BadMatch", "BadDrawable", "Leaked objects" })
        EXPECT_EQ (run.err.find (problem), std::string::npos) << run.err;
}
