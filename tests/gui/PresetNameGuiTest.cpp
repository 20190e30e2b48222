// Preset names typed into the save dialog of a real window, and what lands in the "User" folder.
#include "tests/gui/EditorLayout.h"
#include "tests/gui/HostEditorWindow.h"

using namespace qvl::guitest;

class PresetNameWindow : public RealWindowTest
{
protected:
    void SetUp() override
    {
        RealWindowTest::SetUp();

        if (IsSkipped())
            return;

        window = open ("preset-names");
        ASSERT_TRUE (window);
    }

    void TearDown() override
    {
        if (window != nullptr)
        {
            EXPECT_EQ (window->close(), 0) << window->output();
        }
    }

    juce::File userPreset (const juce::String& name) const
    {
        return juce::File (juce::String (home) + "/Documents/Quorvalis/Presets/User/" + name + ".quorvalis");
    }

    // Opens the save dialog, types the name and presses Return.
    void save (const std::string& name)
    {
        window->click (layout->area (layout->button ("Save...")).getCentre());
        window->type (name);
        window->key ("Return");
    }

    std::unique_ptr<HostEditorWindow> window;
};

// A dot inside the name once cut it short, and "Pad v1.5" replaced "Pad v1".
TEST_F (PresetNameWindow, PadV15IsSavedBesidePadV1)
{
    const auto padV1 = userPreset ("Pad v1"), padV15 = userPreset ("Pad v1.5");
    const auto toggle = layout->area (layout->button ("Stream 2"));

    save ("Pad v1");
    ASSERT_TRUE (eventually ([&] { return padV1.existsAsFile(); })) << "Pad v1 was not saved";
    const auto first = padV1.loadFileAsString();

    window->moveTo (layout->restingPlace());
    const auto off = window->settled (toggle);
    window->click (toggle.getCentre());
    window->moveTo (layout->restingPlace());
    ASSERT_TRUE (window->waitForChange (toggle, off)) << "Stream 2 did not switch on";

    // Saved at once: no question about overwriting comes in between.
    save ("Pad v1.5");
    EXPECT_TRUE (eventually ([&] { return padV15.existsAsFile(); })) << "Pad v1.5 was not saved";
    window->capture ("pad-v1.5-saved");

    EXPECT_EQ (padV1.loadFileAsString(), first) << "Pad v1 changed";
    EXPECT_EQ (presetValue (padV1, "stream_2_is_enabled"), 0.0);
    EXPECT_EQ (presetValue (padV15, "stream_2_is_enabled"), 1.0);
}

// Typing stops at the longest name a file can take and the dialog says so at once, staying open;
// Return then saves what the field holds.
TEST_F (PresetNameWindow, A240CharacterNameIsReportedNotDropped)
{
    using Mode = qvl::PresetBrowserComponent;
    const auto cancel = layout->browserArea (Mode::saveMode, "Cancel");
    const auto buttons = cancel.getUnion (layout->browserArea (Mode::saveMode, "Save"));
    const auto messageLine = cancel.withY (cancel.getY() - 32).withWidth (480);   // the line above the buttons

    window->click (layout->area (layout->button ("Save...")).getCentre());
    window->moveTo (layout->restingPlace());
    const auto plain = window->settled (messageLine.getUnion (buttons));

    window->type (std::string (240, 'x'));
    EXPECT_TRUE (window->waitForChange (messageLine, plain)) << "nothing was said about the name";
    const auto told = window->settled (messageLine.getUnion (buttons));
    window->capture ("name-too-long");
    EXPECT_LT (countChangedPixels (plain, told, buttons, layout->width()), 10) << "the dialog did not stay open";

    window->key ("Return");
    const auto longest = userPreset (juce::String::repeatedString ("x", layout->processor.presets.getMaximumNameBytes()));
    EXPECT_TRUE (eventually ([&] { return longest.existsAsFile(); })) << "the name the field held was not saved";
    EXPECT_TRUE (window->waitForChange (buttons, told)) << "the dialog stayed open after saving";
}
