#pragma once

// Helpers for driving processBlock the way a host does: preparation, parameter changes by value,
// a scriptable play head and simple test signals.

#include "tests/plugin/PresetTestSupport.h"
#include "tests/plugin/ProcessorTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace qvl::test
{
    using Access = ProcessorTestAccess;

    // Deletes an editor the way a host's wrapper does: the processor hears of it first.
    struct EditorCloser
    {
        void operator() (juce::AudioProcessorEditor* editor) const
        {
            if (editor != nullptr)
                editor->processor.editorBeingDeleted (editor);
            delete editor;
        }
    };

    using EditorPtr = std::unique_ptr<juce::AudioProcessorEditor, EditorCloser>;

    inline void prepare (QuorvalisPluginAudioProcessor& p, double sampleRate, int blockSize)
    {
        p.setRateAndBufferSizeDetails (sampleRate, blockSize);
        p.prepareToPlay (sampleRate, blockSize);
    }

    inline bool setLayout (QuorvalisPluginAudioProcessor& p, const juce::AudioChannelSet& input,
                           const juce::AudioChannelSet& output)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (input);
        layout.outputBuses.add (output);
        return p.setBusesLayout (layout);
    }

    inline void setNormalised (QuorvalisPluginAudioProcessor& p, const juce::String& id, float normalised)
    {
        parameter (p, id).setValueNotifyingHost (normalised);
    }

    inline int indexOf (QuorvalisPluginAudioProcessor& p, const juce::String& id)
    {
        return parameter (p, id).getParameterIndex();
    }

    // A rate, length or size given in a unit: sets the timebase parameter and places the value
    // inside that unit's range.
    inline void setTimed (QuorvalisPluginAudioProcessor& p, const juce::String& id, const juce::String& timebaseId,
                          const TimebaseRangeTable& table, int timebase, float value)
    {
        setRealValue (p, timebaseId, (float) timebase);
        setNormalised (p, id, table[(size_t) timebase].convertTo0to1 (value));
    }

    // Slot `slot` (from 1) takes modulator `modulator` (0 to 13) to the parameter `target`.
    inline void route (QuorvalisPluginAudioProcessor& p, int slot, const juce::String& target, int modulator, float amount)
    {
        const auto n = juce::String (slot);
        setRealValue (p, "modulation_" + n + "_target", (float) indexOf (p, target));
        setRealValue (p, "modulator_" + n + "_modulator_index", (float) modulator);
        setRealValue (p, "modulation_" + n + "_amount", amount);
    }

    // A 5-second loop, so that no resize fade starts by itself.
    inline void useFullBuffer (QuorvalisPluginAudioProcessor& p)
    {
        setTimed (p, "buffer_size", "buffer_size_timebase", bufferSizeRanges, Timebase::milliseconds, 5000.0f);
    }

    struct FakePlayHead : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            if (! available)
                return {};
            return info;
        }

        void set (bool playing, juce::int64 samplePosition)
        {
            info.setIsPlaying (playing);
            info.setTimeInSamples (samplePosition);
        }

        FakePlayHead()
        {
            info.setBpm (120.0);
            info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 4, 4 });
        }

        PositionInfo info;
        bool available = true;
    };

    // Fills every channel with a deterministic signal; `start` is the absolute index of sample 0.
    inline void fill (juce::AudioBuffer<float>& buffer, juce::int64 start,
                      const std::function<float (int channel, juce::int64 index)>& signal)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, signal (c, start + i));
    }

    inline float sine (int channel, juce::int64 index)
    {
        const double frequency = channel == 0 ? 440.0 : 330.0;
        return 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * frequency * (double) index / 48000.0);
    }

    inline float silence (int, juce::int64) { return 0.0f; }

    // Runs `total` samples through processBlock in blocks of `blockSize` and returns the output.
    inline juce::AudioBuffer<float> run (QuorvalisPluginAudioProcessor& p, int total, int blockSize,
                                         const std::function<float (int, juce::int64)>& signal = sine,
                                         juce::int64 start = 0, int channels = 2)
    {
        juce::AudioBuffer<float> output (channels, total);
        juce::MidiBuffer midi;

        for (int offset = 0; offset < total; offset += blockSize)
        {
            const int n = juce::jmin (blockSize, total - offset);
            juce::AudioBuffer<float> block (channels, n);
            fill (block, start + offset, signal);
            p.processBlock (block, midi);

            for (int c = 0; c < channels; ++c)
                output.copyFrom (c, offset, block, c, 0, n);
        }

        return output;
    }

    struct Start
    {
        juce::int64 sample;
        int stream;
    };

    // Runs one-sample blocks; a grain whose progress is 1 right after its block started in it.
    inline std::vector<Start> grainStarts (QuorvalisPluginAudioProcessor& p, juce::int64 from, juce::int64 to,
                                           FakePlayHead* head = nullptr)
    {
        std::vector<Start> starts;
        juce::MidiBuffer midi;
        juce::AudioBuffer<float> block (2, 1);

        for (auto t = from; t < to; ++t)
        {
            if (head != nullptr)
                head->set (true, t);

            fill (block, t, sine);
            p.processBlock (block, midi);

            for (int i = 0; i < p.grainPool.getActiveCount(); ++i)
                if (p.grainPool.getGrain (i).progress == 1)
                    starts.push_back ({ t, p.grainPool.getGrain (i).stream });
        }

        return starts;
    }

    inline std::vector<juce::int64> samplesOf (const std::vector<Start>& starts)
    {
        std::vector<juce::int64> samples;
        for (const auto& s : starts)
            samples.push_back (s.sample);
        return samples;
    }

    inline bool allFinite (const juce::AudioBuffer<float>& buffer)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                if (! std::isfinite (buffer.getSample (c, i)))
                    return false;
        return true;
    }

    inline std::vector<float> loopContent (const QuorvalisPluginAudioProcessor& p, int channel)
    {
        const auto* data = p.circularBuffer.getChannelData (channel);
        return std::vector<float> (data, data + p.circularBuffer.getLength());
    }

    inline int countNonZero (const std::vector<float>& samples, int from, int to)
    {
        int count = 0;
        for (int i = from; i < to; ++i)
            count += samples[(size_t) i] != 0.0f ? 1 : 0;
        return count;
    }

    // Control ticks seen so far: a random modulator counts every tick while the host is stopped.
    inline std::int64_t ticksSoFar (const QuorvalisPluginAudioProcessor& p)
    {
        return p.modulationEngine.randoms[0].tickCounter;
    }

    // How many samples a smoother takes to move to a new target: its ramp length.
    inline int rampLength (juce::SmoothedValue<float> smoother)
    {
        smoother.setCurrentAndTargetValue (0.0f);
        smoother.setTargetValue (1.0f);
        int steps = 0;
        while (smoother.isSmoothing() && steps < 1000000)
        {
            smoother.getNextValue();
            ++steps;
        }
        return steps;
    }

    inline float dbToGain (float decibels) { return decibels <= -100.0f ? 0.0f : std::pow (10.0f, decibels * 0.05f); }
}
