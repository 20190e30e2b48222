#include "RenderCommand.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

void SignalStats::add (float sample)
{
    if (std::isnan (sample))
    {
        ++nanSamples;
        return;
    }

    if (std::isinf (sample))
    {
        ++infSamples;
        return;
    }

    peak = std::max (peak, std::abs (sample));
    sumOfSquares += (double) sample * (double) sample;
    ++finiteSamples;
}

double SignalStats::rms() const
{
    return finiteSamples > 0 ? std::sqrt (sumOfSquares / (double) finiteSamples) : 0.0;
}

// A transport that plays from the start at a fixed tempo in 4/4.
class RenderPlayHead : public juce::AudioPlayHead
{
public:
    RenderPlayHead (double rate, double tempo) : sampleRate (rate), bpm (tempo) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        const double seconds = (double) samplePosition / sampleRate;
        const double ppq = seconds * bpm / 60.0;

        PositionInfo info;
        info.setBpm (bpm);
        info.setTimeSignature (TimeSignature { 4, 4 });
        info.setIsPlaying (true);
        info.setTimeInSamples (samplePosition);
        info.setTimeInSeconds (seconds);
        info.setPpqPosition (ppq);
        info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
        info.setBarCount ((juce::int64) std::floor (ppq / 4.0));
        return info;
    }

    juce::int64 samplePosition = 0;

private:
    double sampleRate;
    double bpm;
};

namespace
{
    juce::String decibelText (double level)
    {
        return level > 0.0 ? juce::String (20.0 * std::log10 (level), 2) + " dBFS" : juce::String ("-inf dBFS");
    }

    bool readInputFile (const HostOptions& options, juce::AudioBuffer<float>& input, double& fileRate, juce::String& error)
    {
        const juce::File file = juce::File::getCurrentWorkingDirectory().getChildFile (options.inputFile);

        if (! file.existsAsFile())
        {
            error = "input file not found: " + file.getFullPathName();
            return false;
        }

        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));

        if (reader == nullptr)
        {
            error = "cannot read audio from " + file.getFullPathName();
            return false;
        }

        if (reader->lengthInSamples > (juce::int64) 48000 * 60 * 30)
        {
            error = "input file longer than 30 minutes at 48 kHz";
            return false;
        }

        input.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
        reader->read (&input, 0, (int) reader->lengthInSamples, 0, true, true);
        fileRate = reader->sampleRate;
        return true;
    }

    void generateInput (const HostOptions& options, int channels, double sampleRate, juce::AudioBuffer<float>& input)
    {
        const int length = (int) std::llround (options.seconds * sampleRate);
        input.setSize (channels, length);
        input.clear();

        juce::Random random (1234);

        for (int i = 0; i < length; ++i)
        {
            float sample = 0.0f;

            if (options.signal == "sine")
                sample = (float) (options.amplitude * std::sin (juce::MathConstants<double>::twoPi * options.frequency * (double) i / sampleRate));
            else if (options.signal == "noise")
                sample = (float) options.amplitude * (2.0f * random.nextFloat() - 1.0f);
            else if (options.signal == "impulse")
                sample = i == 0 ? (float) options.amplitude : 0.0f;

            for (int c = 0; c < channels; ++c)
                input.setSample (c, i, sample);
        }
    }

    // The plug-in's input channel `channel` taken from a source with any number of channels:
    // a mono bus gets the mean of all source channels, extra bus channels repeat the last one.
    float inputSample (const juce::AudioBuffer<float>& source, int busChannels, int channel, int index)
    {
        const int sourceChannels = source.getNumChannels();

        if (index >= source.getNumSamples() || sourceChannels == 0)
            return 0.0f;

        if (busChannels == 1 && sourceChannels > 1)
        {
            float sum = 0.0f;
            for (int c = 0; c < sourceChannels; ++c)
                sum += source.getSample (c, index);
            return sum / (float) sourceChannels;
        }

        return source.getSample (std::min (channel, sourceChannels - 1), index);
    }

    bool writeOutput (const juce::File& file, const juce::AudioBuffer<float>& output, double sampleRate, int bits, juce::String& error)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::OutputStream> stream (file.createOutputStream());

        if (stream == nullptr)
        {
            error = "cannot write " + file.getFullPathName();
            return false;
        }

        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), sampleRate, (unsigned int) output.getNumChannels(), bits, {}, 0));

        if (writer == nullptr)
        {
            error = "cannot create a WAV writer for " + file.getFullPathName();
            return false;
        }

        stream.release(); // the writer owns it now

        if (! writer->writeFromAudioSampleBuffer (output, 0, output.getNumSamples()))
        {
            error = "cannot write samples to " + file.getFullPathName();
            return false;
        }

        return true;
    }
}

double renderSampleRate (const HostOptions& options)
{
    if (options.sampleRate)
        return *options.sampleRate;

    if (! options.inputFile.empty())
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (juce::File::getCurrentWorkingDirectory().getChildFile (options.inputFile)));

        if (reader != nullptr && reader->sampleRate >= 1000.0)
            return reader->sampleRate;
    }

    return 48000.0;
}

RenderSession::RenderSession (juce::AudioPluginInstance& instanceToUse, const HostOptions& optionsToUse, double rate)
    : instance (instanceToUse), options (optionsToUse), sampleRate (rate), playHead (std::make_unique<RenderPlayHead> (rate, optionsToUse.bpm))
{
}

