#pragma once

#include <juce_core/juce_core.h>

// Hostile preset documents, shared by the reader's tests, its fuzzer's seeds and its benchmark.
namespace qvl::test::craftedXml
{
    inline const juce::String validParameter ("<PARAM id=\"buffer_feedback\" value=\"0.3\"/>");

    // Nesting hidden from a check that took the quote in a comment inside the start tag for the
    // start of an attribute value.
    inline juce::String nestingAfterCommentInTag (int levels = 30000)
    {
        return "<PARAMETERS <!--\"-->>" + juce::String::repeatedString ("<a>", levels)
             + juce::String::repeatedString ("</a>", levels) + "\"></PARAMETERS>";
    }

    // The same with a processing instruction inside each start tag.
    inline juce::String nestingAfterInstructionInTag (int levels = 100000)
    {
        return "<PARAMETERS>" + validParameter + juce::String::repeatedString ("<a<?/>?>>", levels);
    }

    // A root holding `count` distinct attribute names, then a valid parameter.
    inline juce::String distinctAttributeNames (int count)
    {
        juce::MemoryOutputStream out;
        out << "<PARAMETERS";

        for (int i = 0; i < count; ++i)
            out << " n" << i << "=\"\"";

        out << ">" << validParameter << "</PARAMETERS>";
        return out.toString();
    }
}
