#include "editor/components/KnobSliders.h"
#include "processor/NumberText.h"

#include <cmath>

namespace qvl
{

//==============================================================================
KnobLabel::KnobLabel()
    : juce::Label ({}, {})
{
    setJustificationType (juce::Justification::centred);
    setBorderSize (juce::BorderSize<int> (0));
    setEditable (true, false, false);
}

juce::TextEditor* KnobLabel::createEditorComponent()
{
    auto* textEditor = juce::Label::createEditorComponent();
    textEditor->setIndents (2, 2);
    textEditor->setBorder (juce::BorderSize<int> (0));
    textEditor->setJustification (getJustificationType());
    textEditor->setSelectAllWhenFocused (true);
    return textEditor;
}

//==============================================================================
SliderWithExternalLabel::SliderWithExternalLabel (juce::Label& label)
    : juce::Slider (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox),
      externalLabel (label)
{
    externalLabel.addListener (this);

    // Until an attachment brings the parameter's own texts: the framework's texts, but with a
    // point whatever locale the host set.
    textFromValueFunction = [this] (double value)
    {
        const int decimals = getNumDecimalPlacesToDisplay();
        return decimals > 0 ? writeFixed (value, decimals) : juce::String (juce::roundToInt (value));
    };
}

SliderWithExternalLabel::~SliderWithExternalLabel()
{
    externalLabel.removeListener (this);
}

void SliderWithExternalLabel::mouseWheelMove (const juce::MouseEvent& event, const juce::MouseWheelDetails& wheel)
{
    auto details = wheel;
    const bool swapKeyHeld = event.mods.isCtrlDown() || event.mods.isAltDown();

    // In velocity mode the wheel steps ten times finer, as a drag does.
    if (getVelocityBasedMode() != (getVelocityModeIsSwappable() && swapKeyHeld))
        details.deltaY *= 0.1f;

    // The framework's handling: the step when enabled, else up to the nearest enabled ancestor.
    juce::Slider::mouseWheelMove (event, details);
}

void SliderWithExternalLabel::valueChanged()
{
    externalLabel.setText (getTextFromValue (getValue()), juce::sendNotificationSync);
}

void SliderWithExternalLabel::labelTextChanged (juce::Label* label)
{
    if (label != &externalLabel)
        return;

    const double typed = getValueFromText (externalLabel.getText());

    // The label's own text parsed back differs from the value by less than the shown resolution;
    // only a real edit may move the slider. One full step counts as an edit.
    const double resolution = std::pow (10.0, -getNumDecimalPlacesToDisplay());

    if (std::abs (typed - getValue()) >= resolution)
        setValue (typed, juce::sendNotificationSync);
}

//==============================================================================
namespace
{
    float enabledAlpha (const juce::Component& component)
    {
        return component.isEnabled() ? 1.0f : 0.5f;
    }

    // The ring sector a butt-ended stroke of the arc would cover, filled directly: building the
    // stroke's outline cost more than filling it, for every knob on every repaint.
    void fillArc (juce::Graphics& g, juce::Point<float> centre, float radius, float thickness, float fromAngle, float toAngle)
    {
        const float outer = radius + thickness * 0.5f;
        const float inner = juce::jmax (0.0f, radius - thickness * 0.5f);

        if (outer <= 0.0f)
            return;

        juce::Path path;
        path.addPieSegment (centre.x - outer, centre.y - outer, 2.0f * outer, 2.0f * outer, fromAngle, toAngle, inner / outer);
        g.fillPath (path);
    }
}

void KnobSlider::paint (juce::Graphics& g)
{
    const float a = enabledAlpha (*this);
    const auto p = (float) valueToProportionOfLength (getValue());

    const auto outline = findColour (juce::Slider::rotarySliderOutlineColourId, true).withMultipliedAlpha (a);
    const auto fill = findColour (juce::Slider::rotarySliderFillColourId, true).withMultipliedAlpha (a);

    const auto area = getLookAndFeel().getSliderLayout (*this).sliderBounds.toFloat();
    const float x = area.getX(), y = area.getY();
    const float w = juce::jmax (0.0f, area.getWidth()), h = juce::jmax (0.0f, area.getHeight());
    const auto rotary = getRotaryParameters();
    const float s = rotary.startAngleRadians, e = rotary.endAngleRadians;

    const float r = juce::jmin (w, h) * 0.5f;
    const float t = r * 0.125f;
    const float arcRadius = r - t * 0.5f;
    const juce::Point<float> centre (x + w * 0.5f, y + h * 0.5f);
    const auto angleOf = [s, e] (float proportion) { return s + (e - s) * proportion; };

    g.setColour (outline);
    g.fillEllipse (x + (w - 2.0f * r) * 0.5f, y + (h - 2.0f * r) * 0.5f, 2.0f * r, 2.0f * r);

    g.setColour (fill.withMultipliedBrightness (0.3f));
    fillArc (g, centre, arcRadius, t, s, e);

    const float shown = (modulatedValue >= 0.0f && modulatedValue <= 1.0f) ? modulatedValue : p;
    g.setColour (fill);
    fillArc (g, centre, arcRadius, t, s, angleOf (shown));

    const float lower = p - (modulationBipolar ? modulationDepth : 0.0f);
    const float upper = p + modulationDepth;
    const float lowerAngle = juce::jlimit (s, e, angleOf (lower));
    const float upperAngle = juce::jlimit (s, e, angleOf (upper));
    g.setColour (modulationColour.withMultipliedAlpha (a));
    fillArc (g, centre, r - t - 0.33f * t, 0.66f * t, upperAngle, lowerAngle);

    // The pointer shows the slider's own value, never the modulated one.
    juce::Path pointer;
    pointer.addRectangle (-t * 0.25f, t - r, t * 0.5f, r * 0.4f);
    pointer.applyTransform (juce::AffineTransform::rotation (angleOf (p)).translated (centre));
    g.setColour (findColour (juce::Slider::textBoxTextColourId).withMultipliedAlpha (a));
    g.fillPath (pointer);
}

//==============================================================================
void ModulationAmountSlider::paint (juce::Graphics& g)
{
    const float a = enabledAlpha (*this);
    const auto p = (float) valueToProportionOfLength (getValue());

    const int side = juce::jmin (getWidth(), getHeight());
    const auto x0 = (float) ((getWidth() - side) / 2);
    const auto y0 = (float) ((getHeight() - side) / 2);
    const auto sideF = (float) side;

    g.setColour (findColour (juce::Slider::rotarySliderOutlineColourId, true).darker (0.5f).withMultipliedAlpha (a));
    g.fillEllipse (x0, y0, sideF, sideF);

    // With the range -1 to 1, 2p - 1 is the amount: the pie's share of the full turn.
    const auto fill = findColour (juce::Slider::rotarySliderFillColourId, true).withMultipliedAlpha (a);
    juce::Path pie;
    pie.addPieSegment (x0, y0, sideF, sideF, 0.0f, (2.0f * p - 1.0f) * juce::MathConstants<float>::twoPi, 0.0f);
    g.setColour (fill);
    g.fillPath (pie);

    const float ringSide = (float) juce::jmax (side - 2, 0);
    g.setColour (fill.withMultipliedAlpha (0.5f));
    g.drawEllipse (x0 + 1.0f, y0 + 1.0f, ringSide, ringSide, 1.0f);
}

} // namespace qvl
