#include "editor/EditorSettings.h"
#include "tests/plugin/TestHome.h"
#include "tests/support/CommaLocale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using qvl::test::testHomeFolder;

namespace
{
    // Every test starts and ends without a settings file in the test home.
    struct SettingsFile : ::testing::Test
    {
        void SetUp() override
        {
            ASSERT_TRUE (file.isAChildOf (testHomeFolder()));
            ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
            file.deleteFile();
        }

        // The process keeps what it read: later tests' editors open at 100 %.
        void TearDown() override
        {
            EditorSettings().storeEditorScale (1.0f);
            file.deleteFile();
        }

        static juce::String stored (const char* value)
        {
            return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"editor_scale_percent\" val=\""
                   + juce::String (value) + "\"/>\n</PROPERTIES>\n";
        }

        // What the framework's own properties file writes for the same options and format.
        void writeWithTheFramework (const juce::File& target, int percent,
                                    juce::PropertiesFile::StorageFormat format = juce::PropertiesFile::storeAsXML) const
        {
            auto options = EditorSettings::makeOptions();
            options.storageFormat = format;
            juce::PropertiesFile properties (target, options);
            properties.setValue (EditorSettings::scaleKey, percent);
            ASSERT_TRUE (properties.save());
        }

        const juce::File file = EditorSettings::makeOptions().getDefaultFile();
    };
}

TEST_F (SettingsFile, LivesUnderTheXdgConfigFolder)
{
    const auto home = testHomeFolder();
    const juce::String configHome (std::getenv ("XDG_CONFIG_HOME"));
    struct Case { const char* configHome; bool absolute; const char* expected; };
    const Case cases[] = {
        { "elsewhere", true, "elsewhere/quorvalis/Quorvalis.config" },
        { nullptr, false, ".config/quorvalis/Quorvalis.config" },            // unset
        { "relative", false, ".config/quorvalis/Quorvalis.config" },         // not absolute: ignored
    };

    for (const auto& c : cases)
    {
        if (c.configHome == nullptr)
            unsetenv ("XDG_CONFIG_HOME");
        else
            setenv ("XDG_CONFIG_HOME", c.absolute ? home.getChildFile (c.configHome).getFullPathName().toRawUTF8() : c.configHome, 1);

        const auto expected = home.getChildFile (c.expected);
        {
            EditorSettings settings;
            EXPECT_EQ (settings.getFile(), expected);
            settings.storeEditorScale (1.5f);
        }
        EXPECT_TRUE (expected.loadFileAsString().contains ("name=\"editor_scale_percent\" val=\"150\""));
        expected.deleteFile();
    }

    setenv ("XDG_CONFIG_HOME", configHome.toRawUTF8(), 1);
}

