#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// A one-octave vertical keyboard of twelve toggle keys, C at the bottom, black keys on the left.
// Key i stands for pitch class i; a click toggles the key and sends a change message.
class NoteQuantizeComponent : public juce::Component,
                              public juce::ChangeBroadcaster
{
public:
    NoteQuantizeComponent();
    ~NoteQuantizeComponent() override;

    void resized() override;

    // Bit i set: pitch class i is a white key.
    static constexpr int whiteKeyMask = 0xAB5;
    static constexpr int stripWidth = 46;

    juce::OwnedArray<juce::TextButton> keys;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NoteQuantizeComponent)
};

// Binds a keyboard to a pitch-quantize parameter holding a twelve-bit mask. Parameter changes set
// the keys without writing back; a click writes the whole mask as one gesture.
class NoteQuantizeComponentParameterAttachment : public juce::ChangeListener
{
public:
    NoteQuantizeComponentParameterAttachment (juce::RangedAudioParameter& parameter, NoteQuantizeComponent& component,
                                              juce::UndoManager* undoManager = nullptr);
    ~NoteQuantizeComponentParameterAttachment() override;

    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

private:
    void setKeys (float value);

    NoteQuantizeComponent& component;
    juce::ParameterAttachment attachment;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NoteQuantizeComponentParameterAttachment)
};
