// Host state: the chunk the host stores, the lock flags and macro names that travel with it, and
// how the reader copes with chunks that are damaged, hostile or written by something else.

#include "processor/PluginProcessor.h"
#include "processor/StateChunk.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/MessagePump.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace
{
    using Processor = QuorvalisPluginAudioProcessor;
    using Bytes = std::vector<std::uint8_t>;

    constexpr int numParameters = 449;

    //==============================================================================
    juce::MemoryBlock saveChunk (Processor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }

    juce::ValueTree decode (const juce::MemoryBlock& block)
    {
        return juce::ValueTree::readFromData (block.getData(), block.getSize());
    }

    juce::ValueTree savedTree (Processor& processor) { return decode (saveChunk (processor)); }

    juce::MemoryBlock encode (const juce::ValueTree& tree)
    {
        juce::MemoryOutputStream stream;
        tree.writeToStream (stream);
        return stream.getMemoryBlock();
    }

    void restore (Processor& processor, const juce::MemoryBlock& block)
    {
        processor.setStateInformation (block.getData(), (int) block.getSize());
    }

    void restore (Processor& processor, const juce::ValueTree& tree) { restore (processor, encode (tree)); }

    void restore (Processor& processor, const Bytes& bytes)
    {
        processor.setStateInformation (bytes.data(), (int) bytes.size());
    }

    juce::RangedAudioParameter& parameter (Processor& processor, const juce::String& id)
    {
        auto* p = processor.parameterState.getParameter (id);
        if (p == nullptr)
            throw std::runtime_error (("no parameter " + id).toStdString());
        return *p;
    }

    float realValue (Processor& processor, const juce::String& id)
    {
        auto& p = parameter (processor, id);
        return p.convertFrom0to1 (p.getValue());
    }

    void setRealValue (Processor& processor, const juce::String& id, float value)
    {
        auto& p = parameter (processor, id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    juce::String macroName (Processor& processor, int n)
    {
        return processor.programProperties.getMacroNames()[n - 1];
    }

    void setMacroName (Processor& processor, int n, const juce::String& name)
    {
        processor.programProperties.setMacroName (n - 1, name);
    }

    // The live node; only for tests that run on one thread.
    juce::ValueTree macroNode (Processor& processor)
    {
        return processor.parameterState.state.getChildWithName ("PROGRAM_PROPERTIES");
    }

    juce::ValueTree findParam (const juce::ValueTree& tree, const juce::String& id)
    {
        for (const auto& child : tree)
            if (child.hasType ("PARAM") && child["id"].toString() == id)
                return child;
        return {};
    }

    int countChildren (const juce::ValueTree& tree, const juce::Identifier& type)
    {
        int count = 0;
        for (const auto& child : tree)
            count += child.hasType (type) ? 1 : 0;
        return count;
    }

    bool isRoutingId (const juce::String& id)
    {
        return (id.startsWith ("modulation_") && id.endsWith ("_target"))
            || (id.startsWith ("modulator_") && id.endsWith ("_modulator_index"));
    }

    // The flags a new processor starts with, worked out from the parameter IDs.
    ParameterLockFlags routingFlags (Processor& processor)
    {
        ParameterLockFlags flags;
        flags.resize (processor.getParameters().size());
        for (auto* p : processor.getParameters())
            flags.set (p->getParameterIndex(), isRoutingId (dynamic_cast<juce::RangedAudioParameter&> (*p).paramID) ? 1 : 0);
        return flags;
    }

    //==============================================================================
    // A recognisable non-default state: some values, locks and names.
    void customise (Processor& processor)
    {
        setRealValue (processor, "buffer_feedback", 0.8f);
        setRealValue (processor, "gain_db_dry", -6.0f);
        setRealValue (processor, "stream_2_is_enabled", 1.0f);
        setRealValue (processor, "modulation_5_target", 42.0f);
        processor.parameterLockFlags.set (7, 2);
        processor.parameterLockFlags.set (149, 3);
        processor.parameterLockFlags.set (150, 0);
        setMacroName (processor, 1, "Width");
        setMacroName (processor, 4, "Smear");
    }

    // A state unlike the one customise makes, to feed as a chunk.
    juce::MemoryBlock otherStateChunk()
    {
        Processor source;
        setRealValue (source, "buffer_feedback", 0.1f);
        setRealValue (source, "grain_count_limit", 17.0f);
        source.parameterLockFlags.set (0, 2);
        source.parameterLockFlags.set (448, 3);
        setMacroName (source, 2, "Other");
        return saveChunk (source);
    }

    // What every state must satisfy after any restore, good or bad.
    void expectValidState (Processor& processor)
    {
        ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);

        for (auto* p : processor.getParameters())
        {
            const float value = p->getValue();
            EXPECT_TRUE (std::isfinite (value) && value >= 0.0f && value <= 1.0f)
                << "parameter " << p->getParameterIndex() << " holds " << value;
        }

        const auto& live = processor.parameterState.state;
        EXPECT_TRUE (live.hasType ("PARAMETERS"));
        EXPECT_FALSE (live.getChildWithName ("PARAMETER_LOCK").isValid());
        ASSERT_GT (live.getNumChildren(), 0);
        EXPECT_TRUE (live.getChild (live.getNumChildren() - 1).hasType ("PROGRAM_PROPERTIES"));

        for (int n = 1; n <= 4; ++n)
            EXPECT_TRUE (macroName (processor, n).trim().isNotEmpty()) << "macro " << n;

        const auto saved = savedTree (processor);
        ASSERT_TRUE (saved.hasType ("PARAMETERS"));
        const int count = saved.getNumChildren();
        ASSERT_GE (count, 2);
        EXPECT_TRUE (saved.getChild (count - 2).hasType ("PROGRAM_PROPERTIES"));

        const auto lock = saved.getChild (count - 1);
        ASSERT_TRUE (lock.hasType ("PARAMETER_LOCK"));
        const auto* flags = lock["parameter_lock_flags"].getArray();
        ASSERT_NE (flags, nullptr);
        EXPECT_EQ (flags->size(), numParameters);

        // Values are kept as numbers, and a preset saved now loads back with the same values and names.
        for (const auto& child : saved)
            EXPECT_FALSE (child["value"].isString()) << child["id"].toString();

        const auto preset = processor.presets.readPresetText (processor.presets.getPresetText());
        ASSERT_TRUE (preset.isValid());
        for (const auto& child : preset)
        {
            if (! child.hasType ("PARAM"))
                continue;

            EXPECT_EQ ((float) child["value"], (float) findParam (saved, child["id"])["value"]) << child["id"].toString();

            // What plays, not an entry the parameter never took.
            const auto* p = processor.parameterState.getParameter (child["id"].toString());
            if (p != nullptr && child.hasProperty ("value"))
            {
                EXPECT_FLOAT_EQ ((float) child["value"], p->convertFrom0to1 (p->getValue())) << child["id"].toString();
            }
        }

        for (int n = 1; n <= 4; ++n)
            EXPECT_EQ (preset.getChildWithName ("PROGRAM_PROPERTIES")["macro_" + juce::String (n)].toString(), macroName (processor, n));
    }

    //==============================================================================
    // Builds raw chunks in the framework's binary tree format, including ones it would never write.
    class ChunkWriter
    {
    public:
        ChunkWriter& text (const char* s)
        {
            while (*s != 0)
                bytes.push_back ((std::uint8_t) *s++);
            bytes.push_back (0);
            return *this;
        }

        ChunkWriter& count (int n)
        {
            juce::MemoryOutputStream stream;
            stream.writeCompressedInt (n);
            return raw (stream.getMemoryBlock());
        }

        ChunkWriter& raw (std::initializer_list<int> values)
        {
            for (int v : values)
                bytes.push_back ((std::uint8_t) v);
            return *this;
        }

        ChunkWriter& raw (const juce::MemoryBlock& block)
        {
            const auto* data = static_cast<const std::uint8_t*> (block.getData());
            bytes.insert (bytes.end(), data, data + block.getSize());
            return *this;
        }

        ChunkWriter& var (const juce::var& value)
        {
            juce::MemoryOutputStream stream;
            value.writeToStream (stream);
            return raw (stream.getMemoryBlock());
        }

        ChunkWriter& repeat (int times, std::initializer_list<int> values)
        {
            for (int i = 0; i < times; ++i)
                raw (values);
            return *this;
        }

        Bytes bytes;
    };

    constexpr int varInt = 1, varDouble = 4, varString = 5, varArray = 7, varBinary = 8;
    constexpr int maxInt = std::numeric_limits<int>::max();

    //==============================================================================
    class CountingListener : public juce::ChangeListener
    {
    public:
        void changeListenerCallback (juce::ChangeBroadcaster*) override
        {
            ++calls;
            onMessageThread = onMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread();
        }

        int calls = 0;
        bool onMessageThread = true;
    };

    long peakResidentKilobytes()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }
}

