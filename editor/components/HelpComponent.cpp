#include "editor/components/HelpComponent.h"

namespace qvl
{

HelpComponent::HelpComponent()
{
    addAndMakeVisible (label);
}

HelpComponent::~HelpComponent()
{
    for (juce::HashMap<juce::Component*, juce::String>::Iterator it (helpTexts); it.next();)
    {
        it.getKey()->removeMouseListener (this);
        it.getKey()->removeComponentListener (this);
    }
}

void HelpComponent::setDefaultText (const juce::String& text)
{
    defaultText = text;
    showDefaultText();
}

void HelpComponent::setHelpText (juce::Component* control, const juce::String& text)
{
    if (control == nullptr)
        return;

    if (! helpTexts.contains (control))
    {
        control->addComponentListener (this);
        control->addMouseListener (this, false);
    }

    helpTexts.set (control, text);
}

juce::String HelpComponent::getHelpText (juce::Component* control) const
{
    return helpTexts[control];
}

bool HelpComponent::hasHelpText (juce::Component* control) const
{
    return helpTexts.contains (control);
}

void HelpComponent::mouseEnter (const juce::MouseEvent& event)
{
    if (helpTexts.contains (event.eventComponent))
        showText (helpTexts[event.eventComponent], helpAlpha);
    else
        showDefaultText();
}

void HelpComponent::mouseExit (const juce::MouseEvent&)
{
    showDefaultText();
}

void HelpComponent::resized()
{
    label.setBounds (getLocalBounds());
}

void HelpComponent::componentBeingDeleted (juce::Component& control)
{
    control.removeMouseListener (this);
    control.removeComponentListener (this);
    helpTexts.remove (&control);
}

void HelpComponent::showDefaultText()
{
    showText (defaultText, defaultAlpha);
}

void HelpComponent::showText (const juce::String& text, float alpha)
{
    // setAlpha repaints only when the alpha really changes.
    label.setAlpha (alpha);
    label.setText (text, juce::dontSendNotification);
}

} // namespace qvl
