#include "editor/EditorSettings.h"
#include "tests/plugin/TestHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

        void TearDown() override { file.deleteFile(); }

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
            EXPECT_EQ (settings.getUserSettings()->getFile(), expected);
            settings.storeEditorScale (1.5f);
        }
        EXPECT_TRUE (expected.loadFileAsString().contains ("name=\"editor_scale_percent\" val=\"150\""));
        expected.deleteFile();
    }

    setenv ("XDG_CONFIG_HOME", configHome.toRawUTF8(), 1);
}

TEST_F (SettingsFile, StoredPercentReadsBackWithinTheButtonsRange)
{
    const auto stored = [] (const char* value)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"editor_scale_percent\" val=\""
               + juce::String (value) + "\"/>\n</PROPERTIES>\n";
    };

    struct Case { juce::String content; float expected; };
    const Case cases[] = {
        { {}, 1.0f },                           // no file
        { stored ("135"), 1.35f },
        { stored ("0"), 0.5f },
        { stored ("-40"), 0.5f },
        { stored ("100000"), 2.0f },
        { stored ("abc"), 1.0f },
        { stored ("nan"), 1.0f },
        { "<PROPERTIES><VALUE name=\"editor_scale_percent\" val=\"13", 1.0f },   // damaged file
    };

    for (const auto& c : cases)
    {
        file.deleteFile();
        EXPECT_TRUE (c.content.isEmpty() || file.replaceWithText (c.content));
        EXPECT_FLOAT_EQ (EditorSettings().getEditorScale(), c.expected) << c.content;
    }

    for (const float factor : { 0.5f, 0.75f, 1.0f, 1.35f, 1.5f, 2.0f })
    {
        EditorSettings().storeEditorScale (factor);
        EXPECT_FLOAT_EQ (EditorSettings().getEditorScale(), factor);
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