//==============================================================================
TEST (HostStateRoundTrip, HandPickedValuesOfEveryKindComeBack)
{
    struct Setting { const char* id; float value; };

    // Every one differs from its default; floats, ints, bools, timebases, routing, the last index.
    const Setting settings[] = {
        { "bypass", 1.0f },                       { "gain_db_dry", -6.0f },
        { "gain_db_buffer", -12.5f },             { "freeze", 1.0f },
        { "buffer_feedback", 0.8f },              { "buffer_size_timebase", 11.0f },
        { "buffer_size", 0.3f },                  { "stream_1_is_enabled", 0.0f },
        { "stream_2_is_enabled", 1.0f },          { "stream_3_increment", -2.5f },
        { "stream_4_grain_pitch", 7.25f },        { "stream_1_grain_pitch_quantize", 2741.0f },
        { "stream_2_rate_sync", 0.0f },           { "stream_3_adsr_attack", 0.01f },
        { "stream_4_grain_volume_db", 3.0f },     { "modulator_lfo_2_shape", 4.0f },
        { "modulator_macro_3", 0.75f },           { "modulator_random_4_probability", 0.2f },
        { "modulator_audio_out_gain", 6.0f },     { "modulation_1_amount", -0.4f },
        { "modulation_1_target", 300.0f },        { "modulator_1_modulator_index", 13.0f },
        { "modulation_64_is_bipolar", 1.0f },     { "modulation_64_target", 449.0f },
        { "grain_count_limit", 600.0f },
    };

    Processor source;
    for (const auto& s : settings)
        setRealValue (source, s.id, s.value);

    const auto chunk = saveChunk (source);

    // The saved "value" is the real value, not the normalised one.
    const auto saved = decode (chunk);
    EXPECT_NEAR ((double) findParam (saved, "gain_db_dry")["value"], -6.0, 1e-4);
    EXPECT_EQ ((double) findParam (saved, "grain_count_limit")["value"], 600.0);
    EXPECT_EQ ((double) findParam (saved, "modulation_1_target")["value"], 300.0);

    Processor target;
    restore (target, chunk);

    for (const auto& s : settings)
        EXPECT_NEAR (realValue (target, s.id), s.value, 1e-4 * std::max (1.0f, std::abs (s.value))) << s.id;

    // An untouched parameter keeps its default.
    EXPECT_NEAR (realValue (target, "stream_1_position"), 0.0f, 1e-6);
    EXPECT_NEAR (realValue (target, "modulation_2_target"), -1.0f, 1e-6);
}

TEST (HostStateRoundTrip, AllParametersLockFlagsAndMacroNamesComeBack)
{
    Processor source;
    const auto& parameters = source.getParameters();
    ASSERT_EQ (parameters.size(), numParameters);

    std::vector<float> expected;
    for (auto* p : parameters)
    {
        const int i = p->getParameterIndex();
        auto& ranged = dynamic_cast<juce::RangedAudioParameter&> (*p);

        // A legal value spread over the range (switches take the raw float as given, so snap
        // first); where snapping lands on the default, take the far end.
        float value = ranged.convertTo0to1 (ranged.convertFrom0to1 (0.05f + 0.9f * (float) std::fmod (i * 0.618034, 1.0)));
        if (value == p->getDefaultValue())
            value = p->getDefaultValue() < 0.5f ? 1.0f : 0.0f;

        p->setValueNotifyingHost (value);

        ASSERT_NE (p->getValue(), p->getDefaultValue()) << "parameter " << i;
        expected.push_back (p->getValue());
    }

    for (int i = 0; i < numParameters; ++i)
        source.parameterLockFlags.set (i, (i * 7) % 4);

    setMacroName (source, 1, "Wobble");
    setMacroName (source, 2, " Depth ");
    setMacroName (source, 3, juce::CharPointer_UTF8 ("Gr\xc3\xb6\xc3\x9f" "e \xe2\x9c\x93"));

    Processor target;
    restore (target, saveChunk (source));

    for (auto* p : target.getParameters())
        EXPECT_NEAR (p->getValue(), expected[(size_t) p->getParameterIndex()], 2e-6) << "parameter " << p->getParameterIndex();

    ASSERT_EQ (target.parameterLockFlags.size(), numParameters);
    for (int i = 0; i < numParameters; ++i)
        EXPECT_EQ (target.parameterLockFlags[i], (i * 7) % 4) << "flag " << i;

    EXPECT_EQ (macroName (target, 1), "Wobble");
    EXPECT_EQ (macroName (target, 2), " Depth "); // non-blank names are stored as typed
    EXPECT_EQ (macroName (target, 3), juce::String (juce::CharPointer_UTF8 ("Gr\xc3\xb6\xc3\x9f" "e \xe2\x9c\x93")));
    EXPECT_EQ (macroName (target, 4), "Macro 4");

    // A second trip through the restored processor changes nothing.
    EXPECT_TRUE (saveChunk (target) == saveChunk (source));
}

