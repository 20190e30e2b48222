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

    // A preset whose only value is number followed by padding up to about `bytes` in all: zeros
    // after a point, or blanks, read as the number they pad. No padding gives the number alone.
    inline juce::String paddedValue (const juce::String& number, const juce::String& padding, int bytes)
    {
        const juce::String head ("<PARAMETERS><PARAM id=\"gain_db_dry\" value=\"" + number);
        const juce::String tail ("\"/></PARAMETERS>");
        const int count = padding.isEmpty() ? 0 : juce::jmax (0, (bytes - head.length() - tail.length()) / padding.length());
        return head + juce::String::repeatedString (padding, count) + tail;
    }
}
