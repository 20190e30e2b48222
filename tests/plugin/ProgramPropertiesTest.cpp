// The macro-name node on a bare state tree, without a processor around it.

#include "processor/ProgramProperties.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
    juce::ValueTree makeState (int numParams)
    {
        juce::ValueTree state ("PARAMETERS");
        for (int i = 0; i < numParams; ++i)
        {
            juce::ValueTree param ("PARAM");
            param.setProperty ("id", "p" + juce::String (i), nullptr);
            state.appendChild (param, nullptr);
        }
        return state;
    }

    juce::ValueTree nodeOf (const juce::ValueTree& state)
    {
        return state.getChildWithName ("PROGRAM_PROPERTIES");
    }

    juce::String name (ProgramProperties& properties, int n)
    {
        return properties.getMacroNames()[n - 1];
    }

    juce::CriticalSection stateLock;
}

TEST (ProgramPropertiesNode, ConstructionAppendsTheNodeWithDefaultNames)
{
    auto state = makeState (3);
    ProgramProperties properties (state, stateLock);

    ASSERT_EQ (state.getNumChildren(), 4);
    EXPECT_TRUE (state.getChild (3).hasType ("PROGRAM_PROPERTIES"));
    EXPECT_EQ (state.getChild (3).getNumProperties(), 4);

    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ (name (properties, n), "Macro " + juce::String (n));
}

TEST (ProgramPropertiesNode, ConstructionTakesOverAnExistingNodeAndResetsItsNames)
{
    auto state = makeState (2);
    juce::ValueTree existing ("PROGRAM_PROPERTIES");
    existing.setProperty ("macro_1", "Old", nullptr);
    state.appendChild (existing, nullptr);

    ProgramProperties properties (state, stateLock);

    EXPECT_EQ (nodeOf (state), existing);
    EXPECT_EQ (state.getNumChildren(), 3);
    EXPECT_EQ (name (properties, 1), "Macro 1");
}

TEST (ProgramPropertiesNode, RedirectMovesTheSameNodeIntoTheNewTree)
{
    auto state = makeState (2);
    const auto previous = state;
    ProgramProperties properties (state, stateLock);
    const auto node = nodeOf (state);

    auto incoming = makeState (5);
    juce::ValueTree names ("PROGRAM_PROPERTIES");
    names.setProperty ("macro_1", "One", nullptr);
    names.setProperty ("macro_3", "  ", nullptr);
    names.setProperty ("extra", 7, nullptr);
    names.appendChild (juce::ValueTree ("NOTE"), nullptr);
    incoming.addChild (names, 0, nullptr);

    state = incoming;

    EXPECT_EQ (node.getParent(), incoming);
    EXPECT_EQ (incoming.getNumChildren(), 6); // the five "PARAM" children and the node, last
    EXPECT_EQ (incoming.getChild (5), node);
    EXPECT_EQ (previous.getNumChildren(), 2);
    EXPECT_FALSE (previous.getChildWithName ("PROGRAM_PROPERTIES").isValid());

    EXPECT_EQ (name (properties, 1), "One");
    EXPECT_EQ (name (properties, 2), "Macro 2");
    EXPECT_EQ (name (properties, 3), "Macro 3");
    EXPECT_EQ (name (properties, 4), "Macro 4");

    // Whatever else the incoming node held comes along.
    EXPECT_EQ ((int) node["extra"], 7);
    EXPECT_TRUE (node.getChildWithName ("NOTE").isValid());
}

TEST (ProgramPropertiesNode, ChildrenAddedLaterGoBeforeTheNode)
{
    auto state = makeState (2);
    ProgramProperties properties (state, stateLock);
    auto node = nodeOf (state);

    state.appendChild (juce::ValueTree ("PARAM"), nullptr);
    state.appendChild (juce::ValueTree ("PARAM"), nullptr);

    ASSERT_EQ (state.getNumChildren(), 5);
    EXPECT_EQ (state.getChild (4), node);

    // Children of the node itself stay where they are put.
    node.appendChild (juce::ValueTree ("NOTE"), nullptr);
    EXPECT_EQ (state.getChild (4), node);
    EXPECT_EQ (node.getNumChildren(), 1);
}

TEST (ProgramPropertiesNode, BlankNamesAreFilledWhenTheNodeChanges)
{
    auto state = makeState (1);
    ProgramProperties properties (state, stateLock);
    auto node = nodeOf (state);

    node.setProperty ("macro_2", " \t", nullptr);
    EXPECT_EQ (name (properties, 2), "Macro 2");

    // Removing a name does not refill it...
    node.removeProperty ("macro_4", nullptr);
    EXPECT_FALSE (node.hasProperty ("macro_4"));

    // ...but the next change of any property on the node does.
    node.setProperty ("colour", "red", nullptr);
    EXPECT_EQ (node["macro_4"].toString(), "Macro 4");

    // A property on some other tree does not.
    node.removeProperty ("macro_1", nullptr);
    state.getChild (0).setProperty ("value", 1.0, nullptr);
    EXPECT_FALSE (node.hasProperty ("macro_1"));
}

TEST (ProgramPropertiesNode, DestroyedPropertiesStopListening)
{
    auto state = makeState (1);
    auto properties = std::make_unique<ProgramProperties> (state, stateLock);
    const auto node = nodeOf (state);
    properties.reset();

    auto incoming = makeState (2);
    state = incoming;

    EXPECT_EQ (incoming.getNumChildren(), 2);
    EXPECT_FALSE (incoming.getChildWithName ("PROGRAM_PROPERTIES").isValid());
    EXPECT_EQ (node["macro_1"].toString(), "Macro 1");
}