TEST (HostStateRoundTrip, SavedChunkIsTheBinaryTreeWithVersionAndLockList)
{
    Processor processor;
    customise (processor);

    const auto chunk = saveChunk (processor);

    // The binary form starts with the root type and its terminating zero; XML would start with '<'.
    ASSERT_GT (chunk.getSize(), (size_t) 11);
    EXPECT_EQ (juce::String::fromUTF8 (static_cast<const char*> (chunk.getData()), 10), "PARAMETERS");
    EXPECT_EQ (static_cast<const char*> (chunk.getData())[10], 0);

    const auto tree = decode (chunk);
    ASSERT_TRUE (tree.hasType ("PARAMETERS"));

    EXPECT_TRUE (tree["version_major"].isInt());
    EXPECT_TRUE (tree["version_minor"].isInt());
    EXPECT_TRUE (tree["version_patch"].isInt());
    EXPECT_EQ ((int) tree["version_major"], 1);
    EXPECT_EQ ((int) tree["version_minor"], 0);
    EXPECT_EQ ((int) tree["version_patch"], 2);
    EXPECT_EQ (tree.getNumProperties(), 3);

    // 449 parameters, then the macro names, then the locks.
    ASSERT_EQ (tree.getNumChildren(), numParameters + 2);
    EXPECT_EQ (countChildren (tree, "PARAM"), numParameters);
    EXPECT_TRUE (tree.getChild (numParameters).hasType ("PROGRAM_PROPERTIES"));
    EXPECT_EQ (tree.getChild (numParameters)["macro_1"].toString(), "Width");

    const auto lock = tree.getChild (numParameters + 1);
    ASSERT_TRUE (lock.hasType ("PARAMETER_LOCK"));
    EXPECT_EQ (lock.getNumProperties(), 1);
    EXPECT_EQ (lock.getNumChildren(), 0);

    const auto* flags = lock["parameter_lock_flags"].getArray();
    ASSERT_NE (flags, nullptr);
    ASSERT_EQ (flags->size(), numParameters);

    auto expected = routingFlags (processor);
    expected.set (7, 2);
    expected.set (149, 3);
    expected.set (150, 0);

    for (int i = 0; i < numParameters; ++i)
    {
        EXPECT_TRUE ((*flags)[i].isString()) << "entry " << i;
        EXPECT_EQ ((*flags)[i].toString(), juce::String (expected[i])) << "entry " << i;
    }

    // Saving neither adds to nor disturbs the live state.
    EXPECT_FALSE (processor.parameterState.state.getChildWithName ("PARAMETER_LOCK").isValid());
    EXPECT_EQ (processor.parameterState.state.getNumProperties(), 0);
}

TEST (HostStateRoundTrip, ChunkIsAppendedToWhatTheBlockAlreadyHolds)
{
    Processor processor;
    const auto chunk = saveChunk (processor);

    juce::MemoryBlock block ("xyz", 3);
    processor.getStateInformation (block);

    ASSERT_EQ (block.getSize(), chunk.getSize() + 3);
    EXPECT_EQ (std::memcmp (block.getData(), "xyz", 3), 0);
    EXPECT_EQ (std::memcmp (static_cast<const char*> (block.getData()) + 3, chunk.getData(), chunk.getSize()), 0);
}

TEST (HostStateRoundTrip, MissingParametersTakeDefaultsAndMacroNamesStayLast)
{
    Processor source;
    customise (source);
    auto tree = savedTree (source);

    // As from a version with fewer parameters: drop every stream 2 parameter and the last one.
    for (int i = tree.getNumChildren(); --i >= 0;)
    {
        const auto id = tree.getChild (i)["id"].toString();
        if (id.startsWith ("stream_2_") || id == "grain_count_limit")
            tree.removeChild (i, nullptr);
    }
    ASSERT_EQ (countChildren (tree, "PARAM"), numParameters - 20);

    Processor processor;
    setRealValue (processor, "stream_2_grain_pitch", 5.0f);
    setRealValue (processor, "grain_count_limit", 200.0f);
    restore (processor, tree);

    EXPECT_FLOAT_EQ (realValue (processor, "stream_2_is_enabled"), 0.0f);
    EXPECT_NEAR (realValue (processor, "stream_2_grain_pitch"), 0.0f, 1e-6);
    EXPECT_FLOAT_EQ (realValue (processor, "grain_count_limit"), 60.0f);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.8f);
    EXPECT_EQ (macroName (processor, 1), "Width");

    // The parameter state adds the missing "PARAM" children; the macro names still come last.
    const auto& live = processor.parameterState.state;
    EXPECT_EQ (countChildren (live, "PARAM"), numParameters);
    EXPECT_TRUE (live.getChild (live.getNumChildren() - 1).hasType ("PROGRAM_PROPERTIES"));
    expectValidState (processor);
}

TEST (HostStateRoundTrip, RestoredLiveStateHasVersionNoLockAndMacroNamesLast)
{
    Processor source;
    customise (source);

    Processor target;
    EXPECT_EQ (target.parameterState.state.getNumProperties(), 0);

    restore (target, saveChunk (source));

    const auto& live = target.parameterState.state;
    EXPECT_EQ ((int) live["version_major"], 1);
    EXPECT_EQ ((int) live["version_minor"], 0);
    EXPECT_EQ ((int) live["version_patch"], 2);
    EXPECT_TRUE (live["version_patch"].isInt());

    EXPECT_EQ (countChildren (live, "PARAMETER_LOCK"), 0);
    EXPECT_EQ (countChildren (live, "PROGRAM_PROPERTIES"), 1);
    EXPECT_EQ (countChildren (live, "PARAM"), numParameters);
    EXPECT_TRUE (live.getChild (live.getNumChildren() - 1).hasType ("PROGRAM_PROPERTIES"));

    const auto next = savedTree (target);
    const int count = next.getNumChildren();
    ASSERT_EQ (count, numParameters + 2);
    EXPECT_TRUE (next.getChild (count - 2).hasType ("PROGRAM_PROPERTIES"));
    EXPECT_TRUE (next.getChild (count - 1).hasType ("PARAMETER_LOCK"));

    expectValidState (target);
}

//==============================================================================
namespace
{
    // A saved tree whose lock child carries the given property value (or no lock child at all).
    class LockListTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            Processor source;
            setRealValue (source, "buffer_feedback", 0.25f);
            base = savedTree (source);
            ASSERT_TRUE (base.getChildWithName ("PARAMETER_LOCK").isValid());

            // Recognisable flags that a restore must either keep or overwrite.
            for (int i = 0; i < numParameters; ++i)
                processor.parameterLockFlags.set (i, 2);
        }

        juce::ValueTree withLockProperty (const juce::var& value) const
        {
            auto tree = base.createCopy();
            tree.getChildWithName ("PARAMETER_LOCK").setProperty ("parameter_lock_flags", value, nullptr);
            return tree;
        }

        static juce::var list (std::initializer_list<juce::var> entries)
        {
            return juce::Array<juce::var> (entries);
        }

        void expectFlagsUnchanged() const
        {
            for (int i = 0; i < numParameters; ++i)
                EXPECT_EQ (processor.parameterLockFlags[i], 2) << "flag " << i;
        }

        juce::ValueTree base;
        Processor processor;
    };
}

TEST_F (LockListTest, ShortListClearsTheRestInsteadOfRebuildingRoutingMarks)
{
    restore (processor, withLockProperty (list ({ "2", "3", "1" })));

    ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);
    EXPECT_EQ (processor.parameterLockFlags[0], 2);
    EXPECT_EQ (processor.parameterLockFlags[1], 3);
    EXPECT_EQ (processor.parameterLockFlags[2], 1);

    for (int i = 3; i < numParameters; ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], 0) << "flag " << i;

    // Including the routing parameters, which a fresh processor marks with 1.
    EXPECT_EQ (processor.parameterLockFlags[129], 0);
    EXPECT_EQ (processor.parameterLockFlags[130], 0);

    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.25f);
}

TEST_F (LockListTest, EmptyListClearsEveryFlag)
{
    restore (processor, withLockProperty (juce::Array<juce::var>()));

    ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);
    for (int i = 0; i < numParameters; ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], 0) << "flag " << i;
}

TEST_F (LockListTest, LongListIsCutToTheParameterCount)
{
    juce::Array<juce::var> entries;
    for (int i = 0; i < numParameters + 60; ++i)
        entries.add (juce::String (i < numParameters ? i % 4 : 3));

    restore (processor, withLockProperty (entries));

    ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);
    for (int i = 0; i < numParameters; ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], i % 4) << "flag " << i;
}

