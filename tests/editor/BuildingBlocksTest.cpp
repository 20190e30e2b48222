#include "editor/Palette.h"
#include "editor/components/BetterSliderParameterAttachment.h"
#include "editor/components/ContainerComponent.h"
#include "tests/editor/EditorTestSupport.h"

using namespace qvl::test;
using Container = qvl::next::ContainerComponent;

TEST (Palette, SaturatedColoursMatchTheTable)
{
    const juce::uint32 expected[] = { 0xFFFF9D9D, 0xFFFFCE93, 0xFFFDFFA7, 0xFFBFFFB2,
                                      0xFF87F4FF, 0xFF8DB8FF, 0xFFFFBBFF, 0xFFB0A3FF };

    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ (qvl::streamColours[i].getARGB(), expected[i]) << "entry " << i;

    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ (qvl::modulatorColours[k], qvl::streamColours[4 + k]);
}

TEST (LookAndFeel, SchemeExtraColoursAndMenuFont)
{
    qvl::QuorvalisLookAndFeel lf;
    EXPECT_EQ (lf.findColour (juce::ResizableWindow::backgroundColourId).getARGB(), 0xFF101010u);
    EXPECT_EQ (lf.findColour (juce::Label::textColourId).getARGB(), 0xFFD4D4D4u);
    EXPECT_EQ (lf.findColour (juce::ComboBox::outlineColourId).getARGB(), 0xFF111111u);
    EXPECT_EQ (lf.findColour (juce::TextEditor::focusedOutlineColourId).getARGB(), 0x00000000u);
    EXPECT_EQ (lf.findColour (juce::ListBox::backgroundColourId).getARGB(), 0xFF090909u);
    EXPECT_EQ (lf.findColour (juce::PopupMenu::highlightedBackgroundColourId).getARGB(), 0xFF424242u);
    EXPECT_FLOAT_EQ (lf.getPopupMenuFont().getHeight(), 15.0f);
}

// Paints one button background into an image and reads the centre and the top corners.
TEST (LookAndFeel, ButtonBackgroundColourAndCorners)
{
    qvl::QuorvalisLookAndFeel lf;
    const auto base = juce::Colour (0xFF336699);

    struct Case { bool enabled, highlighted, down; int edges; juce::Colour centre; bool leftCornerFilled, rightCornerFilled; };
    const Case cases[] = {
        { true, false, false, 0, base, false, false },
        { false, false, false, 0, base.withMultipliedAlpha (0.5f), false, false },
        { true, true, false, 0, base.contrasting (0.05f), false, false },
        { true, true, true, 0, base.contrasting (0.2f), false, false },   // down wins over highlighted
        { true, false, false, juce::Button::ConnectedOnRight, base, false, true },
        { true, false, false, juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight, base, true, true },
    };

    for (const auto& c : cases)
    {
        juce::Component parent;
        juce::TextButton button;
        parent.addAndMakeVisible (button);
        button.setBounds (0, 0, 40, 24);
        button.setConnectedEdges (c.edges);
        parent.setEnabled (c.enabled); // a disabled parent disables the button too

        juce::Image image (juce::Image::ARGB, 40, 24, true);
        {
            juce::Graphics g (image);
            lf.drawButtonBackground (g, button, base, c.highlighted, c.down);
        }

        const auto centre = image.getPixelAt (20, 12);
        EXPECT_NEAR (centre.getRed(), c.centre.getRed(), 2);
        EXPECT_NEAR (centre.getAlpha(), c.centre.getAlpha(), 2);
        // A square corner covers the corner pixel; a rounded one (radius 4) leaves it empty.
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha() > 100, c.leftCornerFilled) << "edges " << c.edges;
        EXPECT_EQ (image.getPixelAt (39, 0).getAlpha() > 100, c.rightCornerFilled) << "edges " << c.edges;
    }
}

namespace
{
    Container::Options row (int spacing, int w, int h, int top = 0, int bottom = 0, int left = 0, int right = 0)
    {
        return { false, spacing, w, h, top, bottom, left, right };
    }

    Container::Options column (int spacing, int w, int h, int top = 0, int bottom = 0, int left = 0, int right = 0)
    {
        return { true, spacing, w, h, top, bottom, left, right };
    }
}

TEST (ContainerLayout, FitModeSizesAndSkipsHiddenItems)
{
    Container c (row (4, 80, 72, 3, 5, 7, 11));
    juce::Component a, hidden, b;
    c.addItem (&a, 0, 40);          // default width, own height
    c.addItem (&hidden, 50, 50);
    c.addItem (&b, 20, 0);
    hidden.setVisible (false);

    c.layout (true);

    EXPECT_EQ (a.getBounds(), juce::Rectangle<int> (7, 3, 80, 40));
    EXPECT_EQ (b.getBounds(), juce::Rectangle<int> (91, 3, 20, 72)); // the hidden item takes no place
    EXPECT_EQ (c.getWidth(), 111 + 11);  // the trailing spacing adds nothing
    EXPECT_EQ (c.getHeight(), 75 + 5);

    Container empty (row (4, 80, 72, 3, 5, 7, 11));
    empty.layout (true);
    EXPECT_EQ (empty.getWidth(), 11);    // right margin only
    EXPECT_EQ (empty.getHeight(), 5);
}

