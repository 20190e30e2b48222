#include "editor/EditorSettings.h"

#include "processor/NumberText.h"
#include "processor/UntrustedFile.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdlib>
#include <optional>

namespace
{
    const juce::String applicationName ("Quorvalis");

    constexpr double displayShare = 0.9;
    constexpr double logicalDpi = 96.0;

   #if JUCE_LINUX || JUCE_BSD
    // The framework would put the file into a visible folder in the home; settings belong under
    // the XDG config folder. An absolute folder name is taken as it is by the framework.
    juce::File linuxConfigFolder()
    {
        const char* configHome = std::getenv ("XDG_CONFIG_HOME");

        if (configHome != nullptr && juce::File::isAbsolutePath (configHome))
            return juce::File (configHome);

        return juce::File ("~/.config");
    }
   #endif

    std::optional<int> readScalePercent (const juce::String& fileText)
    {
        const auto xml = qvl::parseUntrustedXml (fileText, EditorSettings::xmlBounds);

        if (xml == nullptr || ! xml->hasTagName ("PROPERTIES"))
            return {};

        std::optional<juce::String> text;

        // The last one counts, as with the framework's reader.
        for (auto* value : xml->getChildWithTagNameIterator ("VALUE"))
            if (value->getStringAttribute ("name") == EditorSettings::scaleKey)
                text = value->getStringAttribute ("val");

        // A damaged value must not read as 0, nor give a window of no size or of absurd size.
        const auto number = text.has_value() ? qvl::readFloatNumber (*text) : std::nullopt;

        if (! number.has_value())
            return {};

        return juce::roundToInt (juce::jlimit ((double) EditorSettings::minimumScalePercent,
                                               (double) EditorSettings::maximumScalePercent,
                                               *number));
    }

    // The file as this process read it, with the changes made since: read once, not on every
    // editor opening. Message thread only.
    struct ProcessSettings
    {
        juce::String path;
        std::optional<int> percent;
        bool pendingWrite = false;
    };

    ProcessSettings& processSettings()
    {
        static ProcessSettings settings;
        return settings;
    }

    float factorOf (std::optional<int> percent)
    {
        return percent.has_value() ? (float) *percent / 100.0f : 1.0f;
    }
}

EditorSettings::EditorSettings()
    : file (makeOptions().getDefaultFile())
{
    auto& settings = processSettings();

    if (settings.path != file.getFullPathName())
        settings = { file.getFullPathName(), readScalePercent (qvl::readBoundedText (file, maximumFileBytes)), false };
}

EditorSettings::~EditorSettings()
{
    save();
}

juce::PropertiesFile::Options EditorSettings::makeOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = applicationName;
    options.folderName = applicationName.toLowerCase();
    options.filenameSuffix = "config";
    options.osxLibrarySubFolder = "Application Support";
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.millisecondsBeforeSaving = 3000;
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.processLock = nullptr;

   #if JUCE_LINUX || JUCE_BSD
    options.folderName = linuxConfigFolder().getChildFile (options.folderName).getFullPathName();
   #endif

    return options;
}

float EditorSettings::getEditorScale() const
{
    return factorOf (processSettings().percent);
}

void EditorSettings::storeEditorScale (float factor)
{
    auto& settings = processSettings();
    settings.percent = juce::roundToIntAccurate (factor * 100.0);
    settings.pendingWrite = true;
    startTimer (makeOptions().millisecondsBeforeSaving);
}

float EditorSettings::readEditorScale (const juce::File& settingsFile)
{
    return readEditorScale (qvl::readBoundedText (settingsFile, maximumFileBytes));
}

float EditorSettings::readEditorScale (const juce::String& fileText)
{
    return factorOf (readScalePercent (fileText));
}

void EditorSettings::timerCallback()
{
    save();
}

void EditorSettings::save()
{
    stopTimer();
    auto& settings = processSettings();

    if (! settings.pendingWrite || ! settings.percent.has_value() || file == juce::File()
        || file.isDirectory() || file.getParentDirectory().createDirectory().failed())
        return;

    // What juce::PropertiesFile writes for the one key.
    juce::XmlElement document ("PROPERTIES");
    auto* value = document.createNewChildElement ("VALUE");
    value->setAttribute ("name", scaleKey);
    value->setAttribute ("val", *settings.percent);

    // A failed write is tried again after the next change or when the last editor closes.
    if (document.writeTo (file))
        settings.pendingWrite = false;
}

ContentScaleFit computeContentScale (int naturalWidth, int naturalHeight, float factor,
                                     juce::Rectangle<int> userArea, double dpi, bool needsDpiCorrection)
{
    ContentScaleFit fit;

    const auto width = (float) juce::jmax (0, naturalWidth);
    const auto height = (float) juce::jmax (0, naturalHeight);
    fit.requested = juce::Rectangle<float> (0.0f, 0.0f, width * factor, height * factor).getSmallestIntegerContainer();

    fit.limit = (userArea.toDouble() * displayShare).getSmallestIntegerContainer();

    if (needsDpiCorrection && dpi > 0.0)
        fit.limit = (fit.limit.toDouble() * (logicalDpi / dpi)).getSmallestIntegerContainer();

    const juce::Rectangle<int> destination (fit.limit.getX(), fit.limit.getY(),
                                            juce::jmax (0, juce::jmin (fit.limit.getWidth(), fit.requested.getWidth())),
                                            juce::jmax (0, juce::jmin (fit.limit.getHeight(), fit.requested.getHeight())));

    // A display that reports no usable area says nothing about its size: no limit then.
    const auto fitted = destination.isEmpty() ? fit.requested
                                              : juce::RectanglePlacement (juce::RectanglePlacement::yMid)
                                                    .appliedTo (fit.requested, destination);
    fit.fittedWidth = fitted.getWidth();

    if (naturalWidth > 0 && fit.fittedWidth > 0)
        fit.contentScale = (float) fit.fittedWidth / (float) naturalWidth;

    return fit;
}

bool hostNeedsDpiCorrection()
{
    const juce::PluginHostType host;
    return host.isReaper() || host.isBitwigStudio();
}
