// The reader of preset and settings files: what it refuses, and that what it accepts gives the
// tree the framework's own parser gives.

#include "editor/EditorSettings.h"
#include "processor/PluginProcessor.h"
#include "processor/UntrustedXml.h"
#include "tests/support/CraftedXml.h"

#include <gtest/gtest.h>

namespace
{
    juce::String utf8 (const char* text) { return juce::String (juce::CharPointer_UTF8 (text)); }

    juce::String repeated (const juce::String& text, int count) { return juce::String::repeatedString (text, count); }

    juce::String nested (int levels) { return repeated ("<a>", levels) + repeated ("</a>", levels); }

    juce::String withAttributes (int count)
    {
        juce::String text ("<e");
        for (int i = 0; i < count; ++i)
            text << " n" << i << "=\"\"";
        return text + "/>";
    }

    // The reader keeps no text elements.
    void removeText (juce::XmlElement& xml)
    {
        xml.deleteAllTextElements();
        for (auto* child : xml.getChildIterator())
            removeText (*child);
    }

    juce::String writtenByPropertiesFile()
    {
        juce::TemporaryFile file;
        juce::PropertiesFile properties (file.getFile(), EditorSettings::makeOptions());
        properties.setValue (EditorSettings::scaleKey, 135);
        properties.setValue ("quoted \"key\"", utf8 ("a < b & c > d\t'\xc3\xa9'\r\n\x01 \xf0\x9f\x8e\xb9"));
        EXPECT_TRUE (properties.save());
        return file.getFile().loadFileAsString();
    }
}

TEST (UntrustedXml, RefusesWhatItDoesNotFullyUnderstandAndReadsTheRestAsTheFrameworkDoes)
{
    QuorvalisPluginAudioProcessor processor;
    const auto preset = processor.presets.getOptions().getState().createXml()->toString();
    const auto all = qvl::Presets::xmlBounds;

    struct Case { const char* what; juce::String text; bool accepted; qvl::XmlBounds bounds; const char* x = nullptr; };
    const Case cases[] = {
        { "written by the preset writer", preset, true, all },
        { "written by the properties file", writtenByPropertiesFile(), true, EditorSettings::xmlBounds },
        { "entities, quotes, comments, instructions, text",
          utf8 ("<?xml version=\"1.0\"?>\n<!-- < -->\t<a x='&quot;&amp;&lt;&gt;&apos;\"' y = \"&#9;&#x1F3B9;&#233;\xc3\xa9\r\n>\">"
          "text &amp;<b/><!-- <c/> --></a >\r\n<!-- after --><?q?> "), true, all },
        { "zero-padded references", "<a x=\"&#00000065;&#x00000062;\"/>", true, all },
        // Past the framework's 8 hexadecimal or 12 decimal digits, which it misreads.
        { "long zero-padded references", "<a x=\"&#x000000062;&#0000000000000000000000000000000000009;\"/>", true, all, "b\t" },
        { "at the depth limit", nested (8), true, all },
        { "at the element limit", "<r>" + repeated ("<e/>", 2047) + "</r>", true, all },
        { "at the attribute limits", "<r>" + repeated (withAttributes (64), 64) + "</r>", true, all },

        { "nesting after a comment in a tag", qvl::test::craftedXml::nestingAfterCommentInTag(), false, all },
        { "nesting after instructions in tags", qvl::test::craftedXml::nestingAfterInstructionInTag(), false, all },
        { "one level too deep", nested (9), false, all },
        { "one element too many", "<r>" + repeated ("<e/>", 2048) + "</r>", false, all },
        { "one attribute too many on an element", withAttributes (65), false, all },
        { "one attribute too many in all", "<r>" + repeated (withAttributes (64), 64) + withAttributes (1) + "</r>", false, all },
        { "settings nesting too deep", nested (5), false, EditorSettings::xmlBounds },
        { "empty", "", false, all },
        { "white space", " \r\n", false, all },
        { "document type", "<!DOCTYPE a [<!ENTITY e \"1\">]><a x=\"&e;\"/>", false, all },
        { "CDATA", "<a><![CDATA[<b/>]]></a>", false, all },
        { "unknown entity", "<a x=\"&nbsp;\"/>", false, all },
        { "entity in capitals", "<a x=\"&AMP;\"/>", false, all },
        { "unknown entity in text", "<a>&e;</a>", false, all },
        { "character 0", "<a x=\"&#0;\"/>", false, all },
        { "surrogate", "<a x=\"&#xD800;\"/>", false, all },
        { "past U+10FFFF", "<a x=\"&#x110000;\"/>", false, all },
        { "no digits", "<a x=\"&#x;\"/>", false, all },
        { "zero-padded character 0", "<a x=\"&#x00000000;\"/>", false, all },
        { "zero-padded past U+10FFFF", "<a x=\"&#0000001114112;\"/>", false, all },
        { "past every integer", "<a x=\"&#99999999999999999999999;\"/>", false, all },
        { "signed reference", "<a x=\"&#-65;\"/>", false, all },
        { "no semicolon", "<a x=\"&#65\"/>", false, all },
        { "unquoted value", "<a x=1/>", false, all },
        { "unquoted value before a quote", "<a x=1 y=\"<b>\"/>", false, all },
        { "no value", "<a x/>", false, all },
        { "attributes without space", "<a x=\"1\"y=\"2\"/>", false, all },
        { "attribute twice", "<a x=\"1\" x=\"2\"/>", false, all },
        { "'<' in a value", "<a x=\"<\"/>", false, all },
        { "comment in a tag", "<a <!-- --> x=\"1\"/>", false, all },
        { "instruction in a tag", "<a <?p?>/>", false, all },
        { "instruction in the root", "<a><?p?>x</a>", false, all },
        { "space after '<'", "< a/>", false, all },
        { "'/' apart from '>'", "<a / >", false, all },
        { "mismatched end tag", "<a><b></a></b>", false, all },
        { "unclosed", "<a><b/>", false, all },
        { "end tag first", "</a>", false, all },
        { "second root", "<a/><b/>", false, all },
        { "text before the root", "x<a/>", false, all },
        { "text after the root", "<a/>x", false, all },
        { "unterminated comment", "<a/><!--", false, all },
        { "unterminated instruction", "<?xml <a/>", false, all },
        { "name starting with a digit", "<1a/>", false, all },
        { "name too long", "<" + repeated ("n", 257) + "/>", false, all },
        { "non-ASCII name", utf8 ("<\xc3\xa9/>"), false, all },
        { "control character", "<a x=\"\x01\"/>", false, all },
        { "invalid UTF-8", juce::String::fromUTF8 ("<a x=\"\xc3\x28\"/>", 11), false, all },
        { "overlong UTF-8", juce::String::fromUTF8 ("<a x=\"\xc0\xbc\"/>", 11), false, all },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto xml = qvl::parseUntrustedXml (c.text, c.bounds);
        EXPECT_EQ (xml != nullptr, c.accepted);

        if (xml != nullptr && c.x != nullptr)
            EXPECT_EQ (xml->getStringAttribute ("x"), c.x);

        // Only where it should read: the framework's parser crashes on some of the others.
        else if (xml != nullptr && c.accepted)
        {
            const auto expected = juce::parseXML (c.text);
            ASSERT_NE (expected, nullptr);
            removeText (*expected);
            EXPECT_TRUE (xml->isEquivalentTo (expected.get(), false)) << xml->toString() << "\n" << expected->toString();
        }
    }
}
