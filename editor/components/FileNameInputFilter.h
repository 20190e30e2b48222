#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvl
{

// Keeps typed or pasted preset names free of characters that file systems refuse or treat
// specially, and within the length a file name can take. Text set by the program is not filtered.
class FileNameInputFilter : public juce::TextEditor::InputFilter
{
public:
    static constexpr const char* removedCharacters = "<>?*/|\\[]\":";

    // maximumBytes: the longest text, in bytes of UTF-8, that typing and pasting can make; 0 for
    // no limit. Only whole characters are taken.
    explicit FileNameInputFilter (int maximumBytes = 0);

    juce::String filterNewText (juce::TextEditor&, const juce::String& newInput) override;

    // True when the last typed or pasted text did not fit and the editor still holds as much
    // as was left then; a deletion or an input that fits ends it.
    bool hasCutInput (const juce::String& currentText) const;

private:
    int maximumBytes;
    int bytesWhenCut = -1;
};

} // namespace qvl
