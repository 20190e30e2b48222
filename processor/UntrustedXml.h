#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace qvl
{
    // How much of a document the caller is willing to build. Each new attribute or tag name costs
    // a sorted insert into the framework's string pool, so these are checked while reading, before
    // anything of the document is built.
    struct XmlBounds
    {
        int maximumDepth;                   // the root element is level 1
        int maximumElements;
        int maximumAttributesPerElement;
        int maximumAttributes;              // in the whole document
    };

    // Reads XML that anyone could have written (preset and settings files) into the tree that
    // juce::parseXML would give, without recursion and in time linear in the text. Returns nullptr
    // for anything beyond the bounds or outside the plain form the framework writes:
    // - before and after the one root element only white space, comments and processing
    //   instructions (the "<?xml ...?>" header); inside it elements, comments and text; no
    //   document type, no CDATA, no second root;
    // - names of ASCII letters, digits and "_:.-", at most 256 bytes, not starting with a digit,
    //   "-" or ".";
    // - attributes quoted, after white space, each name once per element; a value holds no "<";
    // - only the entities &amp; &lt; &gt; &quot; &apos; &#N; &#xN; (of a character other than 0);
    // - end tags naming the element they close;
    // - strict UTF-8, with no control characters but tab and line ends.
    // Text between elements is checked the same way but not kept: presets and settings hold none.
    std::unique_ptr<juce::XmlElement> parseUntrustedXml (const juce::String& text, const XmlBounds& bounds);
}
