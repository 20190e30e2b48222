#include "editor/Palette.h"
#include "editor/components/ModulationState.h"
#include "tests/editor/EditorTestSupport.h"

#include <thread>

using namespace qvl::test;
using Colours = juce::TextButton::ColourIds;

namespace
{
    // What the state needs of a knob: a parent of the amount slider and the two buttons.
    struct KnobStandIn : juce::Component
    {
        KnobStandIn()
        {
            addChildComponent (amount), addChildComponent (bypass), addChildComponent (polarity);
            amount.setBounds (0, 0, 100, 20);
        }

        juce::Slider amount { juce::Slider::LinearHorizontal, juce::Slider::NoTextBox };
        juce::TextButton bypass, polarity;
        float shownAmount = -1.0f;
        bool shownBipolar = false;

        bool buttonsShown() const { return bypass.isVisible() && polarity.isVisible(); }
    };

    // Without a display no real mouse is over anything, so the test names the hovered button.
    struct TestState : qvl::ModulationState
    {
        using ModulationState::ModulationState;
        using ModulationState::mouseEnter, ModulationState::mouseExit, ModulationState::mouseDoubleClick, ModulationState::timerCallback;

        bool isMouseOverSource (const juce::TextButton& button) const override { return &button == hovered; }
        const juce::TextButton* hovered = nullptr;
    };
}

// Arm buttons for LFO 1, Random 1 and Macro 1; knobs on stream 1's position and rate.
struct ModulationStateTest : EditorFixture
{
    juce::Component window;
    juce::TextButton lfo, random, macro;
    KnobStandIn knobs[2];
    const int knobParameter[2] = { 12, 15 };
    TestState state { processor.modulationSlotParameters, nullptr };

    ModulationStateTest()
    {
        window.setLookAndFeel (&lookAndFeel);
        for (auto [button, index, bipolar] : { std::tuple (&lfo, 0, true), std::tuple (&random, 4, true), std::tuple (&macro, 8, false) })
        {
            button->setClickingTogglesState (true);
            window.addAndMakeVisible (button);
            state.addModulationSource (*button, index, colourOf (index), bipolar);
        }
        for (int k = 0; k < 2; ++k)
        {
            auto& knob = knobs[k];
            window.addAndMakeVisible (knob);
            state.addTarget (knobParameter[k], &knob, &knob.amount, &knob.bypass, &knob.polarity, &knob.shownAmount, &knob.shownBipolar);
        }
    }

    ~ModulationStateTest() override { window.setLookAndFeel (nullptr); }

    static juce::Colour colourOf (int modulator) { return qvl::modulatorColours[(size_t) modulator / 4]; }
    static void arm (juce::TextButton& button, bool on = true) { button.setToggleState (on, juce::sendNotification); }
    ModulationSlotParameters& slot (int i) { return processor.modulationSlotParameters.getReference (i); }

    void route (int i, int modulator, int target, float amount = 0.5f, bool bipolar = false, bool bypassed = false)
    {
        auto& s = slot (i);
        *s.modulatorIndex = modulator, *s.target = target, *s.amount = amount, *s.isBipolar = bipolar, *s.isBypassed = bypassed;
    }

    // Every slot to one target, nothing armed or hovered.
    void resetSlots (int target)
    {
        for (int i = 0; i < 64; ++i)
            route (i, 13, target, 0.0f);
        state.hovered = nullptr;
        state.refreshAll();
    }

    void drag (juce::Slider& slider, float toX, bool tickMidway = false)
    {
        slider.mouseDown (mouseEvent (slider, { 50.0f, 10.0f }));
        if (tickMidway)
            state.timerCallback();
        slider.mouseDrag (mouseEvent (slider, { toX, 10.0f }, juce::ModifierKeys::leftButtonModifier, 1, true));
        slider.mouseUp (mouseEvent (slider, { toX, 10.0f }, {}, 1, true));
    }
};

TEST_F (ModulationStateTest, WithoutAFreeSlotTheArmedSliderIsDisabledAndDraggingChangesNoSlot)
{
    resetSlots (449);
    arm (lfo);
    EXPECT_TRUE (knobs[0].amount.isVisible() && ! knobs[0].amount.isEnabled() && ! knobs[0].buttonsShown());
    EXPECT_NEAR (knobs[0].amount.getAlpha(), 0.4f, 0.005f); // alpha is kept in 8 bits

    drag (knobs[0].amount, 90.0f);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ (slot (i).target->get(), 449) << "slot " << i;
}

