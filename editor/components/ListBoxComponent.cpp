#include "editor/components/ListBoxComponent.h"

namespace qvl
{

ListBoxComponent::ListBoxComponent()
    : juce::ListBox ({}, nullptr)
{
    // Set here, not in the base's constructor: the model part is not built before this body.
    setModel (this);
}

ListBoxComponent::~ListBoxComponent()
{
    setModel (nullptr);
}

void ListBoxComponent::addItem (const juce::String& text, std::function<void()> action)
{
    texts.add (text);
    actions.push_back (std::move (action));
    updateContent();
}

void ListBoxComponent::clearItems()
{
    texts.clear();
    actions.clear();
    deselectAllRows();
    updateContent();
}

int ListBoxComponent::getNumRows()
{
    return texts.size();
}

void ListBoxComponent::paintListBoxItem (int rowNumber, juce::Graphics& g, int width, int height, bool rowIsSelected)
{
    g.fillAll (findColour (rowIsSelected ? juce::PopupMenu::highlightedBackgroundColourId
                                         : juce::PopupMenu::backgroundColourId));

    if (rowNumber >= texts.size())
        return;

    g.setColour (findColour (rowIsSelected ? juce::PopupMenu::highlightedTextColourId
                                           : juce::PopupMenu::textColourId));
    g.drawFittedText (texts[rowNumber], 5, 0, juce::jmax (0, width - 10), juce::jmax (0, height),
                      juce::Justification::centredLeft, 1);
}

void ListBoxComponent::selectedRowsChanged (int row)
{
    runAction (row);
}

void ListBoxComponent::returnKeyPressed (int row)
{
    runAction (row);
}

void ListBoxComponent::runAction (int row)
{
    if (row < 0 || row >= (int) actions.size() || ! actions[(size_t) row])
        return;

    // A copy: the action may refill this list.
    const auto action = actions[(size_t) row];
    action();
}

} // namespace qvl
