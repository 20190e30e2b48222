#pragma once

#include "processor/PluginProcessor.h"

// Reaches the processor's audio-thread state that has no public accessor.
struct ProcessorTestAccess
{
    using P = QuorvalisPluginAudioProcessor;

    static int& samplesLeftInTick (P& p) { return p.samplesLeftInTick; }
    static int& requestedBufferLength (P& p) { return p.requestedBufferLength; }
    static bool& wasPlaying (P& p) { return p.wasPlaying; }
    static juce::int64& timeInSamples (P& p) { return p.timeInSamples; }
    static juce::Random& random (P& p) { return p.random; }
    static juce::AudioBuffer<float>& bufferOutput (P& p) { return p.bufferOutput; }
    static juce::SmoothedValue<float>& feedbackSmoother (P& p) { return p.feedbackSmoother; }
    static juce::SmoothedValue<float>& dryGainSmoother (P& p) { return p.dryGainSmoother; }
    static juce::SmoothedValue<float>& bufferGainSmoother (P& p) { return p.bufferGainSmoother; }
    static juce::SmoothedValue<float>& granulatorGainSmoother (P& p) { return p.granulatorGainSmoother; }
    static juce::SmoothedValue<float>& inputGainSmoother (P& p) { return p.inputGainSmoother; }
    static int tickLength (const P& p) { return p.getTickLength(); }
    static int preparedBlockSize (const P& p) { return p.preparedBlockSize; }

    static void updateAudioFollower (P& p, const juce::AudioBuffer<float>& audio, bool isInput)
    {
        p.updateAudioFollower (audio, isInput);
    }

    static void updateControlTick (P& p, juce::AudioBuffer<float>& chunk,
                                   const juce::AudioPlayHead::CurrentPositionInfo& position = {})
    {
        p.updateControlTick (chunk, position);
    }

    static void processAudioChunk (P& p, juce::AudioBuffer<float>& chunk) { p.processAudioChunk (chunk); }
    static void fillAndPublishSnapshot (P& p, int blockSamples) { p.fillAndPublishSnapshot (blockSamples); }

    static float modulatedRealValue (const P& p, const juce::RangedAudioParameter& parameter)
    {
        return p.getModulatedRealValue (parameter);
    }
};
