#include "editor/PluginEditor.h"

#include "editor/Palette.h"

namespace
{
    using Options = qvl::next::ContainerComponent::Options;
    constexpr int leftTop = qvl::next::ContainerComponent::leftTop;
    constexpr int rightTop = qvl::next::ContainerComponent::rightTop;

    //                                         vertical spacing width height top bottom left right
    const Options rootColumn               { true,  4, 0,  0,  16, 16, 16, 16 };
    const Options buttonRow                { false, 4, 80, 24, 0,  0,  0,  0 };
    const Options headerRow                { false, 4, 80, 24, 0,  8,  0,  0 };
    const Options knobRow                  { false, 4, 80, 72, 0,  8,  0,  0 };
    const Options globalRow                { false, 4, 0,  0,  0,  0,  0,  0 };
    const Options globalColumn             { true,  4, 80, 24, 0,  0,  0,  0 };
    const Options globalKnobRow            { false, 4, 80, 72, 0,  0,  0,  0 };
    const Options switchColumn             { true,  0, 80, 24, 0,  0,  0,  0 };
    const Options tightRow                 { false, 0, 80, 24, 0,  0,  0,  0 };

    const char* const armHelp = "Drag the small knobs to assign or change the modulation amount or double click to remove modulation.";

    bool isOn (const juce::AudioProcessorParameter& parameter) { return parameter.getValue() >= 0.5f; }

    // An alpha is set only when it changes (as the component keeps it, in 255ths), so repaints
    // happen only then.
    void setAlphaIfChanged (juce::Component& component, float alpha)
    {
        if (juce::roundToInt (component.getAlpha() * 255.0f) != juce::roundToInt (alpha * 255.0f))
            component.setAlpha (alpha);
    }

    void addSpacer (qvl::next::ContainerComponent& container, int width)
    {
        container.addOwnedItem (std::make_unique<juce::Component>(), width, 0, leftTop);
    }

    // A stream knob's label: its parameter's name without the stream, "Grain" and "ADSR ".
    juce::String streamKnobLabel (const juce::RangedAudioParameter& parameter, const juce::String& streamName)
    {
        return parameter.name.replace (streamName, "")
                             .replace ("Grain", "")
                             .replace ("Reverse Probability", "Reverse")
                             .replace ("ADSR ", "")
                             .trim();
    }
}

