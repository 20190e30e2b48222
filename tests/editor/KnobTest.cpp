#include "editor/components/KnobBuilder.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/support/CommaLocale.h"
#include "processor/NumberText.h"

#include <cmath>

using namespace qvl::test;
using Rect = juce::Rectangle<int>;

namespace
{
    struct KnobFixture : EditorFixture
    {
        qvl::next::ContainerComponent row { { false, 4, 80, 72, 0, 8, 0, 0 } };
        qvl::HelpComponent help;
        juce::OwnedArray<juce::Component> owned;
        juce::OwnedArray<qvl::BetterSliderParameterAttachment> attachments; // before the knobs they drive
        juce::Array<qvl::Knob*> knobs;
        std::vector<std::pair<juce::Component*, juce::AudioProcessorParameter*>> locks;
        std::vector<std::pair<int, qvl::Knob*>> targets;
        qvl::KnobContext context { nullptr, &attachments, &owned, &knobs,
                                   [this] (juce::Component& c, juce::AudioProcessorParameter* p) { locks.emplace_back (&c, p); },
                                   [this] (int index, qvl::Knob& k) { targets.emplace_back (index, &k); }, &help };

        KnobFixture() { row.setLookAndFeel (&lookAndFeel); }

        qvl::Knob* knob (const char* id, const juce::String& helpText = {}, juce::Colour colour = {})
        {
            return colour.isTransparent() ? qvl::createKnob (context, row, param (id), "Label", helpText)
                                          : qvl::createKnob (context, row, param (id), "Label", helpText, colour);
        }
    };

    // Stands in for the desktop's pointer, which tests without a display cannot move.
    struct PointerKnob : qvl::Knob
    {
        using Knob::Knob;
        juce::Component* under = nullptr;
        bool isPointerOver (const juce::Component& c) const override { return under != nullptr && (under == &c || c.isParentOf (under)); }
        bool isPointerOverOrDragging (const juce::Component& c) const override { return under == &c; }
    };

    bool near (juce::Colour a, juce::Colour b)
    {
        const auto close = [] (int x, int y) { return std::abs (x - y) <= 12; };
        return close (a.getRed(), b.getRed()) && close (a.getGreen(), b.getGreen()) && close (a.getBlue(), b.getBlue()) && close (a.getAlpha(), b.getAlpha());
    }

    // A pixel at a radius from the image's centre, at an angle measured clockwise from twelve o'clock.
    juce::Colour pixelAt (const juce::Image& image, float angle, float radius)
    {
        const float c = (float) image.getWidth() * 0.5f;
        return image.getPixelAt ((int) std::floor (c + radius * std::sin (angle)), (int) std::floor (c - radius * std::cos (angle)));
    }

    // Angles on the knob's arc, from 1.2 pi (proportion 0) to 2.8 pi (proportion 1).
    float arcAngle (float proportion) { return juce::MathConstants<float>::pi * (1.2f + 1.6f * proportion); }
}

TEST_F (KnobFixture, BuilderBindsRegistersPlacesAndOwnsEachKnob)
{
    struct Case { const char* id; const char* help; const char* sliderHelp; };
    const Case cases[] = { { "gain_db_dry", "Volume: Dry", "Volume: Dry" },
                           { "grain_count_limit", "", "Grain Count Limit" } }; // no help: the parameter's name

    for (const auto& c : cases)
    {
        auto& p = param (c.id);
        auto* k = knob (c.id, c.help);
        const int index = p.getParameterIndex();

        EXPECT_EQ (knobs[index], k);
        EXPECT_EQ (locks.back(), std::make_pair ((juce::Component*) &k->knobSlider, (juce::AudioProcessorParameter*) &p));
        EXPECT_EQ (targets.back(), std::make_pair (index, k));
        EXPECT_EQ (owned.getLast(), k);
        EXPECT_EQ (row.getItem (row.getNumItems() - 1), k);
        EXPECT_EQ (k->getBounds().withZeroOrigin(), Rect (80, 72));
        EXPECT_EQ (k->valueLabel.getText(), p.getCurrentValueAsText() + p.getLabel()) << c.id;

        const std::pair<juce::Component*, juce::String> texts[] = {
            { &k->knobSlider, c.sliderHelp }, { k, qvl::knobHelp::knob }, { &k->valueLabel, "Click to edit value" },
            { &k->modulationAmountSlider, qvl::knobHelp::modulationAmount },
            { &k->polarityButton, "Switch between unipolar / bipolar modulation" }, { &k->bypassButton, "Bypass modulation" } };
        for (const auto& [control, text] : texts)
            EXPECT_EQ (help.getHelpText (control), text);
    }

    EXPECT_EQ (knobs.size(), 449);           // grown to the highest index, gaps null
    EXPECT_EQ (knobs[447], nullptr);

    auto* button = qvl::addWithHelp (context, std::make_unique<juce::TextButton> ("0"), {});
    EXPECT_TRUE (owned.getLast() == button && ! help.hasHelpText (button)); // an empty text is not registered
}

