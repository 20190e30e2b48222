#include "editor/components/DisplayComponent.h"

#include "editor/Palette.h"

#include <cmath>

namespace
{
    constexpr double floorDecibels = -148.0;

    // A bar's height in dB; only the first samples of a long bar are measured.
    double levelOf (const float* samples, int count)
    {
        double sum = 0.0;
        for (int i = 0; i < count; ++i)
            sum += (double) (samples[i] * samples[i]);

        const double rms = std::sqrt (sum / (double) count);
        return rms > 0.0 ? juce::jmax (20.0 * std::log10 (rms), floorDecibels) : floorDecibels;
    }
}

DisplayComponent::DisplayComponent (QuorvalisPluginAudioProcessor& processorToUse)
    : processor (processorToUse)
{
    setOpaque (true);
    setInterceptsMouseClicks (false, false);
    fade.reset (fadeSteps);
    fade.setCurrentAndTargetValue (0.0f);
}

DisplayComponent::~DisplayComponent() = default;

juce::String DisplayComponent::formatCount (int count, int limit)
{
    return juce::String (count).paddedLeft ('0', 3) + " | " + juce::String (limit).paddedLeft ('0', 3);
}

void DisplayComponent::resized()
{
    processor.displayWaveformWidth.store (getWidth(), std::memory_order_relaxed);
}

void DisplayComponent::drawWaveform (juce::Graphics& g, juce::Rectangle<int> area, const juce::AudioBuffer<float>& buffer)
{
    const WaveformBars layout (buffer.getNumSamples(), area.getWidth());
    const int bars = layout.bars;

    if (bars <= 0)
        return;

    const int pitch = area.getWidth() / bars;
    const int h = area.getHeight();
    const bool silent = buffer.hasBeenCleared();

    juce::RectangleList<int> rectangles;

    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        const float* samples = buffer.getReadPointer (c);
        const int centre = area.getY() + (int) (h * 0.5) - (c == 0 ? 1 : 0);
        int cursor = area.getX();
        int widthLeft = area.getWidth();

        for (int i = 0; i < bars; ++i)
        {
            const int start = layout.start (i);
            const int count = layout.count (i);
            const double level = count >= 1 && ! silent ? levelOf (samples + start, count) : floorDecibels;

            // Eighth power: only the loudest few tens of dB rise visibly above the centre.
            const double x = (level - floorDecibels) / -floorDecibels;
            const double x2 = x * x, x4 = x2 * x2;
            const int half = (int) (x4 * x4 * 0.5 * h);

            const int b = juce::jmin (pitch, widthLeft);
            const int barWidth = juce::jmax (0, b - 2);
            const int barX = cursor + 1;
            cursor += b;
            widthLeft -= b;

            if (barWidth >= 1 && half >= 1)
                rectangles.add (barX, c == 0 ? centre - half : centre, barWidth, half);
        }
    }

    g.fillRectList (rectangles);
}

const juce::Image& DisplayComponent::grainDot (int stream, juce::Colour colour, float scale)
{
    auto& dot = grainDots[(size_t) stream];

    if (dot.colour != colour || dot.scale != scale || ! dot.image.isValid())
    {
        // One pixel of room around the dot for its antialiased edge.
        const int size = (int) std::ceil (2.0f * dotRadius * scale) + 2;
        dot = { colour, scale, juce::Image (juce::Image::ARGB, size, size, true) };
        juce::Graphics g (dot.image);
        g.setColour (colour);
        g.fillEllipse (1.0f, 1.0f, 2.0f * dotRadius * scale, 2.0f * dotRadius * scale);
    }

    return dot.image;
}

float DisplayComponent::streamAlpha (const DisplaySnapshot& snapshot, int stream) const
{
    const int index = processor.streamParameters[(size_t) stream].grainVolumeDb->getParameterIndex();
    const float v = snapshot.modulatedValues[(size_t) index];

    // Square root, so quiet streams stay visible.
    return v > 0.0f ? std::sqrt (juce::jmin (v, 1.0f)) : 0.0f;
}

