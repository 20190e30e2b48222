#pragma once

#include "editor/components/KnobSliders.h"

namespace qvl
{

// One parameter's control: a name label, the rotary slider, a value label that takes the name's
// place while the user hovers, drags or edits, a small modulation-amount slider with its own label
// and three 20 x 20 buttons (bypass, polarity, and one the editor gives a purpose).
class Knob : public juce::Component,
             private juce::Slider::Listener
{
public:
    explicit Knob (const juce::String& name);
    ~Knob() override;

    KnobLabel nameLabel;
    KnobLabel valueLabel;
    KnobSlider knobSlider { valueLabel };
    KnobLabel modulationAmountLabel;
    ModulationAmountSlider modulationAmountSlider { modulationAmountLabel };
    juce::TextButton bypassButton;
    juce::TextButton polarityButton;
    juce::TextButton extraButton;

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void resized() override;

    static constexpr int buttonSize = 20;

protected:
    // Where the pointer is, as the desktop's mouse sources tell it. Tests without a display
    // stand in for the pointer here.
    virtual bool isPointerOver (const juce::Component& component) const;           // children included
    virtual bool isPointerOverOrDragging (const juce::Component& component) const; // children not counted

private:
    void sliderValueChanged (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;

    bool isEditingLabel() const;
    void refreshHover();
    void refreshLabels();
    void showName();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Knob)
};

} // namespace qvl
