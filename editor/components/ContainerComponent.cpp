#include "editor/components/ContainerComponent.h"

namespace qvl::next
{

namespace
{
    // Sizes in fit mode are bounded so a runaway item cannot make the window absurd.
    constexpr int sizeLimit = 10000;
}

ContainerComponent::ContainerComponent (Options optionsToUse)
    : options (optionsToUse)
{
}

ContainerComponent::~ContainerComponent()
{
    // Children first, so no item outlives its place in the component tree.
    removeAllChildren();
}

juce::Component* ContainerComponent::addItem (juce::Component* item, int width, int height, int itemFlags)
{
    item->setSize (width != 0 ? width : options.defaultWidth, height != 0 ? height : options.defaultHeight);
    addAndMakeVisible (item);
    items.add (item);
    flags.add (itemFlags);
    return item;
}

juce::Component* ContainerComponent::addOwnedItem (std::unique_ptr<juce::Component> item, int width, int height, int itemFlags)
{
    return addItem (ownedItems.add (item.release()), width, height, itemFlags);
}

ContainerComponent* ContainerComponent::addContainer (Options nestedOptions)
{
    auto* container = containers.add (new ContainerComponent (nestedOptions));
    addItem (container, 0, 0, leftTop);
    return container;
}

void ContainerComponent::layout (bool fitToContent)
{
    for (auto* container : containers)
        container->layout (true);

    if (fitToContent)
        fitItems();
    else
        fillItems();

    // Nested rows span this container's inner width, nested columns its inner height.
    for (auto* container : containers)
    {
        if (container->options.vertical)
            container->setSize (container->getWidth(), getHeight() - options.marginTop - options.marginBottom);
        else
            container->setSize (getWidth() - options.marginLeft - options.marginRight, container->getHeight());

        container->layout (false);
    }
}

void ContainerComponent::fitItems()
{
    int position = options.vertical ? options.marginTop : options.marginLeft;
    int budget = sizeLimit;
    juce::Rectangle<int> area;

    for (auto* item : items)
    {
        if (! item->isVisible())
            continue;

        int width = item->getWidth() != 0 ? item->getWidth() : options.defaultWidth;
        int height = item->getHeight() != 0 ? item->getHeight() : options.defaultHeight;

        if (options.vertical)
        {
            height = juce::jmin (height, budget);
            width = juce::jmin (width, sizeLimit);
            item->setBounds (options.marginLeft, position, width, height);
            position += height;
            budget -= height;
        }
        else
        {
            width = juce::jmin (width, budget);
            height = juce::jmin (height, sizeLimit);
            item->setBounds (position, options.marginTop, width, height);
            position += width;
            budget -= width;
        }

        // The spacing follows every item, the last one too; the size comes from the union below.
        const int gap = juce::jmin (options.spacing, budget);
        position += gap;
        budget -= gap;

        area = area.getUnion (item->getBounds());
    }

    setSize (area.getRight() + options.marginRight, area.getBottom() + options.marginBottom);
}

void ContainerComponent::fillItems()
{
    auto space = juce::Rectangle<int> (options.marginLeft, options.marginTop,
                                        juce::jmax (0, juce::jmax (0, getWidth() - options.marginLeft) - options.marginRight),
                                        juce::jmax (0, juce::jmax (0, getHeight() - options.marginTop) - options.marginBottom));

    const auto place = [&space] (juce::Component& item, int itemFlags)
    {
        // Empty items stay where they are; everything else keeps its own size.
        if (item.getWidth() == 0 || item.getHeight() == 0)
            return;

        const juce::RectanglePlacement placement (itemFlags | juce::RectanglePlacement::doNotResize);
        const auto placed = placement.appliedTo (item.getBounds().toDouble(), space.toDouble());
        item.setBounds ((int) placed.getX(), (int) placed.getY(), (int) placed.getWidth(), (int) placed.getHeight());
    };

    const auto shrink = [] (int size, int amount) { return juce::jmax (0, size - amount); };

    for (int i = 0; i < items.size(); ++i)
    {
        auto& item = *items.getUnchecked (i);
        const int itemFlags = flags.getUnchecked (i);

        if (options.vertical)
        {
            place (item, itemFlags);

            if ((itemFlags & yTop) != 0)
            {
                const int amount = item.getHeight() + options.spacing;
                space = space.withTop (space.getY() + amount).withHeight (shrink (space.getHeight(), amount));
            }

            if ((itemFlags & yBottom) != 0)
                space.setHeight (shrink (space.getHeight(), item.getHeight() + options.spacing));
        }
        else
        {
            if ((itemFlags & xLeft) != 0)
            {
                place (item, itemFlags);
                const int amount = item.getWidth() + options.spacing;
                space = space.withX (space.getX() + amount).withWidth (shrink (space.getWidth(), amount));
            }

            if ((itemFlags & xRight) != 0)
            {
                place (item, itemFlags);
                space.setWidth (shrink (space.getWidth(), item.getWidth() + options.spacing));
            }
        }
    }
}

} // namespace qvl::next
