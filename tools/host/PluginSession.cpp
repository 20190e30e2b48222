#include "PluginSession.h"
#include "StateFile.h"

#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace
{
    const char* architectureFolder()
    {
       #if defined (__x86_64__)
        return "x86_64-linux";
       #elif defined (__aarch64__)
        return "aarch64-linux";
       #elif defined (__i386__)
        return "i386-linux";
       #elif defined (__arm__)
        return "armv7l-linux";
       #else
        return "";
       #endif
    }
}

std::string resolveBundlePath (const std::string& path, std::string& error)
{
    std::error_code ec;
    fs::path candidate (path);

    if (! fs::exists (candidate, ec))
    {
        error = "plug-in not found: " + path;
        return {};
    }

    candidate = fs::weakly_canonical (fs::absolute (candidate, ec), ec);

    // <name>.vst3/Contents/<arch>-linux/<name>.so
    if (fs::is_regular_file (candidate, ec) && candidate.extension() == ".so")
        candidate = candidate.parent_path().parent_path().parent_path();

    if (! fs::is_directory (candidate, ec) || candidate.extension() != ".vst3")
    {
        error = "not a VST3 bundle folder: " + path;
        return {};
    }

    return candidate.string();
}

std::string findModuleBinary (const std::string& bundlePath)
{
    std::error_code ec;
    const fs::path bundle (bundlePath);
    const auto preferred = bundle / "Contents" / architectureFolder() / (bundle.stem().string() + ".so");

    if (fs::is_regular_file (preferred, ec))
        return preferred.string();

    // A bundle built for another architecture name still has one module somewhere in Contents.
    for (const auto& entry : fs::directory_iterator (bundle / "Contents", ec))
        if (entry.is_directory())
            for (const auto& file : fs::directory_iterator (entry.path(), ec))
                if (file.path().extension() == ".so")
                    return file.path().string();

    return {};
}

bool checkDisplay()
{
    if (! juce::Desktop::getInstance().getDisplays().displays.isEmpty())
        return true;

    std::cerr << "no display available; editor not opened\n";
    return false;
}

std::unique_ptr<juce::AudioProcessorEditor> openEditorWindow (juce::AudioPluginInstance& instance, const juce::String& name,
                                                              juce::Point<int> topLeft)
{
    std::unique_ptr<juce::AudioProcessorEditor> editor (instance.createEditorIfNeeded());

    if (editor != nullptr)
    {
        editor->setName (name);
        editor->setOpaque (true);
        editor->setTopLeftPosition (topLeft);
        editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
        editor->setVisible (true);
    }

    return editor;
}

std::unique_ptr<PluginSession> PluginSession::open (const std::string& path, double sampleRate, int blockSize,
                                                    int& exitCode, juce::String& error)
{
    exitCode = ExitCode::pluginNotLoaded;

    std::string resolveError;
    const auto bundle = resolveBundlePath (path, resolveError);

    if (bundle.empty())
    {
        error = resolveError;
        return nullptr;
    }

    std::unique_ptr<PluginSession> session (new PluginSession());

    juce::OwnedArray<juce::PluginDescription> types;
    session->format.findAllTypesForFile (types, bundle);

    if (types.isEmpty())
    {
        error = "no VST3 plug-in could be loaded from " + juce::String (bundle);
        return nullptr;
    }

    session->description = *types.getFirst();
    session->instance = session->format.createInstanceFromDescription (session->description, sampleRate, blockSize, error);

    if (session->instance == nullptr)
    {
        error = "cannot create the plug-in: " + (error.isEmpty() ? juce::String ("unknown error") : error);
        return nullptr;
    }

    session->learnStringIds();
    exitCode = ExitCode::ok;
    return session;
}

PluginSession::~PluginSession()
{
    // The instance must go before the format that loaded its module.
    instance.reset();
}

void PluginSession::learnStringIds()
{
    juce::MemoryBlock state;
    instance->getStateInformation (state);

    juce::String error;
    const auto tree = hoststate::processorTree (state, error);

    for (const auto& child : tree)
        if (child.hasProperty ("id"))
        {
            const auto id = child.getProperty ("id").toString();
            stringIdsByVst3Id[hoststate::vst3IdForStringId (id)] = id;
        }
}

juce::uint32 PluginSession::getVst3Id (const juce::AudioProcessorParameter& parameter)
{
    if (const auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&parameter))
        return (juce::uint32) hosted->getParameterID().getLargeIntValue();

    return 0;
}

juce::String PluginSession::getStringId (const juce::AudioProcessorParameter& parameter) const
{
    const auto found = stringIdsByVst3Id.find (getVst3Id (parameter));
    return found != stringIdsByVst3Id.end() ? found->second : juce::String();
}

juce::AudioProcessorParameter* PluginSession::findParameter (const juce::String& id, juce::String& error)
{
    const auto& parameters = instance->getParameters();

    if (id.startsWithChar ('#'))
    {
        const auto digits = id.substring (1);
        if (digits.containsOnly ("0123456789") && digits.isNotEmpty())
            if (auto* parameter = parameters[digits.getIntValue()])
                return parameter;

        error = "no parameter with index " + digits;
        return nullptr;
    }

    juce::uint32 wanted = 0;

    if (id.containsOnly ("0123456789") && id.isNotEmpty())
    {
        wanted = (juce::uint32) id.getLargeIntValue();
    }
    else
    {
        wanted = hoststate::vst3IdForStringId (id);

        if (stringIdsByVst3Id.count (wanted) == 0 || stringIdsByVst3Id[wanted] != id)
        {
            error = "unknown parameter ID: " + id;
            return nullptr;
        }
    }

    for (auto* parameter : parameters)
        if (getVst3Id (*parameter) == wanted)
            return parameter;

    error = "unknown parameter ID: " + id;
    return nullptr;
}

bool PluginSession::applySettings (const std::vector<ParameterSetting>& settings, juce::String& error)
{
    for (const auto& setting : settings)
    {
        auto* parameter = findParameter (setting.id, error);

        if (parameter == nullptr)
            return false;

        const auto value = setting.normalised ? juce::jlimit (0.0f, 1.0f, juce::String (setting.value).getFloatValue())
                                              : parameter->getValueForText (setting.value);

        // The hosted parameter passes the change to the processor with the next block and to
        // the controller before the next state save.
        parameter->setValueNotifyingHost (value);
    }

    return true;
}

bool PluginSession::loadState (const juce::File& file, juce::String& error)
{
    juce::MemoryBlock data;

    if (! hoststate::readFile (file, data, error))
        return false;

    if (! hoststate::isHostState (data))
    {
        error = "not a state saved by this host: " + file.getFullPathName();
        return false;
    }

    instance->setStateInformation (data.getData(), (int) data.getSize());
    return true;
}

bool PluginSession::saveState (const juce::File& file, juce::String& error)
{
    juce::MemoryBlock data;
    instance->getStateInformation (data);
    return hoststate::writeFile (file, data, error);
}
