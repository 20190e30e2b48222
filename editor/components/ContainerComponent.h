#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace qvl::next
{

// Lays its items out in one row or one column, with margins, a spacing after every item and
// per-item placement flags, and can size itself to its content. Containers nest.
class ContainerComponent : public juce::Component
{
public:
    struct Options
    {
        bool vertical = false;
        int spacing = 0;
        int defaultWidth = 0;
        int defaultHeight = 0;
        int marginTop = 0;
        int marginBottom = 0;
        int marginLeft = 0;
        int marginRight = 0;
    };

    // Placement flags, as juce::RectanglePlacement has them.
    enum Flags
    {
        xLeft = juce::RectanglePlacement::xLeft,
        xRight = juce::RectanglePlacement::xRight,
        yTop = juce::RectanglePlacement::yTop,
        yBottom = juce::RectanglePlacement::yBottom,
        stretchToFit = juce::RectanglePlacement::stretchToFit,
        leftTop = xLeft | yTop,
        rightTop = xRight | yTop
    };

    explicit ContainerComponent (Options);
    ~ContainerComponent() override;

    // Width or height 0 takes the default size. The caller keeps the component alive.
    juce::Component* addItem (juce::Component* item, int width = 0, int height = 0, int itemFlags = leftTop);

    juce::Component* addOwnedItem (std::unique_ptr<juce::Component> item, int width = 0, int height = 0, int itemFlags = leftTop);

    template <typename ComponentType>
    ComponentType* addOwnedItem (std::unique_ptr<ComponentType> item, int width = 0, int height = 0, int itemFlags = leftTop)
    {
        auto* raw = item.get();
        addOwnedItem (std::unique_ptr<juce::Component> (item.release()), width, height, itemFlags);
        return raw;
    }

    ContainerComponent* addContainer (Options);

    // fitToContent: place the visible items at their own sizes and take the natural size.
    // Otherwise fill the current bounds, taking every item from the ends its flags name.
    void layout (bool fitToContent);

    const Options& getOptions() const noexcept { return options; }
    int getNumItems() const noexcept { return items.size(); }
    juce::Component* getItem (int index) const noexcept { return items[index]; }

private:
    void fitItems();
    void fillItems();

    const Options options;
    juce::OwnedArray<ContainerComponent> containers;
    juce::OwnedArray<juce::Component> ownedItems;
    juce::Array<juce::Component*> items;
    juce::Array<int> flags;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ContainerComponent)
};

} // namespace qvl::next
