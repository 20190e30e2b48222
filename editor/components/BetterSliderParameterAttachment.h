#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace qvl
{

// Binds a slider to a parameter both ways. Unlike the framework's attachment it clamps and snaps
// typed values, shows the parameter's own text with its label, snaps the double-click default
// and shows 0 or 4 decimals depending on the parameter's step.
class BetterSliderParameterAttachment : private juce::Slider::Listener
{
public:
    BetterSliderParameterAttachment (juce::RangedAudioParameter& parameter, juce::Slider& slider,
                                     juce::UndoManager* undoManager = nullptr);
    ~BetterSliderParameterAttachment() override;

    // Opens a change gesture on the parameter unless one is open; it ends with the slider's drag,
    // or with this attachment when that goes first (the editor closed mid-drag).
    void beginGesture();

    bool isAttachedTo (const juce::RangedAudioParameter& p) const noexcept { return &parameter == &p; }

private:
    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;

    void setValue (float newValue);

    juce::Slider& slider;
    juce::RangedAudioParameter& parameter;
    juce::UndoManager* undoManager;
    juce::ParameterAttachment attachment;
    bool ignoreCallbacks = false;
    bool gestureOpen = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BetterSliderParameterAttachment)
};

} // namespace qvl
