#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// Keeps typed or pasted preset names free of characters that file systems refuse or treat
// specially. Text set by the program is not filtered.
class FileNameInputFilter : public juce::TextEditor::InputFilter
{
public:
    static constexpr const char* removedCharacters = "<>?*/|\\[]\":";

    juce::String filterNewText (juce::TextEditor&, const juce::String& newInput) override;
};

} // namespace qvl