TEST_F (LockListTest, MissingOrNonArrayListLeavesFlagsAlone)
{
    auto withoutLock = base.createCopy();
    withoutLock.removeChild (withoutLock.getChildWithName ("PARAMETER_LOCK"), nullptr);

    auto withoutProperty = base.createCopy();
    withoutProperty.getChildWithName ("PARAMETER_LOCK").removeProperty ("parameter_lock_flags", nullptr);

    const juce::ValueTree trees[] = {
        withoutLock,
        withoutProperty,
        withLockProperty ("3"),
        withLockProperty ("0,1,2,3"),
        withLockProperty (7),
    };

    for (const auto& tree : trees)
    {
        setRealValue (processor, "buffer_feedback", 0.9f);
        restore (processor, tree);

        expectFlagsUnchanged();

        // The rest of the tree is still restored.
        EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.25f);
        EXPECT_FALSE (processor.parameterState.state.getChildWithName ("PARAMETER_LOCK").isValid());
    }
}

TEST_F (LockListTest, EntriesGiveTheirLeadingInteger)
{
    restore (processor, withLockProperty (list ({ "3", "abc", "", "12abc", "x7", "1.9", 2, 3.0, true, juce::var(),
                                                  "4294967298", "99999999999", "-2147483648", "0003",
                                                  " \t2", "+3", "3e5", "-0", "2147483647", "-2147483649", "00000000000000000000000002" })));

    const int expected[] = { 3, 0, 0, 12, 0, 1, 2, 3, 1, 0,
                             0, 0, std::numeric_limits<int>::min(), 3,
                             2, 0, 3, 0, std::numeric_limits<int>::max(), 0, 2 };

    for (int i = 0; i < (int) std::size (expected); ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], expected[i]) << "entry " << i;

    for (int i = (int) std::size (expected); i < numParameters; ++i)
        EXPECT_EQ (processor.parameterLockFlags[i], 0) << "flag " << i;
}

TEST_F (LockListTest, SecondLockChildNeverReachesTheLiveState)
{
    auto tree = withLockProperty (list ({ "3", "3" }));
    juce::ValueTree stale ("PARAMETER_LOCK");
    stale.setProperty ("parameter_lock_flags", list ({ "1", "1", "1" }), nullptr);
    tree.appendChild (stale, nullptr);

    restore (processor, tree);

    EXPECT_EQ (processor.parameterLockFlags[0], 3);
    EXPECT_EQ (processor.parameterLockFlags[1], 3);
    EXPECT_EQ (processor.parameterLockFlags[2], 0);
    EXPECT_EQ (countChildren (processor.parameterState.state, "PARAMETER_LOCK"), 0);

    // So the flags survive the next save and restore.
    processor.parameterLockFlags.set (2, 2);
    Processor copy;
    restore (copy, saveChunk (processor));
    EXPECT_EQ (copy.parameterLockFlags, processor.parameterLockFlags);
}

//==============================================================================
TEST (HostStateLockFlags, NewProcessorMarksExactlyTheRoutingParameters)
{
    Processor processor;
    ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);

    int marked = 0;
    for (auto* p : processor.getParameters())
    {
        const auto& id = dynamic_cast<juce::RangedAudioParameter&> (*p).paramID;
        const int flag = processor.parameterLockFlags[p->getParameterIndex()];
        EXPECT_EQ (flag, isRoutingId (id) ? 1 : 0) << id;
        marked += flag;
    }

    EXPECT_EQ (marked, 128);
    EXPECT_EQ (processor.parameterLockFlags[129], 1); // modulation_1_target
    EXPECT_EQ (processor.parameterLockFlags[130], 1); // modulator_1_modulator_index
    EXPECT_EQ (processor.parameterLockFlags[128], 0); // modulation_1_amount
    EXPECT_EQ (processor.parameterLockFlags[444], 1); // modulation_64_target
    EXPECT_EQ (processor.parameterLockFlags[445], 1); // modulator_64_modulator_index
    EXPECT_EQ (processor.parameterLockFlags[446], 0); // modulation_64_is_bipolar
    EXPECT_EQ (processor.parameterLockFlags[448], 0);
}

TEST (HostStateLockFlags, ResetClearsLocksRestoresMarksAndFixesTheSize)
{
    Processor processor;
    const auto fresh = processor.parameterLockFlags;

    for (int i = 0; i < numParameters; ++i)
        processor.parameterLockFlags.set (i, 3);

    processor.resetParameterLockFlags();
    EXPECT_EQ (processor.parameterLockFlags, fresh);

    processor.parameterLockFlags.resize (5);
    processor.resetParameterLockFlags();
    EXPECT_EQ (processor.parameterLockFlags, fresh);

    processor.parameterLockFlags.resize (600);
    processor.resetParameterLockFlags();
    EXPECT_EQ (processor.parameterLockFlags, fresh);
    EXPECT_EQ (processor.parameterLockFlags, routingFlags (processor));
}

//==============================================================================
TEST (HostStateMacroNames, TreeWithoutProgramPropertiesRestoresDefaultsAtTheEnd)
{
    Processor source;
    auto tree = savedTree (source);
    tree.removeChild (tree.getChildWithName ("PROGRAM_PROPERTIES"), nullptr);
    ASSERT_EQ (countChildren (tree, "PROGRAM_PROPERTIES"), 0);

    Processor processor;
    customise (processor);
    const auto node = macroNode (processor);

    restore (processor, tree);

    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ (macroName (processor, n), "Macro " + juce::String (n));

    const auto& live = processor.parameterState.state;
    EXPECT_EQ (countChildren (live, "PROGRAM_PROPERTIES"), 1);
    EXPECT_EQ (live.getChild (live.getNumChildren() - 1), node);
}