TEST_F (KnobFixture, LayoutFollowsTheLabelFont)
{
    struct Case { int w; float font; Rect label, slider, amount; int d, extraY; };
    const Case cases[] = { { 80, 15.0f, { 0, 56, 80, 16 }, { 17, 5, 46, 46 }, { 28, 16, 23, 23 }, 61, 36 },
                           { 120, 17.4f, { 0, 54, 120, 18 }, { 38, 5, 44, 44 }, { 49, 16, 22, 22 }, 80, 34 } };

    for (const auto& c : cases)
    {
        auto* k = knob ("buffer_feedback");
        k->nameLabel.setFont (c.font);
        k->setSize (c.w, 72);
        k->resized();

        for (auto* label : { &k->nameLabel, &k->valueLabel, &k->modulationAmountLabel })
            EXPECT_EQ (label->getBounds(), c.label) << c.font;
        EXPECT_EQ (k->knobSlider.getBounds(), c.slider);
        EXPECT_EQ (k->modulationAmountSlider.getBounds(), c.amount);
        EXPECT_EQ (k->bypassButton.getBounds(), Rect (c.w - c.d - 20, 0, 20, 20));
        EXPECT_EQ (k->polarityButton.getBounds(), Rect (c.d, 0, 20, 20));
        EXPECT_EQ (k->extraButton.getBounds(), Rect (c.d, c.extraY, 20, 20));
        EXPECT_FALSE (k->bypassButton.isVisible() || k->polarityButton.isVisible() || k->extraButton.isVisible());
    }
}

TEST_F (EditorFixture, KnobLabelsFollowPointerDragsAndEditing)
{
    PointerKnob k ("Rate");
    k.setLookAndFeel (&lookAndFeel);
    k.setSize (80, 72);
    k.modulationAmountSlider.setRange (-1.0, 1.0);
    const auto at = [&k] (juce::Component* c) { k.under = c; };
    const auto slider = mouseEvent (k.knobSlider, { 23, 23 });

    struct Step { const char* what; std::function<void()> act; bool name, value, amount; };
    const Step steps[] = {
        { "built", [] {}, true, false, false },
        { "enter the name", [&] { at (&k.nameLabel); k.mouseEnter (mouseEvent (k.nameLabel, {})); }, false, true, false },
        { "the knob's own events", [&] { at (nullptr); k.mouseExit (mouseEvent (k, {})); }, false, true, false },
        { "leave the labels", [&] { k.mouseExit (mouseEvent (k.valueLabel, {})); }, true, false, false },
        { "value change over the slider", [&] { at (&k.knobSlider); k.knobSlider.setValue (3.0, juce::sendNotificationSync); }, false, true, false },
        { "amount change over it", [&] { at (&k.modulationAmountSlider); k.modulationAmountSlider.setValue (0.5, juce::sendNotificationSync); }, false, false, true },
        { "wheel elsewhere", [&] { at (nullptr); k.mouseWheelMove (mouseEvent (k, {}), {}); }, true, false, false },
        { "dragging", [&] { at (&k.knobSlider); k.knobSlider.mouseDown (slider); k.knobSlider.setValue (5.0, juce::sendNotificationSync); }, false, true, false },
        { "the drag's end, still over the slider", [&] { k.knobSlider.mouseUp (slider); }, true, false, false },
        { "leaving while editing", [&] { at (&k.valueLabel); k.mouseEnter (mouseEvent (k.valueLabel, {}));
                                         k.valueLabel.showEditor(); at (nullptr); k.mouseExit (mouseEvent (k.valueLabel, {})); }, false, true, false },
        { "closing the editor", [&] { k.valueLabel.hideEditor (true); }, true, false, false },
        { "entering the name while it is edited", [&] { at (nullptr); k.nameLabel.setEditable (true); k.nameLabel.showEditor();
                                                        at (&k.nameLabel); k.mouseEnter (mouseEvent (k.nameLabel, {})); }, true, false, false },
    };

    for (const auto& s : steps)
    {
        s.act();
        EXPECT_EQ (k.nameLabel.isVisible(), s.name) << s.what;
        EXPECT_EQ (k.valueLabel.isVisible(), s.value) << s.what;
        EXPECT_EQ (k.modulationAmountLabel.isVisible(), s.amount) << s.what;
    }

    // The amount label mixes the text colour with the amount slider's fill; the knob's own fill is not used.
    k.setColour (juce::Slider::rotarySliderFillColourId, juce::Colours::red);
    k.mouseWheelMove (mouseEvent (k, {}), {});
    EXPECT_EQ (k.modulationAmountLabel.findColour (juce::Label::textColourId),
               lookAndFeel.findColour (juce::Label::textColourId).interpolatedWith (lookAndFeel.findColour (juce::Slider::rotarySliderFillColourId), 0.5f));
    k.setLookAndFeel (nullptr);
}

