// The editor's costs on the message thread: opening, painting (software renderer, into images,
// no display needed), the 16 ms refresh ticks of the editor and of the modulation-assignment state.
#include "editor/PluginEditor.h"
#include "tests/support/MessagePump.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace
{
    using Editor = QuorvalisPluginAudioProcessorEditor;

    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    juce::Image makeImage (int width, int height)
    {
        return juce::Image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    }

    // Messages left by one iteration (async updates of destroyed components, timers) must not pile
    // up over thousands of iterations.
    void drainMessages()
    {
        for (int i = 0; i < 100000 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
        {
        }
    }

    // A playing processor's read-side picture: 5 s of noise in the buffer, every stream enabled,
    // the pool full of grains and every target carrying a modulated value.
    void fillSnapshot (QuorvalisPluginAudioProcessor& processor)
    {
        processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);

        for (auto& stream : processor.streamParameters)
            stream.isEnabled->setValueNotifyingHost (1.0f);

        std::mt19937 rng (11);
        std::uniform_real_distribution<float> unit (0.0f, 1.0f);

        const juce::SpinLock::ScopedLockType lock (processor.snapshotLock);
        auto& snapshot = *processor.readSnapshot;
        const int length = snapshot.buffer.getNumSamples();

        for (int c = 0; c < snapshot.buffer.getNumChannels(); ++c)
        {
            auto* samples = snapshot.buffer.getWritePointer (c);
            for (int i = 0; i < length; ++i)
                samples[i] = unit (rng) - 0.5f;
        }

        const auto grains = snapshot.grainPositions.size();
        for (size_t i = 0; i < grains; ++i)
        {
            snapshot.grainPositions[i] = unit (rng);
            snapshot.grainPans[i] = unit (rng);
            snapshot.grainStreams[i] = (int) (i % snapshot.streamPositions.size());
        }

        for (size_t s = 0; s < snapshot.streamPositions.size(); ++s)
            snapshot.streamPositions[s] = (std::int64_t) (length / 5) * (std::int64_t) (s + 1) - 1000;

        snapshot.writePosition = length / 3;
        snapshot.grainCount = (std::int32_t) grains;
        snapshot.grainLimit = (std::int32_t) grains;

        for (auto& value : snapshot.modulatedValues)
            value = unit (rng);
    }

    // An open editor as a host holds it, at scale 1.0 whatever the settings file or display say.
    struct OpenEditor
    {
        explicit OpenEditor (QuorvalisPluginAudioProcessor& p) : processor (p), editor (std::make_unique<Editor> (p))
        {
            if (! editor->content.getTransform().isIdentity())
            {
                editor->content.setTransform ({});
                editor->resized();
            }
        }

        ~OpenEditor()
        {
            processor.editorBeingDeleted (editor.get());
            editor.reset();
        }

        QuorvalisPluginAudioProcessor& processor;
        std::unique_ptr<Editor> editor;
    };

    juce::TextButton* findButton (juce::Component& root, const juce::String& text)
    {
        for (auto* child : root.getChildren())
        {
            if (auto* button = dynamic_cast<juce::TextButton*> (child); button != nullptr && button->getButtonText() == text)
                return button;

            if (auto* found = findButton (*child, text))
                return found;
        }

        return nullptr;
    }

    // The state's refresh is its (protected) timer callback; a member pointer named through a
    // derived class reaches it without changing the class.
    struct ModulationStateTick : qvl::ModulationState
    {
        static void run (qvl::ModulationState& state)
        {
            constexpr auto tick = &ModulationStateTick::timerCallback;
            (state.*tick)();
        }
    };
}

//==============================================================================
static void BM_KnobPaint (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    qvl::QuorvalisLookAndFeel lookAndFeel;

    qvl::Knob knob ("Position");
    knob.setLookAndFeel (&lookAndFeel);
    knob.setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xFF3FA9F5));
    knob.knobSlider.setRange (0.0, 1.0);
    knob.knobSlider.setValue (0.4, juce::dontSendNotification);
    knob.setBounds (0, 0, 80, 72);

    auto& slider = knob.knobSlider;
    slider.modulatedValue = 0.62f;
    slider.modulationDepth = 0.3f;
    slider.modulationBipolar = true;
    slider.modulationColour = juce::Colour (0xFFE0A030);

    auto image = makeImage (80, 72);
    const auto background = lookAndFeel.findColour (juce::ResizableWindow::backgroundColourId);

    const auto paint = [&]
    {
        juce::Graphics g (image);
        g.fillAll (background);
        knob.paintEntireComponent (g, true);
    };

    // The first paint loads the font's glyphs, once per process: left out of the timing.
    paint();

    for (auto _ : state)
    {
        paint();
        benchmark::DoNotOptimize (image.getPixelAt (40, 30));
    }

    knob.setLookAndFeel (nullptr);
}

