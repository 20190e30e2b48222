#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    using Set = juce::AudioChannelSet;

    juce::AudioProcessor::BusesLayout layout (const Set& input, const Set& output)
    {
        juce::AudioProcessor::BusesLayout result;
        result.inputBuses.add (input);
        result.outputBuses.add (output);
        return result;
    }
}

TEST (ProcessorBasics, NameMidiTailAndEditor)
{
    QuorvalisPluginAudioProcessor processor;
    EXPECT_EQ (processor.getName(), "Quorvalis");
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    // Freeze and feedback keep the loop sounding: hosts must not suspend it on silent input.
    EXPECT_EQ (processor.getTailLengthSeconds(), std::numeric_limits<double>::infinity());
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_FALSE (processor.supportsDoublePrecisionProcessing());
}

TEST (ProcessorBasics, OneProgramThatIgnoresChanges)
{
    QuorvalisPluginAudioProcessor processor;
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "program 0");
    EXPECT_EQ (processor.getProgramName (3), "program 3");
    EXPECT_EQ (processor.getProgramName (12), "program 12");

    processor.setCurrentProgram (5);
    processor.changeProgramName (0, "renamed");
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "program 0");
}

TEST (ProcessorBasics, BypassParameterIsTheBypassSwitch)
{
    QuorvalisPluginAudioProcessor processor;
    auto* bypass = dynamic_cast<juce::AudioParameterBool*> (processor.getBypassParameter());
    ASSERT_NE (bypass, nullptr);
    EXPECT_EQ (bypass->paramID, "bypass");
    EXPECT_EQ (bypass->getParameterIndex(), 0);
    EXPECT_EQ (bypass, processor.bypassParameter);
}

TEST (ProcessorBasics, StereoBusesNamedInputAndOutput)
{
    QuorvalisPluginAudioProcessor processor;
    ASSERT_EQ (processor.getBusCount (true), 1);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor.getBus (true, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_EQ (processor.getBus (false, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_TRUE (processor.getBus (true, 0)->isEnabled());
    EXPECT_TRUE (processor.getBus (false, 0)->isEnabled());
}

TEST (ProcessorBasics, SupportedBusLayouts)
{
    QuorvalisPluginAudioProcessor processor;
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::stereo(), Set::stereo())));
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::mono(), Set::mono())));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (layout (Set::mono(), Set::stereo())));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (layout (Set::stereo(), Set::mono())));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (layout (Set::stereo(), Set::create5point1())));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (layout (Set::create5point1(), Set::create5point1())));
    EXPECT_FALSE (processor.checkBusesLayoutSupported (layout (Set::stereo(), Set::disabled())));

    // A disabled input takes any output.
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::disabled(), Set::stereo())));
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::disabled(), Set::mono())));
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::disabled(), Set::create5point1())));
    EXPECT_TRUE (processor.checkBusesLayoutSupported (layout (Set::disabled(), Set::disabled())));
}

TEST (ProcessorBasics, SixExpandedSectionsAndIdleRequests)
{
    QuorvalisPluginAudioProcessor processor;
    ASSERT_EQ (processor.sectionExpanded.size(), 6);
    for (auto& value : processor.sectionExpanded)
        EXPECT_TRUE ((bool) value.getValue());

    // Each section keeps its own value.
    processor.sectionExpanded.getReference (2).setValue (false);
    EXPECT_FALSE ((bool) processor.sectionExpanded[2].getValue());
    EXPECT_TRUE ((bool) processor.sectionExpanded[3].getValue());

    EXPECT_EQ (processor.clearBufferRequest.load(), 0);
    EXPECT_EQ (processor.displayRequest.load(), 0);
    EXPECT_EQ (processor.hostTempoValid.load(), 0);
    for (auto& request : processor.streamResetRequests)
        EXPECT_EQ (request.load(), 0);
}