// Only a regular file of a few kilobytes in the plain XML form is read, opened without blocking;
// anything else, however hostile, counts as no settings, and the editor opens at 100 %.
TEST_F (SettingsFile, OnlyAPlainSmallSettingsFileGivesItsPercent)
{
    const qvl::test::ScopedCommaLocale hostLocale;
    const auto write = [this] (const juce::String& text) { return [this, text] { ASSERT_TRUE (file.replaceWithText (text)); }; };

    const auto withOtherKeys = [] (int count)
    {
        std::string text ("<PROPERTIES>");
        for (int i = 0; i < count; ++i)
            text += "<VALUE name=\"k" + std::to_string (i) + "\" val=\"1\"/>";
        return juce::String (text + "<VALUE name=\"editor_scale_percent\" val=\"135\"/></PROPERTIES>");
    };

    struct Case { const char* what; std::function<void()> make; float expected; };
    const Case cases[] = {
        { "no file", [] {}, 1.0f },
        { "135", write (stored ("135")), 1.35f },
        { "0", write (stored ("0")), 0.5f },
        { "-40", write (stored ("-40")), 0.5f },
        { "100000", write (stored ("100000")), 2.0f },
        { "75 with blanks", write (stored (" 75 ")), 0.75f },
        { "abc", write (stored ("abc")), 1.0f },
        { "nan", write (stored ("nan")), 1.0f },
        { "inf", write (stored ("inf")), 1.0f },
        { "-inf", write (stored ("-inf")), 1.0f },
        { "hex", write (stored ("0x4B")), 1.0f },
        { "1e999", write (stored ("1e999")), 2.0f },                                  // held at the end, as any large number
        { "exponent wrapping round to 50", write (stored ("5e4294967297")), 2.0f },
        { "beyond a float", write (stored ("1e39")), 2.0f },
        { "just inside a float", write (stored ("1e38")), 2.0f },
        { "beyond a float, negative", write (stored ("-1e39")), 0.5f },
        { "comma for a point", write (stored ("1,35")), 1.0f },                         // files keep the point
        { "exponent wrapping round to 0", write (stored ("15000e-4294967296")), 0.5f }, // zero
        { "long digits", write (stored ("0135.00000000000000000000000000000000000001")), 1.35f },
        { "byte-order mark", write (juce::String (juce::CharPointer_UTF8 ("\xef\xbb\xbf")) + stored ("135")), 1.35f },
        { "byte-order mark only", [this] { ASSERT_TRUE (file.replaceWithData ("\xef\xbb\xbf", 3)); }, 1.0f },
        { "damaged", write ("<PROPERTIES><VALUE name=\"editor_scale_percent\" val=\"13"), 1.0f },
        { "another root", write ("<OTHER><VALUE name=\"editor_scale_percent\" val=\"135\"/></OTHER>"), 1.0f },
        { "entities", write ("<!DOCTYPE p [<!ENTITY a \"150\">]><PROPERTIES><VALUE name=\"editor_scale_percent\" val=\"&a;\"/></PROPERTIES>"), 1.0f },
        { "a hundred other keys", write (withOtherKeys (100)), 1.35f },
        { "40,000 other keys", write (withOtherKeys (40000)), 1.0f },
        { "1 MB", write (stored ("135") + juce::String::repeatedString (" ", 1 << 20)), 1.0f },
        { "written by the framework", [this] { writeWithTheFramework (file, 150); }, 1.5f },
        { "compressed", [this] { writeWithTheFramework (file, 150, juce::PropertiesFile::storeAsCompressedBinary); }, 1.0f },
        { "binary", [this] { writeWithTheFramework (file, 150, juce::PropertiesFile::storeAsBinary); }, 1.0f },
        { "a folder", [this] { ASSERT_TRUE (file.createDirectory().wasOk()); }, 1.0f },
        { "a FIFO", [this] { ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0); }, 1.0f },
    };

    // On a thread of its own: a read that blocks in the FIFO's open fails the test instead of hanging it.
    auto reading = std::async (std::launch::async, [&]
    {
        int right = 0;

        for (const auto& c : cases)
        {
            file.deleteRecursively();
            c.make();
            const auto scale = EditorSettings::readEditorScale (file);
            EXPECT_FLOAT_EQ (scale, c.expected) << c.what;
            right += scale == c.expected ? 1 : 0;
        }

        return right;
    });

    if (reading.wait_for (std::chrono::seconds (60)) != std::future_status::ready)
    {
        const int writer = open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close (writer);
        FAIL() << "reading a settings file blocked";
    }

    EXPECT_EQ (reading.get(), (int) std::size (cases));
    file.deleteRecursively();
}

