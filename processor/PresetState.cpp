#include "processor/PluginProcessor.h"
#include "processor/StateNames.h"

#include <vector>

qvl::Presets::Options QuorvalisPluginAudioProcessor::makePresetOptions()
{
    qvl::Presets::Options options;
    options.folder = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getChildFile ("Quorvalis/Presets");
    options.extension = "quorvalis";

    options.getState = [this] { return copyStateForSaving (false); };
    options.setState = [this] (juce::ValueTree tree) { return applyPresetState (tree); };
    options.processor = this;
    return options;
}

bool QuorvalisPluginAudioProcessor::applyPresetState (const juce::ValueTree& tree)
{
    // The library only hands over checked trees; anything else must not replace a valid state.
    if (! tree.hasType (qvl::stateNames::root))
        return false;

    const auto& parameters = getParameters();
    std::vector<float> previousValues ((size_t) parameters.size());
    bool keptDifferingValue = false;

    // One step: a host restore landing between the swap and the locked values being set back
    // would otherwise be partly undone.
    const juce::ScopedLock lock (stateLock);

    for (auto* parameter : parameters)
        previousValues[(size_t) parameter->getParameterIndex()] = parameter->getValue();

    // ProgramProperties moves the macro names across on the way.
    installState (tree);

    for (auto* parameter : parameters)
    {
        const int index = parameter->getParameterIndex();
        const bool locked = (parameterLockFlags[index] & ParameterLockFlags::locked) != 0; // past the end reads as 0

        if (locked && parameter->getValue() != previousValues[(size_t) index])
        {
            parameter->setValueNotifyingHost (previousValues[(size_t) index]);
            keptDifferingValue = true;
        }
    }

    // A new preset starts every stream from its position and silences the random modulators
    // until they fire again.
    for (auto& request : streamResetRequests)
        request.store (1);

    for (auto& modulator : randomParameters)
        modulator.clearRequest->store (1);

    return keptDifferingValue;
}

void QuorvalisPluginAudioProcessor::resetState()
{
    const juce::ScopedLock lock (stateLock);

    // Without their stored values every parameter returns to its default; anything else in the
    // state stays.
    auto state = parameterState.copyState();

    for (auto child = state.getChildWithName (qvl::stateNames::parameter); child.isValid();
         child = state.getChildWithName (qvl::stateNames::parameter))
        state.removeChild (child, nullptr);

    installState (state);

    // The state compares values in their own units, so a switch that "Random" left at, say, 0.2
    // would keep that: it reads as off, but a slot modulating it starts from 0.2, not 0.
    for (auto* parameter : getParameters())
        if (parameter->getValue() != parameter->getDefaultValue())
            parameter->setValueNotifyingHost (parameter->getDefaultValue());

    programProperties.resetNames();
    resetParameterLockFlags();
}
