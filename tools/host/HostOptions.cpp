#include "HostOptions.h"

#include <cstdlib>
#include <cstring>

namespace
{
    bool toDouble (const std::string& text, double& result)
    {
        if (text.empty())
            return false;

        char* end = nullptr;
        result = std::strtod (text.c_str(), &end);
        return end != nullptr && *end == '\0';
    }

    bool toInt (const std::string& text, int& result)
    {
        double number = 0.0;
        if (! toDouble (text, number) || number != (double) (int) number)
            return false;

        result = (int) number;
        return true;
    }

    bool splitSetting (const std::string& text, bool normalised, ParameterSetting& setting)
    {
        const auto equals = text.find ('=');
        if (equals == std::string::npos || equals == 0)
            return false;

        setting.id = text.substr (0, equals);
        setting.value = text.substr (equals + 1);
        setting.normalised = normalised;

        double unused = 0.0;
        return ! normalised || toDouble (setting.value, unused);
    }
}

const char* hostUsage()
{
    return
R"(usage: qvl_host <command> [arguments] [options]

commands:
  info <bundle.vst3>                 name, vendor, version, category, channels, parameter count
  classes <bundle.vst3>              class IDs and categories read from the module's own factory
  buses <bundle.vst3>                buses and which channel layouts the plug-in accepts
  params <bundle.vst3>               parameters: index, VST3 ID, string ID, name, label, steps,
                                     default text, current text, current normalised value
  render <bundle.vst3>               process a WAV file or a test signal, report levels
  save-state <bundle.vst3> <file>    write the host state (after --load-state / --set)
  load-state <bundle.vst3> <file>    load a host state into a fresh instance, print parameters
  dump-state <file>                  print the plug-in's own parameter values in a saved state
  editor <bundle.vst3>               open the editor for --seconds while the input plays through the
                                     plug-in in real time (as render: --out, levels); print its size,
                                     the processor time outside the audio threads (in cores), and per
                                     instance the largest gap between audio blocks and the late blocks
                                     (gaps over 1.5 block periods); input the clock did not reach in
                                     time is processed at the end (exit 77 without a display);
                                     SIGTERM closes it early, cleanly, where the audio is;
                                     SIGUSR1 prints "played:" and the samples each instance
                                     has played so far
  switch-echo <bundle.vst3>          with the editor open, set "freeze" to a value between off and
                                     on as a host's own controls do, and count the calls the
                                     plug-in makes back into the host and those not on its UI
                                     thread; then the same with "buffer_write_sync", waiting for
                                     its report (exit 77 without a display)

options for every command that loads the plug-in (applied in this order):
  --load-state FILE                  restore a state saved by this tool
  --set ID=VALUE                     VALUE in the parameter's own units, converted by the
                                     plug-in's text parser (e.g. gain_db_dry=-6, "stream_1_rate_timebase=D 1/8")
  --set-normalised ID=VALUE          VALUE normalised 0..1
  --save-state FILE                  save the host state after the command
  ID is the parameter's string ID (e.g. gain_db_dry), its VST3 ID in decimal, or #index.

render options:
  --in FILE.wav                      input file (its sample rate is used unless --rate is given)
  --signal sine|noise|impulse|silence  generated input when no --in is given (default sine)
  --freq HZ                          sine frequency (default 440)
  --seconds S                        generated length (default 2); editor: time on screen
  --amplitude A                      generated peak, linear (default 0.5)
  --rate HZ                          sample rate (default 48000)
  --block N                          block size (default 512)
  --tail S                           seconds of silence processed after the input (default 0)
  --layout stereo|mono               bus layout (default stereo)
  --bpm BPM                          host tempo; the transport plays from 0 (default 120)
  --out FILE.wav                     write the output (32-bit float unless --bits 16|24)
  --bits 16|24|32
  --check-finite                     exit 4 when the output holds NaN or Inf

editor options:
  --instances N                      N instances (1 to 8) in this process (default 1), each with
                                     its own window ("qvl_host editor 1", "qvl_host editor 2", ...
                                     when N > 1) and its own real-time audio thread; --load-state
                                     and --set apply to every instance, --out and --save-state to
                                     the first only
  --reopen K                         close and reopen every editor K times, evenly spread over
                                     --seconds, while the audio plays on (default 0); meanwhile a
                                     thread automates stream_1_position (a sweep) and
                                     stream_2_is_enabled (toggled every 250 ms) of every instance
                                     every 5 ms, as a host's automation does; every reopening
                                     happens, each after at least 20 automated changes, even when
                                     that takes longer than --seconds

switch-echo options:
  --rounds N                         open the editor, set the switch, close the editor at once;
                                     N times (default 20), a new value each time
  --insist                           instead, answer every report of the switch by setting the
                                     value in between again

dump-state options:
  --xml                              print the whole state tree as XML

exit codes: 0 ok, 1 usage, 2 plug-in not found or not loadable, 3 operation failed,
            4 non-finite output with --check-finite, 77 editor skipped for want of a display
)";
}

