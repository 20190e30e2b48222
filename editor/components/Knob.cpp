#include "editor/components/Knob.h"

namespace qvl
{

Knob::Knob (const juce::String& name)
{
    setName (name);

    addAndMakeVisible (knobSlider);
    knobSlider.addListener (this);
    knobSlider.addMouseListener (this, false);

    // Children included, so entering the open text editor counts as being over the label.
    valueLabel.addMouseListener (this, true);
    valueLabel.onEditorHide = [this] { showName(); };
    addChildComponent (valueLabel);

    modulationAmountSlider.addListener (this);
    modulationAmountSlider.addMouseListener (this, false);
    addChildComponent (modulationAmountSlider);
    addChildComponent (modulationAmountLabel);

    nameLabel.addMouseListener (this, true);
    nameLabel.setEditable (false);
    addAndMakeVisible (nameLabel);
    nameLabel.setText (name, juce::dontSendNotification);

    addChildComponent (bypassButton);
    addChildComponent (polarityButton);
    addChildComponent (extraButton);
}

Knob::~Knob()
{
    knobSlider.removeListener (this);
    modulationAmountSlider.removeListener (this);
    valueLabel.removeMouseListener (this);
    nameLabel.removeMouseListener (this);
}

void Knob::resized()
{
    const int w = getWidth(), h = getHeight();
    const int labelHeight = juce::jmin (h, juce::roundToInt (nameLabel.getFont().getHeight() + 1.0f));
    const int free = h - labelHeight;

    for (auto* label : { &nameLabel, &valueLabel, &modulationAmountLabel })
        label->setBounds (0, free, w, labelHeight);

    const int side = juce::jmin (w, free) - 10;
    knobSlider.setBounds ((w - side) / 2, (free - side) / 2, side, side);

    const int amountSide = juce::roundToInt (knobSlider.getHeight() * 0.5);
    modulationAmountSlider.setBounds (knobSlider.getX() + (knobSlider.getWidth() - amountSide) / 2,
                                      knobSlider.getY() + (knobSlider.getHeight() - amountSide) / 2,
                                      amountSide, amountSide);

    const int d = knobSlider.getRight() - 2;
    bypassButton.setBounds (w - d - buttonSize, 0, buttonSize, buttonSize);
    polarityButton.setBounds (d, 0, buttonSize, buttonSize);
    extraButton.setBounds (d, free - buttonSize, buttonSize, buttonSize);
}

void Knob::mouseEnter (const juce::MouseEvent& event)
{
    if (event.eventComponent != this && ! isEditingLabel())
        refreshHover();
}

void Knob::mouseExit (const juce::MouseEvent& event)
{
    if (event.eventComponent != this && ! isEditingLabel())
        refreshHover();
}

// While a label is being edited it stays, wherever the pointer goes: swapping it would take the
// open editor away and commit what is typed so far.
bool Knob::isEditingLabel() const
{
    return nameLabel.isBeingEdited() || valueLabel.isBeingEdited();
}

void Knob::mouseWheelMove (const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel)
{
    refreshLabels();
    juce::Component::mouseWheelMove (event, wheel);
}

void Knob::sliderValueChanged (juce::Slider*)
{
    refreshLabels();
}

void Knob::sliderDragEnded (juce::Slider*)
{
    showName();
    modulationAmountLabel.setVisible (false);
}

bool Knob::isPointerOver (const juce::Component& component) const
{
    return component.isMouseOver (true);
}

bool Knob::isPointerOverOrDragging (const juce::Component& component) const
{
    return component.isMouseOverOrDragging (false);
}

void Knob::refreshHover()
{
    const bool over = isPointerOver (nameLabel) || isPointerOver (valueLabel);
    nameLabel.setVisible (! over);
    valueLabel.setVisible (over);
    modulationAmountLabel.setVisible (false);
}

void Knob::refreshLabels()
{
    const bool showValue = isPointerOverOrDragging (knobSlider);
    const bool showAmount = isPointerOverOrDragging (modulationAmountSlider);

    valueLabel.setVisible (showValue);
    modulationAmountLabel.setVisible (showAmount);
    nameLabel.setVisible (! showValue && ! showAmount);

    // The amount reads in a mix of the text colour and the armed modulator's colour.
    modulationAmountLabel.setColour (juce::Label::textColourId,
                                     findColour (juce::Label::textColourId)
                                         .interpolatedWith (modulationAmountSlider.findColour (juce::Slider::rotarySliderFillColourId), 0.5f));
}

void Knob::showName()
{
    valueLabel.setVisible (false);
    nameLabel.setVisible (true);
}

} // namespace qvl
