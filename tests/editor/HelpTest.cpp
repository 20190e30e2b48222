#include "editor/components/HelpComponent.h"
#include "tests/editor/EditorTestSupport.h"

using namespace qvl::test;

TEST (HelpArea, ShowsTheHoveredTextBrightTheDefaultDimAndForgetsDeletedControls)
{
    auto survivor = std::make_unique<juce::Component>(); // outlives the help area, which must leave it
    qvl::HelpComponent help;
    EXPECT_TRUE (help.getLabel().getText().isEmpty());

    auto doomed = std::make_unique<juce::Component>();
    juce::Component stranger;
    help.setHelpText (nullptr, "ignored");
    help.setHelpText (doomed.get(), "first");
    help.setHelpText (doomed.get(), "Doomed");   // again: only the text changes
    help.setHelpText (survivor.get(), "");       // an empty text is still a text
    help.setDefaultText ("Quorvalis v1.0.2");
    const auto* doomedAddress = doomed.get();

    struct Step { const char* what; std::function<void()> act; const char* text; float alpha; };
    const Step steps[] = {
        { "default", [] {}, "Quorvalis v1.0.2", 0.35f },
        { "enter", [&] { help.mouseEnter (mouseEvent (*survivor, {})); }, "", 0.7f },
        { "straight on to the next", [&] { help.mouseEnter (mouseEvent (*doomed, {})); }, "Doomed", 0.7f },
        { "deleted under the pointer", [&] { doomed.reset(); }, "Doomed", 0.7f },
        { "exit", [&] { help.mouseExit (mouseEvent (*survivor, {})); }, "Quorvalis v1.0.2", 0.35f },
        { "unregistered", [&] { help.mouseEnter (mouseEvent (*survivor, {})); help.mouseEnter (mouseEvent (stranger, {})); }, "Quorvalis v1.0.2", 0.35f },
    };

    for (const auto& s : steps)
    {
        s.act();
        EXPECT_EQ (help.getLabel().getText(), s.text) << s.what;
        EXPECT_NEAR (help.getLabel().getAlpha(), s.alpha, 1.0f / 255.0f) << s.what;
    }

    EXPECT_FALSE (help.hasHelpText (const_cast<juce::Component*> (doomedAddress)));
    help.setSize (836, 24);
    EXPECT_EQ (help.getLabel().getBounds(), help.getLocalBounds());
}
