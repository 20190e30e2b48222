#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// The processor's parameter tree and timers need the framework's message manager.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
