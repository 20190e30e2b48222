#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// The editor's dark face: the framework's V4 look with its own colours, smaller button corners
// that respect connected edges, and a smaller popup-menu font.
class QuorvalisLookAndFeel : public juce::LookAndFeel_V4
{
public:
    QuorvalisLookAndFeel();

    static constexpr float cornerSize = 4.0f;

    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    juce::Font getPopupMenuFont() override;
};

} // namespace qvl
