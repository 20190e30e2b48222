// Feeds arbitrary bytes to the reader of preset and settings files, as a preset and as a settings
// file. Whatever the input: no crash; an accepted document stays within its bounds and, where the
// framework's recursive parser can safely read it too, gives the same tree; a loaded preset holds
// only what a preset may hold.
#include "editor/EditorSettings.h"
#include "processor/PluginProcessor.h"
#include "processor/UntrustedFile.h"
#include "processor/UntrustedXml.h"
#include "tests/support/CraftedXml.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

namespace
{
    QuorvalisPluginAudioProcessor* processor = nullptr;
    std::unordered_set<std::string> parameterIds;

    // With this few tags the framework's parser, which recurses once per level, cannot go deep.
    constexpr int maximumTagsForTheFrameworkParser = 40;

    [[noreturn]] void fail (const char* what)
    {
        fprintf (stderr, "xml reader check failed: %s\n", what);
        std::abort();
    }

    void check (bool condition, const char* what)
    {
        if (! condition)
            fail (what);
    }

    std::vector<const juce::XmlElement*> elementChildren (const juce::XmlElement& xml)
    {
        std::vector<const juce::XmlElement*> children;

        for (auto* child : xml.getChildIterator())
            if (! child->isTextElement())
                children.push_back (child);

        return children;
    }

    // Counted without recursion, as the reader reads.
    void checkBounds (const juce::XmlElement& root, const qvl::XmlBounds& bounds)
    {
        std::vector<std::pair<const juce::XmlElement*, int>> pending { { &root, 1 } };
        int elements = 0, attributes = 0;

        while (! pending.empty())
        {
            const auto [xml, depth] = pending.back();
            pending.pop_back();

            check (! xml->isTextElement(), "a text element was kept");
            check (depth <= bounds.maximumDepth, "deeper than the bound");
            check (++elements <= bounds.maximumElements, "more elements than the bound");
            check (xml->getNumAttributes() <= bounds.maximumAttributesPerElement, "more attributes on an element than the bound");
            check ((attributes += xml->getNumAttributes()) <= bounds.maximumAttributes, "more attributes than the bound");

            for (auto* child : xml->getChildIterator())
                pending.push_back ({ child, depth + 1 });
        }
    }

    // Tags, attributes in order and element children; the framework's text elements aside.
    bool sameTree (const juce::XmlElement& ours, const juce::XmlElement& theirs)
    {
        std::vector<std::pair<const juce::XmlElement*, const juce::XmlElement*>> pending { { &ours, &theirs } };

        while (! pending.empty())
        {
            const auto [a, b] = pending.back();
            pending.pop_back();

            if (a->getTagName() != b->getTagName() || a->getNumAttributes() != b->getNumAttributes())
                return false;

            for (int i = 0; i < a->getNumAttributes(); ++i)
                if (a->getAttributeName (i) != b->getAttributeName (i) || a->getAttributeValue (i) != b->getAttributeValue (i))
                    return false;

            const auto aChildren = elementChildren (*a), bChildren = elementChildren (*b);

            if (aChildren.size() != bChildren.size())
                return false;

            for (size_t i = 0; i < aChildren.size(); ++i)
                pending.push_back ({ aChildren[i], bChildren[i] });
        }

        return true;
    }

    // True when the reader accepted the text.
    bool checkDocument (const juce::String& text, const qvl::XmlBounds& bounds)
    {
        const auto xml = qvl::parseUntrustedXml (text, bounds);

        if (xml == nullptr)
            return false;

        checkBounds (*xml, bounds);

        int tags = 0;
        for (auto* c = text.toRawUTF8(); *c != 0 && tags <= maximumTagsForTheFrameworkParser; ++c)
            tags += *c == '<' ? 1 : 0;

        if (tags <= maximumTagsForTheFrameworkParser)
        {
            const auto expected = juce::parseXML (text);
            check (expected != nullptr, "accepted a document the framework refuses");
            check (sameTree (*xml, *expected), "read differently from the framework's parser");
        }

        return true;
    }

