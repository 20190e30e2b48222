#include "editor/components/ModulationState.h"

#include <array>

namespace qvl
{

namespace
{
    constexpr float disabledAlpha = 0.4f;
    constexpr float previewAlpha = 0.7f;
    constexpr float highlightProportion = 0.3f;

    void copyValue (const juce::AudioProcessorParameter& from, juce::AudioProcessorParameter& to)
    {
        to.setValueNotifyingHost (from.getValue());
    }
}

ModulationState::ModulationState (const juce::Array<ModulationSlotParameters>& slotParameters, juce::UndoManager* undoManagerToUse)
    : slots (slotParameters), undoManager (undoManagerToUse)
{
    for (const auto& slot : slots)
    {
        slot.modulatorIndex->addListener (this);
        slot.target->addListener (this);
        slot.isBypassed->addListener (this);
    }

    startTimer (16);
}

ModulationState::~ModulationState()
{
    stopTimer();

    for (auto& source : sources)
    {
        source.button->removeListener (this);
        source.button->removeMouseListener (this);
    }

    for (auto& target : targets)
    {
        target.knob->removeMouseListener (this);
        target.amountSlider->removeListener (this);
        target.amountSlider->removeMouseListener (this);
    }

    for (const auto& slot : slots)
    {
        slot.modulatorIndex->removeListener (this);
        slot.target->removeListener (this);
        slot.isBypassed->removeListener (this);
    }
}

void ModulationState::addModulationSource (juce::TextButton& armButton, int modulatorIndex, juce::Colour colour, bool bipolarByDefault)
{
    sources.push_back ({ &armButton, modulatorIndex, bipolarByDefault });
    sourceColours.set (modulatorIndex, colour);
    armButton.addListener (this);
    armButton.addMouseListener (this, false);
}

void ModulationState::addTarget (int parameterIndex, juce::Component* knob, juce::Slider* amountSlider, juce::Button* bypassButton,
                                 juce::Button* polarityButton, float* shownAmount, bool* shownBipolar)
{
    targets.push_back ({ parameterIndex, knob, amountSlider, bypassButton, polarityButton, shownAmount, shownBipolar, {}, {}, {} });

    knob->addMouseListener (this, true);

    amountSlider->setRange (-1.0, 1.0, 0.0);
    amountSlider->setDoubleClickReturnValue (true, 0.0);
    amountSlider->addListener (this);
    amountSlider->addMouseListener (this, false);

    polarityButton->setButtonText ("P");
    bypassButton->setButtonText ("B");
    polarityButton->setClickingTogglesState (true);
    bypassButton->setClickingTogglesState (true);
}

void ModulationState::refreshAll()
{
    for (auto& source : sources)
        source.button->setToggleState (false, juce::sendNotification);

    upToDate = 0;
    refresh();
}

//==============================================================================
void ModulationState::mouseEnter (const juce::MouseEvent& event)
{
    highlightSourcesOf (event.eventComponent);
    upToDate = 0;
    refresh();
}

void ModulationState::mouseExit (const juce::MouseEvent&)
{
    for (auto& source : sources)
        tintSource (source, 0.0f);

    upToDate = 0;
    refresh();
}

void ModulationState::mouseDoubleClick (const juce::MouseEvent& event)
{
    auto* target = findTargetByAmountSlider (event.eventComponent);

    if (target == nullptr || target->amountAttachment == nullptr || ! target->knob->isEnabled())
        return;

    const auto* armed = findArmedSource();
    const auto* slot = armed != nullptr ? findSlot (*target, *armed) : nullptr;

    if (slot != nullptr)
    {
        *slot->target = freeTarget;
        *slot->amount = 0.0f;
        detach (*target);
    }

    highlightSourcesOf (target->knob);
}

void ModulationState::buttonClicked (juce::Button* button)
{
    if (button->getToggleState())
    {
        for (auto& source : sources)
            if (source.button != button)
                source.button->setToggleState (false, juce::dontSendNotification);
    }
    else
    {
        lastArmed = -1;
    }

    upToDate = 0;
    refresh();
}

void ModulationState::sliderDragStarted (juce::Slider* slider)
{
    auto* target = findTargetByAmountSlider (slider);

    if (target == nullptr || target->amountAttachment != nullptr)
        return;

    const auto* slot = findFreeSlot();
    const auto* source = findArmedSource();

    if (slot == nullptr || source == nullptr)
        return;

    *slot->modulatorIndex = source->modulatorIndex;
    *slot->target = target->parameterIndex;
    *slot->isBipolar = source->bipolarByDefault;
    *slot->isBypassed = false;

    attach (*target, *slot);

    // The attachment was made after the slider announced the drag, so it opens the gesture itself;
    // the drag's end, or the attachment going first, closes it.
    target->amountAttachment->beginGesture();

    highlightSourcesOf (target->knob);
}

void ModulationState::parameterValueChanged (int, float)
{
    lastArmed = -1;
    upToDate = 0;
}

void ModulationState::timerCallback()
{
    for (auto& target : targets)
    {
        *target.shownAmount = target.amountSlider->isVisible() ? (float) target.amountSlider->getValue() : 0.0f;
        *target.shownBipolar = target.polarityButton->getToggleState();
    }

    refresh();
}

bool ModulationState::isMouseOverSource (const juce::TextButton& armButton) const
{
    return armButton.isMouseOver (false);
}

//==============================================================================
void ModulationState::refresh()
{
    if (upToDate.exchange (1) != 0)
        return;

    int armed = -1, hovered = -1;

    for (int i = 0; i < (int) sources.size(); ++i)
    {
        if (sources[(size_t) i].button->getToggleState())
            armed = i;

        if (isMouseOverSource (*sources[(size_t) i].button))
            hovered = i;
    }

    // While the same modulator stays armed nothing needs redoing. A parameter callback may reset
    // lastArmed on another thread at any moment: exchanging either sees that reset (and so the new
    // values) or leaves it for the next tick.
    if (armed >= 0 && lastArmed.exchange (armed) == armed)
        return;

    const bool freeSlotExists = findFreeSlot() != nullptr;
    const auto* source = armed >= 0 ? findArmedSource() : findHoveredSource();

    for (auto& target : targets)
    {
        auto colour = target.knob->getLookAndFeel().findColour (juce::TextButton::buttonOnColourId);

        if (armed >= 0 || hovered >= 0)
        {
            const auto* slot = source != nullptr ? findSlot (target, *source) : nullptr;

            // An amount slider being dragged keeps its binding to the same slot: a new one would
            // end the drag's gesture halfway.
            const bool keep = slot != nullptr && target.amountAttachment != nullptr
                              && target.amountSlider->getThumbBeingDragged() >= 0
                              && target.amountAttachment->isAttachedTo (*slot->amount);

            if (! keep)
            {
                detach (target);

                if (slot != nullptr)
                    attach (target, *slot);
            }

            if (slot != nullptr)
                colour = sourceColours[source->modulatorIndex];
        }

        applyVisibility (target, armed >= 0, hovered >= 0, freeSlotExists, colour);
    }
}

void ModulationState::attach (TargetEntry& target, const ModulationSlotParameters& slot)
{
    target.amountAttachment = std::make_unique<BetterSliderParameterAttachment> (*slot.amount, *target.amountSlider, undoManager);
    callRegisterControl (*target.amountSlider, slot.amount);

    target.bypassAttachment = std::make_unique<juce::ButtonParameterAttachment> (*slot.isBypassed, *target.bypassButton, undoManager);
    callRegisterControl (*target.bypassButton, slot.isBypassed);

    target.polarityAttachment = std::make_unique<juce::ButtonParameterAttachment> (*slot.isBipolar, *target.polarityButton, undoManager);
    callRegisterControl (*target.polarityButton, slot.isBipolar);
}

void ModulationState::detach (TargetEntry& target)
{
    callRegisterControl (*target.amountSlider, nullptr);
    target.amountAttachment.reset();
    target.amountSlider->setValue (target.amountSlider->getDoubleClickReturnValue(), juce::sendNotificationAsync);

    callRegisterControl (*target.bypassButton, nullptr);
    target.bypassAttachment.reset();
    target.bypassButton->setToggleState (false, juce::dontSendNotification);

    callRegisterControl (*target.polarityButton, nullptr);
    target.polarityAttachment.reset();
    target.polarityButton->setToggleState (false, juce::dontSendNotification);
}

void ModulationState::applyVisibility (TargetEntry& target, bool armed, bool hovered, bool freeSlotExists, juce::Colour colour)
{
    const bool attached = target.amountAttachment != nullptr;
    const bool enabled = attached || freeSlotExists;
    const float alpha = (enabled ? 1.0f : disabledAlpha) * ((hovered && ! armed) ? previewAlpha : 1.0f);

    const float factor = target.bypassButton->getToggleState() ? 0.5f : 1.0f;
    const auto dimmed = colour.withMultipliedBrightness (factor).withMultipliedSaturation (factor);

    auto& slider = *target.amountSlider;
    slider.setColour (juce::Slider::rotarySliderFillColourId, dimmed);
    slider.setAlpha (alpha);
    slider.setVisible (armed || (hovered && attached));
    slider.setEnabled (enabled);

    const bool buttonsVisible = (armed || hovered) && attached;

    auto& bypass = *target.bypassButton;
    bypass.setColour (juce::TextButton::buttonOnColourId, colour);
    bypass.setAlpha (alpha);
    bypass.setVisible (buttonsVisible);
    bypass.setEnabled (enabled);

    auto& polarity = *target.polarityButton;
    polarity.setColour (juce::TextButton::buttonOnColourId, dimmed);
    polarity.setAlpha (alpha);
    polarity.setVisible (buttonsVisible);
    polarity.setEnabled (enabled);
}

void ModulationState::highlightSourcesOf (const juce::Component* component)
{
    const auto* target = findTargetOfKnobContaining (component);

    if (target == nullptr)
        return;

    for (auto& source : sources)
        tintSource (source, findSlot (*target, source) != nullptr ? highlightProportion : 0.0f);
}

// The look and feel's two button colours, blended towards the modulator's colour.
void ModulationState::tintSource (const SourceEntry& source, float proportion)
{
    const auto colour = sourceColours[source.modulatorIndex];
    auto& lookAndFeel = source.button->getLookAndFeel();

    for (const auto id : { juce::TextButton::buttonColourId, juce::TextButton::buttonOnColourId })
        source.button->setColour (id, lookAndFeel.findColour (id).interpolatedWith (colour, proportion));
}

//==============================================================================
const ModulationState::SourceEntry* ModulationState::findArmedSource() const
{
    for (const auto& source : sources)
        if (source.button->getToggleState())
            return &source;

    return nullptr;
}

const ModulationState::SourceEntry* ModulationState::findHoveredSource() const
{
    for (const auto& source : sources)
        if (isMouseOverSource (*source.button))
            return &source;

    return nullptr;
}

const ModulationSlotParameters* ModulationState::findSlot (const TargetEntry& target, const SourceEntry& source) const
{
    for (const auto& slot : slots)
        if (slot.target->get() == target.parameterIndex && slot.modulatorIndex->get() == source.modulatorIndex)
            return &slot;

    return nullptr;
}

const ModulationSlotParameters* ModulationState::findFreeSlot() const
{
    for (const auto& slot : slots)
        if (slot.target->get() == freeTarget)
            return &slot;

    return nullptr;
}

ModulationState::TargetEntry* ModulationState::findTargetOfKnobContaining (const juce::Component* component)
{
    if (component == nullptr)
        return nullptr;

    for (auto& target : targets)
        if (target.knob == component || target.knob->isParentOf (component))
            return &target;

    return nullptr;
}

ModulationState::TargetEntry* ModulationState::findTargetByAmountSlider (const juce::Component* component)
{
    for (auto& target : targets)
        if (target.amountSlider == component)
            return &target;

    return nullptr;
}

void ModulationState::callRegisterControl (juce::Component& control, juce::AudioProcessorParameter* parameter)
{
    if (registerControl)
        registerControl (control, parameter);
}

//==============================================================================
void ModulationState::copyStreamModulation (const StreamParameters& source, const StreamParameters& destination)
{
    const auto from = source.all();
    const auto to = destination.all();

    for (size_t i = 0; i < from.size(); ++i)
    {
        auto& s = *from[i];
        auto& d = *to[i];
        const int sourceIndex = s.getParameterIndex();
        const int destinationIndex = d.getParameterIndex();

        copyValue (s, d);

        for (const auto& slot : slots)
            if (slot.target->get() == destinationIndex)
                *slot.target = freeTarget;

        for (const auto& routing : slots)
        {
            if (routing.target->get() != sourceIndex)
                continue;

            const auto* copy = findFreeSlot();

            if (copy == nullptr)
                continue;

            *copy->target = destinationIndex;
            copyValue (*routing.modulatorIndex, *copy->modulatorIndex);
            copyValue (*routing.amount, *copy->amount);
            copyValue (*routing.isBipolar, *copy->isBipolar);
            copyValue (*routing.isBypassed, *copy->isBypassed);
        }
    }
}

} // namespace qvl
