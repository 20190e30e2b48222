#include "editor/components/BetterSliderParameterAttachment.h"

#include <utility>

namespace qvl
{

namespace
{
    // One of the slider's range mappings: a copy of the parameter's range that follows the
    // slider's current start and end, working in the parameter's own float arithmetic.
    template <typename Operation>
    std::function<double (double, double, double)> mapping (juce::NormalisableRange<float> range, Operation operation)
    {
        return [range, operation] (double start, double end, double value) mutable
        {
            range.start = (float) start;
            range.end = (float) end;
            return (double) operation (range, (float) value);
        };
    }
}

BetterSliderParameterAttachment::BetterSliderParameterAttachment (juce::RangedAudioParameter& parameterToUse, juce::Slider& sliderToUse,
                                                                  juce::UndoManager* undoManagerToUse)
    : slider (sliderToUse),
      parameter (parameterToUse),
      undoManager (undoManagerToUse),
      attachment (parameterToUse, [this] (float value) { setValue (value); }, undoManagerToUse)
{
    auto& p = parameter;

    slider.valueFromTextFunction = [&p] (const juce::String& text)
    {
        const auto& range = p.getNormalisableRange();
        const float normalised = juce::jlimit (0.0f, 1.0f, p.getValueForText (text));
        return (double) range.snapToLegalValue (range.convertFrom0to1 (normalised));
    };

    slider.textFromValueFunction = [&p] (double value)
    {
        const auto& range = p.getNormalisableRange();
        return p.getText (range.convertTo0to1 (range.snapToLegalValue ((float) value)), 0);
    };

    const auto& range = parameter.getNormalisableRange();
    const float defaultValue = range.snapToLegalValue (range.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, parameter.getDefaultValue())));
    slider.setDoubleClickReturnValue (true, (double) defaultValue);

    slider.setTextValueSuffix (parameter.getLabel());

    juce::NormalisableRange<double> sliderRange ((double) range.start, (double) range.end,
                                                 mapping (range, [] (const auto& r, float v) { return r.convertFrom0to1 (v); }),
                                                 mapping (range, [] (const auto& r, float v) { return r.convertTo0to1 (v); }),
                                                 mapping (range, [] (const auto& r, float v) { return r.snapToLegalValue (v); }));
    sliderRange.interval = (double) range.interval;
    sliderRange.skew = (double) range.skew;
    sliderRange.symmetricSkew = range.symmetricSkew;
    slider.setNormalisableRange (sliderRange);

    slider.setNumDecimalPlacesToDisplay (sliderRange.interval >= 1.0 ? 0 : 4);

    attachment.sendInitialUpdate();
    slider.valueChanged();
    slider.addListener (this);
}

BetterSliderParameterAttachment::~BetterSliderParameterAttachment()
{
    slider.removeListener (this);

    // A host in touch or latch mode would keep the parameter latched for ever.
    if (gestureOpen)
        parameter.endChangeGesture();
}

void BetterSliderParameterAttachment::beginGesture()
{
    if (gestureOpen)
        return;

    if (undoManager != nullptr)
        undoManager->beginNewTransaction();

    parameter.beginChangeGesture();
    gestureOpen = true;
}

void BetterSliderParameterAttachment::setValue (float newValue)
{
    const juce::ScopedValueSetter<bool> setter (ignoreCallbacks, true);
    slider.setValue ((double) newValue, juce::sendNotificationSync);
}

void BetterSliderParameterAttachment::sliderValueChanged (juce::Slider*)
{
    if (! ignoreCallbacks)
        attachment.setValueAsPartOfGesture ((float) slider.getValue());
}

void BetterSliderParameterAttachment::sliderDragStarted (juce::Slider*)
{
    beginGesture();
}

void BetterSliderParameterAttachment::sliderDragEnded (juce::Slider*)
{
    // Only a gesture this attachment opened: one made after the drag began did not.
    if (! std::exchange (gestureOpen, false))
        return;

    parameter.endChangeGesture();
}

} // namespace qvl