static void BM_EditorOpen (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvalisPluginAudioProcessor processor;

    // Once-per-process costs (fonts, singletons) belong to the first open only.
    std::make_unique<OpenEditor> (processor).reset();
    drainMessages();

    for (auto _ : state)
    {
        auto open = std::make_unique<OpenEditor> (processor);
        benchmark::DoNotOptimize (open->editor->getWidth());

        state.PauseTiming();
        open.reset();
        drainMessages();
        state.ResumeTiming();
    }
}

static void BM_EditorPaint (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvalisPluginAudioProcessor processor;
    fillSnapshot (processor);
    OpenEditor open (processor);
    auto& editor = *open.editor;

    auto image = makeImage (editor.getWidth(), editor.getHeight());

    const auto paint = [&]
    {
        processor.idleCounter.store (0);
        juce::Graphics g (image);
        editor.paintEntireComponent (g, true);
    };

    paint(); // glyphs

    for (auto _ : state)
    {
        paint();
        benchmark::DoNotOptimize (image.getPixelAt (100, 100));
    }

    state.counters["width"] = editor.getWidth();
    state.counters["height"] = editor.getHeight();
}

static void BM_DisplayPaint (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvalisPluginAudioProcessor processor;
    fillSnapshot (processor);

    qvl::QuorvalisLookAndFeel lookAndFeel;
    DisplayComponent display (processor);
    display.setLookAndFeel (&lookAndFeel);
    display.setBounds (0, 0, 840, 148);

    auto image = makeImage (840, 148);

    const auto paint = [&]
    {
        processor.idleCounter.store (0);
        juce::Graphics g (image);
        display.paintEntireComponent (g, true);
    };

    paint(); // glyphs

    for (auto _ : state)
    {
        paint();
        benchmark::DoNotOptimize (image.getPixelAt (420, 74));
    }

    display.setLookAndFeel (nullptr);
}

// Arg 0: nothing changed since the last tick; arg 1: every knob's modulated value moves each tick.
static void BM_EditorTimerTick (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvalisPluginAudioProcessor processor;
    fillSnapshot (processor);
    OpenEditor open (processor);
    auto& editor = *open.editor;

    const bool changing = state.range (0) != 0;
    auto& values = processor.readSnapshot->modulatedValues;
    const auto first = values;
    auto second = values;
    for (auto& value : second)
        value = 1.0f - value;

    editor.timerCallback();

    bool flip = false;
    for (auto _ : state)
    {
        if (changing)
            values = (flip = ! flip) ? second : first;

        editor.timerCallback();
    }

    drainMessages();
}

// Arg 0: no modulator armed, nothing changed; arg 1: "LFO 1" armed with four routings and a slot
// parameter changing before every tick, so every tick rebuilds what ~100 knobs show.
static void BM_ModulationRefresh (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvalisPluginAudioProcessor processor;
    OpenEditor open (processor);
    auto& editor = *open.editor;
    auto& modulation = editor.modulationState;
    const bool armed = state.range (0) != 0;

    auto& slots = processor.modulationSlotParameters;

    if (armed)
    {
        int lfo1 = -1;
        for (const auto& info : processor.modulationEngine.modulators)
            if (info.kind == qvl::ModulatorKind::LFO && info.indexInKind == 0)
                lfo1 = info.sourceIndex;

        for (int s = 0; s < 4; ++s)
        {
            auto& slot = slots.getReference (s);
            *slot.modulatorIndex = lfo1;
            *slot.target = processor.streamParameters[(size_t) s].position->getParameterIndex();
            *slot.amount = 0.5f;
        }

        auto* arm = findButton (editor, "LFO 1");
        if (arm == nullptr)
        {
            state.SkipWithError ("no LFO 1 arm button");
            return;
        }

        arm->setToggleState (true, juce::sendNotification);
    }

    ModulationStateTick::run (modulation);

    // Armed, the routed knobs show their amount and "B" / "P" buttons: the full refresh ran.
    const auto* routed = editor.knobsByParameter[processor.streamParameters[0].position->getParameterIndex()];
    if (armed && (routed == nullptr || ! routed->bypassButton.isVisible()))
    {
        state.SkipWithError ("arming LFO 1 did not show its routings");
        return;
    }

    auto& dirtying = *slots.getReference (slots.size() - 1).isBypassed;
    bool bypassed = false;

    for (auto _ : state)
    {
        if (armed)
            dirtying = (bypassed = ! bypassed);

        ModulationStateTick::run (modulation);
    }

    drainMessages();
}

BENCHMARK (BM_KnobPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EditorOpen)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_EditorPaint)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_DisplayPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EditorTimerTick)->ArgName ("changing")->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_ModulationRefresh)->ArgName ("armed")->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
