#include "editor/PluginEditor.h"

namespace
{
    template <typename Type>
    Type* findAncestorOfType (juce::Component* component)
    {
        for (auto* c = component; c != nullptr; c = c->getParentComponent())
            if (auto* found = dynamic_cast<Type*> (c))
                return found;
        return nullptr;
    }

    bool isSelfOrAncestor (const juce::Component& candidate, const juce::Component* component)
    {
        return component == &candidate || candidate.isParentOf (component);
    }
}

void QuorvalisPluginAudioProcessorEditor::resized()
{
    presetBrowser.close();
    rootContainer.layout (true);
    content.setBounds (0, 0, rootContainer.getWidth(), rootContainer.getHeight());

    const auto scaled = content.getBounds().toFloat().transformedBy (content.getTransform()).getSmallestIntegerContainer();
    setBounds (getX(), getY(), scaled.getWidth(), scaled.getHeight());
}

void QuorvalisPluginAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (findColour (juce::ResizableWindow::backgroundColourId));
}

// Marks every shown control whose parameter is locked or a routing parameter.
void QuorvalisPluginAudioProcessorEditor::paintOverChildren (juce::Graphics& g)
{
    const bool asked = lockButton->getToggleState() || lockButton->isMouseOver() || randomButton->isMouseOver();

    if (! asked || presetBrowser.isVisible())
        return;

    const auto fill = findColour (juce::Label::textColourId).darker (0.5f).withMultipliedAlpha (0.3f);

    const auto mark = [this, &g, fill] (juce::Component& control)
    {
        const auto r = getLocalArea (&control, control.getLocalBounds()).toFloat();
        juce::Path outline;
        outline.addRoundedRectangle (r.getX() + 1.0f, r.getY() + 1.0f, juce::jmax (r.getWidth() - 2.0f, 0.0f),
                                     juce::jmax (r.getHeight() - 2.0f, 0.0f), 4.0f, 4.0f, true, true, true, true);

        g.setColour (fill);
        g.fillPath (outline);
        g.setColour (juce::Colour (0xFF000000));
        g.drawRoundedRectangle (r.getX() + 2.0f, r.getY() + 2.0f, juce::jmax (r.getWidth() - 4.0f, 0.0f),
                                juce::jmax (r.getHeight() - 4.0f, 0.0f), 3.0f, 2.0f);
        g.setColour (juce::Colour (0xFFFFFFFF));
        g.strokePath (outline, juce::PathStrokeType (1.0f));
    };

    // A keyboard's twelve keys share one parameter: they get one mark over the whole keyboard.
    juce::Array<juce::Component*> keyboards;

    for (juce::HashMap<juce::Component*, juce::AudioProcessorParameter*>::Iterator entry (lockRegistry); entry.next();)
    {
        auto* control = entry.getKey();
        const int lockFlags = processor.parameterLockFlags[entry.getValue()->getParameterIndex()];

        if (lockFlags == 0 || ! control->isVisible() || ! control->isShowing())
            continue;

        if (auto* keyboard = findAncestorOfType<NoteQuantizeComponent> (control))
            keyboards.addIfNotAlreadyThere (keyboard);
        else
            mark (*control);
    }

    for (auto* keyboard : keyboards)
        mark (*keyboard);
}

void QuorvalisPluginAudioProcessorEditor::mouseEnter (const juce::MouseEvent& event)
{
    display->selectedStream = -1;

    for (juce::HashMap<juce::Component*, int>::Iterator entry (streamHoverMap); entry.next();)
    {
        if (isSelfOrAncestor (*entry.getKey(), event.eventComponent))
        {
            display->selectedStream = entry.getValue();
            break;
        }
    }
}

void QuorvalisPluginAudioProcessorEditor::mouseExit (const juce::MouseEvent&)
{
    display->selectedStream = -1;
}

void QuorvalisPluginAudioProcessorEditor::mouseUp (const juce::MouseEvent& event)
{
    auto* control = event.eventComponent;
    auto* parameter = lockRegistry.contains (control) ? lockRegistry[control] : nullptr;

    // Lock mode: a plain click toggles both the lock and the mark; a drag toggles nothing.
    if (lockButton->getToggleState() && ! event.mods.isRightButtonDown() && ! event.mouseWasDraggedSinceMouseDown()
        && parameter != nullptr)
    {
        processor.parameterLockFlags.toggle (parameter->getParameterIndex(), ParameterLockFlags::routing | ParameterLockFlags::locked);

        juce::Component* marked = findAncestorOfType<NoteQuantizeComponent> (control);
        if (marked == nullptr)
            marked = control;

        const auto area = getLocalArea (marked, marked->getLocalBounds());
        repaint (area.getX() - 5, area.getY() - 5, juce::jmax (0, area.getWidth() + 10), juce::jmax (0, area.getHeight() + 10));
    }

    // The host's own menu for the parameter under a right click.
    if (event.getNumberOfClicks() == 1 && event.mods.isRightButtonDown() && parameter != nullptr)
    {
        juce::PopupMenu menu;

        if (auto* context = getHostContext())
            if (auto hostMenu = context->getContextMenuForParameter (parameter))
                menu = hostMenu->getEquivalentPopupMenu();

        if (menu.getNumItems() >= 1)
        {
            menu.setLookAndFeel (&lookAndFeel);
            menu.showMenuAsync (juce::PopupMenu::Options().withMousePosition().withTargetComponent (control));
        }
    }

    // A click on an empty place ends lock mode, or else disarms every modulator.
    if (help->getHelpText (control).isNotEmpty() || presetBrowser.isParentOf (control))
        return;

    if (lockButton->getToggleState())
        lockButton->setToggleState (false, juce::sendNotification);
    else
        modulationState.refreshAll();
}

void QuorvalisPluginAudioProcessorEditor::setLockMode (bool on)
{
    // While locking, only the header takes clicks: every other section is disabled, so a click on
    // a control changes nothing and reaches mouseUp alone.
    for (auto* child : rootContainer.getChildren())
        child->setEnabled (! on || child->isParentOf (lockButton));
}

void QuorvalisPluginAudioProcessorEditor::timerCallback()
{
    display->repaint();
    macroNameLabels.refresh();

    const juce::SpinLock::ScopedLockType lock (processor.snapshotLock);
    const auto& values = processor.readSnapshot->modulatedValues;

    for (int i = 0; i < knobsByParameter.size(); ++i)
    {
        auto* knob = knobsByParameter.getUnchecked (i);

        if (knob == nullptr || (size_t) i >= values.size())
            continue;

        auto& slider = knob->knobSlider;
        const float value = values[(size_t) i];
        const auto colour = knob->modulationAmountSlider.findColour (juce::Slider::rotarySliderFillColourId);

        if (slider.modulatedValue != value || slider.modulationDepth != slider.pendingModulationDepth
            || slider.modulationBipolar != slider.pendingModulationBipolar || slider.modulationColour != colour)
        {
            slider.modulatedValue = value;
            slider.modulationDepth = slider.pendingModulationDepth;
            slider.modulationBipolar = slider.pendingModulationBipolar;
            slider.modulationColour = colour;
            slider.repaint();
        }
    }

    processor.displayRequest.exchange (1);
}

// A restored host state replaces every parameter: menus showing old values close, the routing
// shown is rebuilt and the stored scale applies again.
void QuorvalisPluginAudioProcessorEditor::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    if (source != &processor.changeBroadcaster)
        return;

    juce::PopupMenu::dismissAllActiveMenus();
    modulationState.refreshAll();
    setScale (settings->getEditorScale());
}
