#pragma once

#include "processor/PluginProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The live picture of the buffer: level bars per channel, a playhead per enabled stream, the
// grains as dots at their position and pan, the write head, the grain count and, while a stream's
// envelope controls are hovered, that stream's envelope. Everything comes from the processor's
// read-side snapshot; when no more blocks arrive the picture fades to black.
class DisplayComponent : public juce::Component
{
public:
    explicit DisplayComponent (QuorvalisPluginAudioProcessor& processor);
    ~DisplayComponent() override;

    void paint (juce::Graphics&) override;

    // Tells the processor the width the bars are drawn at, so it copies the samples they read.
    void resized() override;

    // Mirrored level bars, channel 0 upwards and the others downwards from the middle of the area,
    // all filled at once in the graphics' current colour.
    static void drawWaveform (juce::Graphics&, juce::Rectangle<int> area, const juce::AudioBuffer<float>& buffer);

    // "007 | 045": grain count and limit, each padded to three digits.
    static juce::String formatCount (int count, int limit);

    // Paints this many times without a processed block before the fade begins.
    static constexpr int idlePaintsBeforeFade = 7;
    static constexpr int fadeSteps = 30;

private:
    QuorvalisPluginAudioProcessor& processor;

public:
    // Stream whose envelope is drawn, -1 for none; the editor follows the pointer with it.
    int selectedStream = -1;

private:
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> fade;

    // Each stream's grain dot, drawn once at the screen's pixel scale in the stream's current colour.
    struct GrainDot
    {
        juce::Colour colour;
        float scale = 0.0f;
        juce::Image image;
    };

    static constexpr float dotRadius = 5.0f;
    std::array<GrainDot, 4> grainDots;
    const juce::Image& grainDot (int stream, juce::Colour colour, float scale);

    float streamAlpha (const DisplaySnapshot&, int stream) const;
    void drawEnvelope (juce::Graphics&, int stream) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DisplayComponent)
};
