// The processor's own preset library: applying presets to the parameter state with locks,
// stream resets and random clears, the host state after a load, damaged files and MIDI selection.

#include "tests/plugin/PresetTestSupport.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/CraftedXml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qvl::test;

namespace
{
    class ProcessorPresetTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (presetFolder.isInsideTestHome());
        }

        juce::File userFile (const juce::String& name) const
        {
            return presetFolder.folder.getChildFile ("User").getChildFile (name + ".quorvalis");
        }

        juce::File writeUserFile (const juce::String& name, const juce::String& text) const
        {
            auto file = userFile (name);
            EXPECT_TRUE (file.getParentDirectory().createDirectory().wasOk());
            EXPECT_TRUE (file.replaceWithText (text));
            return file;
        }

        juce::String shownName() const { return presets.presetName.toString(); }

        void clearRequests()
        {
            for (auto& request : processor.streamResetRequests)
                request = 0;
            for (auto& modulator : processor.randomParameters)
                *modulator.clearRequest = 0;
        }

        int countRequests()
        {
            int count = 0;
            for (auto& request : processor.streamResetRequests)
                count += request.load();
            for (auto& modulator : processor.randomParameters)
                count += modulator.clearRequest->load();
            return count;
        }

        QuorvalisPluginAudioProcessor processor;
        ScopedPresetFolder presetFolder { processor.presets };
        qvl::Presets& presets = processor.presets;
    };

    std::map<juce::String, double> parameterValues (const juce::ValueTree& tree)
    {
        std::map<juce::String, double> values;
        for (const auto& child : tree)
            if (child.hasType ("PARAM"))
                values[child["id"].toString()] = (double) child["value"];
        return values;
    }

    juce::String macroName (const juce::ValueTree& tree, int number)
    {
        return tree.getChildWithName ("PROGRAM_PROPERTIES")["macro_" + juce::String (number)].toString();
    }
}

TEST_F (ProcessorPresetTest, OptionsUseTheDocumentsFolderAndTheVersionedState)
{
    const auto& options = presets.getOptions();
    EXPECT_EQ (options.folder, testHomeFolder().getChildFile ("Documents/Quorvalis/Presets"));
    EXPECT_EQ (options.extension, "quorvalis");
    EXPECT_EQ (options.processor, &processor);

    const auto state = options.getState();
    EXPECT_TRUE (state.hasType ("PARAMETERS"));
    EXPECT_EQ ((int) state["version_major"], 1);
    EXPECT_EQ ((int) state["version_minor"], 0);
    EXPECT_EQ ((int) state["version_patch"], 2);
    EXPECT_EQ (parameterValues (state).size(), 449u);
    EXPECT_FALSE (state.getChildWithName ("PARAMETER_LOCK").isValid());
    EXPECT_EQ (macroName (state, 3), "Macro 3");

    // A copy: changing it leaves the live state alone.
    auto copy = options.getState();
    copy.removeAllChildren (nullptr);
    EXPECT_EQ (processor.parameterState.state.getNumChildren(), 450);
}

TEST_F (ProcessorPresetTest, LockedParameterKeepsItsValueAndTheNameIsMarked)
{
    setRealValue (processor, "buffer_feedback", 0.8f);
    setRealValue (processor, "stream_1_balance", 0.3f);
    setRealValue (processor, "modulation_1_target", 3.0f);
    presets.savePreset ("Base");
    const auto file = userFile ("Base");
    ASSERT_TRUE (file.existsAsFile());

    setRealValue (processor, "buffer_feedback", 0.2f);
    setRealValue (processor, "stream_1_balance", 0.9f);
    setRealValue (processor, "modulation_1_target", 7.0f);
    lockParameter (processor, "buffer_feedback");

    presets.loadPreset (file);
    EXPECT_NEAR (realValue (processor, "buffer_feedback"), 0.2f, 1e-6);
    EXPECT_NEAR (realValue (processor, "stream_1_balance"), 0.3f, 1e-6);
    // Bit 0 marks a routing parameter, not a lock: it follows the preset.
    EXPECT_EQ (realValue (processor, "modulation_1_target"), 3.0f);
    EXPECT_EQ (shownName(), "Base*");
    EXPECT_EQ (presets.currentPresetFile, file);

    // The kept value also reached the state a host saves.
    EXPECT_NEAR (parameterValues (savedHostState (processor))["buffer_feedback"], 0.2, 1e-6);

    // A locked parameter that already holds the preset's value is no reason for the mark.
    setRealValue (processor, "buffer_feedback", 0.8f);
    presets.loadPreset (file);
    EXPECT_EQ (shownName(), "Base ");
}

