// Audio through the hosted plug-in. These hold whatever the audio path does to the signal:
// they ask for finite output of the right shape and length, not for particular samples.
#include "tests/host/HostRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace qvl::hosttest;

namespace
{
    struct Levels
    {
        float peak = 0.0f;
        long nonFinite = 0;
    };

    Levels measure (const WavFile& wav)
    {
        Levels levels;
        for (const float sample : wav.samples)
        {
            if (! std::isfinite (sample))
                ++levels.nonFinite;
            else
                levels.peak = std::max (levels.peak, std::abs (sample));
        }
        return levels;
    }

    long reported (const RunResult& result, const std::string& key)
    {
        return std::atol (result.value (key).c_str());
    }
}

TEST (HostRender, SineGivesFiniteStereoOutputOfTheRightLength)
{
    const auto dir = testWorkDir();
    const auto output = dir + "/sine.wav";

    // 333 does not divide the length, so the last block is a short one.
    const auto result = runHost ({ "render", bundlePath(), "--signal", "sine", "--freq", "440", "--seconds", "1",
                                   "--rate", "48000", "--block", "333", "--tail", "0.25", "--check-finite", "--out", output });
    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;

    EXPECT_EQ (reported (result, "samples"), 60000);
    EXPECT_EQ (reported (result, "input samples"), 48000);
    EXPECT_EQ (reported (result, "channels"), 2);
    EXPECT_EQ (reported (result, "nan samples"), 0);
    EXPECT_EQ (reported (result, "inf samples"), 0);

    const auto wav = readWav (output);
    EXPECT_EQ (wav.channels, 2);
    EXPECT_EQ (wav.sampleRate, 48000);
    EXPECT_TRUE (wav.isFloat);
    EXPECT_EQ (wav.frames, 60000);

    const auto levels = measure (wav);
    EXPECT_EQ (levels.nonFinite, 0);
    // The dry signal is on at 0 dB by default, so a -6 dBFS sine cannot vanish.
    EXPECT_GT (levels.peak, 0.01f);
    EXPECT_NEAR (std::strtod (result.value ("peak").c_str(), nullptr), levels.peak, 1.0e-5);
}

TEST (HostRender, MonoLayoutTakesAFileAtItsOwnRate)
{
    const auto dir = testWorkDir();
    const auto input = dir + "/in.wav";
    const auto output = dir + "/out.wav";

    std::vector<float> samples (22050);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.25f * (float) std::sin (2.0 * M_PI * 220.0 * (double) i / 44100.0);
    writeFloatWav (input, 1, 44100, samples);

    const auto result = runHost ({ "render", bundlePath(), "--in", input, "--layout", "mono", "--block", "64",
                                   "--tail", "0.1", "--check-finite", "--out", output });
    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;
    EXPECT_EQ (result.value ("layout"), "mono (1 in, 1 out)");
    EXPECT_EQ (reported (result, "samples"), 22050 + 4410);

    const auto wav = readWav (output);
    EXPECT_EQ (wav.channels, 1);
    EXPECT_EQ (wav.sampleRate, 44100);
    EXPECT_EQ (wav.frames, 22050 + 4410);
    EXPECT_EQ (measure (wav).nonFinite, 0);
    EXPECT_GT (measure (wav).peak, 0.005f);
}

TEST (HostRender, ParametersAndStateApplyToARender)
{
    const auto dir = testWorkDir();
    const auto state = dir + "/render.state";

    // A render with settings must still save exactly those settings afterwards.
    const auto result = runHost ({ "render", bundlePath(), "--seconds", "0.5", "--block", "128",
                                   "--set", "stream_2_is_enabled=1", "--set", "grain_count_limit=200",
                                   "--set", "gain_db_buffer=-6", "--check-finite", "--save-state", state });
    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;
    EXPECT_EQ (reported (result, "samples"), 24000);

    const auto values = parseStateValues (runHost ({ "dump-state", state }).out);
    ASSERT_EQ (values.size(), 449u);
    EXPECT_EQ (values.at ("stream_2_is_enabled"), 1.0);
    EXPECT_EQ (values.at ("grain_count_limit"), 200.0);
    EXPECT_NEAR (values.at ("gain_db_buffer"), -6.0, 1.0e-4);
}

TEST (HostRender, BadInputsFail)
{
    const auto dir = testWorkDir();

    EXPECT_EQ (runHost ({ "render", bundlePath(), "--in", dir + "/missing.wav" }).exitCode, 3);
    EXPECT_EQ (runHost ({ "render", bundlePath(), "--layout", "quad" }).exitCode, 1);
    EXPECT_EQ (runHost ({ "render", bundlePath(), "--block", "0" }).exitCode, 1);
    EXPECT_EQ (runHost ({ "render", dir + "/Missing.vst3" }).exitCode, 2);
}

// With the host's bypass on from the start the plug-in is already faded, so every block passes
// through untouched: the rendered file is the input, sample for sample.
TEST (HostRender, BypassGivesAnExactCopyOfTheInput)
{
    const auto dir = testWorkDir();
    const auto input = dir + "/input.wav";
    const auto output = dir + "/bypassed.wav";

    std::vector<float> samples;
    for (int i = 0; i < 24000; ++i)
    {
        const auto t = (double) i / 48000.0;
        samples.push_back ((float) (0.5 * std::sin (2.0 * 3.141592653589793 * 220.0 * t)));
        samples.push_back ((float) (0.25 * std::sin (2.0 * 3.141592653589793 * 331.0 * t)));
    }
    writeFloatWav (input, 2, 48000, samples);

    const auto result = runHost ({ "render", bundlePath(), "--in", input, "--block", "256",
                                   "--set-normalised", "bypass=1", "--check-finite", "--out", output });
    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;

    const auto wav = readWav (output);
    ASSERT_EQ (wav.channels, 2);
    ASSERT_GE (wav.samples.size(), samples.size());

    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ (wav.samples[i], samples[i]) << "sample " << i / 2 << " channel " << i % 2;
}

// Dry and buffer signals silenced: whatever is heard comes from the grains of stream 1.
TEST (HostRender, DefaultSettingsPlayGrains)
{
    const auto dir = testWorkDir();
    const auto output = dir + "/grains.wav";

    const auto result = runHost ({ "render", bundlePath(), "--signal", "sine", "--freq", "330", "--seconds", "2",
                                   "--block", "512", "--set", "gain_db_dry=-100", "--check-finite", "--out", output });
    ASSERT_EQ (result.exitCode, 0) << result.err << result.out;

    const auto wav = readWav (output);
    ASSERT_EQ (wav.channels, 2);

    // The second half of the render, long after the first grains started.
    double energy = 0.0;
    const size_t half = wav.samples.size() / 2;
    for (size_t i = half; i < wav.samples.size(); ++i)
        energy += (double) wav.samples[i] * wav.samples[i];

    const double rms = std::sqrt (energy / (double) (wav.samples.size() - half));
    EXPECT_GT (rms, 0.01);
}
