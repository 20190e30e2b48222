#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// A centred, borderless label that edits on a single click and keeps typed text on focus loss.
class KnobLabel : public juce::Label
{
public:
    KnobLabel();

protected:
    juce::TextEditor* createEditorComponent() override;
};

// A rotary slider without a text box of its own: it writes its text into a separate label and
// takes the values typed there.
class SliderWithExternalLabel : public juce::Slider,
                                private juce::Label::Listener
{
public:
    explicit SliderWithExternalLabel (juce::Label& externalLabel);
    ~SliderWithExternalLabel() override;

    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void valueChanged() override;

private:
    void labelTextChanged (juce::Label*) override;

    juce::Label& externalLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SliderWithExternalLabel)
};

// The knob's rotary control: a dark disc with the value arc (following the live modulated value
// when there is one), a ring for the modulation amount and a pointer at the slider's own value.
class KnobSlider : public SliderWithExternalLabel
{
public:
    using SliderWithExternalLabel::SliderWithExternalLabel;

    // Drawn fields, written by the editor's refresh timer.
    juce::Colour modulationColour;
    float modulatedValue = -1.0f;       // normalised; outside [0, 1] means none
    float modulationDepth = 0.0f;
    bool modulationBipolar = false;

    // Written by the modulation-assignment state, copied into the drawn pair by the refresh timer.
    float pendingModulationDepth = 0.0f;
    bool pendingModulationBipolar = false;

    void paint (juce::Graphics&) override;
};

// The small amount control drawn over a knob: a disc with a pie from twelve o'clock, clockwise
// for positive amounts and anticlockwise for negative ones.
class ModulationAmountSlider : public SliderWithExternalLabel
{
public:
    using SliderWithExternalLabel::SliderWithExternalLabel;

    void paint (juce::Graphics&) override;
};

} // namespace qvl