TEST_F (ProcessorPresetTest, LoadingResetsStreamsAndClearsRandomModulators)
{
    presets.savePreset ("Any");
    ASSERT_EQ (processor.randomParameters.size(), 4u);
    clearRequests();

    presets.loadPreset (userFile ("Any"));

    for (auto& request : processor.streamResetRequests)
        EXPECT_EQ (request.load(), 1);

    for (auto& modulator : processor.randomParameters)
    {
        EXPECT_EQ (modulator.clearRequest->load(), 1);
        EXPECT_EQ (modulator.triggerRequest->load(), 0);
    }
}

TEST_F (ProcessorPresetTest, HostSaveAfterLoadingHoldsThePresetAndTheUntouchedLocks)
{
    setRealValue (processor, "buffer_feedback", 0.35f);
    setRealValue (processor, "gain_db_dry", -12.0f);
    setRealValue (processor, "stream_3_grain_pitch", 7.0f);
    setRealValue (processor, "grain_count_limit", 250.0f);
    setRealValue (processor, "freeze", 1.0f);
    processor.programProperties.setMacroName (1, "Wobble");
    lockParameter (processor, "gain_db_dry"); // locked, and the preset agrees with it
    presets.savePreset ("Round Trip");

    // The file on its own: the state with versions, without lock flags.
    const auto xml = juce::parseXML (userFile ("Round Trip"));
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("PARAMETERS"));
    EXPECT_EQ (xml->getStringAttribute ("version_major"), "1");
    EXPECT_EQ (xml->getStringAttribute ("version_minor"), "0");
    EXPECT_EQ (xml->getStringAttribute ("version_patch"), "2");
    EXPECT_EQ (xml->getChildByName ("PARAMETER_LOCK"), nullptr);
    const auto fileTree = juce::ValueTree::fromXml (*xml);
    const auto fileValues = parameterValues (fileTree);
    ASSERT_EQ (fileValues.size(), 449u);
    EXPECT_NEAR (fileValues.at ("buffer_feedback"), 0.35, 1e-6);
    EXPECT_NEAR (fileValues.at ("grain_count_limit"), 250.0, 1e-9);
    EXPECT_EQ (macroName (fileTree, 2), "Wobble");

    // Another sound, other names.
    setRealValue (processor, "buffer_feedback", 0.9f);
    setRealValue (processor, "stream_3_grain_pitch", -5.0f);
    setRealValue (processor, "grain_count_limit", 12.0f);
    setRealValue (processor, "freeze", 0.0f);
    setRealValue (processor, "stream_2_position", 0.75f);
    processor.programProperties.setMacroName (1, "Other");
    processor.parameterLockFlags.set (300, processor.parameterLockFlags[300] | 2);
    const auto flagsBefore = processor.parameterLockFlags;

    presets.loadPreset (userFile ("Round Trip"));
    EXPECT_EQ (shownName(), "Round Trip ");

    const auto host = savedHostState (processor);
    ASSERT_TRUE (host.hasType ("PARAMETERS"));
    const auto hostValues = parameterValues (host);
    ASSERT_EQ (hostValues.size(), fileValues.size());

    for (const auto& [id, value] : fileValues)
    {
        SCOPED_TRACE (id);
        ASSERT_EQ (hostValues.count (id), 1u);
        EXPECT_NEAR (hostValues.at (id), value, 1e-6 * std::max (1.0, std::abs (value)));
    }

    EXPECT_EQ (macroName (host, 2), "Wobble");
    EXPECT_EQ (processor.parameterLockFlags, flagsBefore);

    const auto* savedFlags = host.getChildWithName ("PARAMETER_LOCK")["parameter_lock_flags"].getArray();
    ASSERT_NE (savedFlags, nullptr);
    ASSERT_EQ (savedFlags->size(), flagsBefore.size());
    for (int i = 0; i < flagsBefore.size(); ++i)
        EXPECT_EQ (savedFlags->getReference (i).toString(), juce::String (flagsBefore[i])) << "flag " << i;

    // The live state carries no lock data.
    EXPECT_FALSE (processor.parameterState.state.getChildWithName ("PARAMETER_LOCK").isValid());
}

