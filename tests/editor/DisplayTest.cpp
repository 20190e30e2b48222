// The buffer and grain display, painted from a hand-filled read-side snapshot and read by pixels.

#include "editor/components/DisplayComponent.h"
#include "tests/editor/EditorTestSupport.h"
#include "tests/plugin/AudioPathTestSupport.h"

using namespace qvl::test;

namespace
{
    juce::AudioBuffer<float> makeBuffer (int length, const std::function<float (int)>& signal)
    {
        juce::AudioBuffer<float> buffer (2, length);
        for (int i = 0; i < length; ++i)
            buffer.setSample (0, i, signal (i)), buffer.setSample (1, i, signal (i));
        return buffer;
    }

    // Brightest red around a point, so thin antialiased strokes are found reliably.
    int redAround (const juce::Image& image, int x, int y)
    {
        int red = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                red = juce::jmax (red, (int) image.getPixelAt (x + dx, y + dy).getRed());
        return red;
    }

    // 600 x 148 over a silent 2400-sample buffer; stream 1 drawn in full red.
    struct DisplayFixture : EditorFixture
    {
        void SetUp() override
        {
            display.setLookAndFeel (&lookAndFeel);
            display.setSize (600, 148);
            shown.buffer = makeBuffer (2400, [] (int) { return 0.0f; });
        }
        void TearDown() override { display.setLookAndFeel (nullptr); }

        void setLive (juce::RangedAudioParameter* p, float value)
        {
            processor.modulationEngine.modulatedValues[(size_t) p->getParameterIndex()] = p->convertTo0to1 (value);
        }

        DisplaySnapshot& shown = *processor.readSnapshot;
        StreamParameters& stream1 = processor.streamParameters[0];
        DisplayComponent display { processor };
    };
}

TEST (DisplayWaveform, BarsFollowAreaWidthAndBufferLength)
{
    // -6 dB fills 35 of 50 half-height rows on the eighth-power curve (a linear one would fill 47).
    auto firstOfBarLoud = [] (int i) { return i % 2400 < 256 ? 0.5f : 0.0f; };
    auto restOfBarLoud = [] (int i) { return i % 2400 < 256 ? 0.0f : 0.5f; };
    auto loud = [] (int) { return 0.5f; };

    struct Case { int width, length; std::function<float (int)> signal; int bars, pitch, barWidth; };
    const Case cases[] = { { 600, 240000, firstOfBarLoud, 100, 6, 4 },
                           { 600, 240000, restOfBarLoud, 0, 0, 0 }, // only 256 samples per bar are read
                           { 600, 10, loud, 10, 60, 58 },           // one bar per sample
                           { 5, 100, loud, 0, 0, 0 } };             // narrower than one bar

    for (const auto& c : cases)
    {
        juce::Image image (juce::Image::RGB, c.width, 100, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::white);
        DisplayComponent::drawWaveform (g, image.getBounds(), makeBuffer (c.length, c.signal));

        // Channel 0 covers rows 14 to 48, channel 1 rows 50 to 84.
        for (const int y : { 14, 48, 50, 84 })
            for (int x = 0; x < c.width; ++x)
            {
                const int i = c.pitch > 0 ? x / c.pitch : 0, inBar = x - i * c.pitch;
                const bool lit = i < c.bars && inBar >= 1 && inBar <= c.barWidth;
                ASSERT_EQ (image.getPixelAt (x, y).getBrightness() > 0.5f, lit) << c.length << " samples, " << x << ", " << y;
            }
        EXPECT_EQ (image.getPixelAt (c.pitch + 1, 13).getBrightness() + image.getPixelAt (c.pitch + 1, 85).getBrightness(), 0.0f);
    }
}

TEST_F (DisplayFixture, PlayheadsAndGrainsFollowStreamVolumeAndPan)
{
    struct Case { bool enabled; float volume; std::int64_t position; int playheadX; float pan; int grainY, inward, red; };
    const Case cases[] = { { true, 0.25f, 600, 149, 0.5f, 74, 1, 128 },  // alpha sqrt (0.25)
                           { true, 1.0f, -600, 449, 0.0f, 0, 1, 255 },   // wraps from below; pan 0 at the top
                           { true, 1.0f, 3000, 149, 1.0f, 147, -1, 255 }, // from above; pan 1 at the bottom
                           { false, 1.0f, 600, -1, 0.5f, 74, 1, 255 } };  // off: no playhead, grains still drawn

    shown.writePosition = 2399; // off the right edge
    shown.grainCount = 1;

    for (const auto& c : cases)
    {
        stream1.isEnabled->setValueNotifyingHost (c.enabled ? 1.0f : 0.0f);
        shown.modulatedValues[(size_t) stream1.grainVolumeDb->getParameterIndex()] = c.volume;
        shown.streamPositions[0] = c.position;
        shown.grainPositions[0] = 0.5f, shown.grainPans[0] = c.pan, shown.grainStreams[0] = 0;

        const auto image = render (display);
        for (const int x : { 149, 150, 449, 450 })
            EXPECT_NEAR (image.getPixelAt (x, 100).getRed(), x == c.playheadX || x == c.playheadX + 1 ? c.red : 0, 2) << x;
        EXPECT_NEAR (image.getPixelAt (300, c.grainY).getRed(), c.red, 2);
        EXPECT_EQ (image.getPixelAt (300, c.grainY + 6 * c.inward).getRed(), 0); // past the dot's edge
        EXPECT_EQ (image.getPixelAt (100, 40).getRed(), 0);   // the silent buffer draws nothing...
        EXPECT_GT (image.getPixelAt (100, 73).getRed(), 40);  // ...but the centre line
    }
}