// Typed values move the knob only beyond the shown resolution 10^-d; Ctrl or Alt make wheel steps ten times finer.
TEST_F (KnobFixture, TypedValuesAndWheelSteps)
{
    struct Typed { const char* id; double start; const char* text; double expected; };
    for (auto c : { Typed { "buffer_feedback", 0.5, "0.50004", 0.5 }, Typed { "buffer_feedback", 0.5, "0.6", 0.6 },
                    Typed { "grain_count_limit", 60, "60.4", 60 },  // snaps back onto the same step
                    Typed { "grain_count_limit", 60, "61", 61 } })  // one whole step is an edit
    {
        auto* k = knob (c.id);
        k->knobSlider.setValue (c.start, juce::sendNotificationSync);
        k->valueLabel.setText (c.text, juce::sendNotificationSync);
        EXPECT_NEAR (param (c.id).convertFrom0to1 (param (c.id).getValue()), c.expected, 1e-5) << c.text;
    }

    for (auto [mods, step] : { std::pair (juce::ModifierKeys(), 0.03), std::pair (juce::ModifierKeys (juce::ModifierKeys::ctrlModifier), 0.003),
                               std::pair (juce::ModifierKeys (juce::ModifierKeys::altModifier), 0.003) })
    {
        auto& s = knob ("buffer_feedback")->knobSlider; // a fresh slider: the framework drops repeated wheel times
        s.setValue (s.proportionOfLengthToValue (0.5), juce::sendNotificationSync);
        s.mouseWheelMove (mouseEvent (s, {}, mods), { 0.0f, 0.2f, false, false, false });
        EXPECT_NEAR (param ("buffer_feedback").getValue(), 0.5 + step, 1e-4) << mods.getRawFlags();
    }
}

// Under the comma locale a host may set, a drag keeps its fraction and the label shows it with a
// point; a typed decimal comma counts too.
TEST_F (KnobFixture, DragsAndTypedCommasKeepTheirFractionsInACommaLocale)
{
    const qvl::test::ScopedCommaLocale hostLocale;

    struct Row { const char* id; double draggedTo; const char* typed; double typedValue; };
    for (const auto& r : { Row { "gain_db_dry", -6.086, "-6,5", -6.5 },
                             Row { "buffer_feedback", 0.73, "0,25", 0.25 },
                             Row { "stream_1_grain_pitch", 7.68, "7,5", 7.5 } })
    {
        SCOPED_TRACE (r.id);
        auto* k = knob (r.id);
        auto& s = k->knobSlider;
        const auto real = [&] { return param (r.id).convertFrom0to1 (param (r.id).getValue()); };

        s.mouseDown (mouseEvent (s, { 10.0f, 10.0f }));
        s.setValue (r.draggedTo, juce::sendNotificationSync);
        s.mouseUp (mouseEvent (s, { 10.0f, 10.0f }));
        EXPECT_NEAR (real(), r.draggedTo, 1e-4);
        EXPECT_FALSE (k->valueLabel.getText().containsChar (','));
        EXPECT_NEAR (qvl::readLeadingNumber (k->valueLabel.getText()), r.draggedTo, 1e-4);

        k->valueLabel.setText (r.typed, juce::sendNotificationSync);
        EXPECT_NEAR (real(), r.typedValue, 1e-4);
    }
}