TEST_F (ProcessorPresetTest, UnusableFilesAreRefusedAndChangeNothing)
{
    setRealValue (processor, "buffer_feedback", 0.7f);
    presets.savePreset ("Good");
    const auto good = userFile ("Good");
    const auto goodText = good.loadFileAsString();
    setRealValue (processor, "buffer_feedback", 0.4f);

    const auto withFeedback = [] (const juce::String& value)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<PARAMETERS><PARAM id=\"buffer_feedback\" value=\""
             + value + "\"/><PARAM id=\"stream_1_balance\" value=\"0.1\"/></PARAMETERS>";
    };

    const auto deep = juce::String::repeatedString ("<a>", 100000) + juce::String::repeatedString ("</a>", 100000);

    const std::pair<const char*, juce::String> cases[] = {
        { "empty", "" },
        { "not XML", "this is not a preset" },
        { "truncated", goodText.substring (0, goodText.length() / 2) },
        { "other root type", "<SETTINGS><PARAM id=\"buffer_feedback\" value=\"0.1\"/></SETTINGS>" },
        { "lock data only", "<PARAMETER_LOCK parameter_lock_flags=\"2\"/>" },
        { "no parameters", "<PARAMETERS/>" },
        { "another plug-in's parameters", "<PARAMETERS><PARAM id=\"cutoff\" value=\"0.1\"/></PARAMETERS>" },
        { "text value", withFeedback ("loud") },
        { "empty value", withFeedback ("") },
        { "nan", withFeedback ("nan") },
        { "infinity", withFeedback ("-inf") },
        { "comma for a point", withFeedback ("0,5") },
        { "byte-order mark only", juce::String (juce::CharPointer_UTF8 ("\xef\xbb\xbf")) },
        { "trailing text", withFeedback ("0.5abc") },
        { "hexadecimal", withFeedback ("0x10") },
        { "recursive entity", "<!DOCTYPE PARAMETERS [<!ENTITY a \"1&a;\">]><PARAMETERS><PARAM id=\"buffer_feedback\" value=\"&a;\"/></PARAMETERS>" },
        { "deep nesting", "<PARAMETERS><PARAM id=\"buffer_feedback\" value=\"0.1\"/>" + deep + "</PARAMETERS>" },
        { "nesting after a comment in a tag", qvl::test::craftedXml::nestingAfterCommentInTag() },
        { "nesting after instructions in tags", qvl::test::craftedXml::nestingAfterInstructionInTag() },
        { "a million attribute names", qvl::test::craftedXml::distinctAttributeNames (1000000) },
    };

    juce::MemoryBlock hostStateBefore;
    processor.getStateInformation (hostStateBefore);

    const auto expectUnchanged = [&]
    {
        EXPECT_EQ (presets.currentPresetFile, good);
        EXPECT_EQ (shownName(), "Good ");
        EXPECT_NEAR (realValue (processor, "buffer_feedback"), 0.4f, 1e-6);
        EXPECT_NEAR (realValue (processor, "stream_1_balance"), 0.5f, 1e-6);
        EXPECT_EQ (countRequests(), 0);

        juce::MemoryBlock hostState;
        processor.getStateInformation (hostState);
        EXPECT_EQ (hostState, hostStateBefore);

        const auto host = savedHostState (processor);
        EXPECT_TRUE (host.hasType ("PARAMETERS"));
        const auto values = parameterValues (host);
        EXPECT_EQ (values.size(), 449u);
        for (const auto& [id, value] : values)
            EXPECT_TRUE (std::isfinite (value)) << id;
    };

    clearRequests();

    for (const auto& [label, text] : cases)
    {
        SCOPED_TRACE (label);
        presets.loadPreset (writeUserFile ("Bad", text));
        expectUnchanged();
    }

    {
        SCOPED_TRACE ("missing file");
        presets.loadPreset (userFile ("Missing"));
        expectUnchanged();
    }

    {
        SCOPED_TRACE ("a folder");
        const auto folderFile = userFile ("Folder");
        ASSERT_TRUE (folderFile.createDirectory().wasOk());
        presets.loadPreset (folderFile);
        expectUnchanged();
    }

    {
        SCOPED_TRACE ("invalid tree handed straight to the setter");
        EXPECT_FALSE (processor.applyPresetState (juce::ValueTree()));
        EXPECT_FALSE (processor.applyPresetState (juce::ValueTree ("SETTINGS")));
        expectUnchanged();
    }
}

