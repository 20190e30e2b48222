// Feeds arbitrary bytes to the reader of preset and settings files, as a preset and as a settings
// file. Whatever the input: no crash; an accepted document stays within its bounds and, where the
// framework's recursive parser can safely and rightly read it too, gives the same tree; a loaded
// preset holds only what a preset may hold, and once applied, saves as a preset of ordinary size
// that loads back with the same values and macro names.
#include "editor/EditorSettings.h"
#include "processor/PluginProcessor.h"
#include "processor/UntrustedFile.h"
#include "processor/UntrustedXml.h"
#include "tests/support/CraftedXml.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <stdexcept>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
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

    // The framework's parser misreads a character reference past 8 hexadecimal or 12 decimal
    // digits, zeros included.
    bool hasLongReference (const juce::String& text)
    {
        for (auto* c = text.toRawUTF8(); (c = std::strstr (c, "&#")) != nullptr;)
        {
            c += 2;
            const bool hex = *c == 'x';
            const auto digits = std::strspn (c + (hex ? 1 : 0), hex ? "0123456789abcdefABCDEF" : "0123456789");

            if (digits > (hex ? 8u : 12u))
                return true;
        }

        return false;
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

        if (tags <= maximumTagsForTheFrameworkParser && ! hasLongReference (text))
        {
            const auto expected = juce::parseXML (text);
            check (expected != nullptr, "accepted a document the framework refuses");
            check (sameTree (*xml, *expected), "read differently from the framework's parser");
        }

        return true;
    }

    bool isFloatNumber (const juce::var& v) { return v.isDouble() && std::isfinite ((float) (double) v); }

    bool isTidyMacroName (const juce::var& v)
    {
        const auto name = v.toString();
        return v.isString() && std::strcmp (ProgramProperties::tidyName (name).toRawUTF8(), name.toRawUTF8()) == 0;
    }

    // Every property is one of those allowed, and its value passes the check.
    template <typename Check>
    bool hasOnlyProperties (const juce::ValueTree& tree, std::initializer_list<const char*> allowed, Check check)
    {
        for (int i = 0; i < tree.getNumProperties(); ++i)
        {
            const auto name = tree.getPropertyName (i).toString();

            if (std::none_of (allowed.begin(), allowed.end(), [&] (const char* a) { return name == a; })
                || ! check (name, tree[tree.getPropertyName (i)]))
                return false;
        }

        return true;
    }

    std::map<juce::String, float> valuesOf (const juce::ValueTree& tree)
    {
        std::map<juce::String, float> values;

        for (const auto& child : tree)
            if (child.hasType ("PARAM"))
                values.emplace (child["id"].toString(), (float) child["value"]);

        return values;
    }

    // Applied, the preset saves as one of ordinary size, which loads back as it was saved. Saved
    // presets are some 24 KB; four macro names of 1,024 characters escaped add at most some 40 KB.
    void checkRoundTrip (const juce::ValueTree& preset)
    {
        processor->applyPresetState (preset);
        const auto saved = processor->presets.getOptions().getState();
        const auto text = processor->presets.getPresetText();
        check (text.getNumBytesAsUTF8() < 96 * 1024, "the next saved preset is far larger than a preset");

        const auto loaded = processor->presets.readPresetText (text);
        check (loaded.isValid(), "the next saved preset does not load");
        check (valuesOf (loaded) == valuesOf (saved), "the next saved preset loads other values");

        const auto names = processor->programProperties.getMacroNames();
        const auto loadedNames = loaded.getChildWithName ("PROGRAM_PROPERTIES");

        for (int k = 0; k < names.size(); ++k)
            check (std::strcmp (loadedNames["macro_" + juce::String (k + 1)].toString().toRawUTF8(), names[k].toRawUTF8()) == 0,
                   "a macro name changed on its way through a saved preset");
    }

    // Each name the document's first macro names element gives is kept, tidied, never dropped.
    void checkMacroNames (const juce::String& text, const juce::ValueTree& tree)
    {
        const auto xml = qvl::parseUntrustedXml (text, qvl::Presets::xmlBounds);
        const auto* given = xml->getChildByName ("PROGRAM_PROPERTIES");
        const auto kept = tree.getChildWithName ("PROGRAM_PROPERTIES");

        for (int k = 1; given != nullptr && k <= 4; ++k)
        {
            const auto name = "macro_" + juce::String (k);
            check (given->hasAttribute (name) == kept.hasProperty (name), "a macro name dropped on loading");
            check (std::strcmp (kept[name].toString().toRawUTF8(),
                                ProgramProperties::tidyName (given->getStringAttribute (name)).toRawUTF8()) == 0,
                   "a macro name loaded other than it was given");
        }
    }

    void checkPreset (const juce::String& text, bool accepted)
    {
        const auto tree = processor->presets.readPresetText (text);

        if (! tree.isValid())
            return;

        check (accepted, "a preset loaded from a refused document");
        checkMacroNames (text, tree);
        check (tree.hasType ("PARAMETERS"), "preset of another type");
        check (hasOnlyProperties (tree, { "version_major", "version_minor", "version_patch" },
                                  [] (const juce::String&, const juce::var& v) { return isFloatNumber (v); }),
               "unknown root property or a version that is not a number kept");

        std::unordered_set<std::string> seen;
        int macroNodes = 0;

        for (const auto& child : tree)
        {
            check (child.getNumChildren() == 0, "a node inside a parameter or the macro names kept");

            if (child.hasType ("PROGRAM_PROPERTIES"))
            {
                check (++macroNodes == 1, "more than one macro names node kept");
                check (hasOnlyProperties (child, { "macro_1", "macro_2", "macro_3", "macro_4" },
                                          [] (const juce::String&, const juce::var& v) { return isTidyMacroName (v); }),
                       "unknown property or an untidy macro name kept");
                continue;
            }

            check (child.hasType ("PARAM"), "unknown node kept");
            check (hasOnlyProperties (child, { "id", "value" },
                                      [] (const juce::String& name, const juce::var& v) { return name == "id" ? v.isString() : isFloatNumber (v); }),
                   "unknown parameter property or a value that is not a number kept");

            const auto id = child["id"].toString().toStdString();
            check (parameterIds.count (id) == 1, "unknown parameter kept");
            check (seen.insert (id).second, "a parameter kept twice");
        }

        check (! seen.empty(), "a preset without parameters loaded");
        checkRoundTrip (tree);
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
        writeSeed (folder, "preset.quorvalis", state.toXmlString()); // the framework's text, in the host's locale
        writeSeed (folder, "saved-preset.quorvalis", p.presets.getPresetText());
        state.getChildWithName ("PROGRAM_PROPERTIES")
             .setProperty ("macro_2", juce::String (juce::CharPointer_UTF8 ("W\xc3\xaf" "dth <&> \"\t\r\n\x01")), nullptr);
        writeSeed (folder, "named-macro.quorvalis", state.toXmlString());

        // Every form of number a writer or a person can produce, as a value and as the scale.
        const char* const numbers[] = { "1e4294967297", "-1e-4294967297", "1E+0000000000000000000005", "+.5", "5.", " -6 ",
                                        "0.30000000000000000000000000000000000000001", "1e-310", "1.8e308", "3.4028236e38",
                                        "&#48;.&#x35;", "0x10", "1,5", "inf", "-0", "1e39", "-1e999", "3.4028235e+38",
                                        "1e+20", "-6,5", "1,000" };
        int n = 0;
        for (const char* number : numbers)
        {
            writeSeed (folder, "number-" + juce::String (++n) + ".quorvalis", crafted::paddedValue (number, " ", 0));
            writeSeed (folder, "scale-" + juce::String (n) + ".config",
                       "<PROPERTIES><VALUE name=\"editor_scale_percent\" val=\"" + juce::String (number) + "\"/></PROPERTIES>");
        }

        writeSeed (folder, "padded-zeros.quorvalis", crafted::paddedValue ("0.", "0", 4000));
        writeSeed (folder, "padded-blanks.quorvalis", crafted::paddedValue ("-6", " ", 4000));
        writeSeed (folder, "references.quorvalis", state.toXmlString().replace ("macro_1=\"", "macro_1=\"&#00000065;&#x000000062;&#x1F3B9;"));
        writeSeed (folder, "long-macro-name.quorvalis", state.toXmlString().replace ("macro_1=\"", "macro_1=\"" + juce::String::repeatedString ("&#233;", 1100)));
        writeSeed (folder, "byte-order-mark.quorvalis", "\xef\xbb\xbf" + state.toXmlString());
        folder.getChildFile ("byte-order-mark-only.quorvalis").replaceWithData ("\xef\xbb\xbf", 3);

        // A preset in UTF-16 after its mark, and one in Windows-1252 (a lone 0xe9 for an accent).
        juce::MemoryOutputStream utf16;
        utf16.writeText (crafted::paddedValue ("0.5", " ", 0), true, true, nullptr);
        folder.getChildFile ("utf-16.quorvalis").replaceWithData (utf16.getData(), utf16.getDataSize());
        const char latin[] = "<PARAMETERS><PARAM id=\"gain_db_dry\" value=\"1\"/><PROGRAM_PROPERTIES macro_1=\"Caf\xe9\"/></PARAMETERS>";
        folder.getChildFile ("windows-1252.quorvalis").replaceWithData (latin, sizeof (latin) - 1);

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

    // As a host, or another plug-in in its process, may: every text written under a locale with
    // a decimal comma must still read back.
    try { std::locale::global (std::locale ("de_DE.UTF-8")); } catch (const std::runtime_error&) {}

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
    const auto text = qvl::decodeText (data, size);
    checkPreset (text, checkDocument (text, qvl::Presets::xmlBounds));

    const auto settingsSize = std::min (size, (std::size_t) EditorSettings::maximumFileBytes);
    const auto settings = qvl::decodeText (data, settingsSize);
    checkDocument (settings, EditorSettings::xmlBounds);

    const auto scale = EditorSettings::readEditorScale (settings);
    check (scale >= 0.5f && scale <= 2.0f, "a scale outside its range");

    return 0;
}
