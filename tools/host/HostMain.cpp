#include "EditorCommand.h"
#include "FactoryClasses.h"
#include "HostOptions.h"
#include "PluginSession.h"
#include "RenderCommand.h"
#include "StateFile.h"
#include "SwitchEchoCommand.h"
#include "X11Guard.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <iostream>

namespace
{
    juce::File fileArgument (const std::string& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (path));
    }

    juce::String channelSetName (const juce::AudioChannelSet& set)
    {
        if (set.isDisabled())
            return "disabled";
        if (set == juce::AudioChannelSet::mono())
            return "mono";
        if (set == juce::AudioChannelSet::stereo())
            return "stereo";
        return set.getDescription();
    }

    void fail (const juce::String& message)
    {
        std::cerr << "error: " << message << '\n';
    }

    //==============================================================================
    int printInfo (PluginSession& session)
    {
        const auto& d = session.getDescription();
        auto& instance = session.getInstance();

        std::cout << "name: " << d.name << '\n'
                  << "vendor: " << d.manufacturerName << '\n'
                  << "version: " << d.version << '\n'
                  << "category: " << d.category << '\n'
                  << "format: " << d.pluginFormatName << '\n'
                  << "file: " << d.fileOrIdentifier << '\n'
                  << "instrument: " << (d.isInstrument ? "yes" : "no") << '\n'
                  << "input channels: " << instance.getTotalNumInputChannels() << '\n'
                  << "output channels: " << instance.getTotalNumOutputChannels() << '\n'
                  << "accepts midi: " << (instance.acceptsMidi() ? "yes" : "no") << '\n'
                  << "produces midi: " << (instance.producesMidi() ? "yes" : "no") << '\n'
                  << "latency: " << instance.getLatencySamples() << " samples\n"
                  << "tail: " << instance.getTailLengthSeconds() << " s\n"
                  << "programs: " << instance.getNumPrograms() << '\n'
                  << "parameters: " << instance.getParameters().size() << '\n';

        if (auto* bypass = instance.getBypassParameter())
            std::cout << "bypass parameter: " << bypass->getParameterIndex() << ' ' << bypass->getName (128) << '\n';
        else
            std::cout << "bypass parameter: none\n";

        return ExitCode::ok;
    }

    int printBuses (PluginSession& session)
    {
        auto& instance = session.getInstance();

        for (const bool isInput : { true, false })
            for (int i = 0; i < instance.getBusCount (isInput); ++i)
            {
                auto* bus = instance.getBus (isInput, i);
                std::cout << "bus " << (isInput ? "input " : "output ") << i << ": \"" << bus->getName() << "\" "
                          << channelSetName (bus->getCurrentLayout()) << (bus->isEnabledByDefault() ? ", enabled by default" : "") << '\n';
            }

        if (instance.getBusCount (true) != 1 || instance.getBusCount (false) != 1)
        {
            fail ("expected one input and one output bus");
            return ExitCode::failed;
        }

        struct Candidate { juce::AudioChannelSet in, out; };
        const Candidate candidates[] = {
            { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo() },
            { juce::AudioChannelSet::mono(), juce::AudioChannelSet::mono() },
            { juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo() },
            { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono() },
            { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::create5point1() },
            { juce::AudioChannelSet::create5point1(), juce::AudioChannelSet::create5point1() },
        };

        for (const auto& candidate : candidates)
        {
            juce::AudioProcessor::BusesLayout layout;
            layout.inputBuses.add (candidate.in);
            layout.outputBuses.add (candidate.out);

            std::cout << "layout in=" << channelSetName (candidate.in) << " out=" << channelSetName (candidate.out) << ": "
                      << (instance.checkBusesLayoutSupported (layout) ? "accepted" : "refused") << '\n';
        }

        return ExitCode::ok;
    }

    int printParameters (PluginSession& session)
    {
        const auto& parameters = session.getInstance().getParameters();

        std::cout << "# index\tvst3 id\tstring id\tname\tlabel\tsteps\tdefault text\tvalue text\tvalue\n";

        for (auto* parameter : parameters)
        {
            const auto stringId = session.getStringId (*parameter);
            const int steps = parameter->isDiscrete() ? parameter->getNumSteps() : 0;

            std::cout << parameter->getParameterIndex() << '\t'
                      << PluginSession::getVst3Id (*parameter) << '\t'
                      << (stringId.isEmpty() ? juce::String ("-") : stringId) << '\t'
                      << parameter->getName (1024) << '\t'
                      << parameter->getLabel() << '\t'
                      << steps << '\t'
                      << parameter->getText (parameter->getDefaultValue(), 1024) << '\t'
                      << parameter->getText (parameter->getValue(), 1024) << '\t'
                      << juce::String (parameter->getValue(), 6) << '\n';
        }

        std::cout << "# parameters: " << parameters.size() << '\n';
        return ExitCode::ok;
    }

    // The framework's XML writer prints an array property as "[Array]"; the lock flags are one.
    // A copy with every array written out as its elements, separated by blanks.
    juce::ValueTree withArraysAsText (const juce::ValueTree& tree)
    {
        auto copy = tree.createCopy();

        for (int i = 0; i < copy.getNumProperties(); ++i)
        {
            const auto name = copy.getPropertyName (i);

            if (const auto* elements = copy[name].getArray())
            {
                juce::StringArray texts;
                for (const auto& element : *elements)
                    texts.add (element.toString());
                copy.setProperty (name, texts.joinIntoString (" "), nullptr);
            }
        }

        for (int i = 0; i < copy.getNumChildren(); ++i)
        {
            auto child = copy.getChild (i);
            copy.removeChild (i, nullptr);
            copy.addChild (withArraysAsText (child), i, nullptr);
        }

        return copy;
    }

    int dumpState (const HostOptions& options)
    {
        if (options.positional.size() != 1)
        {
            fail ("dump-state takes one state file");
            return ExitCode::usage;
        }

        juce::MemoryBlock data;
        juce::String error;

        if (! hoststate::readFile (fileArgument (options.positional[0]), data, error))
        {
            fail (error);
            return ExitCode::failed;
        }

        const auto tree = hoststate::processorTree (data, error);

        if (! tree.isValid())
        {
            fail (error);
            return ExitCode::failed;
        }

        if (options.xml)
        {
            std::cout << withArraysAsText (tree).toXmlString();
            return ExitCode::ok;
        }

        std::cout << "# type: " << tree.getType().toString() << '\n';

        for (int i = 0; i < tree.getNumProperties(); ++i)
        {
            const auto name = tree.getPropertyName (i);
            std::cout << "# property " << name.toString() << ": " << tree[name].toString() << '\n';
        }

        for (const auto& child : tree)
        {
            if (child.hasProperty ("id") && child.hasProperty ("value"))
                std::cout << child["id"].toString() << '\t' << juce::String ((double) child["value"], 9) << '\n';
            else
                std::cout << "# child " << child.getType().toString() << " (" << child.getNumProperties() << " properties, "
                          << child.getNumChildren() << " children)\n";
        }

        return ExitCode::ok;
    }

    // Loads the plug-in, restores loadFile when given and applies the --set options. Null, with
    // the message printed and exitCode set, when any of it fails.
    std::unique_ptr<PluginSession> openSession (const HostOptions& options, double sampleRate, const juce::String& loadFile, int& exitCode)
    {
        juce::String error;
        auto session = PluginSession::open (options.positional[0], sampleRate, options.blockSize, exitCode, error);

        if (session == nullptr)
        {
            fail (error);
            return nullptr;
        }

        if ((loadFile.isNotEmpty() && ! session->loadState (fileArgument (loadFile.toStdString()), error))
            || ! session->applySettings (options.settings, error))
        {
            fail (error);
            exitCode = ExitCode::failed;
            return nullptr;
        }

        return session;
    }

    //==============================================================================
    int runCommand (const HostOptions& options)
    {
        const auto& command = options.command;

        if (command == "dump-state")
            return dumpState (options);

        static const juce::StringArray known { "info", "classes", "buses", "params", "render", "save-state", "load-state", "editor",
                                                 "switch-echo" };

        if (! known.contains (juce::String (command)))
        {
            std::cerr << "error: unknown command " << command << "\n\n" << hostUsage();
            return ExitCode::usage;
        }

        const size_t expectedPositional = (command == "save-state" || command == "load-state") ? 2 : 1;

        if (options.positional.size() != expectedPositional)
        {
            std::cerr << "error: " << command << " takes " << (expectedPositional == 2 ? "a bundle and a state file" : "one bundle path")
                      << "\n\n" << hostUsage();
            return ExitCode::usage;
        }

        if (command == "classes")
        {
            std::string error;
            const auto bundle = resolveBundlePath (options.positional[0], error);

            if (bundle.empty())
            {
                fail (error);
                return ExitCode::pluginNotLoaded;
            }

            const auto module = findModuleBinary (bundle);

            if (module.empty())
            {
                fail ("no module binary inside " + juce::String (bundle));
                return ExitCode::pluginNotLoaded;
            }

            return printFactoryClasses (module, std::cout, std::cerr);
        }

        const double sampleRate = command == "render" || command == "editor" ? renderSampleRate (options) : 48000.0;
        const juce::String loadFile = command == "load-state" ? juce::String (options.positional[1]) : juce::String (options.loadStateFile);
        const juce::String saveFile = command == "save-state" ? juce::String (options.positional[1]) : juce::String (options.saveStateFile);
        int exitCode = ExitCode::ok;
        juce::String error;

        auto session = openSession (options, sampleRate, loadFile, exitCode);

        if (session == nullptr)
            return exitCode;

        int result = ExitCode::ok;

        if (command == "info")                                    result = printInfo (*session);
        else if (command == "buses")                              result = printBuses (*session);
        else if (command == "params" || command == "load-state")  result = printParameters (*session);
        else if (command == "render")                             result = runRender (session->getInstance(), options, sampleRate);
        else if (command == "switch-echo")                        result = runSwitchEcho (*session, options);
        else if (command == "editor")
        {
            // Further instances start from the same state and settings; the first is the one saved.
            std::vector<std::unique_ptr<PluginSession>> more;
            std::vector<PluginSession*> all { session.get() };

            while ((int) all.size() < options.instances)
            {
                more.push_back (openSession (options, sampleRate, loadFile, exitCode));

                if (more.back() == nullptr)
                    return exitCode;

                all.push_back (more.back().get());
            }

            result = runEditor (all, options, sampleRate);
        }

        if ((result == ExitCode::ok || result == ExitCode::nonFiniteOutput) && saveFile.isNotEmpty())
        {
            const auto file = fileArgument (saveFile.toStdString());

            if (! session->saveState (file, error))
            {
                fail (error);
                return ExitCode::failed;
            }

            std::cout << "# state saved: " << file.getFullPathName() << '\n';
        }

        return result;
    }
}

int main (int argc, char** argv)
{
    installX11Guards();

    HostOptions options;
    std::string error;

    if (argc >= 2 && (std::string (argv[1]) == "--help" || std::string (argv[1]) == "help" || std::string (argv[1]) == "-h"))
    {
        std::cout << hostUsage();
        return ExitCode::ok;
    }

    if (! parseHostOptions (argc, argv, options, error))
    {
        std::cerr << "error: " << error << "\n\n" << hostUsage();
        return ExitCode::usage;
    }

    int result = ExitCode::ok;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = runCommand (options);
    }
    return result;
}
