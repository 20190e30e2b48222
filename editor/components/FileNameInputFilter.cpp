#include "editor/components/FileNameInputFilter.h"

namespace qvl
{

juce::String FileNameInputFilter::filterNewText (juce::TextEditor&, const juce::String& newInput)
{
    return newInput.removeCharacters (removedCharacters);
}

} // namespace qvl
