#pragma once

#include "editor/components/BetterSliderParameterAttachment.h"
#include "editor/components/ContainerComponent.h"
#include "editor/components/HelpComponent.h"
#include "editor/components/Knob.h"

#include <functional>
#include <memory>

namespace qvl
{

// What the knob builder needs from the editor. The editor fills one from its members once and
// hands it to every createKnob call; the three lists are required, the rest may be absent.
struct KnobContext
{
    juce::UndoManager* undoManager = nullptr;
    juce::OwnedArray<BetterSliderParameterAttachment>* sliderAttachments = nullptr;
    juce::OwnedArray<juce::Component>* ownedComponents = nullptr;
    juce::Array<Knob*>* knobsByParameter = nullptr;
    std::function<void (juce::Component&, juce::AudioProcessorParameter*)> registerLockTarget;
    // Hands the knob's amount slider, "B" and "P" buttons and the knob slider's pending depth and
    // polarity fields to the modulation-assignment state.
    std::function<void (int parameterIndex, Knob&)> addModulationTarget;
    HelpComponent* help = nullptr;
};

// The help texts every knob registers besides its own.
namespace knobHelp
{
    inline const char* const knob = "Double click to reset to default. Hold ctrl for velocity-sensitive drag: finer control with slow movements.";
    inline const char* const valueLabel = "Click to edit value";
    inline const char* const modulationAmount = "Adjust modulation amount from the armed modulator to this parameter. Double click to delete modulation.";
    inline const char* const polarity = "Switch between unipolar / bipolar modulation";
    inline const char* const bypass = "Bypass modulation";
}

// Builds a knob 80 wide in the container, bound to the parameter, entered for locking, modulation
// and help, and owned by the editor. An empty help text falls back to the parameter's name.
Knob* createKnob (KnobContext&, next::ContainerComponent&, juce::RangedAudioParameter&,
                  const juce::String& label, const juce::String& help);

// The same, drawn in the given colour.
Knob* createKnob (KnobContext&, next::ContainerComponent&, juce::RangedAudioParameter&,
                  const juce::String& label, const juce::String& help, juce::Colour);

// Registers the help text (when there is one), hands the control to the editor and returns it.
template <typename ComponentType>
ComponentType* addWithHelp (KnobContext& context, std::unique_ptr<ComponentType> control, const juce::String& help)
{
    auto* raw = control.get();

    if (help.isNotEmpty() && context.help != nullptr)
        context.help->setHelpText (raw, help);

    context.ownedComponents->add (control.release());
    return raw;
}

} // namespace qvl