void DisplayComponent::drawEnvelope (juce::Graphics& g, int stream) const
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const auto& p = processor.streamParameters[(size_t) stream];

    g.setColour (juce::Colours::black.withAlpha (0.5f));
    g.fillRect (getLocalBounds());

    const float release = processor.getModulatedRealValue (*p.adsrRelease);
    const float decay = processor.getModulatedRealValue (*p.adsrDecay);
    const float attack = processor.getModulatedRealValue (*p.adsrAttack);
    const float sustain = processor.getModulatedRealValue (*p.adsrSustain);

    const float a = juce::jlimit (0.0f, 1.0f, attack);
    const float d = juce::jlimit (a, 1.0f, a + decay);
    const float r = juce::jlimit (d, 1.0f, 1.0f - release);

    const bool active = p.isEnabled->get() && p.adsrEnabled->get();
    g.setColour (qvl::streamColours[(size_t) stream].withAlpha (active ? 1.0f : 0.35f));

    juce::Path path;
    path.startNewSubPath (0.0f, h);
    path.lineTo (a * w, 0.0f);
    path.lineTo (d * w, (1.0f - sustain) * h);
    path.lineTo (r * w, (1.0f - sustain) * h);
    path.lineTo (w, h);
    g.strokePath (path, juce::PathStrokeType (2.0f));
}

void DisplayComponent::paint (juce::Graphics& g)
{
    // Held for the whole paint; the audio thread only ever tries it, so it never waits for us.
    const juce::SpinLock::ScopedLockType lock (processor.snapshotLock);
    const auto& snapshot = *processor.readSnapshot;

    const int w = getWidth();
    const int h = getHeight();
    const int length = snapshot.buffer.getNumSamples();

    g.fillAll (juce::Colours::black);

    const auto waveformColour = findColour (juce::Slider::rotarySliderFillColourId).withMultipliedBrightness (0.5f);
    g.setColour (waveformColour.withMultipliedBrightness (0.5f));
    g.fillRect (juce::Rectangle<float> (0.0f, (float) ((h - 1) / 2), (float) w, 1.0f));

    g.setColour (waveformColour);
    drawWaveform (g, { 0, 0, w, h }, snapshot.buffer);

    const int streams = juce::jmin ((int) processor.streamParameters.size(), (int) snapshot.streamPositions.size());

    if (length > 0)
    {
        for (int s = 0; s < streams; ++s)
        {
            if (! processor.streamParameters[(size_t) s].isEnabled->get())
                continue;

            // Positions are not wrapped yet and may be negative.
            const std::int64_t p = snapshot.streamPositions[(size_t) s];
            const auto wrapped = ((std::int64_t) length + p % length) % length;
            const float x = (float) ((double) wrapped / (double) length * (double) w) - 1.0f;

            g.setColour (qvl::streamColours[(size_t) s].withAlpha (streamAlpha (snapshot, s)));
            g.fillRect (juce::Rectangle<float> (x, 0.0f, 2.0f, (float) h));
        }
    }

    const int grains = juce::jlimit (0, (int) snapshot.grainPositions.size(), snapshot.grainCount);
    const float scale = g.getInternalContext().getPhysicalPixelScaleFactor();
    g.setOpacity (1.0f);

    for (int i = 0; i < grains; ++i)
    {
        const int stream = snapshot.grainStreams[(size_t) i];
        if (stream < 0 || stream >= streams)
            continue;

        // Stamped at whole screen pixels: rasterising hundreds of ellipses each frame costs more
        // than the rest of the picture together.
        const auto& dot = grainDot (stream, qvl::streamColours[(size_t) stream].withAlpha (streamAlpha (snapshot, stream)), scale);
        const float x = std::round (((float) w * snapshot.grainPositions[(size_t) i] - dotRadius) * scale) - 1.0f;
        const float y = std::round (((float) h * snapshot.grainPans[(size_t) i] - dotRadius) * scale) - 1.0f;
        g.drawImageTransformed (dot, juce::AffineTransform::translation (x, y).scaled (1.0f / scale));
    }

    if (length > 0)
    {
        g.setColour (findColour (juce::Label::textColourId).withAlpha (0.5f));
        g.fillRect (juce::Rectangle<float> ((float) snapshot.writePosition / (float) length * (float) w, 0.0f, 2.0f, (float) h));
    }

    if (selectedStream >= 0 && selectedStream < (int) processor.streamParameters.size())
        drawEnvelope (g, selectedStream);

    g.setColour (juce::Colours::white.withAlpha (0.5f));
    g.drawText (formatCount (snapshot.grainCount, snapshot.grainLimit),
                juce::Rectangle<float> (5.0f, 5.0f, (float) juce::jmax (0, w - 10), (float) juce::jmin (25, juce::jmax (0, h - 10))),
                juce::Justification::centredRight, true);

    // Every block resets the counter; paints without blocks in between fade the picture out.
    const int idlePaints = processor.idleCounter.fetch_add (1);
    fade.setTargetValue (idlePaints >= idlePaintsBeforeFade ? 1.0f : 0.0f);
    const float alpha = fade.getNextValue();

    if (alpha > 0.0f)
    {
        g.setColour (juce::Colours::black.withAlpha (alpha));
        g.fillRect (getLocalBounds());
    }
}