// A stored name is kept as it is, cut to its bound, made valid UTF-8, or replaced by its default
// when blank; whatever is kept survives the next preset too (expectValidState).
TEST (HostStateMacroNames, StoredNameIsKeptTidiedOrFallsBackToItsDefault)
{
    Processor source;
    setMacroName (source, 1, "Alpha");
    setMacroName (source, 3, " x ");
    setMacroName (source, 4, "Delta");
    const auto tree = savedTree (source);

    const auto withSecond = [&tree] (const juce::var& name)
    {
        auto copy = tree.createCopy();
        auto names = copy.getChildWithName ("PROGRAM_PROPERTIES");

        if (name.isVoid())
            names.removeProperty ("macro_2", nullptr);
        else
            names.setProperty ("macro_2", name, nullptr);

        return encode (copy);
    };

    // Bytes the framework's writer would never write: swapped in for a placeholder of their length.
    const auto withRawSecond = [&withSecond] (const char* bytes)
    {
        const auto chunk = withSecond (juce::String::repeatedString ("@", (int) std::strlen (bytes)));
        std::string raw (static_cast<const char*> (chunk.getData()), chunk.getSize());
        const auto at = raw.find (std::string (std::strlen (bytes), '@'));
        raw.replace (at, std::strlen (bytes), bytes);
        return juce::MemoryBlock (raw.data(), raw.size());
    };

    const auto utf8 = [] (const char* text) { return juce::String (juce::CharPointer_UTF8 (text)); };
    const auto notes = juce::String::repeatedString (utf8 ("\xc3\xa9\xf0\x9f\x8e\xb9"), 600);

    struct Case { const char* what; juce::MemoryBlock chunk; juce::String expected; };
    const Case cases[] = {
        { "missing", withSecond ({}), "Macro 2" },
        { "blank", withSecond (" \t \n "), "Macro 2" },
        { "empty", withSecond (""), "Macro 2" },
        { "a number", withSecond (7), "7" },
        { "at its bound", withSecond (notes.substring (0, 1024)), notes.substring (0, 1024) },
        { "past its bound", withSecond (notes), notes.substring (0, 1024) },
        { "malformed UTF-8", withRawSecond ("Caf\xe9 \xed\xa0\x80|"), utf8 ("Caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd|") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        Processor processor;
        setMacroName (processor, 2, "Previous");
        restore (processor, c.chunk);
        expectValidState (processor);

        EXPECT_EQ (macroName (processor, 1), "Alpha");
        EXPECT_EQ (macroName (processor, 2), c.expected);
        EXPECT_EQ (macroName (processor, 3), " x ");
        EXPECT_EQ (macroName (processor, 4), "Delta");
    }
}

TEST (HostStateMacroNames, EmptyNameTurnsIntoTheDefaultAtOnce)
{
    Processor processor;

    setMacroName (processor, 3, "Spread");
    EXPECT_EQ (macroName (processor, 3), "Spread");

    setMacroName (processor, 3, "");
    EXPECT_EQ (macroName (processor, 3), "Macro 3");

    setMacroName (processor, 1, "   ");
    EXPECT_EQ (macroName (processor, 1), "Macro 1");

    setMacroName (processor, 1, "Named");
    EXPECT_EQ (macroName (processor, 1), "Named");
}

TEST (HostStateMacroNames, NamesAndTheirNodeFollowEveryRestore)
{
    Processor processor;
    const auto node = macroNode (processor);

    Processor first;
    setMacroName (first, 2, "Width");
    restore (processor, saveChunk (first));
    EXPECT_EQ (macroName (processor, 2), "Width");

    Processor second;
    setMacroName (second, 2, "Height");
    restore (processor, saveChunk (second));
    EXPECT_EQ (macroName (processor, 2), "Height");

    Processor plain;
    restore (processor, saveChunk (plain));
    EXPECT_EQ (macroName (processor, 2), "Macro 2");

    EXPECT_EQ (macroNode (processor), node);
}

TEST (HostStateMacroNames, SecondProgramPropertiesChildDoesNotOutliveTheRestore)
{
    Processor source;
    setMacroName (source, 1, "Kept");
    auto tree = savedTree (source);

    juce::ValueTree stale ("PROGRAM_PROPERTIES");
    stale.setProperty ("macro_1", "Stale", nullptr);
    tree.addChild (stale, 0, nullptr);

    // The first one counts; the other must not come back on the next restore.
    Processor processor;
    restore (processor, tree);
    EXPECT_EQ (macroName (processor, 1), "Stale");
    EXPECT_EQ (countChildren (processor.parameterState.state, "PROGRAM_PROPERTIES"), 1);

    setMacroName (processor, 1, "Edited");
    Processor copy;
    restore (copy, saveChunk (processor));
    EXPECT_EQ (macroName (copy, 1), "Edited");
}

//==============================================================================
TEST (HostStateNotification, RestoreSendsOneChangeMessage)
{
    CountingListener listener;
    Processor processor;
    processor.changeBroadcaster.addChangeListener (&listener);

    const auto chunk = otherStateChunk();
    restore (processor, chunk);

    // Delivered later, on the message thread.
    EXPECT_EQ (listener.calls, 0);
    EXPECT_TRUE (qvl::test::pumpMessagesUntil ([&] { return listener.calls > 0; }));
    qvl::test::pumpMessages (50);
    EXPECT_EQ (listener.calls, 1);
    EXPECT_TRUE (listener.onMessageThread);

    processor.changeBroadcaster.removeChangeListener (&listener);
}

TEST (HostStateNotification, RestoreOnAHostThreadNotifiesTheMessageThread)
{
    CountingListener listener;
    Processor processor;
    processor.changeBroadcaster.addChangeListener (&listener);

    const auto chunk = otherStateChunk();
    std::thread host ([&] { restore (processor, chunk); });
    host.join();

    EXPECT_TRUE (qvl::test::pumpMessagesUntil ([&] { return listener.calls > 0; }));
    EXPECT_TRUE (listener.onMessageThread);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.1f);
    EXPECT_EQ (macroName (processor, 2), "Other");

    processor.changeBroadcaster.removeChangeListener (&listener);
}

//==============================================================================
namespace
{
    // A processor in a recognisable state; `kept` is what it saves before the bad chunk arrives.
    class BadChunkTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            customise (processor);
            kept = saveChunk (processor);
        }

        void expectKept (const Bytes& bytes)
        {
            restore (processor, bytes);
            expectValidState (processor);
            EXPECT_TRUE (saveChunk (processor) == kept) << "the state changed";
        }

        void expectKept (const void* data, int size)
        {
            processor.setStateInformation (data, size);
            expectValidState (processor);
            EXPECT_TRUE (saveChunk (processor) == kept) << "the state changed";
        }

        static Bytes toBytes (const juce::MemoryBlock& block)
        {
            const auto* data = static_cast<const std::uint8_t*> (block.getData());
            return Bytes (data, data + block.getSize());
        }

        Processor processor;
        juce::MemoryBlock kept;
    };
}

TEST_F (BadChunkTest, EmptyNullAndNegativeSizesAreIgnored)
{
    const char data[] = "PARAMETERS";
    expectKept (data, 0);
    expectKept (nullptr, 0);
    expectKept (nullptr, 100);
    expectKept (data, -1);
    expectKept (data, std::numeric_limits<int>::min());
}

TEST_F (BadChunkTest, EveryOneByteChunkIsIgnored)
{
    for (int b = 0; b < 256; ++b)
    {
        SCOPED_TRACE (b);
        expectKept (Bytes { (std::uint8_t) b });
    }
}

TEST_F (BadChunkTest, TruncatedChunkIsIgnoredAtEveryLength)
{
    const auto full = toBytes (otherStateChunk());
    ASSERT_GT (full.size(), (size_t) 1000);

    // The framework's reader takes the missing bytes as zeros, so many of these cuts still give
    // a tree: right after the root type an empty one, inside the lock list one whose tail reads
    // as 0.
    for (size_t length = 1; length < full.size(); ++length)
    {
        SCOPED_TRACE (length);
        const Bytes cut (full.begin(), full.begin() + (std::ptrdiff_t) length);
        restore (processor, cut);

        // Checked cheaply; the full comparison runs on a sample.
        ASSERT_EQ (processor.parameterLockFlags[7], 2);
        ASSERT_EQ (processor.parameterLockFlags[448], 0);
        ASSERT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.8f);
        ASSERT_EQ (macroName (processor, 2), "Macro 2");

        if (length % 97 == 0 || length + 8 > full.size())
        {
            ASSERT_TRUE (saveChunk (processor) == kept);
        }
    }

    expectValidState (processor);
    EXPECT_TRUE (saveChunk (processor) == kept);

    // The whole chunk still applies.
    restore (processor, full);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.1f);
    EXPECT_EQ (processor.parameterLockFlags[448], 3);
}

