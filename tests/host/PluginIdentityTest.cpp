// What a host learns about the module before it processes anything: the description JUCE's
// VST3 hosting builds, the factory's own class records, and the bus layouts on offer.
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>

using namespace qvl::hosttest;

namespace
{
    std::uint32_t fourCharWord (const char (&text)[5])
    {
        return ((std::uint32_t) (unsigned char) text[0] << 24) | ((std::uint32_t) (unsigned char) text[1] << 16)
             | ((std::uint32_t) (unsigned char) text[2] << 8) | (std::uint32_t) (unsigned char) text[3];
    }

    std::string classIdText (std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
    {
        char buffer[64];
        std::snprintf (buffer, sizeof (buffer), "%08X %08X %08X %08X", a, b, c, d);
        return buffer;
    }

    // The "class N" blocks of `qvl_host classes`, each as key -> value.
    std::vector<std::map<std::string, std::string>> parseClasses (const RunResult& result)
    {
        std::vector<std::map<std::string, std::string>> classes;

        for (const auto& line : result.lines())
        {
            if (line.rfind ("class ", 0) == 0 && line.find (':') == std::string::npos)
                classes.emplace_back();
            else if (! classes.empty() && line.rfind ("  ", 0) == 0)
            {
                const auto colon = line.find (": ");
                if (colon != std::string::npos)
                    classes.back()[line.substr (2, colon - 2)] = line.substr (colon + 2);
            }
        }

        return classes;
    }
}

TEST (PluginIdentity, HostSeesNameVendorVersionAndCategory)
{
    const auto result = runHost ({ "info", bundlePath() });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    EXPECT_EQ (result.value ("name"), "Quorvalis1");
    EXPECT_EQ (result.value ("vendor"), "Pellam Drovik");
    EXPECT_EQ (result.value ("version"), "1.0.2");
    EXPECT_EQ (result.value ("category"), "Fx");
    EXPECT_EQ (result.value ("format"), "VST3");
    EXPECT_EQ (result.value ("instrument"), "no");
    EXPECT_EQ (result.value ("input channels"), "2");
    EXPECT_EQ (result.value ("output channels"), "2");
    EXPECT_EQ (result.value ("accepts midi"), "no");
    EXPECT_EQ (result.value ("produces midi"), "no");
    EXPECT_EQ (result.value ("latency"), "0 samples");
    // Through the VST3 wrapper: an infinite tail, so hosts never suspend the looping buffer.
    EXPECT_EQ (result.value ("tail"), "inf s");
    EXPECT_EQ (result.value ("parameters"), "449");
    // The host's bypass switch is the plug-in's own first parameter.
    EXPECT_EQ (result.value ("bypass parameter"), "0 Bypass");
}

TEST (PluginIdentity, FactoryDescribesProcessorAndControllerClasses)
{
    const auto result = runHost ({ "classes", bundlePath() });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    const auto exports = result.value ("exports");
    for (const char* symbol : { "GetPluginFactory", "ModuleEntry", "ModuleExit" })
        EXPECT_NE (exports.find (symbol), std::string::npos) << symbol << " not exported: " << exports;

    EXPECT_EQ (result.value ("factory vendor"), "Pellam Drovik");
    EXPECT_EQ (result.value ("classes"), "2");

    const auto classes = parseClasses (result);
    ASSERT_EQ (classes.size(), 2u) << result.out;

    const auto manufacturer = fourCharWord ("Tavo");
    const auto pluginCode = fourCharWord ("Qvl1");
    EXPECT_EQ (manufacturer, 0x5461766Fu);

    std::map<std::string, std::map<std::string, std::string>> byCategory;
    for (const auto& c : classes)
        byCategory[c.at ("category")] = c;

    ASSERT_EQ (byCategory.count ("Audio Module Class"), 1u);
    ASSERT_EQ (byCategory.count ("Component Controller Class"), 1u);

    const auto& processor = byCategory["Audio Module Class"];
    const auto& controller = byCategory["Component Controller Class"];

    EXPECT_EQ (processor.at ("cid"), classIdText (0xABCDEF01u, 0x9182FAEBu, manufacturer, pluginCode));
    EXPECT_EQ (controller.at ("cid"), classIdText (0xABCDEF01u, 0x1234ABCDu, manufacturer, pluginCode));

    for (const auto* c : { &processor, &controller })
    {
        EXPECT_EQ (c->at ("name"), "Quorvalis1");
        EXPECT_EQ (c->at ("subcategories"), "Fx");
        EXPECT_EQ (c->at ("vendor"), "Pellam Drovik");
        EXPECT_EQ (c->at ("version"), "1.0.2");
        EXPECT_EQ (c->at ("sdk version"), "VST 3.7.2");
    }
}

TEST (PluginIdentity, MonoAndStereoAcceptedMixedLayoutsRefused)
{
    const auto result = runHost ({ "buses", bundlePath() });
    ASSERT_EQ (result.exitCode, 0) << result.err;

    EXPECT_EQ (result.value ("bus input 0"), "\"Input\" stereo, enabled by default");
    EXPECT_EQ (result.value ("bus output 0"), "\"Output\" stereo, enabled by default");

    EXPECT_EQ (result.value ("layout in=stereo out=stereo"), "accepted");
    EXPECT_EQ (result.value ("layout in=mono out=mono"), "accepted");
    EXPECT_EQ (result.value ("layout in=mono out=stereo"), "refused");
    EXPECT_EQ (result.value ("layout in=stereo out=mono"), "refused");
    EXPECT_EQ (result.value ("layout in=stereo out=5.1 Surround"), "refused");
}

TEST (PluginIdentity, MissingOrBrokenBundlesFailLoudly)
{
    const auto dir = testWorkDir();

    EXPECT_EQ (runHost ({ "info", dir + "/Nowhere.vst3" }).exitCode, 2);
    EXPECT_EQ (runHost ({ "classes", dir + "/Nowhere.vst3" }).exitCode, 2);

    // A folder that looks like a bundle but holds no module.
    const auto empty = dir + "/Empty.vst3";
    std::filesystem::create_directories (empty + "/Contents/x86_64-linux");
    const auto result = runHost ({ "info", empty });
    EXPECT_EQ (result.exitCode, 2);
    EXPECT_NE (result.err.find ("error:"), std::string::npos);

    EXPECT_EQ (runHost ({ "no-such-command", bundlePath() }).exitCode, 1);
    EXPECT_EQ (runHost ({ "info", bundlePath(), "--block", "zero" }).exitCode, 1);
}
