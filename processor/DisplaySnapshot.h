#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// The samples of a buffer the display's level bars read: bar i measures at most 256 samples from
// i x samplesPerBar. The audio thread copies only these into a snapshot.
struct WaveformBars
{
    static constexpr int spacing = 6;             // pixels per bar
    static constexpr int maxSamplesPerBar = 256;

    int length = 0;
    int bars = 0;
    int samplesPerBar = 1;

    WaveformBars (int bufferLength, int width)
        : length (std::max (0, bufferLength)),
          bars (std::max (0, std::min (length, width / spacing))),
          samplesPerBar (bars > 0 ? std::max (1, length / bars) : 1)
    {
    }

    int start (int bar) const noexcept { return bar * samplesPerBar; }
    int count (int bar) const noexcept { return std::min ({ samplesPerBar, maxSamplesPerBar, length - start (bar) }); }
};

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
