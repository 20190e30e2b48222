#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

namespace qvl
{

// A list box that is its own model: each row is a text and an action, which runs when the row
// is selected or Return is pressed on it.
class ListBoxComponent : public juce::ListBox,
                         public juce::ListBoxModel
{
public:
    ListBoxComponent();
    ~ListBoxComponent() override;

    void addItem (const juce::String& text, std::function<void()> action);

    // Removes every row and the selection, which marked rows that are gone.
    void clearItems();

    int getNumRows() override;
    void paintListBoxItem (int rowNumber, juce::Graphics&, int width, int height, bool rowIsSelected) override;
    void selectedRowsChanged (int row) override;
    void returnKeyPressed (int row) override;

    const juce::StringArray& getTexts() const noexcept { return texts; }

private:
    void runAction (int row);

    juce::StringArray texts;
    std::vector<std::function<void()>> actions;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ListBoxComponent)
};

} // namespace qvl