QuorvalisPluginAudioProcessorEditor::QuorvalisPluginAudioProcessorEditor (QuorvalisPluginAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      openEditorToken (p),
      processor (p),
      rootContainer (rootColumn),
      presetBrowser (p.presets),
      macroNameLabels (p.programProperties),
      modulationState (p.modulationSlotParameters, p.parameterState.undoManager)
{
    setLookAndFeel (&lookAndFeel);
    addMouseListener (this, true);

    registerLockTarget = [this] (juce::Component& control, juce::AudioProcessorParameter* parameter)
    {
        if (parameter != nullptr)
            lockRegistry.set (&control, parameter);
        else
            lockRegistry.remove (&control);
    };

    modulationState.registerControl = registerLockTarget;

    knobContext.undoManager = p.parameterState.undoManager;
    knobContext.sliderAttachments = &sliderAttachments;
    knobContext.ownedComponents = &ownedComponents;
    knobContext.knobsByParameter = &knobsByParameter;
    knobContext.registerLockTarget = registerLockTarget;
    knobContext.addModulationTarget = [this] (int index, qvl::Knob& knob)
    {
        modulationState.addTarget (index, &knob, &knob.modulationAmountSlider, &knob.bypassButton, &knob.polarityButton,
                                   &knob.knobSlider.pendingModulationDepth, &knob.knobSlider.pendingModulationBipolar);
    };

    help = static_cast<qvl::HelpComponent*> (ownedComponents.add (new qvl::HelpComponent()));
    knobContext.help = help;
    addChildComponent (presetBrowser);
    help->setHelpText (&presetBrowser, "Press Esc or click the empty area to close");

    buildHeader();
    buildGlobalSection();

    for (int stream = 0; stream < ParameterCounts::streams; ++stream)
        buildStreamSection (stream);

    buildModulatorSections();
    buildBottomRow();

    for (auto* attachment : parameterAttachments)
        attachment->sendInitialUpdate();

    startTimer (timerIntervalMs);
    processor.changeBroadcaster.addChangeListener (this);

    addAndMakeVisible (content);
    content.addAndMakeVisible (rootContainer);
    setResizable (false, false);

    resized();
    setScale (settings->getEditorScale());
}

QuorvalisPluginAudioProcessorEditor::~QuorvalisPluginAudioProcessorEditor()
{
    juce::PopupMenu::dismissAllActiveMenus();
    setLookAndFeel (nullptr);
    processor.changeBroadcaster.removeChangeListener (this);
    stopTimer();
}

//==============================================================================
qvl::Knob* QuorvalisPluginAudioProcessorEditor::createKnob (Container& container, juce::RangedAudioParameter& parameter,
                                                            const juce::String& label, const juce::String& helpText)
{
    return qvl::createKnob (knobContext, container, parameter, label, helpText);
}

qvl::Knob* QuorvalisPluginAudioProcessorEditor::createKnob (Container& container, juce::RangedAudioParameter& parameter,
                                                            const juce::String& label, const juce::String& helpText,
                                                            juce::Colour colour)
{
    return qvl::createKnob (knobContext, container, parameter, label, helpText, colour);
}

std::unique_ptr<juce::TextButton> QuorvalisPluginAudioProcessorEditor::makeTextButton (const juce::String& text)
{
    return std::make_unique<juce::TextButton> (text);
}

juce::TextButton* QuorvalisPluginAudioProcessorEditor::addButtonWithHelp (std::unique_ptr<juce::TextButton> button,
                                                                          const juce::String& helpText)
{
    return qvl::addWithHelp (knobContext, std::move (button), helpText);
}

void QuorvalisPluginAudioProcessorEditor::addCallbackAttachment (juce::RangedAudioParameter& parameter,
                                                                 std::function<void (float)> callback)
{
    parameterAttachments.add (new juce::ParameterAttachment (parameter, std::move (callback), nullptr));
}

//==============================================================================
void QuorvalisPluginAudioProcessorEditor::buildHeader()
{
    auto& header = *rootContainer.addContainer (headerRow);

    // The header's buttons belong to the header row.
    const auto addHeaderButton = [this, &header] (std::unique_ptr<juce::TextButton> button, int width, int placement,
                                                  const juce::String& helpText)
    {
        auto* raw = header.addOwnedItem (std::move (button), width, 0, placement);
        help->setHelpText (raw, helpText);
        return raw;
    };

    auto presetName = std::make_unique<qvl::ValueTextButton>();
    presetName->value.referTo (processor.presets.presetName);
    presetName->setTriggeredOnMouseDown (true);
    presetName->onClick = [this] { showPresetBrowser (qvl::PresetBrowserComponent::listMode); };
    addHeaderButton (std::move (presetName), 584, leftTop, "Show preset browser");

    for (const int step : { -1, 1 })
    {
        auto* button = addHeaderButton (makeTextButton (step < 0 ? "<" : ">"), 40, leftTop,
                                        step < 0 ? "Load previous preset" : "Load next preset");
        button->onClick = [this, step]
        {
            presetBrowser.close();
            processor.presets.loadAdjacentPreset (step);
        };
    }

    auto* save = addHeaderButton (makeTextButton ("Save..."), 80, leftTop, "Save preset...");
    save->setTriggeredOnMouseDown (true);
    save->onClick = [this] { showPresetBrowser (qvl::PresetBrowserComponent::saveMode); };

    auto* remove = addHeaderButton (makeTextButton ("Delete..."), 0, leftTop, "Delete current preset...");
    remove->onClick = [this] { showPresetBrowser (qvl::PresetBrowserComponent::deleteMode); };

    lockButton = addHeaderButton (makeTextButton ("Lock"), 80, rightTop,
                                  "Click buttons or knobs to toggle locking. Locked parameters are not changed when "
                                  "loading presets or clicking the 'Random' button");
    lockButton->setClickingTogglesState (true);
    lockButton->onClick = [this] { setLockMode (lockButton->getToggleState()); };

    randomButton = addHeaderButton (makeTextButton ("Random"), 80, rightTop, "Randomize parameters (excluding locked controls)");
    randomButton->onClick = [this] { randomizeParameters(); };

    // The overlay of locked parameters shows while either button is hovered.
    lockButton->onStateChange = [this] { repaint(); };
    randomButton->onStateChange = [this] { repaint(); };

    auto* reset = addHeaderButton (makeTextButton ("Reset"), 0, rightTop,
                                   "Reset all parameters to the default values and unlock all parameters");
    reset->onClick = [this] { resetAllParameters(); };

    auto* reveal = addHeaderButton (makeTextButton ("Reveal"), 0, rightTop, "Open Explorer/Finder and show the current preset file");
    reveal->onClick = [this] { revealCurrentPreset(); };
}

void QuorvalisPluginAudioProcessorEditor::buildGlobalSection()
{
    auto& row = *rootContainer.addContainer (globalRow);
    auto& column = *row.addContainer (globalColumn);
    auto& knobs = *column.addContainer (globalKnobRow);
    auto& knobs2 = *column.addContainer (knobRow);

    // The volume labels keep their leading blank: " Dry".
    for (auto* parameter : { processor.dryGainParameter, processor.bufferGainParameter, processor.granulatorGainParameter })
        createKnob (knobs, *parameter, parameter->name.replace ("Volume:", ""), parameter->name);

    createKnob (knobs, *processor.grainCountLimitParameter, "Max Grains",
                "Limit the maximum number of active grains. This can be useful to reduce CPU load.");

    auto& switches = *knobs2.addContainer (switchColumn);
    auto* input = createKnob (knobs2, *processor.inputGainParameter, "Input", "Change the input volume");
    auto* feedback = createKnob (knobs2, *processor.feedbackParameter, "Feedback", "Change buffer feedback");

    // Frozen, the buffer takes no input and loses nothing to feedback: both knobs have no effect.
    addCallbackAttachment (*processor.freezeParameter, [input, feedback] (float frozen)
    {
        for (auto* knob : { input, feedback })
            setAlphaIfChanged (*knob, frozen >= 0.5f ? dimmedAlpha : 1.0f);
    });

    auto* size = createKnob (knobs2, *processor.bufferSizeParameter, "Buffer Size",
                             "Change buffer size (clears the buffer when changed)");
    attachTimebaseButton (*size, *processor.bufferSizeTimebaseParameter, nullptr);

    auto* freeze = addButtonWithHelp (makeTextButton ("Freeze"),
                                      "Freeze buffer contents. No input is added to the buffer and no feedback loss is applied.");
    freeze->setClickingTogglesState (true);
    switches.addItem (freeze, 80, 24, leftTop);
    attachButton (*processor.freezeParameter, *freeze);

    auto* sync = addButtonWithHelp (makeTextButton ("Sync"),
                                    "Sync write position to host playhead (Can cause clicks when seeking/looping)");
    sync->setClickingTogglesState (true);
    switches.addItem (sync, 80, 24, leftTop);
    attachButton (*processor.bufferWriteSyncParameter, *sync);

    auto* clear = addButtonWithHelp (makeTextButton ("Clear"), "Clear the buffer");
    clear->onClick = [this] { processor.clearBufferRequest.store (1); };
    switches.addItem (clear, 80, 24, leftTop);

    auto newDisplay = std::make_unique<DisplayComponent> (processor);
    display = row.addOwnedItem (std::move (newDisplay), 840, 148, leftTop);
}

void QuorvalisPluginAudioProcessorEditor::buildStreamSection (int stream)
{
    auto& s = processor.streamParameters[(size_t) stream];
    const auto name = "Stream " + juce::String (stream + 1);
    const auto colour = qvl::streamColours[(size_t) stream];

    auto& title = *rootContainer.addContainer (buttonRow);
    auto& knobs = *rootContainer.addContainer (knobRow);

    auto* enable = addButtonWithHelp (makeTextButton (name), "Enable " + name);
    enable->setClickingTogglesState (true);
    enable->setColour (juce::TextButton::buttonOnColourId, colour);
    title.addItem (enable, 80, 0, leftTop);

    for (int i = 0; i < 3; ++i)
        addSpacer (title, 80);

    struct StreamCommand { const char* text; int edges; const char* help; };
    const StreamCommand commands[] = {
        { "Copy", juce::Button::ConnectedOnRight, "Copy stream parameters to clipboard" },
        { "Paste", juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight,
          "Paste stream parameter values from clipboard (modulation is not affected)" },
        { "Paste Mod.", juce::Button::ConnectedOnLeft, "Paste stream parameters with modulation (clears existing modulation)." },
    };

    for (int c = 0; c < 3; ++c)
    {
        auto* button = addButtonWithHelp (makeTextButton (commands[c].text), commands[c].help);
        button->setConnectedEdges (commands[c].edges);
        title.addItem (button, 80, 0, leftTop);

        if (c == 0)
            button->onClick = [this, stream] { copySourceStream = stream; };
        else
            button->onClick = [this, stream, withModulation = c == 2] { pasteStream (stream, withModulation); };
    }

    struct KnobSpec { juce::RangedAudioParameter* parameter; const char* help; };
    const KnobSpec specs[] = {
        { s.position, "Controls the grain start position within the buffer" },
        { s.increment, "Controls how fast grain start positions move along the buffer (indicated by the vertical lines)" },
        { s.rate, "Controls how often new grains are started. The selected timebase (T) will be multiplied by this value" },
        { s.grainLength, "Length of the grains. The selected timebase (T) will be multiplied by this value" },
        { s.grainPitch, "Grain Pitch (in semitones)" },
        { s.reverseProbability, "Controls the probability of a grain playing in reverse. At 0.0 all grains play forwards, at 1.0 all grains are reversed" },
        { s.adsrAttack, "Length of the Attack phase of the ADSR envelope relative to the grain length (set by the Length knob)" },
        { s.adsrDecay, "Length of the Decay phase of the ADSR envelope relative to the grain length (set by the Length knob)" },
        { s.adsrSustain, "Gain of the Sustain phase of the ADSR envelope" },
        { s.adsrRelease, "Length of the Release phase of the ADSR envelope relative to the grain length (set by the Length knob)" },
        { s.balance, "Controls which channel is sampled by the grains. 0.0 = left, 1.0 = right, 0.5 = both (summed)" },
        { s.grainPan, "Pan grains. 0.0 = left, 1.0 = right" },
        { s.grainVolumeDb, "Grain Volume " },
    };

    std::vector<juce::Component*> controls, envelope;
    juce::TextButton* adsr = nullptr;

    for (const auto& spec : specs)
    {
        auto* parameter = spec.parameter;

        if (parameter == s.adsrAttack)
        {
            addSpacer (title, 122);
            adsr = addButtonWithHelp (makeTextButton ("ADSR"), "Toggle ADSR grain envelope");
            adsr->setClickingTogglesState (true);
            title.addItem (adsr, 0, 0, leftTop);
            attachButton (*s.adsrEnabled, *adsr);
            streamHoverMap.set (adsr, stream);
        }

        auto* knob = createKnob (knobs, *parameter, streamKnobLabel (*parameter, name), spec.help, colour);
        controls.push_back (knob);

        if (parameter == s.position)
        {
            knob->extraButton.setButtonText ("0");
            knob->extraButton.setVisible (true);
            help->setHelpText (&knob->extraButton, "Reset grain start position to the value set by the Position knob");
            knob->extraButton.onClick = [this, stream] { processor.streamResetRequests[(size_t) stream].store (1); };
        }
        else if (parameter == s.rate)
        {
            attachTimebaseButton (*knob, *s.rateTimebase, s.rateSync);
        }
        else if (parameter == s.grainLength)
        {
            attachTimebaseButton (*knob, *s.grainLengthTimebase, nullptr);
        }
        else if (parameter == s.grainPitch)
        {
            auto* keyboard = static_cast<NoteQuantizeComponent*> (ownedComponents.add (new NoteQuantizeComponent()));
            knobs.addItem (keyboard, 80, 0, leftTop);
            help->setHelpText (keyboard, "Quantize grain pitch");

            for (auto* key : keyboard->keys)
            {
                key->setColour (juce::TextButton::buttonOnColourId, colour);
                help->setHelpText (key, "Quantize grain pitch");
                registerLockTarget (*key, s.grainPitchQuantize);
            }

            noteQuantizeAttachments.add (new NoteQuantizeComponentParameterAttachment (*s.grainPitchQuantize, *keyboard,
                                                                                       processor.parameterState.undoManager));
            controls.push_back (keyboard);
        }
        else if (parameter == s.adsrAttack || parameter == s.adsrDecay || parameter == s.adsrSustain || parameter == s.adsrRelease)
        {
            envelope.push_back (knob);
            streamHoverMap.set (knob, stream);
        }
    }

    controls.insert (controls.begin(), adsr);

    addCollapseButton (stream, title, { &knobs });

    // The envelope knobs matter only while the stream and its envelope are both on; the rest of
    // the stream only while the stream is on. Either switch recomputes from both.
    const auto updateEnvelope = [&s, envelope]
    {
        for (auto* knob : envelope)
            setAlphaIfChanged (*knob, isOn (*s.isEnabled) && isOn (*s.adsrEnabled) ? 1.0f : dimmedAlpha);
    };

    addCallbackAttachment (*s.adsrEnabled, [updateEnvelope] (float) { updateEnvelope(); });
    addCallbackAttachment (*s.isEnabled, [&s, controls, updateEnvelope] (float)
    {
        for (auto* control : controls)
            setAlphaIfChanged (*control, isOn (*s.isEnabled) ? 1.0f : dimmedAlpha);
        updateEnvelope();
    });

    attachButton (*s.isEnabled, *enable);
}

void QuorvalisPluginAudioProcessorEditor::buildModulatorSections()
{
    auto& titleA = *rootContainer.addContainer (buttonRow);
    auto& contentA = *rootContainer.addContainer (knobRow);
    auto& titleB = *rootContainer.addContainer (buttonRow);
    auto& contentB = *rootContainer.addContainer (knobRow);

    for (const auto& info : processor.modulationEngine.modulators)
    {
        const int kind = (int) info.kind;
        const int k = info.indexInKind;
        const auto number = juce::String (k + 1);
        const auto name = (juce::String (qvl::getModulatorKindName (kind)) + " " + number)
                              .replace ("Audio 1", "Audio In")
                              .replace ("Audio 2", "Audio Out");
        const auto colour = qvl::modulatorColours[(size_t) kind];

        auto* arm = addButtonWithHelp (makeTextButton (name), "Arm " + name + ". " + armHelp);
        arm->setClickingTogglesState (true);
        modulationState.addModulationSource (*arm, info.sourceIndex, colour,
                                             info.kind == qvl::ModulatorKind::LFO || info.kind == qvl::ModulatorKind::Random);

        switch (info.kind)
        {
            case qvl::ModulatorKind::LFO:
            {
                const auto& lfo = processor.lfoParameters[(size_t) k];
                addSpacer (titleA, 38);
                titleA.addItem (arm, 80, 0, leftTop);
                addSpacer (titleA, 38);

                auto* rate = createKnob (contentA, *lfo.rate, "Rate",
                                         "LFO " + number + " rate. The selected timebase (T) will be multiplied by this value", colour);
                attachTimebaseButton (*rate, *lfo.timebase, lfo.sync);
                createKnob (contentA, *lfo.shape, "Shape", name + " shape", colour);
                break;
            }

            case qvl::ModulatorKind::Random:
            {
                auto& random = processor.randomParameters[(size_t) k];
                auto& bar = *titleB.addContainer (tightRow);
                addSpacer (bar, 22);
                arm->setConnectedEdges (juce::Button::ConnectedOnRight);
                bar.addItem (arm, 80, 0, leftTop);

                auto* trigger = addButtonWithHelp (makeTextButton ("R"),
                    "Trigger randomization event. Hint: set the Probability knob to 0.0 for fully manual randomization.");
                trigger->setConnectedEdges (juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight);
                trigger->onClick = [&random] { random.triggerRequest->store (1); };
                bar.addItem (trigger, 20, 0, leftTop);

                auto* zero = addButtonWithHelp (makeTextButton ("0"), "Set randomizer output to 0.0 for all target parameters.");
                zero->setConnectedEdges (juce::Button::ConnectedOnLeft);
                zero->onClick = [&random] { random.clearRequest->store (1); };
                bar.addItem (zero, 20, 0, leftTop);
                addSpacer (bar, 22);

                auto* rate = createKnob (contentB, *random.rate, "Rate",
                                         "Randomizer " + number + " rate. The selected timebase (T) will be multiplied by this value",
                                         colour);
                attachTimebaseButton (*rate, *random.timebase, random.sync);
                createKnob (contentB, *random.probability, "Probability",
                            "Probability of modulated parameters being randomized at each period", colour);
                break;
            }

            case qvl::ModulatorKind::Macro:
            {
                if (k == 0)
                {
                    addSpacer (titleB, 80);
                    addSpacer (contentB, 80);
                }

                titleB.addItem (arm, 80, 0, leftTop);

                auto* macro = createKnob (contentB, *processor.macroParameters[(size_t) k], "Macro", "Macro " + number, colour);

                // The name label shows and edits the macro's stored name.
                macro->nameLabel.setEditable (true, false, false);
                macro->nameLabel.getTextValue().referTo (macroNameLabels.getValue (k));

                macro->extraButton.setButtonText ("E");
                macro->extraButton.setVisible (true);
                help->setHelpText (&macro->extraButton, "Edit macro name");
                macro->extraButton.onClick = [macro]
                {
                    macro->valueLabel.setVisible (false);
                    macro->modulationAmountLabel.setVisible (false);
                    macro->nameLabel.setVisible (true);
                    macro->nameLabel.showEditor();
                };
                break;
            }

            case qvl::ModulatorKind::Audio:
            {
                const auto& follower = processor.audioFollowerParameters[(size_t) k];
                addSpacer (titleA, 80);
                titleA.addItem (arm, 80, 0, leftTop);
                if (k == 0)
                    addSpacer (titleA, 80);

                createKnob (contentA, *follower.gain, "Gain", follower.gain->name, colour);
                createKnob (contentA, *follower.rise, "Rise Time", follower.rise->name, colour);
                createKnob (contentA, *follower.fall, "Fall Time", follower.fall->name, colour);
                break;
            }
        }
    }

    addCollapseButton (4, titleA, { &contentA });
    addCollapseButton (5, titleB, { &contentB });
}

void QuorvalisPluginAudioProcessorEditor::buildBottomRow()
{
    auto& row = *rootContainer.addContainer (buttonRow);
    row.addItem (help, 836, 0, leftTop);

    auto& scales = *row.addContainer (tightRow);
    const int count = (int) std::size (scaleFactors);

    for (int i = 0; i < count; ++i)
    {
        const float factor = scaleFactors[i];
        const auto text = juce::String (juce::roundToInt (factor * 100.0f));
        auto* button = addButtonWithHelp (makeTextButton (text),
                                          "Set UI scale factor to " + text + "%. (the size will be limited to fit the display)");
        button->setConnectedEdges ((i > 0 ? juce::Button::ConnectedOnLeft : 0) | (i < count - 1 ? juce::Button::ConnectedOnRight : 0));
        button->onClick = [this, factor]
        {
            settings->storeEditorScale (factor);
            setScale (factor);
        };
        scales.addItem (button, 40, 24, leftTop);
    }

    auto* bypass = addButtonWithHelp (makeTextButton ("Bypass"), "Bypass audio processing");
    bypass->setClickingTogglesState (true);
    row.addItem (bypass, 80, 0, rightTop);
    attachButton (*processor.bypassParameter, *bypass);

    help->setDefaultText ("Quorvalis v" + juce::String (JucePlugin_VersionString));
}
