#include "editor/components/KnobBuilder.h"

namespace qvl
{

Knob* createKnob (KnobContext& context, next::ContainerComponent& container, juce::RangedAudioParameter& parameter,
                  const juce::String& label, const juce::String& help)
{
    jassert (context.sliderAttachments != nullptr && context.ownedComponents != nullptr && context.knobsByParameter != nullptr);

    auto knob = std::make_unique<Knob> (label);
    auto& slider = knob->knobSlider;

    context.sliderAttachments->add (new BetterSliderParameterAttachment (parameter, slider, context.undoManager));

    if (context.registerLockTarget)
        context.registerLockTarget (slider, &parameter);

    const int index = parameter.getParameterIndex();
    auto& knobs = *context.knobsByParameter;

    while (knobs.size() <= index)
        knobs.add (nullptr);

    knobs.set (index, knob.get());

    if (context.addModulationTarget)
        context.addModulationTarget (index, *knob);

    if (auto* helpArea = context.help)
    {
        helpArea->setHelpText (&slider, help.isNotEmpty() ? help : parameter.name);
        helpArea->setHelpText (knob.get(), knobHelp::knob);
        helpArea->setHelpText (&knob->valueLabel, knobHelp::valueLabel);
        helpArea->setHelpText (&knob->modulationAmountSlider, knobHelp::modulationAmount);
        helpArea->setHelpText (&knob->polarityButton, knobHelp::polarity);
        helpArea->setHelpText (&knob->bypassButton, knobHelp::bypass);
    }

    container.addItem (knob.get(), 80, 0, next::ContainerComponent::leftTop);

    auto* raw = knob.get();
    context.ownedComponents->add (knob.release());
    return raw;
}

Knob* createKnob (KnobContext& context, next::ContainerComponent& container, juce::RangedAudioParameter& parameter,
                  const juce::String& label, const juce::String& help, juce::Colour colour)
{
    auto* knob = createKnob (context, container, parameter, label, help);
    knob->setColour (juce::Slider::rotarySliderFillColourId, colour);
    return knob;
}

} // namespace qvl
