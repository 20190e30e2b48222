#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvl::hosttest
{
    struct RunResult
    {
        int exitCode = -1;
        std::string out;
        std::string err;

        std::vector<std::string> lines() const;

        // The text after "key: " on the first line that starts with it; empty when missing.
        std::string value (const std::string& key) const;
    };

    // The text in single quotes for /bin/sh, quotes inside it escaped.
    std::string shellQuote (const std::string& text);

    // Runs qvl_host with the given arguments (the bundle is not added automatically).
    RunResult runHost (const std::vector<std::string>& arguments);

    // qvl_host goes on after a SIGPIPE and only says so on stderr: a run whose stderr holds that
    // line failed, whatever its exit code. Every run of the tool is checked here.
    void expectNoBrokenPipe (const std::string& err);

    const std::string& bundlePath();

    // A fresh, empty folder for the current test's files.
    std::string testWorkDir();

    std::vector<std::string> splitTabs (const std::string& line);

    // One row of `qvl_host params`.
    struct ParameterRow
    {
        int index = -1;
        std::string vst3Id;
        std::string stringId;
        std::string name;
        std::string label;
        int steps = 0;
        std::string defaultText;
        std::string valueText;
        double value = -1.0;
    };

    // Parses the table; fails the current test on a malformed row.
    std::vector<ParameterRow> parseParameterRows (const std::string& output);

    // `qvl_host dump-state`: the plug-in's own values by string ID.
    std::map<std::string, double> parseStateValues (const std::string& output);

    struct WavFile
    {
        int channels = 0;
        int sampleRate = 0;
        int bitsPerSample = 0;
        bool isFloat = false;
        long frames = 0;
        std::vector<float> samples; // interleaved, only for 32-bit float files
    };

    // A minimal RIFF reader, independent of the code under test. Fails the test when unreadable.
    WavFile readWav (const std::string& path);

    void writeFloatWav (const std::string& path, int channels, int sampleRate, const std::vector<float>& interleaved);
}
