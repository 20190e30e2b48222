#include "editor/components/NoteQuantizeComponent.h"

namespace
{
    bool isWhiteKey (int pitchClass) { return ((NoteQuantizeComponent::whiteKeyMask >> pitchClass) & 1) != 0; }
}

NoteQuantizeComponent::NoteQuantizeComponent()
{
    for (int i = 0; i < 12; ++i)
    {
        auto* key = keys.add (std::make_unique<juce::TextButton>());
        key->setConnectedEdges (juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom);
        key->setClickingTogglesState (true);
        key->onClick = [this] { sendChangeMessage(); };
        addAndMakeVisible (key);
    }
}

NoteQuantizeComponent::~NoteQuantizeComponent() = default;

void NoteQuantizeComponent::resized()
{
    const int w = getWidth();
    const int h = getHeight();
    const int margin = (w - stripWidth) / 2;
    const auto stripW = (float) juce::jmax (w - 2 * margin, 0);
    const auto stripH = (float) juce::jmax (h, 0);
    const float keyHeight = (float) h / 7.0f;

    // Black keys sit half a key higher, so each straddles the two white keys around it.
    juce::Rectangle<float> black ((float) margin, 0.0f, stripW * 0.5f, juce::jmax (stripH - keyHeight * 0.5f, 0.0f));
    juce::Rectangle<float> white ((float) margin + stripW * 0.5f, 0.0f, stripW * 0.5f, stripH);

    auto cutKey = [keyHeight] (juce::Rectangle<float>& column)
    {
        return column.removeFromBottom (juce::jmin (keyHeight, column.getHeight()));
    };

    for (int i = 0; i < keys.size(); ++i)
    {
        auto& column = isWhiteKey (i) ? white : black;
        keys[i]->setBounds (cutKey (column).getSmallestIntegerContainer());

        // No black key between E and F or above B.
        if (i == 4 || i == 11)
            cutKey (black);
    }
}

//==============================================================================
NoteQuantizeComponentParameterAttachment::NoteQuantizeComponentParameterAttachment (juce::RangedAudioParameter& parameter,
                                                                                    NoteQuantizeComponent& componentToUse,
                                                                                    juce::UndoManager* undoManager)
    : component (componentToUse),
      attachment (parameter, [this] (float value) { setKeys (value); }, undoManager)
{
    component.addChangeListener (this);
    attachment.sendInitialUpdate();
}

NoteQuantizeComponentParameterAttachment::~NoteQuantizeComponentParameterAttachment()
{
    component.removeChangeListener (this);
}

void NoteQuantizeComponentParameterAttachment::setKeys (float value)
{
    const int mask = juce::roundToInt (value);

    for (int i = 0; i < component.keys.size(); ++i)
        component.keys[i]->setToggleState (((mask >> i) & 1) != 0, juce::dontSendNotification);
}

void NoteQuantizeComponentParameterAttachment::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    if (source != &component)
        return;

    int mask = 0;
    for (int i = 0; i < component.keys.size(); ++i)
        if (component.keys[i]->getToggleState())
            mask |= 1 << i;

    attachment.setValueAsCompleteGesture ((float) mask);
}
