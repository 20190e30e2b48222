// Renaming a macro in a real window while the pointer wanders over the label being edited.
#include "tests/gui/EditorLayout.h"
#include "tests/gui/HostEditorWindow.h"

using namespace qvl::guitest;

using MacroNameWindow = RealWindowTest;

TEST_F (MacroNameWindow, TypingWithThePointerOverTheLabelKeepsTheEditorAndStoresTheName)
{
    auto window = open ("pointer-rename");
    ASSERT_TRUE (window);

    const auto& macro = layout->knob ("modulator_macro_3");
    window->moveTo (layout->restingPlace());
    const auto before = window->settled (area (macro.nameLabel));

    window->click (area (macro.extraButton).getCentre());
    window->moveTo (area (macro.nameLabel).getCentre());
    window->key ("ctrl+a");
    window->type ("Slow Sweep");
    window->capture ("macro-3-editing-under-the-pointer");
    window->key ("Return");
    window->moveTo (layout->restingPlace());
    EXPECT_TRUE (window->waitForChange (area (macro.nameLabel), before)) << "the name did not change";
    closeWindow (*window);

    const auto tree = savedTree ("pointer-rename");
    ASSERT_TRUE (tree);
    const auto* names = tree->getChildByName ("PROGRAM_PROPERTIES");
    ASSERT_NE (names, nullptr);
    EXPECT_EQ (names->getStringAttribute ("macro_3"), "Slow Sweep");
}
