#pragma once

#include "HostOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

struct SignalStats
{
    float peak = 0.0f;
    double sumOfSquares = 0.0;
    juce::int64 finiteSamples = 0;
    juce::int64 nanSamples = 0;
    juce::int64 infSamples = 0;

    void add (float sample);
    double rms() const;
};

// The sample rate a render will use: --rate, else the input file's, else 48 kHz.
double renderSampleRate (const HostOptions& options);

// Processes the input (file or generated) through the prepared instance and reports levels.
// Returns an ExitCode value.
int runRender (juce::AudioPluginInstance& instance, const HostOptions& options, double sampleRate);