    bool hasOnlyProperties (const juce::ValueTree& tree, std::initializer_list<const char*> allowed)
    {
        for (int i = 0; i < tree.getNumProperties(); ++i)
        {
            const auto name = tree.getPropertyName (i).toString();

            if (std::none_of (allowed.begin(), allowed.end(), [&] (const char* a) { return name == a; }))
                return false;

            if (! tree[tree.getPropertyName (i)].isString())
                return false;
        }

        return true;
    }

    void checkPreset (const juce::String& text, bool accepted)
    {
        const auto tree = processor->presets.readPresetText (text);

        if (! tree.isValid())
            return;

        check (accepted, "a preset loaded from a refused document");
        check (tree.hasType ("PARAMETERS"), "preset of another type");
        check (hasOnlyProperties (tree, { "version_major", "version_minor", "version_patch" }), "unknown root property kept");

        std::unordered_set<std::string> seen;
        int macroNodes = 0;

        for (const auto& child : tree)
        {
            check (child.getNumChildren() == 0, "a node inside a parameter or the macro names kept");

            if (child.hasType ("PROGRAM_PROPERTIES"))
            {
                check (++macroNodes == 1, "more than one macro names node kept");
                check (hasOnlyProperties (child, { "macro_1", "macro_2", "macro_3", "macro_4" }), "unknown macro property kept");
                continue;
            }

            check (child.hasType ("PARAM"), "unknown node kept");
            check (hasOnlyProperties (child, { "id", "value" }), "unknown parameter property kept");

            const auto id = child["id"].toString().toStdString();
            check (parameterIds.count (id) == 1, "unknown parameter kept");
            check (seen.insert (id).second, "a parameter kept twice");
            check (! child.hasProperty ("value") || qvl::isPlainNumber (child["value"].toString()), "a value that is not a number kept");
        }

        check (! seen.empty(), "a preset without parameters loaded");
    }

    void writeSeed (const juce::File& folder, const juce::String& name, const juce::String& text)
    {
        folder.getChildFile (name).replaceWithText (text, false, false, nullptr);
    }

    // Seeds from the current code, so the corpus always starts from this build's own format.
    void writeSeeds (const juce::File& folder, QuorvalisPluginAudioProcessor& p)
    {
        folder.createDirectory();
        namespace crafted = qvl::test::craftedXml;
        writeSeed (folder, "comment-in-tag.xml", crafted::nestingAfterCommentInTag());
        writeSeed (folder, "instruction-in-tag.xml", crafted::nestingAfterInstructionInTag());
        writeSeed (folder, "attribute-names.xml", crafted::distinctAttributeNames (100));

        auto state = p.presets.getOptions().getState();
        writeSeed (folder, "preset.quorvalis", state.toXmlString());
        state.getChildWithName ("PROGRAM_PROPERTIES")
             .setProperty ("macro_2", juce::String (juce::CharPointer_UTF8 ("W\xc3\xaf" "dth <&> \"\t\r\n\x01")), nullptr);
        writeSeed (folder, "named-macro.quorvalis", state.toXmlString());

        juce::TemporaryFile file;
        {
            juce::PropertiesFile properties (file.getFile(), EditorSettings::makeOptions());
            properties.setValue (EditorSettings::scaleKey, 135);
            properties.setValue ("other \"key\"", "<&>");
            properties.save();
        }
        writeSeed (folder, "settings.config", file.getFile().loadFileAsString());
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Never shut down: the process ends with the fuzzer, and a static initialiser would be
    // destroyed after the framework's own statics.
    juce::initialiseJuce_GUI();
    processor = new QuorvalisPluginAudioProcessor();

    for (auto* parameter : processor->getParameters())
        if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
            parameterIds.insert (withId->paramID.toStdString());

    if (const char* seedFolder = std::getenv ("QVL_FUZZ_SEED_DIR"))
        writeSeeds (juce::File (seedFolder), *processor);

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    if (size > (std::size_t) std::numeric_limits<int>::max())
        return 0;

    // Bytes into text as the files are read. A settings file is read only up to its own size:
    // its start stands for one.
    const auto text = juce::String::createStringFromData (data, (int) size);
    checkPreset (text, checkDocument (text, qvl::Presets::xmlBounds));

    const auto settingsSize = juce::jmin ((int) size, (int) EditorSettings::maximumFileBytes);
    checkDocument (juce::String::createStringFromData (data, settingsSize), EditorSettings::xmlBounds);

    return 0;
}