TEST_F (DisplayFixture, SelectedStreamShowsItsEnvelope)
{
    using Points = std::vector<juce::Point<int>>;
    // The default envelope runs (0, 148), (150, 0), (300, 74), (450, 74), (600, 148).
    const Points defaultShape { { 75, 74 }, { 150, 0 }, { 225, 37 }, { 450, 74 }, { 525, 111 } };

    struct Case { int selected; bool adsr; float attack, decay; Points lit, dark; int red; };
    const Case cases[] = { { 0, true, 0.25f, 0.25f, defaultShape, { { 150, 74 }, { 300, 20 } }, 255 },
                           // Decay ends at the right edge, and the release starts there too.
                           { 0, true, 0.8f, 0.5f, { { 240, 74 }, { 480, 0 }, { 540, 37 }, { 599, 111 } }, { { 525, 111 } }, 255 },
                           { 0, false, 0.25f, 0.25f, defaultShape, {}, 89 }, // dimmed without ADSR
                           { -1, true, 0.25f, 0.25f, {}, defaultShape, 0 } };

    for (const auto& c : cases)
    {
        display.selectedStream = c.selected;
        stream1.adsrEnabled->setValueNotifyingHost (c.adsr ? 1.0f : 0.0f);
        setLive (stream1.adsrAttack, c.attack), setLive (stream1.adsrDecay, c.decay);
        setLive (stream1.adsrSustain, 0.5f), setLive (stream1.adsrRelease, 0.25f);

        const auto image = render (display);
        for (const auto& p : c.lit)
            EXPECT_NEAR (redAround (image, p.x, p.y), c.red, 20) << p.toString(); // some lie over the centre line
        for (const auto& p : c.dark)
            EXPECT_LT (redAround (image, p.x, p.y), 60) << p.toString(); // the centre line is 53
    }
}

TEST (DisplayText, CountAndLimitArePaddedToThreeDigits)
{
    EXPECT_EQ (DisplayComponent::formatCount (7, 45), "007 | 045");
    EXPECT_EQ (DisplayComponent::formatCount (123, 5), "123 | 005");
}

TEST_F (DisplayFixture, FadesOutWhenBlocksStopAndBackWhenTheyResume)
{
    prepare (processor, 48000.0, 512);
    run (processor, 512, 512);
    shown.buffer = makeBuffer (2400, [] (int) { return 1.0f; }); // x 3, y 20 lies inside the first bar

    auto barRed = [this] { return (float) render (display).getPixelAt (3, 20).getRed(); };
    const float clear = barRed();
    ASSERT_GT (clear, 90.0f);

    // The 8th idle paint starts a 30-paint ramp to black, complete at the 37th.
    for (int paint = 2; paint <= 40; ++paint)
        EXPECT_NEAR (barRed(), clear * (1.0f - juce::jlimit (0.0f, 1.0f, (paint - 7) / 30.0f)), 1.5f) << paint;

    for (int paint = 1; paint <= 31; ++paint)
    {
        run (processor, 512, 512);
        EXPECT_NEAR (barRed(), clear * juce::jmin (1.0f, paint / 30.0f), 1.5f) << paint << " after blocks resumed";
    }
}

// The audio thread copies only the samples the bars read; the picture is the one a whole copy of
// the loop would give.
TEST_F (DisplayFixture, PictureFromTheSparseCopyEqualsTheWholeLoop)
{
    display.setSize (840, 148);
    QuorvalisPluginAudioProcessor::OpenEditorToken editorOpen (processor);
    prepare (processor, 48000.0, 512);
    useFullBuffer (processor);
    run (processor, 48000 * 5, 512, [] (int c, juce::int64 i) { return (float) ((i * 7919 + c * 104729) % 1000) / 1000.0f - 0.5f; });
    processor.displayRequest = 1;
    run (processor, 512, 512, silence);
    ASSERT_EQ (processor.displayRequest.load(), 0);

    const auto sparse = render (display);
    auto& buffer = processor.readSnapshot->buffer;
    ASSERT_EQ (buffer.getNumSamples(), processor.circularBuffer.getLength());
    for (int c = 0; c < 2; ++c)
        buffer.copyFrom (c, 0, processor.circularBuffer.getChannelData (c), buffer.getNumSamples());
    processor.idleCounter = 0;
    const auto whole = render (display);
    ASSERT_GT (whole.getPixelAt (422, 50).getBrightness(), 0.2f);   // there are bars to compare

    for (int y = 0; y < 148; ++y)
        for (int x = 0; x < 840; ++x)
            ASSERT_EQ (sparse.getPixelAt (x, y), whole.getPixelAt (x, y)) << x << ", " << y;
}
