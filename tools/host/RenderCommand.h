#pragma once

#include "HostOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

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

class RenderPlayHead;

// Drives an instance as a host's audio thread does: the input (file or generated), a playing
// transport, blocks one after another, the output kept for the report and the output file.
class RenderSession
{
public:
    RenderSession (juce::AudioPluginInstance&, const HostOptions&, double sampleRate);
    ~RenderSession();

    // Sets the layout, reads or makes the input and prepares the instance. Returns an ExitCode value.
    int prepare (bool realtime);

    // Processes the next block; false once input and tail are done.
    bool processNextBlock();

    juce::int64 getPosition() const noexcept { return position; }
    double getSampleRate() const noexcept { return sampleRate; }

    // Releases the instance, writes the output file and reports levels. Returns an ExitCode value.
    int finish (double elapsedMs);

private:
    juce::AudioPluginInstance& instance;
    const HostOptions& options;
    const double sampleRate;
    std::unique_ptr<RenderPlayHead> playHead;
    juce::AudioBuffer<float> input, output, block;
    juce::MidiBuffer midi;
    int inputChannels = 0, outputChannels = 0;
    juce::int64 inputLength = 0, totalLength = 0, position = 0;
    bool prepared = false;
};

// Processes the input (file or generated) through the instance as fast as it goes and reports
// levels. Returns an ExitCode value.
int runRender (juce::AudioPluginInstance& instance, const HostOptions& options, double sampleRate);
