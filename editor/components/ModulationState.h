#pragma once

#include "editor/components/BetterSliderParameterAttachment.h"
#include "processor/ParameterHandles.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace qvl
{

// The editor's view of modulation routing. The routing itself lives only in the slot parameters;
// this ties them to the modulators' arm buttons and to each knob's amount slider and its "B" and
// "P" buttons: arming shows the armed modulator's routings, dragging an amount slider takes a free
// slot, double-clicking it frees the slot, hovering an arm button previews its routings, and
// hovering a knob tints the arm buttons of the modulators that reach it.
class ModulationState : private juce::MouseListener,
                        private juce::Button::Listener,
                        private juce::Slider::Listener,
                        private juce::AudioProcessorParameter::Listener,
                        private juce::Timer
{
public:
    ModulationState (const juce::Array<ModulationSlotParameters>& slotParameters, juce::UndoManager* undoManager);
    ~ModulationState() override;

    // Enters a control with its parameter in the editor's lock registry, or takes it out when the
    // parameter is null. May be left empty.
    std::function<void (juce::Component&, juce::AudioProcessorParameter*)> registerControl;

    // The button must toggle on click; it and the knobs' controls must outlive this object.
    void addModulationSource (juce::TextButton& armButton, int modulatorIndex, juce::Colour colour, bool bipolarByDefault);

    void addTarget (int parameterIndex, juce::Component* knob, juce::Slider* amountSlider, juce::Button* bypassButton,
                    juce::Button* polarityButton, float* shownAmount, bool* shownBipolar);

    // Disarms every modulator and shows the routings afresh (state restored, empty place clicked).
    void refreshAll();

    // Copies the source stream's values onto the destination stream and replaces the destination's
    // routings with copies of the source's, as far as free slots last.
    void copyStreamModulation (const StreamParameters& source, const StreamParameters& destination);

protected:
    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;

    void buttonClicked (juce::Button*) override;

    void sliderValueChanged (juce::Slider*) override {}
    void sliderDragStarted (juce::Slider*) override;

    // May arrive on any thread: touches nothing but the two atomics.
    void parameterValueChanged (int parameterIndex, float newValue) override;
    void parameterGestureChanged (int, bool) override {}

    void timerCallback() override;

    // Whether the mouse is over an arm button (children not counted).
    virtual bool isMouseOverSource (const juce::TextButton& armButton) const;

private:
    struct SourceEntry
    {
        juce::TextButton* button;
        int modulatorIndex;
        bool bipolarByDefault;
    };

    struct TargetEntry
    {
        int parameterIndex;
        juce::Component* knob;
        juce::Slider* amountSlider;
        juce::Button* bypassButton;
        juce::Button* polarityButton;
        float* shownAmount;
        bool* shownBipolar;
        std::unique_ptr<BetterSliderParameterAttachment> amountAttachment;
        std::unique_ptr<juce::ButtonParameterAttachment> polarityAttachment;
        std::unique_ptr<juce::ButtonParameterAttachment> bypassAttachment;
    };

    void refresh();
    void attach (TargetEntry&, const ModulationSlotParameters&);
    void detach (TargetEntry&);
    void applyVisibility (TargetEntry&, bool armed, bool hovered, bool freeSlotExists, juce::Colour);
    void highlightSourcesOf (const juce::Component*);
    void tintSource (const SourceEntry&, float proportion);

    const SourceEntry* findArmedSource() const;
    const SourceEntry* findHoveredSource() const;
    const ModulationSlotParameters* findSlot (const TargetEntry&, const SourceEntry&) const;
    const ModulationSlotParameters* findFreeSlot() const;
    TargetEntry* findTargetOfKnobContaining (const juce::Component*);
    TargetEntry* findTargetByAmountSlider (const juce::Component*);

    void callRegisterControl (juce::Component&, juce::AudioProcessorParameter*);

    juce::Array<ModulationSlotParameters> slots;
    const int freeTarget = -1;
    juce::UndoManager* const undoManager;
    std::vector<SourceEntry> sources;
    juce::HashMap<int, juce::Colour> sourceColours;
    std::vector<TargetEntry> targets;

    // Both written by parameter callbacks from any thread, hence atomic.
    std::atomic<int> lastArmed { -1 };
    std::atomic<int> upToDate { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ModulationState)
};

} // namespace qvl