TEST_F (BadChunkTest, RandomBytesAreIgnored)
{
    std::mt19937 generator (20240611);

    for (int round = 0; round < 300; ++round)
    {
        Bytes bytes ((size_t) std::uniform_int_distribution<int> (1, 4096) (generator));
        for (auto& b : bytes)
            b = (std::uint8_t) generator();

        SCOPED_TRACE (round);
        restore (processor, bytes);
        ASSERT_EQ (processor.parameterLockFlags[149], 3);
        ASSERT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.8f);
    }

    expectValidState (processor);
    EXPECT_TRUE (saveChunk (processor) == kept);
}

TEST_F (BadChunkTest, RandomBodyBehindTheRightRootTypeLeavesAValidState)
{
    std::mt19937 generator (77);

    for (int round = 0; round < 300; ++round)
    {
        ChunkWriter chunk;
        chunk.text ("PARAMETERS");
        const int length = std::uniform_int_distribution<int> (0, 2048) (generator);
        for (int i = 0; i < length; ++i)
            chunk.bytes.push_back ((std::uint8_t) generator());

        SCOPED_TRACE (round);
        restore (processor, chunk.bytes);
        ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);
        for (auto* p : processor.getParameters())
            ASSERT_TRUE (std::isfinite (p->getValue()));
    }

    expectValidState (processor);
}

TEST_F (BadChunkTest, FlippedBytesLeaveAValidState)
{
    const auto good = toBytes (otherStateChunk());
    std::mt19937 generator (4242);

    for (int round = 0; round < 400; ++round)
    {
        auto bytes = good;
        const int flips = 1 + (round % 4);
        size_t firstPosition = bytes.size();

        for (int f = 0; f < flips; ++f)
        {
            const auto position = (size_t) std::uniform_int_distribution<size_t> (0, bytes.size() - 1) (generator);
            bytes[position] ^= (std::uint8_t) std::uniform_int_distribution<int> (1, 255) (generator);
            firstPosition = std::min (firstPosition, position);
        }

        SCOPED_TRACE (round);
        customise (processor);
        const auto before = saveChunk (processor);
        restore (processor, bytes);

        ASSERT_EQ (processor.parameterLockFlags.size(), numParameters);
        for (auto* p : processor.getParameters())
            ASSERT_TRUE (std::isfinite (p->getValue()));

        // A damaged root type can never be this plug-in's state.
        if (firstPosition < 11)
        {
            ASSERT_TRUE (saveChunk (processor) == before);
        }

        if (round % 50 == 0)
            expectValidState (processor);
    }

    expectValidState (processor);
}

TEST_F (BadChunkTest, GiganticCountsAreRefusedWithoutBuildingAnything)
{
    const Bytes chunks[] = {
        // Property count.
        ChunkWriter().text ("PARAMETERS").count (maxInt).bytes,
        ChunkWriter().text ("PARAMETERS").count (maxInt).text ("a").var (1).bytes,
        // Child count, with and without a first child.
        ChunkWriter().text ("PARAMETERS").count (0).count (maxInt).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).count (maxInt).text ("PARAM").count (0).count (0).bytes,
        // Array count, at the root and deep inside a lock list.
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (2).raw ({ varArray }).count (maxInt).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).count (1).text ("PARAMETER_LOCK").count (1)
                     .text ("parameter_lock_flags").count (6).raw ({ varArray }).count (maxInt).var ("1").bytes,
        // Binary and text sizes.
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (maxInt).raw ({ varBinary, 1, 2, 3 }).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (maxInt).raw ({ varString, 'x', 0 }).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (maxInt).raw ({ 99 }).count (0).bytes,
        // Counts the framework's reader cannot even represent: five bytes, and the lowest int.
        ChunkWriter().text ("PARAMETERS").raw ({ 0x05, 1, 0, 0, 0, 0 }).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).raw ({ 0x84, 0, 0, 0, 0x80 }).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (2).raw ({ varArray, 0x84, 0, 0, 0, 0x80 }).count (0).bytes,
        // A gigantic count inside a value of a plausible "PARAM" child.
        ChunkWriter().text ("PARAMETERS").count (0).count (1).text ("PARAM").count (2)
                     .text ("id").var ("buffer_feedback").text ("value").count (maxInt).raw ({ varString, '1', 0 }).count (0).bytes,
    };

    const auto peakBefore = peakResidentKilobytes();

    for (size_t i = 0; i < std::size (chunks); ++i)
    {
        SCOPED_TRACE (i);
        {
            qvl::test::ScopedAllocationCounter allocations;
            restore (processor, chunks[i]);
            EXPECT_LT (allocations.count(), (size_t) 16);
        }
        expectValidState (processor);
        EXPECT_TRUE (saveChunk (processor) == kept);
    }

    // Nothing close to what the counts ask for was ever touched.
    EXPECT_LT (peakResidentKilobytes() - peakBefore, 64L * 1024);
}

TEST_F (BadChunkTest, DeepNestingIsRefused)
{
    constexpr int depth = 100000;

    ChunkWriter trees;
    trees.text ("PARAMETERS").count (0).count (1);
    for (int i = 0; i < depth; ++i)
        trees.text ("A").count (0).count (1);
    trees.text ("A").count (0).count (0);
    expectKept (trees.bytes);

    ChunkWriter arrays;
    arrays.text ("PARAMETERS").count (1).text ("a");
    arrays.repeat (depth, { 0x01, 0x05, varArray, 0x01, 0x01 });
    arrays.raw ({ 0 }).count (0);
    expectKept (arrays.bytes);

    // The same depth inside the lock list.
    ChunkWriter lock;
    lock.text ("PARAMETERS").count (0).count (1).text ("PARAMETER_LOCK").count (1).text ("parameter_lock_flags");
    lock.repeat (depth, { 0x01, 0x05, varArray, 0x01, 0x01 });
    lock.raw ({ 0 }).count (0);
    expectKept (lock.bytes);
}

TEST_F (BadChunkTest, ModerateNestingInAnUnknownChildIsAccepted)
{
    auto tree = decode (otherStateChunk());

    juce::ValueTree extra ("EXTRA");
    auto level = extra;
    for (int i = 0; i < 20; ++i)
    {
        juce::ValueTree child ("LEVEL");
        level.appendChild (child, nullptr);
        level = child;
    }
    tree.addChild (extra, 0, nullptr);

    restore (processor, tree);
    expectValidState (processor);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.1f);
    EXPECT_EQ (processor.parameterLockFlags[448], 3);
}

TEST_F (BadChunkTest, OtherTreesAreIgnored)
{
    auto tree = decode (otherStateChunk());

    // Right content under another root type.
    auto renamed = juce::ValueTree ("STATE");
    renamed.copyPropertiesAndChildrenFrom (tree, nullptr);
    expectKept (toBytes (encode (renamed)));

    // The empty record the writer uses for an invalid tree.
    expectKept (Bytes { 0, 0, 0 });
    expectKept (toBytes (encode (juce::ValueTree())));

    // The same state as XML text, with and without a terminating zero (XML cannot hold the list).
    tree.removeChild (tree.getChildWithName ("PARAMETER_LOCK"), nullptr);
    const auto xml = tree.toXmlString();
    expectKept (xml.toRawUTF8(), (int) xml.getNumBytesAsUTF8());
    expectKept (xml.toRawUTF8(), (int) xml.getNumBytesAsUTF8() + 1);

    // The framework's binary XML wrapper.
    juce::MemoryBlock wrapped;
    juce::AudioProcessor::copyXmlToBinary (*tree.createXml(), wrapped);
    expectKept (toBytes (wrapped));
}

