#include "editor/components/FileNameInputFilter.h"

#include "processor/UntrustedFile.h"

namespace qvl
{

FileNameInputFilter::FileNameInputFilter (int maximumBytesToUse)
    : maximumBytes (maximumBytesToUse)
{
}

juce::String FileNameInputFilter::filterNewText (juce::TextEditor& editor, const juce::String& newInput)
{
    const auto text = newInput.removeCharacters (removedCharacters);
    bytesWhenCut = -1;

    if (maximumBytes <= 0)
        return text;

    // The selection is replaced by the input.
    const int kept = utf8Bytes (editor.getText()) - utf8Bytes (editor.getHighlightedText());
    int used = 0, characters = 0;

    for (auto p = text.getCharPointer(); ! p.isEmpty(); ++characters)
    {
        const auto bytes = (int) juce::CharPointer_UTF8::getBytesRequiredFor (p.getAndAdvance());

        if (kept + used + bytes > maximumBytes)
        {
            bytesWhenCut = kept + used;
            return text.substring (0, characters);
        }

        used += bytes;
    }

    return text;
}

bool FileNameInputFilter::hasCutInput (const juce::String& currentText) const
{
    return bytesWhenCut >= 0 && utf8Bytes (currentText) >= bytesWhenCut;
}

} // namespace qvl
