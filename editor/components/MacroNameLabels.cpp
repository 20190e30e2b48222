#include "editor/components/MacroNameLabels.h"

class MacroNameLabels::NameSource : public juce::Value::ValueSource
{
public:
    NameSource (ProgramProperties& propertiesToUse, int indexToUse)
        : properties (&propertiesToUse), index (indexToUse)
    {
    }

    juce::var getValue() const override { return name; }

    void setValue (const juce::var& newValue) override
    {
        // The label hands back every name it is shown; only a new one is stored, or a shown name
        // could overwrite one that a host restored meanwhile.
        const auto text = newValue.toString();
        if (text == name)
            return;

        name = text;
        if (properties != nullptr)
            properties->setMacroName (index, text);
    }

    void show (const juce::String& stored)
    {
        if (stored != name)
        {
            name = stored;
            sendChangeMessage (true);
        }
    }

    // A label may keep its value after the editor that made it has gone.
    ProgramProperties* properties;

private:
    const int index;
    juce::String name;
};

MacroNameLabels::MacroNameLabels (ProgramProperties& propertiesToUse)
    : properties (propertiesToUse)
{
    for (int k = 0; k < ProgramProperties::numMacros; ++k)
        sources.add (new NameSource (properties, k));

    refresh();
}

MacroNameLabels::~MacroNameLabels()
{
    for (auto* source : sources)
        source->properties = nullptr;
}

juce::Value MacroNameLabels::getValue (int index) const
{
    return juce::Value (sources[index]);
}

void MacroNameLabels::refresh()
{
    JUCE_ASSERT_MESSAGE_THREAD

    const auto stored = properties.getMacroNames();

    for (int k = 0; k < sources.size(); ++k)
        sources[k]->show (stored[k]);
}