RenderSession::~RenderSession()
{
    if (prepared)
    {
        instance.releaseResources();
        instance.setPlayHead (nullptr);
    }
}

int RenderSession::prepare (bool realtime)
{
    const auto busSet = options.layout == "mono" ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::String error;

    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (busSet);
    layout.outputBuses.add (busSet);

    if (instance.getBusCount (true) != 1 || instance.getBusCount (false) != 1 || ! instance.setBusesLayout (layout))
    {
        std::cerr << "error: the plug-in refused the " << options.layout << " layout\n";
        return ExitCode::failed;
    }

    inputChannels = instance.getTotalNumInputChannels();
    outputChannels = instance.getTotalNumOutputChannels();

    if (! options.inputFile.empty())
    {
        double fileRate = 0.0;
        if (! readInputFile (options, input, fileRate, error))
        {
            std::cerr << "error: " << error << '\n';
            return ExitCode::failed;
        }

        if (std::abs (fileRate - sampleRate) > 0.5)
            std::cout << "# note: input is " << fileRate << " Hz, processed at " << sampleRate << " Hz without resampling\n";
    }
    else
    {
        generateInput (options, inputChannels, sampleRate, input);
    }

    inputLength = (juce::int64) input.getNumSamples();
    totalLength = inputLength + (juce::int64) std::llround (options.tailSeconds * sampleRate);

    if (totalLength > std::numeric_limits<int>::max() / 2)
    {
        std::cerr << "error: render too long\n";
        return ExitCode::failed;
    }

    instance.setPlayHead (playHead.get());
    instance.setNonRealtime (! realtime);
    instance.prepareToPlay (sampleRate, options.blockSize);
    prepared = true;

    output.setSize (outputChannels, (int) totalLength);
    output.clear();
    block.setSize (std::max (inputChannels, outputChannels), options.blockSize);
    return ExitCode::ok;
}

bool RenderSession::processNextBlock()
{
    if (position >= totalLength)
        return false;

    const int numSamples = (int) std::min<juce::int64> (options.blockSize, totalLength - position);
    juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), block.getNumChannels(), numSamples);
    view.clear();

    for (int c = 0; c < inputChannels; ++c)
        for (int i = 0; i < numSamples; ++i)
            view.setSample (c, i, inputSample (input, inputChannels, c, (int) position + i));

    playHead->samplePosition = position;
    midi.clear();
    instance.processBlock (view, midi);

    for (int c = 0; c < outputChannels; ++c)
        output.copyFrom (c, (int) position, view, c, 0, numSamples);

    position += numSamples;
    return true;
}

int RenderSession::finish (double elapsedMs)
{
    juce::String error;
    instance.releaseResources();
    instance.setPlayHead (nullptr);
    prepared = false;

    // Only what was processed: a real-time session may end early.
    output.setSize (outputChannels, (int) position, true);

    SignalStats total;
    std::vector<SignalStats> perChannel ((size_t) outputChannels);

    for (int c = 0; c < outputChannels; ++c)
        for (int i = 0; i < output.getNumSamples(); ++i)
        {
            const float sample = output.getSample (c, i);
            total.add (sample);
            perChannel[(size_t) c].add (sample);
        }

    if (! options.outputFile.empty())
    {
        const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (options.outputFile);

        if (! writeOutput (file, output, sampleRate, options.bitsPerSample, error))
        {
            std::cerr << "error: " << error << '\n';
            return ExitCode::failed;
        }

        std::cout << "output: " << file.getFullPathName() << '\n';
    }

    std::cout << "layout: " << options.layout << " (" << inputChannels << " in, " << outputChannels << " out)\n"
              << "sample rate: " << sampleRate << '\n'
              << "block size: " << options.blockSize << '\n'
              << "input samples: " << inputLength << '\n'
              << "samples: " << position << '\n'
              << "channels: " << outputChannels << '\n'
              << "seconds: " << juce::String ((double) position / sampleRate, 3) << '\n'
              << "peak: " << juce::String (total.peak, 6) << " (" << decibelText (total.peak) << ")\n"
              << "rms: " << juce::String (total.rms(), 6) << " (" << decibelText (total.rms()) << ")\n";

    for (int c = 0; c < outputChannels; ++c)
        std::cout << "channel " << (c + 1) << ": peak " << juce::String (perChannel[(size_t) c].peak, 6)
                  << " rms " << juce::String (perChannel[(size_t) c].rms(), 6) << '\n';

    std::cout << "nan samples: " << total.nanSamples << '\n'
              << "inf samples: " << total.infSamples << '\n'
              << "processing time: " << juce::String (elapsedMs, 1) << " ms ("
              << juce::String (elapsedMs > 0.0 ? (double) position / sampleRate * 1000.0 / elapsedMs : 0.0, 1) << "x real time)\n";

    if (options.checkFinite && total.nanSamples + total.infSamples > 0)
    {
        std::cerr << "error: the output holds " << (total.nanSamples + total.infSamples) << " non-finite samples\n";
        return ExitCode::nonFiniteOutput;
    }

    return ExitCode::ok;
}

int runRender (juce::AudioPluginInstance& instance, const HostOptions& options, double sampleRate)
{
    RenderSession session (instance, options, sampleRate);

    if (const int result = session.prepare (false); result != ExitCode::ok)
        return result;

    const auto started = juce::Time::getMillisecondCounterHiRes();

    while (session.processNextBlock())
    {
    }

    return session.finish (juce::Time::getMillisecondCounterHiRes() - started);
}
