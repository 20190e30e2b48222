// The parameter list as a host sees it, and changes made through the host reaching the plug-in.
#include "tests/host/ExpectedParameters.h"
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

using namespace qvl::hosttest;

namespace
{
    const ParameterRow* findRow (const std::vector<ParameterRow>& rows, const std::string& stringId)
    {
        for (const auto& row : rows)
            if (row.stringId == stringId)
                return &row;
        return nullptr;
    }

    double number (const std::string& text)
    {
        return std::strtod (text.c_str(), nullptr);
    }
}

TEST (HostParameters, ExactlyTheExpectedParametersInOrder)
{
    const auto result = runHost ({ "params", bundlePath() });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    const auto rows = parseParameterRows (result.out);
    const auto& expected = expectedParameters();

    ASSERT_EQ (expected.size(), 449u);
    ASSERT_EQ (rows.size(), 449u);

    std::set<std::string> vst3Ids;

    for (size_t i = 0; i < rows.size(); ++i)
    {
        SCOPED_TRACE ("parameter index " + std::to_string (i));
        EXPECT_EQ (rows[i].index, (int) i);
        EXPECT_EQ (rows[i].name, expected[i].name);
        EXPECT_EQ (rows[i].stringId, expected[i].id);
        EXPECT_EQ (rows[i].label, expected[i].decibelLabel ? " dB" : "");
        // A fresh instance stands at its defaults.
        EXPECT_NEAR (rows[i].value, expected[i].defaultNormalised, 1.0e-5);
        EXPECT_EQ (rows[i].valueText, rows[i].defaultText);
        vst3Ids.insert (rows[i].vst3Id);
    }

    // Hosts key automation by these IDs: no two parameters may share one.
    EXPECT_EQ (vst3Ids.size(), 449u);
}

TEST (HostParameters, DefaultTextsSpeakEachParametersLanguage)
{
    const auto result = runHost ({ "params", bundlePath() });
    ASSERT_EQ (result.exitCode, 0) << result.err;
    const auto rows = parseParameterRows (result.out);
    ASSERT_EQ (rows.size(), 449u);

    auto text = [&] (const std::string& id)
    {
        const auto* row = findRow (rows, id);
        EXPECT_NE (row, nullptr) << id;
        return row != nullptr ? row->defaultText : std::string();
    };

    EXPECT_EQ (text ("bypass"), "Off");
    EXPECT_EQ (text ("stream_1_is_enabled"), "On");
    EXPECT_EQ (text ("stream_2_is_enabled"), "Off");
    EXPECT_DOUBLE_EQ (number (text ("gain_db_buffer")), -100.0);
    EXPECT_DOUBLE_EQ (number (text ("gain_db_dry")), 0.0);
    EXPECT_EQ (text ("grain_count_limit"), "60");
    EXPECT_EQ (text ("modulation_1_target"), "-1");
    // The buffer size timebase alone shows plain numbers; the others show timebase names.
    EXPECT_EQ (text ("buffer_size_timebase"), "0");
    EXPECT_EQ (text ("stream_3_rate_timebase"), "Hz");
    EXPECT_EQ (text ("stream_3_grain_length_timebase"), "ms");
    EXPECT_EQ (text ("modulator_random_2_timebase"), "Hz");
    EXPECT_EQ (text ("stream_4_rate_sync"), "Free");
    EXPECT_EQ (text ("modulator_lfo_1_sync"), "Free");
    EXPECT_EQ (text ("modulator_lfo_4_shape"), "Sine");
}

