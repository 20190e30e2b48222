#pragma once

// The editor built in memory, at scale 1, to find where its controls lie: the window that the
// host shows is the same editor, only scaled.

#include "editor/PluginEditor.h"

#include <memory>

namespace qvl::guitest
{
    class EditorLayout
    {
    public:
        EditorLayout();
        ~EditorLayout();

        int width() const;
        int height() const;

        // A component's area in editor coordinates.
        juce::Rectangle<int> area (const juce::Component&) const;

        // The first button that shows the text; throws when there is none.
        juce::Button& button (const juce::String& text) const;

        // The knob of a parameter; throws when the parameter has none.
        qvl::Knob& knob (const juce::String& parameterId) const;

        // The header's button that shows the current preset's name.
        juce::Button& presetName() const;

        juce::RangedAudioParameter& parameter (const juce::String& parameterId) const;

        // Where the pointer can rest without being over any control: the gap in Stream 1's title row.
        juce::Point<int> restingPlace() const;

        // The first row of the preset list, as the browser opened in list mode shows it.
        juce::Rectangle<int> firstPresetRow() const;

        // The "-"/"+" button at the right of the title row that holds the button with that text.
        juce::Button& collapseButton (const juce::String& titleButtonText) const;

        // The preset browser's panel as it opens in the mode (save or delete), or the area of its
        // button with the text. Opening delete mode saves a scratch preset here first.
        juce::Rectangle<int> browserArea (int mode, const juce::String& buttonText = {}) const;

        QuorvalisPluginAudioProcessor processor;

    private:
        std::unique_ptr<QuorvalisPluginAudioProcessorEditor> editor;
    };
}