// Written byte for byte as the framework writes it, into a temporary file moved over the old one:
// a link in its place is replaced, the file it led to stays as it was, and a FIFO never blocks.
TEST_F (SettingsFile, WritesAsTheFrameworkDoesAndNeverThroughALink)
{
    const qvl::test::ScopedCommaLocale hostLocale;
    const auto reference = file.getSiblingFile ("reference.config");
    writeWithTheFramework (reference, 135);
    EditorSettings().storeEditorScale (1.35f);
    EXPECT_EQ (file.loadFileAsString(), reference.loadFileAsString());
    reference.deleteFile();

    const auto victim = testHomeFolder().getChildFile ("victim.txt");
    ASSERT_TRUE (victim.replaceWithText ("keep"));

    for (const bool fifo : { false, true })
    {
        ASSERT_TRUE (file.deleteFile());
        ASSERT_TRUE (fifo ? mkfifo (file.getFullPathName().toRawUTF8(), 0600) == 0 : victim.createSymbolicLink (file, true));
        EditorSettings().storeEditorScale (0.75f);

        EXPECT_EQ (victim.loadFileAsString(), "keep");
        EXPECT_FALSE (file.isSymbolicLink());
        EXPECT_FLOAT_EQ (EditorSettings::readEditorScale (file), 0.75f) << (fifo ? "over a FIFO" : "over a link");
    }

    victim.deleteFile();
}

// One read per process: the last editor closing writes the change, and the next editor takes the
// process's value even when the file changed meanwhile.
TEST_F (SettingsFile, ReadOncePerProcessAndWrittenWhenTheLastEditorCloses)
{
    {
        juce::SharedResourcePointer<EditorSettings> first, second;
        first->storeEditorScale (1.5f);
        EXPECT_FLOAT_EQ (second->getEditorScale(), 1.5f);
        EXPECT_FALSE (file.existsAsFile()); // not before the delay or the last editor
    }

    EXPECT_FLOAT_EQ (EditorSettings::readEditorScale (file), 1.5f);
    ASSERT_TRUE (file.replaceWithText (stored ("75")));

    juce::SharedResourcePointer<EditorSettings> again;
    EXPECT_FLOAT_EQ (again->getEditorScale(), 1.5f);

    for (const float factor : { 0.5f, 0.75f, 1.0f, 1.35f, 1.5f, 2.0f })
    {
        again->storeEditorScale (factor);
        EXPECT_FLOAT_EQ (again->getEditorScale(), factor);
    }
}

TEST (ContentScale, FitsNinetyPercentOfTheDisplayAndKeepsButtonsExact)
{
    struct Case { int width, height; float factor; juce::Rectangle<int> userArea; double dpi; bool correct;
                  juce::Rectangle<int> limit; int fitted; };
    const juce::Rectangle<int> fullHd (0, 0, 1920, 1080), large (0, 0, 3840, 2160), largeLimit (0, 0, 3456, 1944);

    const Case cases[] = {
        { 1140, 700, 2.0f, fullHd, 96.0, false, { 0, 0, 1728, 972 }, 1582 },
        { 1140, 700, 2.0f, fullHd, 144.0, false, { 0, 0, 1728, 972 }, 1582 },
        { 1140, 700, 2.0f, fullHd, 144.0, true, { 0, 0, 1152, 648 }, 1055 },       // limit x 96/144
        { 1140, 700, 2.0f, { 1920, 0, 1920, 1080 }, 96.0, false, { 1728, 0, 1728, 972 }, 1582 },
        { 1140, 700, 1.0f, large, 96.0, false, largeLimit, 1140 },
        { 1220, 760, 1.0f, large, 96.0, false, largeLimit, 1220 },                  // not 1140 wide
        { 1140, 700, 1.35f, large, 96.0, false, largeLimit, 1539 },
        { 1140, 700, 1.5f, {}, 96.0, false, {}, 1710 },                             // no usable area: no limit
    };

    for (const auto& c : cases)
    {
        const auto fit = computeContentScale (c.width, c.height, c.factor, c.userArea, c.dpi, c.correct);
        EXPECT_EQ (fit.limit, c.limit) << c.factor << " at " << c.dpi;
        EXPECT_EQ (fit.fittedWidth, c.fitted) << c.factor << " at " << c.dpi;
        EXPECT_FLOAT_EQ (fit.contentScale, (float) c.fitted / (float) c.width);

        if (c.fitted == juce::roundToInt (c.width * c.factor))
        {
            EXPECT_EQ (fit.contentScale, c.factor) << "a button's scale shows exactly when it fits";
        }
    }

    EXPECT_FALSE (hostNeedsDpiCorrection()); // a test runner is neither of the two hosts
}
