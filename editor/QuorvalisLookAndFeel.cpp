#include "editor/QuorvalisLookAndFeel.h"

namespace qvl
{

QuorvalisLookAndFeel::QuorvalisLookAndFeel()
{
    setColourScheme ({ juce::Colour (0xFF101010),   // windowBackground
                       juce::Colour (0xFF303030),   // widgetBackground
                       juce::Colour (0xFF090909),   // menuBackground
                       juce::Colour (0xFF111111),   // outline
                       juce::Colour (0xFFD4D4D4),   // defaultText
                       juce::Colour (0xFFD0D0D0),   // defaultFill
                       juce::Colour (0xFF111111),   // highlightedText
                       juce::Colour (0xFFD4D4D4),   // highlightedFill
                       juce::Colour (0xFFD4D4D4) }); // menuText

    setColour (juce::TextEditor::focusedOutlineColourId, juce::Colour (0x00000000));
    setColour (juce::TextEditor::highlightedTextColourId, juce::Colour (0xFFFFFFFF));
    setColour (juce::ListBox::backgroundColourId, juce::Colour (0xFF090909));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0xFF424242));
    setColour (juce::PopupMenu::highlightedTextColourId, juce::Colour (0xFFD4D4D4));
}

void QuorvalisLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                                                 bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto bounds = button.getLocalBounds().toFloat().reduced (0.5f, 0.5f);

    // Unlike the framework's, the colour does not change with keyboard focus.
    auto baseColour = backgroundColour.withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f);

    if (shouldDrawButtonAsDown || shouldDrawButtonAsHighlighted)
        baseColour = baseColour.contrasting (shouldDrawButtonAsDown ? 0.2f : 0.05f);

    g.setColour (baseColour);

    const bool left = button.isConnectedOnLeft();
    const bool right = button.isConnectedOnRight();
    const bool top = button.isConnectedOnTop();
    const bool bottom = button.isConnectedOnBottom();

    if (! (left || right || top || bottom))
    {
        g.fillRoundedRectangle (bounds, cornerSize);
        g.setColour (button.findColour (juce::ComboBox::outlineColourId));
        g.drawRoundedRectangle (bounds, cornerSize, 1.0f);
        return;
    }

    // Joined buttons read as one bar: only the corners on the bar's outside are rounded.
    juce::Path path;
    path.addRoundedRectangle (bounds.getX(), bounds.getY(), bounds.getWidth(), bounds.getHeight(), cornerSize, cornerSize,
                              ! (left || top), ! (right || top), ! (left || bottom), ! (right || bottom));
    g.fillPath (path);
    g.setColour (button.findColour (juce::ComboBox::outlineColourId));
    g.strokePath (path, juce::PathStrokeType (1.0f));
}

juce::Font QuorvalisLookAndFeel::getPopupMenuFont()
{
    return juce::Font (15.0f);
}

} // namespace qvl
