#pragma once

#include <optional>
#include <string>
#include <vector>

// Exit codes shared by every command.
namespace ExitCode
{
    constexpr int ok = 0;
    constexpr int usage = 1;
    constexpr int pluginNotLoaded = 2;   // bundle missing, not a VST3, or instantiation failed
    constexpr int failed = 3;            // unknown parameter, unreadable file, refused layout ...
    constexpr int nonFiniteOutput = 4;   // --check-finite found NaN or Inf
    constexpr int skipped = 77;          // editor asked for without a display
}

struct ParameterSetting
{
    std::string id;         // string ID, VST3 ID in decimal, or #index
    std::string value;      // text, or a number when normalised
    bool normalised = false;
};

struct HostOptions
{
    std::string command;
    std::vector<std::string> positional;

    std::vector<ParameterSetting> settings;
    std::string loadStateFile;
    std::string saveStateFile;

    // render
    std::string inputFile;
    std::string outputFile;
    std::string signal = "sine";
    double frequency = 440.0;
    double seconds = 2.0;
    double amplitude = 0.5;
    std::optional<double> sampleRate;
    int blockSize = 512;
    double tailSeconds = 0.0;
    std::string layout = "stereo";
    int bitsPerSample = 32;
    double bpm = 120.0;
    bool checkFinite = false;

    // editor
    int instances = 1;
    int reopenCount = 0;

    // switch-echo
    int rounds = 20;
    bool insist = false;

    bool xml = false;
};

// Returns false and fills error when the command line is not usable.
bool parseHostOptions (int argc, char** argv, HostOptions& options, std::string& error);

const char* hostUsage();