TEST_F (BadChunkTest, NonNumbersFallBackToDefaultsAndNumbersBeyondAFloatAreClamped)
{
    const auto source = decode (otherStateChunk());
    enum Outcome { byDefault, atTop, atBottom };
    struct Row { juce::var value; Outcome outcome; };

    // Beyond a float's range, or a double's, a number is held at the end like any number past it:
    // a larger number never gives a smaller value.
    const Row rows[] = {
        { "nan", byDefault }, { "NaN", byDefault }, { "-nan", byDefault }, { "inf", byDefault },
        { "-inf", byDefault }, { "Infinity", byDefault }, { "0,5", byDefault }, { "0.5 dB", byDefault },
        { "", byDefault }, { juce::Array<juce::var> { 1 }, byDefault },
        { std::numeric_limits<double>::quiet_NaN(), byDefault },
        { std::numeric_limits<double>::infinity(), byDefault },
        { -std::numeric_limits<double>::infinity(), byDefault },
        { "1e999", atTop }, { "-1e999", atBottom }, { "1e4294967297", atTop }, { "-1e4294967297", atBottom },
        { "1e39", atTop }, { "3.4028235e38", atTop }, { -1.2e294, atBottom }, { 1e39, atTop },
    };

    for (size_t k = 0; k < std::size (rows); ++k)
    {
        const auto& row = rows[k];
        SCOPED_TRACE (k); // not the value itself: turning a non-finite number into text is undefined
        auto tree = source.createCopy();

        for (const char* id : { "gain_db_dry", "stream_1_adsr_attack", "grain_count_limit", "gain_db_buffer" })
            findParam (tree, id).setProperty ("value", row.value, nullptr); // the last: where the value is already at the end it would clamp to

        customise (processor);
        setRealValue (processor, "stream_1_adsr_attack", 0.5f);
        restore (processor, tree);
        expectValidState (processor);

        const auto expected = [&] (float byDefaultValue, float bottom, float top)
        {
            return row.outcome == byDefault ? byDefaultValue : row.outcome == atTop ? top : bottom;
        };

        EXPECT_FLOAT_EQ (realValue (processor, "gain_db_dry"), expected (0.0f, -100.0f, 12.0f));
        EXPECT_NEAR (realValue (processor, "stream_1_adsr_attack"), expected (0.25f, 0.0001f, 1.0f), 1e-5);
        EXPECT_FLOAT_EQ (realValue (processor, "grain_count_limit"), expected (60.0f, 1.0f, 600.0f));

        // Everything else in the chunk applies.
        EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.1f);
        EXPECT_EQ (processor.parameterLockFlags[448], 3);
        EXPECT_EQ (macroName (processor, 2), "Other");
    }
}

// A value stored as text is read exactly, for any exponent, and kept as its number: its text,
// padding and all, never reaches the next chunk.
TEST_F (BadChunkTest, TextValuesAreReadExactlyAndKeptAsNumbers)
{
    const auto source = decode (otherStateChunk());
    const auto usualSize = otherStateChunk().getSize();

    const std::pair<juce::String, float> cases[] = {
        { "1e-4294967297", 0.0f },      // the exponent would wrap round to -1: 0.1 dB
        { "-12" + juce::String::repeatedString (" ", 100000), -12.0f },
        { "-12." + juce::String::repeatedString ("0", 100000), -12.0f },
        { "  -1.2e1  ", -12.0f },
        { "-0000000000000000000000000012", -12.0f },
        { "-1200000000000000000000000000000000000000e-38", -12.0f },
    };

    for (const auto& [text, expected] : cases)
    {
        SCOPED_TRACE (text.substring (0, 40));
        auto tree = source.createCopy();
        findParam (tree, "gain_db_dry").setProperty ("value", text, nullptr);

        restore (processor, tree);
        expectValidState (processor);
        EXPECT_EQ (realValue (processor, "gain_db_dry"), expected);
        EXPECT_LE (saveChunk (processor).getSize(), usualSize);
    }
}

TEST_F (BadChunkTest, NonFiniteValueInAChildOfAnotherTypeNeverReachesAParameter)
{
    // The parameter state binds a parameter to any child that carries its ID, whatever its type.
    const auto source = decode (otherStateChunk());

    for (const char* type : { "PARAM_X", "PROGRAM_PROPERTIES" })
    {
        for (const bool replacesTheParam : { false, true })
        {
            SCOPED_TRACE (juce::String (type) + (replacesTheParam ? " alone" : " after PARAM"));
            auto tree = source.createCopy();

            if (replacesTheParam)
                tree.removeChild (findParam (tree, "gain_db_buffer"), nullptr);

            juce::ValueTree impostor (type);
            impostor.setProperty ("id", "gain_db_buffer", nullptr);
            impostor.setProperty ("value", std::numeric_limits<double>::quiet_NaN(), nullptr);
            tree.addChild (impostor, replacesTheParam ? 0 : -1, nullptr);

            restore (processor, tree);
            expectValidState (processor);
            EXPECT_TRUE (std::isfinite (realValue (processor, "gain_db_buffer")));
        }
    }
}

// The parameter state binds a parameter to the last child carrying its ID: that value plays, and
// it is the one that a preset and the next host state hold, once (expectValidState checks the
// preset against every parameter).
TEST_F (BadChunkTest, AParameterNamedTwicePlaysTheLastAndSavesIt)
{
    const auto source = decode (otherStateChunk());

    for (const char* type : { "PARAM", "PARAM_X", "PROGRAM_PROPERTIES" })
    {
        SCOPED_TRACE (type);
        auto tree = source.createCopy();
        findParam (tree, "gain_db_dry").setProperty ("value", 0.0, nullptr);
        tree.appendChild (juce::ValueTree (type).setProperty ("id", "gain_db_dry", nullptr).setProperty ("value", -50.0, nullptr), nullptr);

        restore (processor, tree);
        expectValidState (processor);
        EXPECT_FLOAT_EQ (realValue (processor, "gain_db_dry"), -50.0f);

        int entries = 0;
        for (const auto& child : savedTree (processor))
            entries += child["id"] == "gain_db_dry" ? 1 : 0;
        EXPECT_EQ (entries, 1);

        const auto preset = processor.presets.readPresetText (processor.presets.getPresetText());
        EXPECT_FLOAT_EQ ((float) findParam (preset, "gain_db_dry")["value"], -50.0f);
        EXPECT_EQ (macroName (processor, 2), "Other");
    }
}

TEST_F (BadChunkTest, NonFiniteNumbersElsewhereAreDropped)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    auto tree = decode (otherStateChunk());

    tree.setProperty ("version_minor", nan, nullptr);
    tree.getChildWithName ("PROGRAM_PROPERTIES").setProperty ("macro_2", nan, nullptr);
    tree.getChildWithName ("PROGRAM_PROPERTIES").setProperty ("macro_3", -std::numeric_limits<double>::infinity(), nullptr);
    findParam (tree, "buffer_feedback").setProperty ("id", nan, nullptr);

    juce::ValueTree extra ("EXTRA");
    extra.setProperty ("id", nan, nullptr);
    extra.appendChild (juce::ValueTree ("INNER").setProperty ("x", nan, nullptr), nullptr);
    tree.appendChild (extra, nullptr);

    restore (processor, tree);
    expectValidState (processor);

    // The rest applies; the feedback lost its ID, so it takes its default.
    EXPECT_FLOAT_EQ (realValue (processor, "grain_count_limit"), 17.0f);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.5f);
    EXPECT_EQ (macroName (processor, 2), "Macro 2");
    EXPECT_EQ (macroName (processor, 3), "Macro 3");

    const auto& live = processor.parameterState.state;
    EXPECT_FALSE (live.hasProperty ("version_minor"));
    EXPECT_FALSE (live.getChildWithName ("EXTRA").hasProperty ("id"));
    EXPECT_FALSE (live.getChildWithName ("EXTRA").getChildWithName ("INNER").hasProperty ("x"));

    // Finite numbers stay as they are.
    EXPECT_EQ ((int) live["version_major"], 1);
}

