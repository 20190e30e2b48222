// A switch set between off and on from the host's own controls, with the editor open, through
// the built bundle in qvl_host (JUCE's VST3 hosting): the plug-in may tell the host what the switch
// plays, but only on the host's UI thread, and only once for each value the host sets. The tool
// counts every call the plug-in makes into the host.
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace qvl::hosttest;

namespace
{
    constexpr int skipped = 77;

    RunResult switchEcho (std::vector<std::string> options)
    {
        options.insert (options.begin(), { "switch-echo", bundlePath() });
        auto result = runHost (options);
        expectNoBrokenPipe (result.err);
        return result;
    }

    int count (const RunResult& result, const std::string& key)
    {
        const auto text = result.value (key);
        EXPECT_FALSE (text.empty()) << key << " missing from\n" << result.out;
        return std::atoi (text.c_str());
    }
}

// Each round the editor closes right after the host set the switch, before the plug-in got round to
// telling it; on Linux the framework's own message thread then takes over. The other switch, set
// with the editor open, is reported, and after every earlier report: all of them are in by then.
TEST (SwitchEcho, ReachesTheHostOnlyOnItsUiThread)
{
    const auto result = switchEcho ({ "--rounds", "20" });

    if (result.exitCode == skipped)
        GTEST_SKIP() << result.err;

    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;
    EXPECT_EQ (count (result, "host calls off the ui thread"), 0) << result.out;
    EXPECT_EQ (count (result, "last switch reports"), 1) << result.out;
}

// The host answers every report by setting the same value in between again: one report in all.
TEST (SwitchEcho, InsistingHostIsToldOnce)
{
    const auto result = switchEcho ({ "--insist" });

    if (result.exitCode == skipped)
        GTEST_SKIP() << result.err;

    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;
    EXPECT_EQ (count (result, "switch reports"), 1) << result.out;
    EXPECT_EQ (count (result, "answers"), 1) << result.out;
    EXPECT_EQ (count (result, "host calls off the ui thread"), 0) << result.out;
}