TEST_F (ModulationStateTest, DragTakesTheLowestFreeSlotInOneGestureAndASecondDragOnlyMovesTheAmount)
{
    for (auto [button, modulator, bipolar] : { std::tuple (&lfo, 0, true), std::tuple (&macro, 8, false) })
    {
        resetSlots (-1);
        route (0, 13, 449), route (1, 13, 449);
        route (2, 13, -1, 0.0f, ! bipolar, true); // free, but left over from an earlier routing
        arm (*button);
        HostRecorder host (processor);
        host.watched = slot (2).amount->getParameterIndex();

        drag (knobs[0].amount, 80.0f, true);
        EXPECT_EQ (slot (2).target->get(), knobParameter[0]);
        EXPECT_TRUE (slot (2).modulatorIndex->get() == modulator && slot (2).isBipolar->get() == bipolar && ! slot (2).isBypassed->get());
        EXPECT_GT (slot (2).amount->get(), 0.1f);
        EXPECT_EQ (std::pair (host.begins.load(), host.ends.load()), std::pair (1, 1));

        state.timerCallback();
        EXPECT_TRUE (knobs[0].buttonsShown());
        EXPECT_TRUE (knobs[0].shownAmount == slot (2).amount->get() && knobs[0].shownBipolar == bipolar);

        drag (knobs[0].amount, 20.0f);
        EXPECT_LT (slot (2).amount->get(), -0.1f);
        EXPECT_EQ (slot (3).target->get(), -1);
        EXPECT_EQ (std::pair (host.begins.load(), host.ends.load()), std::pair (2, 2));
    }
}

TEST_F (ModulationStateTest, DoubleClickFreesTheSlotOnlyWithItsModulatorArmed)
{
    for (const bool armed : { true, false })
    {
        resetSlots (-1);
        route (5, 0, knobParameter[0], 0.6f, true, true);
        if (armed)
            arm (lfo);
        state.hovered = &lfo;
        state.mouseEnter (mouseEvent (lfo, {}));
        ASSERT_TRUE (knobs[0].buttonsShown());

        state.mouseDoubleClick (mouseEvent (knobs[0].amount, { 50.0f, 10.0f }, {}, 2));
        EXPECT_EQ (slot (5).target->get(), armed ? -1 : knobParameter[0]);
        EXPECT_FLOAT_EQ (slot (5).amount->get(), armed ? 0.0f : 0.6f);
        EXPECT_TRUE (slot (5).modulatorIndex->get() == 0 && slot (5).isBipolar->get() && slot (5).isBypassed->get());
    }
}

TEST_F (ModulationStateTest, HoveringAnArmButtonPreviewsItsRoutingsAndArmingIsARadioGroup)
{
    route (0, 0, knobParameter[0]);
    state.hovered = &lfo;
    state.mouseEnter (mouseEvent (lfo, {}));
    EXPECT_TRUE (knobs[0].amount.isVisible() && knobs[0].buttonsShown());
    EXPECT_NEAR (knobs[0].amount.getAlpha(), 0.7f, 0.005f);
    EXPECT_FALSE (knobs[1].amount.isVisible() || knobs[1].bypass.isVisible() || knobs[1].polarity.isVisible());

    state.hovered = nullptr;
    state.mouseExit (mouseEvent (lfo, {}));
    EXPECT_FALSE (knobs[0].amount.isVisible() || knobs[0].bypass.isVisible());
    *slot (0).amount = 0.25f; // hidden, yet still bound until the next preview or arming
    EXPECT_DOUBLE_EQ (knobs[0].amount.getValue(), 0.25);

    state.hovered = &lfo;
    arm (lfo);
    EXPECT_NEAR (knobs[0].amount.getAlpha(), 1.0f, 0.005f);
    arm (random);
    EXPECT_FALSE (lfo.getToggleState() || knobs[0].buttonsShown());
    arm (lfo);
    arm (lfo, false); // still hovered: back to the preview
    EXPECT_TRUE (knobs[0].amount.isVisible() && knobs[0].buttonsShown());
    EXPECT_NEAR (knobs[0].amount.getAlpha(), 0.7f, 0.005f);
}