TEST_F (ProcessorPresetTest, DamagedButUsableFileLoadsWithoutItsForeignParts)
{
    setRealValue (processor, "grain_count_limit", 100.0f);
    const auto flagsBefore = processor.parameterLockFlags;

    const auto file = writeUserFile ("Odd",
        "<PARAMETERS version_major=\"1\" version_minor=\"zero\" junk=\"x\">"
        "<PARAM id=\"buffer_feedback\" value=\"0.3\" junk=\"x\"><X/><PARAM id=\"stream_1_pan\" value=\"1\"/></PARAM>"
        "<PARAM id=\"cutoff\" value=\"0.9\"/>"
        "<PARAM id=\"buffer_feedback\" value=\"0.9\"/>"
        "<PARAM value=\"0.9\"/>"
        "<PARAM id=\"stream_1_balance\" value=\" 0.25 \"/>"
        "<PARAM id=\"stream_1_position\"/>"
        "<PARAMETER_LOCK parameter_lock_flags=\"2\"/>"
        "<X/><X><PARAM id=\"stream_1_pan\" value=\"1\"/></X>"
        "<PROGRAM_PROPERTIES macro_1=\"First\" base64:macro_2=\"AAAA\" junk=\"x\" macro_3=\""
        + juce::String::repeatedString ("y", 2000) + "\"><X/></PROGRAM_PROPERTIES>"
        "<PROGRAM_PROPERTIES macro_1=\"Second\"/>"
        "</PARAMETERS>");

    presets.loadPreset (file);
    EXPECT_EQ (presets.currentPresetFile, file);
    EXPECT_EQ (shownName(), "Odd ");

    EXPECT_NEAR (realValue (processor, "buffer_feedback"), 0.3f, 1e-6); // the first of two
    EXPECT_NEAR (realValue (processor, "stream_1_balance"), 0.25f, 1e-6);
    EXPECT_EQ (realValue (processor, "stream_1_position"), 0.0f);         // no value: default
    EXPECT_EQ (realValue (processor, "grain_count_limit"), 60.0f);        // not named: default
    EXPECT_EQ (processor.parameterLockFlags, flagsBefore);

    const auto& state = processor.parameterState.state;
    EXPECT_FALSE (state.getChildWithName ("PARAMETER_LOCK").isValid());
    EXPECT_FALSE (state.getChildWithName ("X").isValid());     // nor in any later host save
    EXPECT_FALSE (state.getChildWithProperty ("id", "cutoff").isValid());

    int parameters = 0, programProperties = 0;
    for (const auto& child : state)
    {
        parameters += child.hasType ("PARAM") ? 1 : 0;
        programProperties += child.hasType ("PROGRAM_PROPERTIES") ? 1 : 0;

        // Nothing but what a preset holds, nested or not, is carried into the state.
        EXPECT_EQ (child.getNumChildren(), 0);
        for (int i = 0; i < child.getNumProperties(); ++i)
        {
            const auto name = child.getPropertyName (i).toString();
            EXPECT_TRUE (child.hasType ("PARAM") ? (name == "id" || name == "value") : name.startsWith ("macro_")) << name;
        }
    }

    EXPECT_FALSE (state.hasProperty ("junk"));
    EXPECT_EQ ((int) state["version_major"], 1);
    EXPECT_FALSE (state.hasProperty ("version_minor"));

    EXPECT_EQ (parameters, 449);
    EXPECT_EQ (programProperties, 1);
    EXPECT_EQ (macroName (state, 1), "First");
    EXPECT_EQ (macroName (state, 2), "Macro 2");
    EXPECT_EQ (macroName (state, 3), juce::String::repeatedString ("y", 1024)); // cut, not dropped
}