TEST_F (BadChunkTest, WhatTheWriterNeverWritesIsRefused)
{
    // The framework's reader would give a bare "PARAMETERS" root for most of these (it stops at a
    // negative count, skips an unnamed property and drops the children after an invalid one), and
    // restoring that would reset every parameter.
    const Bytes chunks[] = {
        ChunkWriter().text ("PARAMETERS").count (-1).bytes,
        ChunkWriter().text ("PARAMETERS").count (-1).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).count (-1).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("").var (1).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (-3).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").count (2).raw ({ varArray }).count (-1).count (0).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).count (2).text ("").text ("PARAM").count (0).count (0).bytes,
    };

    for (size_t i = 0; i < std::size (chunks); ++i)
    {
        SCOPED_TRACE (i);
        expectKept (chunks[i]);
    }
}

TEST_F (BadChunkTest, NamesThatAreNotWellFormedUtf8AreRefused)
{
    // Restoring one of these would make every later save write a name without its terminating
    // zero: a cut-off lead byte, an overlong zero, a stray continuation byte, a surrogate, a code
    // point past the last one, a sequence cut short by the terminator.
    const char* const names[] = { "va\xc0ue", "va\xc0\x80ue", "\xb3x", "a\xed\xa0\x80", "a\xf4\x90\x80\x80", "a\xe2\x82" };

    for (const auto* name : names)
    {
        SCOPED_TRACE (juce::String::toHexString (name, (int) std::strlen (name)));
        expectKept (ChunkWriter().text ("PARAMETERS").count (1).text (name).var (1).count (0).bytes);
        expectKept (ChunkWriter().text ("PARAMETERS").count (0).count (1).text (name).count (0).count (0).bytes);
    }
}

TEST_F (BadChunkTest, WellFormedNonAsciiNamesSurviveTheNextSave)
{
    const juce::String name (juce::CharPointer_UTF8 ("gr\xc3\xb6\xc3\x9f" "e_\xe2\x9c\x93_\xf0\x9f\x8e\xb5"));

    auto tree = decode (otherStateChunk());
    tree.setProperty (juce::Identifier (name), 3, nullptr);
    tree.addChild (juce::ValueTree (juce::Identifier (name)), 0, nullptr);

    restore (processor, tree);
    expectValidState (processor);
    EXPECT_FLOAT_EQ (realValue (processor, "buffer_feedback"), 0.1f);

    const auto saved = savedTree (processor);
    EXPECT_EQ ((int) saved[juce::Identifier (name)], 3);
    EXPECT_TRUE (saved.getChildWithName (juce::Identifier (name)).isValid());
}

TEST_F (BadChunkTest, ManySmallChildrenAreHandled)
{
    ChunkWriter chunk;
    chunk.text ("PARAMETERS").count (0).count (100000);
    for (int i = 0; i < 100000; ++i)
        chunk.text ("X").count (0).count (0);

    restore (processor, chunk.bytes);
    expectValidState (processor);

    for (auto* p : processor.getParameters())
        EXPECT_NEAR (p->getValue(), p->getDefaultValue(), 1e-6) << "parameter " << p->getParameterIndex();
}

//==============================================================================
TEST (StateChunkCheck, AcceptsWhatTheWriterWritesAndTrailingBytes)
{
    Processor processor;
    auto chunk = saveChunk (processor);
    EXPECT_TRUE (isSafeValueTreeData (chunk.getData(), chunk.getSize()));

    customise (processor);
    chunk = saveChunk (processor);
    EXPECT_TRUE (isSafeValueTreeData (chunk.getData(), chunk.getSize()));

    chunk.append ("\x01\x02\x03", 3);
    EXPECT_TRUE (isSafeValueTreeData (chunk.getData(), chunk.getSize()));

    // Every kind of value the format has.
    juce::ValueTree tree ("PARAMETERS");
    tree.setProperty ("int", 5, nullptr);
    tree.setProperty ("int64", (juce::int64) 1 << 40, nullptr);
    tree.setProperty ("double", 2.5, nullptr);
    tree.setProperty ("true", true, nullptr);
    tree.setProperty ("false", false, nullptr);
    tree.setProperty ("text", "hello", nullptr);
    tree.setProperty ("binary", juce::MemoryBlock ("\0\1\2", 3), nullptr);
    tree.setProperty ("array", juce::Array<juce::var> { 1, "two", juce::Array<juce::var> { 3.0 } }, nullptr);
    tree.setProperty ("void", juce::var(), nullptr);
    tree.appendChild (juce::ValueTree ("CHILD"), nullptr);
    const auto encoded = encode (tree);
    EXPECT_TRUE (isSafeValueTreeData (encoded.getData(), encoded.getSize()));
}

TEST (StateChunkCheck, RefusesWhatTheReaderWouldReadPastTheEndOf)
{
    EXPECT_FALSE (isSafeValueTreeData (nullptr, 0));
    EXPECT_FALSE (isSafeValueTreeData ("", 0));

    const Bytes refused[] = {
        { 0, 0, 0 },                                                          // invalid tree
        ChunkWriter().raw ({ 'P', 'A' }).bytes,                               // unterminated type
        ChunkWriter().text ("PARAMETERS").count (2).text ("a").var (1).bytes, // one property short
        ChunkWriter().text ("PARAMETERS").count (1).text ("a").raw ({ 0x01, 0x05, varInt, 1, 2 }).bytes,
        ChunkWriter().text ("PARAMETERS").count (0).count (2).text ("A").count (0).count (0).bytes,
    };

    for (size_t i = 0; i < std::size (refused); ++i)
        EXPECT_FALSE (isSafeValueTreeData (refused[i].data(), refused[i].size())) << "case " << i;
}

//==============================================================================
#ifdef QVL_FUZZ_REGRESSIONS_DIR
TEST (HostStateRegressions, EveryStoredFuzzInputLeavesAValidState)
{
    const juce::File folder (QVL_FUZZ_REGRESSIONS_DIR);
    ASSERT_TRUE (folder.isDirectory()) << folder.getFullPathName();

    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no))
    {
        SCOPED_TRACE (file.getFileName().toStdString());

        juce::MemoryBlock input;
        ASSERT_TRUE (file.loadFileAsData (input));

        Processor processor;
        customise (processor);
        restore (processor, input);
        expectValidState (processor);

        // A second restore of the same input lands on the same values, flags and names.
        std::vector<float> values;
        for (auto* p : processor.getParameters())
            values.push_back (p->getValue());
        const auto flags = processor.parameterLockFlags;
        const auto names = macroNode (processor).createCopy();

        restore (processor, input);

        for (auto* p : processor.getParameters())
            EXPECT_EQ (p->getValue(), values[(size_t) p->getParameterIndex()]) << "parameter " << p->getParameterIndex();
        EXPECT_EQ (processor.parameterLockFlags, flags);
        EXPECT_TRUE (macroNode (processor).isEquivalentTo (names));
    }
}
#endif
