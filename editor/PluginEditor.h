#pragma once

#include "editor/EditorSettings.h"
#include "editor/QuorvalisLookAndFeel.h"
#include "editor/components/BetterSliderParameterAttachment.h"
#include "editor/components/ContainerComponent.h"
#include "editor/components/DisplayComponent.h"
#include "editor/components/HelpComponent.h"
#include "editor/components/KnobBuilder.h"
#include "editor/components/MacroNameLabels.h"
#include "editor/components/ModulationState.h"
#include "editor/components/NoteQuantizeComponent.h"
#include "editor/components/PresetBrowserComponent.h"
#include "editor/components/ValueTextButton.h"
#include "processor/PluginProcessor.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

// The plug-in's window: a header with the presets and the global commands, the global section
// with the live display, four stream sections, two modulator sections and a bottom row with the
// help strip, the scale buttons and "Bypass". Built once in the constructor; afterwards only
// visibility and values change. Painted by the framework's software renderer: an OpenGL context
// crashed the host when one of two open editors closed, and software GL cost about a core.
class QuorvalisPluginAudioProcessorEditor : public juce::AudioProcessorEditor,
                                            public juce::Timer,
                                            public juce::ChangeListener
{
public:
    explicit QuorvalisPluginAudioProcessorEditor (QuorvalisPluginAudioProcessor&);
    ~QuorvalisPluginAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void paintOverChildren (juce::Graphics&) override;
    void resized() override;
    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void timerCallback() override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    // 0 list, 1 save, 2 delete; the browser covers the window between the header and the help strip.
    void showPresetBrowser (int mode);

    // Scales the content by the factor, limited to 90 % of the display's user area, and sizes the
    // window to it.
    void setScale (float factor);

    // The factors the scale buttons offer.
    static constexpr float scaleFactors[] = { 0.5f, 0.75f, 1.0f, 1.35f, 1.5f, 2.0f };

    // The commands behind the editor's buttons.
    void randomizeParameters();
    void resetAllParameters();
    void pasteStream (int destination, bool withModulation);

    // The timebase (and sync mode, where the knob has one) menu of a "T" button.
    juce::PopupMenu createTimebaseMenu (juce::AudioParameterInt& timebase, juce::AudioParameterInt* sync) const;

    static constexpr int timerIntervalMs = 16;
    static constexpr float dimmedAlpha = 0.35f;

private:
    // Declared first, so the audio thread knows of this editor before anything else is built and
    // after everything else is gone.
    QuorvalisPluginAudioProcessor::OpenEditorToken openEditorToken;

public:
    QuorvalisPluginAudioProcessor& processor;

private:
    qvl::QuorvalisLookAndFeel lookAndFeel;
    juce::SharedResourcePointer<EditorSettings> settings;

public:
    qvl::next::ContainerComponent rootContainer;
    juce::Component content;
    juce::OwnedArray<juce::Component> ownedComponents;
    DisplayComponent* display = nullptr;
    qvl::HelpComponent* help = nullptr;
    qvl::PresetBrowserComponent presetBrowser;
    MacroNameLabels macroNameLabels;
    int copySourceStream = -1;
    juce::HashMap<juce::Component*, juce::AudioProcessorParameter*> lockRegistry;
    juce::Array<qvl::Knob*> knobsByParameter;
    juce::TextButton* lockButton = nullptr;
    juce::TextButton* randomButton = nullptr;
    juce::HashMap<juce::Component*, int> streamHoverMap;
    qvl::ModulationState modulationState;

private:
    juce::OwnedArray<juce::ParameterAttachment> parameterAttachments;
    juce::OwnedArray<qvl::BetterSliderParameterAttachment> sliderAttachments;
    juce::OwnedArray<juce::ButtonParameterAttachment> buttonAttachments;
    juce::OwnedArray<NoteQuantizeComponentParameterAttachment> noteQuantizeAttachments;

    // Enters a control and its parameter for locking and the host's menu; a null parameter takes
    // the control out.
    std::function<void (juce::Component&, juce::AudioProcessorParameter*)> registerLockTarget;
    qvl::KnobContext knobContext;

    using Container = qvl::next::ContainerComponent;

    // Building the face.
    void buildHeader();
    void buildGlobalSection();
    void buildStreamSection (int stream);
    void buildModulatorSections();
    void buildBottomRow();

    qvl::Knob* createKnob (Container&, juce::RangedAudioParameter&, const juce::String& label, const juce::String& help);
    qvl::Knob* createKnob (Container&, juce::RangedAudioParameter&, const juce::String& label, const juce::String& help,
                           juce::Colour);
    static std::unique_ptr<juce::TextButton> makeTextButton (const juce::String& text);
    juce::TextButton* addButtonWithHelp (std::unique_ptr<juce::TextButton>, const juce::String& help);
    void attachButton (juce::RangedAudioParameter&, juce::Button&);
    void attachTimebaseButton (qvl::Knob&, juce::AudioParameterInt& timebase, juce::AudioParameterInt* sync);
    void showTimebaseMenu (qvl::Knob&, juce::AudioParameterInt& timebase, juce::AudioParameterInt* sync);
    void addCollapseButton (int section, Container&, std::vector<juce::Component*> items);

    // A parameter attachment that only calls back, for the dimming rules and the timebase buttons.
    void addCallbackAttachment (juce::RangedAudioParameter&, std::function<void (float)>);

    void setLockMode (bool on);
    void revealCurrentPreset();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorvalisPluginAudioProcessorEditor)
};