TEST (HostParameters, ChangesMadeThroughTheHostReachThePluginState)
{
    const auto dir = testWorkDir();
    const auto listing = parseParameterRows (runHost ({ "params", bundlePath() }).out);
    ASSERT_EQ (listing.size(), 449u);
    const auto feedbackVst3Id = findRow (listing, "buffer_feedback")->vst3Id;

    const auto state = dir + "/changed.state";
    const auto setResult = runHost ({ "params", bundlePath(),
                                      "--set", "gain_db_dry=-6",
                                      "--set", "stream_2_grain_pitch=7.5",
                                      "--set", "stream_3_rate_timebase=D 1/8",
                                      "--set", "stream_1_grain_length_timebase=Triplet 1/16",
                                      "--set", "modulator_lfo_2_shape=Saw Down",
                                      "--set", "modulator_random_1_sync=Beat",
                                      "--set", "modulator_random_2_sync=beat",
                                      "--set", "grain_count_limit=600",
                                      "--set", "#2=-20",
                                      "--set", feedbackVst3Id + "=0.25",
                                      "--set-normalised", "modulation_1_amount=0.75",
                                      "--set-normalised", "modulation_5_target=1",
                                      "--set-normalised", "stream_4_is_enabled=1",
                                      "--save-state", state });
    ASSERT_EQ (setResult.exitCode, 0) << setResult.err;

    const auto dump = runHost ({ "dump-state", state });
    ASSERT_EQ (dump.exitCode, 0) << dump.err;
    auto values = parseStateValues (dump.out);
    ASSERT_EQ (values.size(), 449u);

    EXPECT_NEAR (values["gain_db_dry"], -6.0, 1.0e-4);
    EXPECT_NEAR (values["stream_2_grain_pitch"], 7.5, 1.0e-4);
    EXPECT_EQ (values["stream_3_rate_timebase"], 11.0);          // "Dotted 1/8"
    EXPECT_EQ (values["stream_1_grain_length_timebase"], 17.0);  // "Triplet 1/16"
    EXPECT_EQ (values["modulator_lfo_2_shape"], 4.0);
    EXPECT_EQ (values["modulator_random_1_sync"], 0.0);
    EXPECT_EQ (values["modulator_random_2_sync"], 1.0);          // sync names are case-sensitive
    EXPECT_EQ (values["grain_count_limit"], 600.0);
    EXPECT_NEAR (values["gain_db_buffer"], -20.0, 1.0e-4);
    EXPECT_NEAR (values["buffer_feedback"], 0.25, 1.0e-6);
    EXPECT_NEAR (values["modulation_1_amount"], 0.5, 1.0e-6);    // 0.75 of -1..1
    EXPECT_EQ (values["modulation_5_target"], 449.0);
    EXPECT_EQ (values["stream_4_is_enabled"], 1.0);

    // Untouched parameters keep their defaults.
    EXPECT_EQ (values["stream_1_is_enabled"], 1.0);
    EXPECT_EQ (values["stream_2_rate_timebase"], 2.0);           // "Hz"
    EXPECT_NEAR (values["gain_db_granulator"], 0.0, 1.0e-6);
    EXPECT_EQ (values["modulation_6_target"], -1.0);

    // The same values, read back by a fresh instance through the host.
    const auto reloaded = parseParameterRows (runHost ({ "load-state", bundlePath(), state }).out);
    ASSERT_EQ (reloaded.size(), 449u);
    EXPECT_NEAR (number (findRow (reloaded, "gain_db_dry")->valueText), -6.0, 1.0e-4);
    EXPECT_EQ (findRow (reloaded, "stream_3_rate_timebase")->valueText, "Dotted 1/8");
    EXPECT_EQ (findRow (reloaded, "modulator_lfo_2_shape")->valueText, "Saw Down");
    EXPECT_EQ (findRow (reloaded, "grain_count_limit")->valueText, "600");
    EXPECT_EQ (findRow (reloaded, "stream_4_is_enabled")->valueText, "On");
}

TEST (HostParameters, UnknownParameterFailsWithoutSaving)
{
    const auto dir = testWorkDir();
    const auto state = dir + "/never.state";

    for (const char* setting : { "no_such_parameter=1", "#449=1", "12345=0.5" })
    {
        SCOPED_TRACE (setting);
        const auto result = runHost ({ "params", bundlePath(), "--set", setting, "--save-state", state });
        EXPECT_EQ (result.exitCode, 3);
        EXPECT_NE (result.err.find ("parameter"), std::string::npos) << result.err;
    }

    EXPECT_NE (runHost ({ "params", bundlePath(), "--set-normalised", "bypass=high" }).exitCode, 0);
    EXPECT_FALSE (std::ifstream (state).good());
}
