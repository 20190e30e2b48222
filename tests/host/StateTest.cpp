// Host state: everything a host saves must come back in a fresh instance.
#include "tests/host/ExpectedParameters.h"
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace qvl::hosttest;

namespace
{
    // Spread values over 0..1, away from the half-way points where rounding could go either way.
    std::vector<double> spreadValues (const std::vector<ExpectedParameter>& parameters)
    {
        std::vector<double> values;

        for (size_t i = 0; i < parameters.size(); ++i)
        {
            double v = std::fmod (0.137 + 0.618034 * (double) i, 1.0);
            v = std::round (v * 1.0e6) / 1.0e6;

            const auto& p = parameters[i];
            const double span = p.kind == Kind::integer ? p.maximum - p.minimum : 1.0;
            const double fraction = v * span - std::floor (v * span);

            if (p.kind != Kind::continuous && std::abs (fraction - 0.5) < 0.01)
                v = std::round ((v + 0.02 / span) * 1.0e6) / 1.0e6;

            values.push_back (v);
        }

        return values;
    }

    std::vector<std::string> commentLines (const std::string& output)
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < output.size())
        {
            auto end = output.find ('\n', start);
            if (end == std::string::npos)
                end = output.size();
            if (output[start] == '#')
                lines.push_back (output.substr (start, end - start));
            start = end + 1;
        }
        return lines;
    }
}

TEST (HostState, EveryParameterSurvivesSaveAndLoadIntoAFreshInstance)
{
    const auto dir = testWorkDir();
    const auto& expected = expectedParameters();
    const auto values = spreadValues (expected);

    std::vector<std::string> arguments { "params", bundlePath() };
    for (size_t i = 0; i < values.size(); ++i)
    {
        char setting[64];
        std::snprintf (setting, sizeof (setting), "#%zu=%.6f", i, values[i]);
        arguments.push_back ("--set-normalised");
        arguments.push_back (setting);
    }

    const auto first = dir + "/first.state";
    arguments.push_back ("--save-state");
    arguments.push_back (first);

    const auto saved = runHost (arguments);
    ASSERT_EQ (saved.exitCode, 0) << saved.err;

    // A second process: load, print what the host sees, save again.
    const auto second = dir + "/second.state";
    const auto loaded = runHost ({ "load-state", bundlePath(), first, "--save-state", second });
    ASSERT_EQ (loaded.exitCode, 0) << loaded.err;

    const auto rows = parseParameterRows (loaded.out);
    ASSERT_EQ (rows.size(), expected.size());

    int changedFromDefault = 0;

    for (size_t i = 0; i < rows.size(); ++i)
    {
        SCOPED_TRACE (expected[i].id);
        const double want = snappedNormalised (expected[i], values[i]);
        EXPECT_NEAR (rows[i].value, want, 1.0e-4);
        changedFromDefault += std::abs (want - expected[i].defaultNormalised) > 1.0e-3 ? 1 : 0;
    }

    // The values must differ from the defaults, or a state that lost everything would pass.
    EXPECT_GT (changedFromDefault, 350);

    // The plug-in's own view: the same real values, version properties and child records.
    const auto firstDump = runHost ({ "dump-state", first });
    const auto secondDump = runHost ({ "dump-state", second });
    ASSERT_EQ (firstDump.exitCode, 0) << firstDump.err;
    ASSERT_EQ (secondDump.exitCode, 0) << secondDump.err;

    const auto before = parseStateValues (firstDump.out);
    const auto after = parseStateValues (secondDump.out);
    ASSERT_EQ (before.size(), 449u);
    ASSERT_EQ (after.size(), 449u);

    for (const auto& [id, value] : before)
    {
        SCOPED_TRACE (id);
        ASSERT_EQ (after.count (id), 1u);
        EXPECT_NEAR (after.at (id), value, 1.0e-5 * std::max (1.0, std::abs (value)));
    }

    EXPECT_EQ (commentLines (firstDump.out), commentLines (secondDump.out));
    EXPECT_NE (firstDump.out.find ("# property version_major: 1"), std::string::npos) << firstDump.out;
}

TEST (HostState, SettingsApplyOnTopOfALoadedState)
{
    const auto dir = testWorkDir();
    const auto state = dir + "/dry.state";

    ASSERT_EQ (runHost ({ "save-state", bundlePath(), state, "--set", "gain_db_dry=-6" }).exitCode, 0);

    const auto result = runHost ({ "params", bundlePath(), "--load-state", state, "--set", "gain_db_granulator=-12" });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    const auto rows = parseParameterRows (result.out);
    ASSERT_EQ (rows.size(), 449u);

    for (const auto& row : rows)
    {
        if (row.stringId == "gain_db_dry")
            EXPECT_NEAR (std::strtod (row.valueText.c_str(), nullptr), -6.0, 1.0e-4);
        else if (row.stringId == "gain_db_granulator")
            EXPECT_NEAR (std::strtod (row.valueText.c_str(), nullptr), -12.0, 1.0e-4);
        else
            EXPECT_EQ (row.valueText, row.defaultText) << row.stringId;
    }
}

TEST (HostState, DamagedOrForeignStateFilesAreRefused)
{
    const auto dir = testWorkDir();

    EXPECT_EQ (runHost ({ "load-state", bundlePath(), dir + "/missing.state" }).exitCode, 3);

    const auto foreign = dir + "/foreign.state";
    writeFloatWav (foreign, 1, 48000, { 0.0f, 0.5f });
    EXPECT_EQ (runHost ({ "load-state", bundlePath(), foreign }).exitCode, 3);
    EXPECT_NE (runHost ({ "dump-state", foreign }).exitCode, 0);
}
