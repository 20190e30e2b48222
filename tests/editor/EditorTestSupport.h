#pragma once

// Shared helpers for editor tests: a processor to bind controls to, mouse events built by hand,
// gesture counting and painting into images.

#include "editor/QuorvalisLookAndFeel.h"
#include "tests/plugin/PresetTestSupport.h"
#include "tests/support/MessagePump.h"

#include <gtest/gtest.h>

#include <atomic>

namespace qvl::test
{
    // Counts what a host would see of a parameter: gestures and value changes.
    struct HostRecorder : juce::AudioProcessorListener
    {
        explicit HostRecorder (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
        ~HostRecorder() override { processor.removeListener (this); }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override
        {
            if (index == watched)
                ++changes;
        }

        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override
        {
            if (index == watched)
                ++begins;
        }

        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override
        {
            if (index == watched)
                ++ends;
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        juce::AudioProcessor& processor;
        int watched = -1;
        std::atomic<int> changes { 0 }, begins { 0 }, ends { 0 };
    };

    // A processor with a fresh look and feel, for tests that build controls bound to it.
    struct EditorFixture : ::testing::Test
    {
        QuorvalisPluginAudioProcessor processor;
        qvl::QuorvalisLookAndFeel lookAndFeel;

        juce::RangedAudioParameter& param (const juce::String& id) { return parameter (processor, id); }
    };

    inline juce::MouseEvent mouseEvent (juce::Component& component, juce::Point<float> position,
                                        juce::ModifierKeys modifiers = juce::ModifierKeys::leftButtonModifier,
                                        int clicks = 1, bool dragged = false)
    {
        const auto now = juce::Time::getCurrentTime();
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, modifiers,
                                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &component, &component, now, position, now, clicks, dragged);
    }

    // Paints a component (and its children) into an image of its own size.
    inline juce::Image render (juce::Component& component)
    {
        return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    }
}