// Whatever a loaded file held, the next preset and host state are as large as usual and load back
// with the same values and names: numbers are kept as numbers, names cut to their bound. Under a
// locale that writes one half as "0,5", as a host may set one, where this machine has one.
TEST_F (ProcessorPresetTest, WhatALoadedFileLeavesSavesAtItsUsualSizeAndLoadsBack)
{
    const ScopedCommaLocale hostLocale;

    namespace crafted = qvl::test::craftedXml;
    const auto withName = [] (const juce::String& name)
    {
        return "<PARAMETERS><PARAM id=\"gain_db_dry\" value=\"-3\"/><PROGRAM_PROPERTIES macro_1=\"" + name + "\"/></PARAMETERS>";
    };
    const auto notes = juce::String::repeatedString (juce::String (juce::CharPointer_UTF8 ("\xc3\xa9\xf0\x9f\x8e\xb9")), 600);

    struct Case { const char* what; juce::String text; float gain; juce::String name; };
    const Case cases[] = {
        { "zeros up to the file limit", crafted::paddedValue ("-6.", "0", 16 * 1024 * 1024), -6.0f, "Macro 1" },
        { "blanks", crafted::paddedValue ("-6", " ", 8 * 1024 * 1024), -6.0f, "Macro 1" },
        { "exponent wrapping round to -1", crafted::paddedValue ("1e-4294967297", "", 0), 0.0f, "Macro 1" },
        { "many digits", crafted::paddedValue ("-0000000000000000000000012.000000000000000000000000001e-0", "", 0), -12.0f, "Macro 1" },
        { "beyond a float", crafted::paddedValue ("1e39", "", 0), 12.0f, "Macro 1" },       // held at the end
        { "beyond a double", crafted::paddedValue ("-1e999", "", 0), -100.0f, "Macro 1" },
        { "exponent wrapping round to 1", crafted::paddedValue ("1e4294967297", "", 0), 12.0f, "Macro 1" },
        { "name at its bound", withName (notes.substring (0, 1024)), -3.0f, notes.substring (0, 1024) },
        { "name past its bound", withName (notes), -3.0f, notes.substring (0, 1024) },
        { "zero-padded references", withName ("&#00000065;&#x000000062;"), -3.0f, "Ab" },
    };

    const auto usualPresetSize = presets.getPresetText().getNumBytesAsUTF8();
    const auto usualHostSize = savedHostChunk (processor).getSize();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto expectHeld = [&c] (QuorvalisPluginAudioProcessor& p)
        {
            EXPECT_EQ (realValue (p, "gain_db_dry"), c.gain);
            EXPECT_EQ (p.programProperties.getMacroNames()[0], c.name);
        };

        setRealValue (processor, "gain_db_dry", -20.0f);
        ASSERT_TRUE (presets.loadPreset (writeUserFile ("Crafted", c.text)));
        expectHeld (processor);

        // A long name adds its own bytes, nothing else does.
        const auto slack = 4 * c.name.getNumBytesAsUTF8() + 64;
        ASSERT_TRUE (presets.savePreset ("Next").wasOk());
        EXPECT_LE (userFile ("Next").getSize(), usualPresetSize + slack);
        EXPECT_FALSE (userFile ("Next").loadFileAsString().containsChar (','));
        const auto host = savedHostChunk (processor);
        EXPECT_LE (host.getSize(), usualHostSize + slack);

        setRealValue (processor, "gain_db_dry", -20.0f);
        processor.programProperties.setMacroName (0, "Other");
        ASSERT_TRUE (presets.loadPreset (userFile ("Next")));
        expectHeld (processor);

        QuorvalisPluginAudioProcessor restored;
        restored.setStateInformation (host.getData(), (int) host.getSize());
        expectHeld (restored);
    }
}

// A host, or another plug-in in its process, may set a locale that writes "0,5" as the C++ global
// one: a preset saved then loads back in any locale, with every value.
TEST_F (ProcessorPresetTest, PresetsSavedUnderACommaLocaleLoadBackInEveryLocale)
{
    juce::Random random (34);
    std::vector<float> saved;

    for (auto* p : processor.getParameters())
    {
        p->setValueNotifyingHost (random.nextFloat());
        saved.push_back (dynamic_cast<juce::RangedAudioParameter*> (p)->convertFrom0to1 (p->getValue()));
    }

    {
        const ScopedCommaLocale hostLocale;
        ASSERT_TRUE (presets.savePreset ("Comma").wasOk());
    }

    EXPECT_FALSE (userFile ("Comma").loadFileAsString().containsChar (','));

    for (const bool comma : { true, false })
    {
        SCOPED_TRACE (comma ? "comma locale" : "C locale");
        std::optional<ScopedCommaLocale> hostLocale;
        if (comma)
            hostLocale.emplace();

        QuorvalisPluginAudioProcessor other;
        ASSERT_TRUE (other.presets.loadPreset (userFile ("Comma")));

        for (auto* p : other.getParameters())
        {
            const auto& ranged = *dynamic_cast<juce::RangedAudioParameter*> (p);
            const auto& range = ranged.getNormalisableRange();
            EXPECT_NEAR (ranged.convertFrom0to1 (p->getValue()), saved[(size_t) p->getParameterIndex()],
                         1e-6 * (range.end - range.start)) << ranged.paramID;
        }
    }
}

