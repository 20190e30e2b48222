#include "editor/components/ValueTextButton.h"

namespace qvl
{

ValueTextButton::ValueTextButton()
{
    value.addListener (this);
}

ValueTextButton::~ValueTextButton()
{
    value.removeListener (this);
}

void ValueTextButton::valueChanged (juce::Value&)
{
    setButtonText (value.toString());
}

} // namespace qvl