TEST (ContainerLayout, FillModePacksFromBothEndsWithoutShrinking)
{
    Container c (row (4, 80, 24, 0, 0, 10, 10));
    c.setSize (300, 24);
    juce::Component left1, left2, right1, right2, hidden, empty;
    c.addItem (&left1, 0, 0, Container::leftTop);
    c.addItem (&hidden, 0, 0, Container::leftTop);
    c.addItem (&right1, 40, 0, Container::rightTop);
    c.addItem (&right2, 0, 0, Container::rightTop);
    c.addItem (&empty, 0, 0, Container::leftTop);
    c.addItem (&left2, 0, 0, Container::leftTop);
    hidden.setVisible (false);
    empty.setBounds (1, 2, 0, 0);

    c.layout (false);

    EXPECT_EQ (left1.getX(), 10);
    EXPECT_EQ (hidden.getX(), 94);         // hidden items keep their place in fill mode
    EXPECT_EQ (right1.getRight(), 290);    // flush with the right margin
    EXPECT_EQ (right2.getRight(), 246);    // one spacing to its left
    EXPECT_EQ (empty.getPosition(), juce::Point<int> (1, 2)); // a zero-sized item stays put...
    EXPECT_EQ (left2.getX(), 182);         // ...but still consumes its spacing
    EXPECT_EQ (left2.getWidth(), 80);      // overflowing, never shrunk

    Container col (column (2, 30, 10));
    col.setSize (30, 15);
    juce::Component top, bottom, centred;
    col.addItem (&top, 0, 0, Container::yTop);
    col.addItem (&bottom, 0, 0, Container::yBottom);
    col.addItem (&centred, 0, 4, 0);
    col.layout (false);
    EXPECT_EQ (top.getY(), 0);
    EXPECT_EQ (bottom.getY(), 5);          // bottom-aligned in the 3 pixels left, overflowing upwards
    EXPECT_EQ (centred.getY(), 10);
}

TEST (ContainerLayout, NestedContainersFitThenStretch)
{
    Container root (column (4, 0, 0, 16, 16, 16, 16));
    auto* header = root.addContainer (row (4, 80, 24, 0, 8));
    juce::Component a, b, pushed;
    header->addItem (&a, 584, 0);
    header->addItem (&b, 40, 0);
    header->addItem (&pushed, 80, 0, Container::rightTop);
    auto* body = root.addContainer (row (4, 80, 72));
    juce::Component knob;
    body->addItem (&knob);

    root.layout (true);

    EXPECT_EQ (header->getBounds(), juce::Rectangle<int> (16, 16, 712, 32));
    EXPECT_EQ (body->getY(), 52);
    EXPECT_EQ (root.getWidth(), 16 + 712 + 16);
    EXPECT_EQ (root.getHeight(), 52 + 72 + 16);
    EXPECT_EQ (body->getWidth(), 712);     // stretched to the root's inner width
    EXPECT_EQ (pushed.getRight(), 712);    // filled: the right item sits at the row's right end
}

// Bound to real parameters of the processor.
using SliderAttachment = EditorFixture;

TEST_F (SliderAttachment, RangeTextDecimalsAndDefaults)
{
    struct Case { const char* id; int decimals; const char* typed; double expected; };
    const Case cases[] = {
        { "grain_count_limit", 0, "9999", 600.0 },    // clamped to the end
        { "stream_1_grain_pitch", 4, "1.23456", 1.2346 }, // snapped to the nearest step
        { "buffer_feedback", 4, "0.25", 0.25 },
        { "stream_1_grain_pitch", 4, "-99", -24.0 },
    };

    for (const auto& c : cases)
    {
        juce::Slider slider;
        qvl::BetterSliderParameterAttachment attachment (param (c.id), slider);
        auto& p = param (c.id);

        EXPECT_EQ (slider.getNumDecimalPlacesToDisplay(), c.decimals) << c.id;
        EXPECT_FLOAT_EQ ((float) slider.getValueFromText (c.typed), (float) c.expected) << c.id << " " << c.typed;
        EXPECT_EQ (slider.getTextValueSuffix(), p.getLabel());
        EXPECT_EQ (slider.getTextFromValue (slider.getValue()), p.getCurrentValueAsText() + p.getLabel()) << c.id;

        const auto& range = p.getNormalisableRange();
        EXPECT_DOUBLE_EQ (slider.getDoubleClickReturnValue(),
                          range.snapToLegalValue (range.convertFrom0to1 (p.getDefaultValue())));
    }
}

TEST_F (SliderAttachment, DragIsOneGestureAndHostChangesAreNotWrittenBack)
{
    auto& p = param ("buffer_feedback");
    HostRecorder host (processor);
    host.watched = p.getParameterIndex();

    juce::Slider slider (juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
    slider.setBounds (0, 0, 200, 20);
    qvl::BetterSliderParameterAttachment attachment (p, slider);

    slider.mouseDown (mouseEvent (slider, { 30.0f, 10.0f }));
    slider.mouseDrag (mouseEvent (slider, { 60.0f, 10.0f }, juce::ModifierKeys::leftButtonModifier, 1, true));
    slider.mouseDrag (mouseEvent (slider, { 90.0f, 10.0f }, juce::ModifierKeys::leftButtonModifier, 1, true));
    slider.mouseUp (mouseEvent (slider, { 90.0f, 10.0f }, {}, 1, true));

    EXPECT_EQ (host.begins.load(), 1);
    EXPECT_EQ (host.ends.load(), 1);
    EXPECT_GT (host.changes.load(), 1);
    EXPECT_NEAR (p.convertFrom0to1 (p.getValue()), (float) slider.getValue(), 1e-6f);

    // The host moves the parameter: the slider follows, nothing goes back.
    host.changes = 0;
    p.setValueNotifyingHost (p.convertTo0to1 (0.75f));
    const int changesFromHost = host.changes.load();
    pumpMessages();
    EXPECT_NEAR (slider.getValue(), 0.75, 1e-6);
    EXPECT_EQ (host.changes.load(), changesFromHost);
    EXPECT_EQ (host.begins.load(), 1);
}
