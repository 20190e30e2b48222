#include "tests/plugin/ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>

// A sine through default settings: stream 1 plays grains from the recorded input, so the
// output differs from the dry input and stays finite.
TEST (AudioPathSmoke, DefaultSettingsProduceGrains)
{
    QuorvalisPluginAudioProcessor p;
    p.prepareToPlay (48000.0, 512);
    juce::MidiBuffer midi;
    juce::AudioBuffer<float> block (2, 512);
    double phase = 0.0;
    int maxGrains = 0;
    double difference = 0.0;

    for (int b = 0; b < 200; ++b)
    {
        juce::AudioBuffer<float> input (2, 512);
        for (int i = 0; i < 512; ++i)
        {
            const float x = 0.5f * (float) std::sin (phase);
            phase += 2.0 * juce::MathConstants<double>::pi * 440.0 / 48000.0;
            input.setSample (0, i, x);
            input.setSample (1, i, x);
        }
        block.makeCopyOf (input);
        p.processBlock (block, midi);
        maxGrains = std::max (maxGrains, p.grainPool.getActiveCount());

        for (int i = 0; i < 512; ++i)
        {
            ASSERT_TRUE (std::isfinite (block.getSample (0, i)));
            difference += std::abs (block.getSample (0, i) - input.getSample (0, i));
        }
    }

    EXPECT_GT (maxGrains, 0);
    EXPECT_GT (difference, 1.0);
}
