#include "processor/PluginProcessor.h"
#include "processor/StateNames.h"

#include <vector>

qvl::Presets::Options QuorvalisPluginAudioProcessor::makePresetOptions()
{
    qvl::Presets::Options options;
    options.folder = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getChildFile ("Quorvalis/Presets");
    options.extension = "quorvalis";

    options.getState = [this]
    {
        // Flushes the parameters and copies under the tree lock.
        auto copy = copyParameterState();
        setVersionProperties (copy);
        return copy;
    };

    options.setState = [this] (juce::ValueTree tree) { return applyPresetState (std::move (tree)); };
    options.processor = this;
    return options;
}

bool QuorvalisPluginAudioProcessor::applyPresetState (juce::ValueTree tree)
{
    // The library only hands over checked trees; anything else must not replace a valid state.
    if (! tree.hasType (qvl::stateNames::root))
        return false;

    const auto& parameters = getParameters();

    std::vector<float> previousValues ((size_t) parameters.size());
    for (auto* parameter : parameters)
        previousValues[(size_t) parameter->getParameterIndex()] = parameter->getValue();

    // Holds the tree lock while it swaps the state; ProgramProperties moves the macro names
    // across on the way.
    replaceParameterState (tree);

    bool keptDifferingValue = false;

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