bool parseHostOptions (int argc, char** argv, HostOptions& options, std::string& error)
{
    if (argc < 2)
    {
        error = "no command given";
        return false;
    }

    options.command = argv[1];

    for (int i = 2; i < argc; ++i)
    {
        const std::string argument = argv[i];

        if (argument.rfind ("--", 0) != 0)
        {
            options.positional.push_back (argument);
            continue;
        }

        auto flag = [&] (const char* name) { return argument == name; };

        if (flag ("--check-finite")) { options.checkFinite = true; continue; }
        if (flag ("--xml"))          { options.xml = true; continue; }
        if (flag ("--insist"))       { options.insist = true; continue; }

        if (i + 1 >= argc)
        {
            error = "option " + argument + " needs a value";
            return false;
        }

        const std::string value = argv[++i];
        bool good = true;

        if (flag ("--set") || flag ("--set-normalised"))
        {
            ParameterSetting setting;
            good = splitSetting (value, flag ("--set-normalised"), setting);
            if (good)
                options.settings.push_back (setting);
        }
        else if (flag ("--load-state"))  options.loadStateFile = value;
        else if (flag ("--save-state"))  options.saveStateFile = value;
        else if (flag ("--in"))          options.inputFile = value;
        else if (flag ("--out"))         options.outputFile = value;
        else if (flag ("--signal"))      { options.signal = value; good = value == "sine" || value == "noise" || value == "impulse" || value == "silence"; }
        else if (flag ("--freq"))        good = toDouble (value, options.frequency) && options.frequency >= 0.0;
        else if (flag ("--seconds"))     good = toDouble (value, options.seconds) && options.seconds >= 0.0;
        else if (flag ("--amplitude"))   good = toDouble (value, options.amplitude);
        else if (flag ("--rate"))        { double rate = 0.0; good = toDouble (value, rate) && rate >= 1000.0 && rate <= 768000.0; options.sampleRate = rate; }
        else if (flag ("--block"))       good = toInt (value, options.blockSize) && options.blockSize >= 1 && options.blockSize <= 65536;
        else if (flag ("--tail"))        good = toDouble (value, options.tailSeconds) && options.tailSeconds >= 0.0;
        else if (flag ("--layout"))      { options.layout = value; good = value == "stereo" || value == "mono"; }
        else if (flag ("--bits"))        good = toInt (value, options.bitsPerSample) && (options.bitsPerSample == 16 || options.bitsPerSample == 24 || options.bitsPerSample == 32);
        else if (flag ("--instances"))   good = toInt (value, options.instances) && options.instances >= 1 && options.instances <= 8;
        else if (flag ("--reopen"))      good = toInt (value, options.reopenCount) && options.reopenCount >= 0 && options.reopenCount <= 1000;
        else if (flag ("--rounds"))      good = toInt (value, options.rounds) && options.rounds >= 1 && options.rounds <= 1000;
        else if (flag ("--bpm"))         good = toDouble (value, options.bpm) && options.bpm > 0.0 && options.bpm <= 999.0;
        else
        {
            error = "unknown option " + argument;
            return false;
        }

        if (! good)
        {
            error = "bad value for " + argument + ": " + value;
            return false;
        }
    }

    return true;
}
