#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <vector>

// One picture of the audio side for the editor. Two exist: the audio thread fills one while the
// editor reads the other, and they are swapped under a try-lock.
struct DisplaySnapshot
{
    juce::AudioBuffer<float> buffer;
    std::vector<float> grainPositions;
    std::vector<float> grainPans;
    std::vector<int> grainStreams;
    std::vector<std::int64_t> streamPositions;
    std::int64_t writePosition = 0;
    std::int32_t grainCount = 0;
    std::int32_t grainLimit = 0;
    std::vector<float> modulatedValues;
};
