#include "processor/PluginProcessor.h"

#include <cmath>

juce::AudioProcessor::BusesProperties QuorvalisPluginAudioProcessor::makeBuses()
{
    return BusesProperties()
        .withInput ("Input", juce::AudioChannelSet::stereo(), true)
        .withOutput ("Output", juce::AudioChannelSet::stereo(), true);
}

QuorvalisPluginAudioProcessor::QuorvalisPluginAudioProcessor()
    : juce::AudioProcessor (makeBuses()),
      parameterState (*this, nullptr, "PARAMETERS", createParameterLayout()),
      presets (makePresetOptions()),
      programProperties (parameterState.state)
{
    for (int i = 0; i < 6; ++i)
        sectionExpanded.add (juce::Value (true));

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

    const int inputs = getTotalNumInputChannels();
    const int outputs = getTotalNumOutputChannels();

    // NaN compares unequal, so a NaN rate always prepares again.
    if (! (sampleRate == preparedSampleRate) || maximumExpectedSamplesPerBlock != preparedBlockSize
        || inputs != preparedInputChannels || outputs != preparedOutputChannels)
    {
        preparedSampleRate = sampleRate;
        preparedBlockSize = maximumExpectedSamplesPerBlock;
        preparedInputChannels = inputs;
        preparedOutputChannels = outputs;
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

void QuorvalisPluginAudioProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&)
{
}

void QuorvalisPluginAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    processBlock (buffer, midi);
}

double QuorvalisPluginAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool QuorvalisPluginAudioProcessor::acceptsMidi() const { return false; }
bool QuorvalisPluginAudioProcessor::producesMidi() const { return false; }
juce::AudioProcessorParameter* QuorvalisPluginAudioProcessor::getBypassParameter() const { return bypassParameter; }

juce::AudioProcessorEditor* QuorvalisPluginAudioProcessor::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
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
    parameterLockFlags.fill (0);

    for (const auto& slot : modulationSlotParameters)
        for (auto* parameter : { (juce::AudioProcessorParameter*) slot.target, (juce::AudioProcessorParameter*) slot.modulatorIndex })
            if (const int index = parameter->getParameterIndex(); index >= 0)
                parameterLockFlags.set (index, 1);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorvalisPluginAudioProcessor();
}
