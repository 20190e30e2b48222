#include "processor/PluginProcessor.h"

#include "editor/PluginEditor.h"
#include "processor/HostUiThread.h"
#include "processor/StateNames.h"

#include <cmath>
#include <limits>

juce::AudioProcessor::BusesProperties QuorvalisPluginAudioProcessor::makeBuses()
{
    return BusesProperties()
        .withInput ("Input", juce::AudioChannelSet::stereo(), true)
        .withOutput ("Output", juce::AudioChannelSet::stereo(), true);
}

QuorvalisPluginAudioProcessor::QuorvalisPluginAudioProcessor()
    : juce::AudioProcessor (makeBuses()),
      parameterState (*this, nullptr, qvl::stateNames::root.toString(), createParameterLayout()),
      presets (makePresetOptions()),
      programProperties (parameterState.state, stateLock)
{
    for (int i = 0; i < 6; ++i)
        sectionExpanded.add (juce::Value (true));

    modulationEngine.addPluginModulators();

    for (auto& snapshot : snapshots)
    {
        snapshot.grainPositions.assign ((size_t) grainPool.getMaxGrains(), 0.0f);
        snapshot.grainPans.assign ((size_t) grainPool.getMaxGrains(), 0.0f);
        snapshot.grainStreams.assign ((size_t) grainPool.getMaxGrains(), 0);
        snapshot.streamPositions.assign ((size_t) ParameterCounts::streams, 0);
        // -1 is "no value yet": until the audio thread publishes one, knobs show their own value
        // rather than a modulated value of 0.
        snapshot.modulatedValues.assign ((size_t) ParameterCounts::modulationTargets, -1.0f);
    }

    streamStates.resize ((size_t) ParameterCounts::streams);

    for (auto* parameter : getParameters())
    {
        BaseValue value;
        value.parameter = parameter;
        value.asFloat = dynamic_cast<juce::AudioParameterFloat*> (parameter);
        value.asInt = dynamic_cast<juce::AudioParameterInt*> (parameter);
        value.asBool = dynamic_cast<juce::AudioParameterBool*> (parameter);
        baseValues.push_back (value);
    }

    resetParameterLockFlags();
}

QuorvalisPluginAudioProcessor::~QuorvalisPluginAudioProcessor()
{
    changeBroadcaster.removeAllChangeListeners();
}

const juce::String QuorvalisPluginAudioProcessor::getName() const
{
    return "Quorvalis";
}

void QuorvalisPluginAudioProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    wasPlaying = false;
    songPosition.stop();

    if (! (std::isfinite (sampleRate) && sampleRate > 0.0 && sampleRate <= maximumSampleRate))
        sampleRate = preparedSampleRate > 0.0 ? preparedSampleRate : fallbackSampleRate;

    const int inputs = getTotalNumInputChannels();
    const int outputs = getTotalNumOutputChannels();

    if (sampleRate != preparedSampleRate || maximumExpectedSamplesPerBlock != preparedBlockSize
        || inputs != preparedInputChannels || outputs != preparedOutputChannels)
    {
        preparedSampleRate = sampleRate;
        preparedBlockSize = maximumExpectedSamplesPerBlock;
        preparedInputChannels = inputs;
        preparedOutputChannels = outputs;

        const int tickLength = getTickLength();

        // The pool renders one chunk at a time and a chunk never spans more than one tick, so one
        // tick is all it needs, whatever block size the host announced or then actually sends.
        grainPool.prepare (tickLength);

        const int channels = juce::jmin (inputs, outputs);
        circularBuffer.prepare ((int) (sampleRate * 5.0), (int) (sampleRate / 100.0), channels);
        requestedBufferLength = circularBuffer.getLength();

        if (bufferOutput.getNumChannels() != circularBuffer.getNumChannels() || bufferOutput.getNumSamples() != tickLength)
            bufferOutput.setSize (circularBuffer.getNumChannels(), tickLength);

        // The editor reads the read side under the lock, on its own thread, at any time; this is no
        // audio thread, so it may wait for a paint to finish.
        const int snapshotSamples = (int) (sampleRate * 5.0);
        const juce::SpinLock::ScopedLockType lock (snapshotLock);
        for (auto& snapshot : snapshots)
            if (snapshot.buffer.getNumChannels() != channels || snapshot.buffer.getNumSamples() != snapshotSamples)
                snapshot.buffer.setSize (channels, snapshotSamples, false, true);

        modulationEngine.controlRate = controlTicksPerSecond;
    }

    const int rampLength = (int) std::floor (sampleRate * 0.01);

    for (auto* smoother : { &feedbackSmoother, &dryGainSmoother, &bufferGainSmoother, &granulatorGainSmoother, &inputGainSmoother })
    {
        smoother->reset (rampLength);
        smoother->setCurrentAndTargetValue (smoother->getTargetValue());
    }

    samplesLeftInTick = 0;
}

void QuorvalisPluginAudioProcessor::releaseResources()
{
}

// Freeze and feedback can keep the loop sounding for ever after the input falls silent; a host
// that suspends silent plug-ins must not cut it off.
double QuorvalisPluginAudioProcessor::getTailLengthSeconds() const { return std::numeric_limits<double>::infinity(); }
bool QuorvalisPluginAudioProcessor::acceptsMidi() const { return false; }
bool QuorvalisPluginAudioProcessor::producesMidi() const { return false; }
juce::AudioProcessorParameter* QuorvalisPluginAudioProcessor::getBypassParameter() const { return bypassParameter; }

juce::AudioProcessorEditor* QuorvalisPluginAudioProcessor::createEditor()
{
    qvl::hostUiThread::noteEditorCreated();
    return new QuorvalisPluginAudioProcessorEditor (*this);
}

bool QuorvalisPluginAudioProcessor::hasEditor() const { return true; }
int QuorvalisPluginAudioProcessor::getNumPrograms() { return 1; }
int QuorvalisPluginAudioProcessor::getCurrentProgram() { return 0; }
void QuorvalisPluginAudioProcessor::setCurrentProgram (int) {}
const juce::String QuorvalisPluginAudioProcessor::getProgramName (int index) { return "program " + juce::String (index); }
void QuorvalisPluginAudioProcessor::changeProgramName (int, const juce::String&) {}

bool QuorvalisPluginAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto input = layouts.getMainInputChannelSet();
    const auto output = layouts.getMainOutputChannelSet();

    if (input == juce::AudioChannelSet::disabled())
        return true;

    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return input == output;
}

void QuorvalisPluginAudioProcessor::resetParameterLockFlags()
{
    const int count = getParameters().size();
    parameterLockFlags.resize (count);

    for (const auto& slot : modulationSlotParameters)
        for (auto* parameter : { (juce::AudioProcessorParameter*) slot.target, (juce::AudioProcessorParameter*) slot.modulatorIndex })
            if (const int index = parameter->getParameterIndex(); index >= 0)
                parameterLockFlags.set (index, ParameterLockFlags::routing);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorvalisPluginAudioProcessor();
}