TEST_F (ProcessorPresetTest, NameIsMarkedAfterParameterChangesFromTheSecondTick)
{
    presets.savePreset ("Cycle");
    ASSERT_EQ (shownName(), "Cycle ");

    setRealValue (processor, "buffer_feedback", 0.1f);
    runPresetTimerTick (presets);
    setRealValue (processor, "buffer_feedback", 0.2f);
    runPresetTimerTick (presets);
    EXPECT_EQ (shownName(), "Cycle ");

    setRealValue (processor, "buffer_feedback", 0.3f);
    EXPECT_EQ (shownName(), "Cycle ");
    runPresetTimerTick (presets);
    EXPECT_EQ (shownName(), "Cycle*");

    // Loading changes every parameter, but ends with a fresh name and tick count.
    runPresetTimerTick (presets);
    runPresetTimerTick (presets);
    presets.loadPreset (userFile ("Cycle"));
    EXPECT_EQ (shownName(), "Cycle ");
    runPresetTimerTick (presets);
    EXPECT_EQ (shownName(), "Cycle ");
}

TEST_F (ProcessorPresetTest, MidiIndexFiveLoadsTheSixthPreset)
{
    const auto all = makeNumberedPresets (processor, 6);
    ASSERT_EQ (all.size(), 6);

    presets.pendingPresetIndex = 5;
    runPresetTimerTick (presets);

    EXPECT_EQ (presets.currentPresetFile, all[5].file);
    EXPECT_EQ (shownName(), all[5].name + " ");
    EXPECT_NEAR (realValue (processor, "buffer_feedback"), numberedPresetFeedback (all[5].name.getTrailingIntValue()), 1e-6);
    EXPECT_EQ (presets.pendingPresetIndex.load(), -1);
}

TEST_F (ProcessorPresetTest, MidiIndexFiveWithFivePresetsDoesNothing)
{
    ASSERT_EQ (makeNumberedPresets (processor, 5).size(), 5);
    clearRequests();

    presets.pendingPresetIndex = 5;
    runPresetTimerTick (presets);

    EXPECT_EQ (presets.currentPresetFile, juce::File());
    EXPECT_EQ (realValue (processor, "buffer_feedback"), 1.0f);
    EXPECT_EQ (countRequests(), 0);
    EXPECT_EQ (presets.pendingPresetIndex.load(), -1);
}

// Preset folders are shared: a "preset" may be a FIFO or a link to a device. Neither may be listed,
// loaded or stepped onto, and nothing may block (a FIFO's open waits for a writer) or read forever.
TEST_F (ProcessorPresetTest, SpecialFilesAreNeitherListedNorRead)
{
    const auto good = writeUserFile ("Good", "<PARAMETERS><PARAM id=\"buffer_feedback\" value=\"0.3\"/></PARAMETERS>");
    const auto fifo = userFile ("Fifo");
    const auto zero = userFile ("Zero");
    ASSERT_EQ (mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_TRUE (juce::File ("/dev/zero").createSymbolicLink (zero, true));

    auto loading = std::async (std::launch::async, [&]
    {
        for (const auto& file : { fifo, zero })
            presets.loadPreset (file);

        presets.pendingPresetIndex = 1;
        presets.timerCallback();
        return presets.getPresets ("[All]");
    });

    const bool finished = loading.wait_for (std::chrono::seconds (20)) == std::future_status::ready;

    if (! finished)
    {
        // Release a reader stuck in the FIFO's open so the test can end.
        const int writer = open (fifo.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            close (writer);
    }

    ASSERT_TRUE (finished);
    const auto listed = loading.get();
    ASSERT_EQ (listed.size(), 1);
    EXPECT_EQ (listed[0].file, good);
    EXPECT_EQ (presets.currentPresetFile, juce::File());
    EXPECT_EQ (realValue (processor, "buffer_feedback"), 0.5f);
}

// A crafted file far beyond any preset's size in children is refused without being tidied.
TEST_F (ProcessorPresetTest, FilesWithFarTooManyChildrenAreRefused)
{
    juce::String text ("<PARAMETERS>");
    for (int i = 0; i < 5000; ++i)
        text << "<PARAM id=\"buffer_feedback\" value=\"0.3\"/>";
    text << "</PARAMETERS>";

    presets.loadPreset (writeUserFile ("Crafted", text));
    EXPECT_EQ (presets.currentPresetFile, juce::File());
    EXPECT_EQ (realValue (processor, "buffer_feedback"), 0.5f);
}