TEST_F (ModulationStateTest, RoutingColours)
{
    for (const bool bypassed : { false, true })
    {
        resetSlots (-1);
        route (0, 8, knobParameter[0], 0.5f, false, bypassed);
        arm (macro);
        const float f = bypassed ? 0.5f : 1.0f;
        const auto dimmed = colourOf (8).withMultipliedBrightness (f).withMultipliedSaturation (f);
        EXPECT_EQ (knobs[0].amount.findColour (juce::Slider::rotarySliderFillColourId), dimmed);
        EXPECT_EQ (knobs[0].polarity.findColour (Colours::buttonOnColourId), dimmed);
        EXPECT_EQ (knobs[0].bypass.findColour (Colours::buttonOnColourId), colourOf (8));
        EXPECT_EQ (knobs[1].amount.findColour (juce::Slider::rotarySliderFillColourId), lookAndFeel.findColour (Colours::buttonOnColourId));
    }

    // Hovering a knob tints the arm buttons of the modulators that reach it.
    route (1, 0, knobParameter[0]), route (2, 4, knobParameter[1]);
    state.mouseEnter (mouseEvent (knobs[0].polarity, {}));
    for (auto [button, index, tinted] : { std::tuple (&lfo, 0, true), std::tuple (&random, 4, false), std::tuple (&macro, 8, true) })
        for (const int id : { Colours::buttonColourId, Colours::buttonOnColourId })
            EXPECT_EQ (button->findColour (id), lookAndFeel.findColour (id).interpolatedWith (colourOf (index), tinted ? 0.3f : 0.0f)) << index;

    state.mouseExit (mouseEvent (knobs[0].polarity, {}));
    EXPECT_EQ (lfo.findColour (Colours::buttonColourId), lookAndFeel.findColour (Colours::buttonColourId));
}

TEST_F (ModulationStateTest, ParameterChangeFromAnotherThreadOnlyMarksTheStateForTheNextTick)
{
    arm (lfo);
    std::thread ([this] { route (7, 0, knobParameter[0], 0.3f); }).join();
    EXPECT_FALSE (knobs[0].buttonsShown());

    state.timerCallback();
    EXPECT_TRUE (knobs[0].buttonsShown());
    EXPECT_FLOAT_EQ ((float) knobs[0].amount.getValue(), slot (7).amount->get());
}

TEST_F (ModulationStateTest, CopyStreamModulationReplacesTheDestinationsRoutingsAsFarAsSlotsLast)
{
    const auto& s = processor.streamParameters[0];
    const auto& d = processor.streamParameters[1];
    resetSlots (449);
    route (3, 8, d.position->getParameterIndex());
    route (5, 1, s.position->getParameterIndex(), 0.3f, true, true);
    route (9, 4, s.position->getParameterIndex(), -0.5f);
    route (10, 2, s.rate->getParameterIndex());
    *s.grainPitch = 7.0f, *s.isEnabled = false;

    state.copyStreamModulation (s, d);
    EXPECT_TRUE (d.grainPitch->get() == 7.0f && ! d.isEnabled->get());
    EXPECT_EQ (slot (3).target->get(), d.position->getParameterIndex()); // the freed slot holds the first copy
    EXPECT_TRUE (slot (3).modulatorIndex->get() == 1 && slot (3).isBipolar->get() && slot (3).isBypassed->get());
    EXPECT_NEAR (slot (3).amount->get(), 0.3f, 1e-6f);
    EXPECT_TRUE (slot (9).target->get() == s.position->getParameterIndex() && slot (10).target->get() == s.rate->getParameterIndex());

    int routedToDestination = 0;
    for (int i = 0; i < 64; ++i)
        routedToDestination += juce::isPositiveAndBelow (slot (i).target->get() - d.isEnabled->getParameterIndex(), 19) ? 1 : 0;
    EXPECT_EQ (routedToDestination, 1); // no slot was left for the other two copies
}

TEST_F (ModulationStateTest, RegisterControlSeesDetachThenAttachInOrder)
{
    std::vector<std::pair<juce::Component*, juce::AudioProcessorParameter*>> calls;
    state.registerControl = [&] (juce::Component& c, juce::AudioProcessorParameter* p) { calls.emplace_back (&c, p); };
    route (0, 0, knobParameter[0]);
    arm (lfo);

    const decltype (calls) expected {
        { &knobs[0].amount, nullptr }, { &knobs[0].bypass, nullptr }, { &knobs[0].polarity, nullptr },
        { &knobs[0].amount, slot (0).amount }, { &knobs[0].bypass, slot (0).isBypassed }, { &knobs[0].polarity, slot (0).isBipolar },
        { &knobs[1].amount, nullptr }, { &knobs[1].bypass, nullptr }, { &knobs[1].polarity, nullptr },
    };
    EXPECT_EQ (calls, expected);
}