// A knob built in red, its slider 100 x 100, painted alone: probes sit on the value arc (radius
// 46.9), the modulation ring (41.7) and the pointer (33).
TEST_F (KnobFixture, SlidersPaintValueRingPointerAndAmount)
{
    auto* k = knob ("buffer_feedback", {}, juce::Colours::red);
    k->setSize (110, 126);
    auto& s = k->knobSlider;
    ASSERT_EQ (s.getBounds(), Rect (5, 5, 100, 100));
    const auto disc = lookAndFeel.findColour (juce::Slider::rotarySliderOutlineColourId);
    const auto pointer = lookAndFeel.findColour (juce::Slider::textBoxTextColourId);
    const auto fill = juce::Colour (juce::Colours::red), track = fill.withMultipliedBrightness (0.3f);
    k->setColour (juce::Slider::textBoxTextColourId, juce::Colours::blue); // the pointer ignores parents

    struct Arc { float p, modulated; bool enabled, litAtHalf; };
    const Arc arcs[] = { { 0.25f, -1.0f, true, false },   // no modulated value yet: the slider's own
                         { 0.25f, 0.75f, true, true },    // the modulated value moves the arc...
                         { 0.25f, 1.5f, true, false },    // ...only when it is in [0, 1]
                         { 0.25f, 0.75f, false, true } }; // disabled parent: every layer at half alpha
    for (const auto& c : arcs)
    {
        s.setValue (s.proportionOfLengthToValue (c.p));
        s.modulatedValue = c.modulated;
        k->setEnabled (c.enabled);
        const auto image = render (s);
        const auto layers = [&c] (std::initializer_list<juce::Colour> colours) // composed bottom up
        {
            juce::Colour result;
            for (auto colour : colours)
                result = result.overlaidWith (colour.withMultipliedAlpha (c.enabled ? 1.0f : 0.5f));
            return result;
        };
        EXPECT_TRUE (near (pixelAt (image, arcAngle (0.1f), 46.9f), layers ({ disc, track, fill }))) << c.modulated;
        EXPECT_TRUE (near (pixelAt (image, arcAngle (0.5f), 46.9f), c.litAtHalf ? layers ({ disc, track, fill }) : layers ({ disc, track }))) << c.modulated;
        EXPECT_TRUE (near (pixelAt (image, arcAngle (c.p), 33.0f), layers ({ disc, pointer }))) << c.modulated;
        EXPECT_TRUE (near (pixelAt (image, arcAngle (0.75f), 33.0f), layers ({ disc }))) << c.modulated;
    }

    k->setEnabled (true);
    s.modulatedValue = -1.0f;
    s.modulationColour = juce::Colours::lime;
    struct Ring { float p, depth; bool bipolar; std::vector<std::pair<float, bool>> probes; };
    const Ring rings[] = { { 0.9f, 0.3f, false, { { 0.93f, true }, { 0.98f, true }, { 0.86f, false }, { 1.04f, false } } },
                           { 0.1f, 0.2f, true, { { 0.02f, true }, { 0.27f, true }, { -0.04f, false }, { 0.33f, false } } },
                           { 0.5f, 0.0f, false, { { 0.47f, false }, { 0.53f, false } } } };
    for (const auto& c : rings)
    {
        s.setValue (s.proportionOfLengthToValue (c.p));
        s.modulationDepth = c.depth;
        s.modulationBipolar = c.bipolar;
        const auto image = render (s);
        for (auto [at, onRing] : c.probes)
            EXPECT_TRUE (near (pixelAt (image, arcAngle (at), 41.7f), onRing ? s.modulationColour : disc)) << c.p << " at " << at;
    }

    // The amount slider (50 x 50) draws a pie from twelve o'clock over a darker disc; probes in degrees.
    auto& amount = k->modulationAmountSlider;
    amount.setRange (-1.0, 1.0);
    struct Pie { double amount; std::vector<std::pair<float, bool>> probes; };
    const Pie pies[] = { { 0.0, { { 90.0f, false }, { 270.0f, false } } },
                         { -1.0, { { 45.0f, true }, { 135.0f, true }, { 225.0f, true }, { 315.0f, true } } },
                         { -0.25, { { 315.0f, true }, { 45.0f, false } } } };
    for (const auto& c : pies)
    {
        amount.setValue (c.amount);
        const auto image = render (amount);
        for (auto [degrees, filled] : c.probes)
            EXPECT_TRUE (near (pixelAt (image, juce::degreesToRadians (degrees), 12.5f), filled ? fill : disc.darker (0.5f))) << c.amount << " at " << degrees;
    }
}
