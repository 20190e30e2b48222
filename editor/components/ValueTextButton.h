#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// A text button whose text follows a value; the editor header shows the preset name with it
// (value.referTo (presets.presetName)).
class ValueTextButton : public juce::TextButton,
                        public juce::Value::Listener
{
public:
    ValueTextButton();
    ~ValueTextButton() override;

    void valueChanged (juce::Value&) override;

    juce::Value value;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ValueTextButton)
};

} // namespace qvl
