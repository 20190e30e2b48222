#include "editor/EditorSettings.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <cstdlib>

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

    // A whole or decimal number, nothing else: a damaged value must not read as 0.
    bool parseNumber (const juce::String& text, double& result)
    {
        const auto trimmed = text.trim();

        if (trimmed.isEmpty())
            return false;

        const char* start = trimmed.toRawUTF8();
        char* end = nullptr;
        result = std::strtod (start, &end);
        return end != start && *end == 0 && std::isfinite (result);
    }
}

EditorSettings::EditorSettings()
{
    setStorageParameters (makeOptions());
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

juce::PropertiesFile* EditorSettings::openUserSettings()
{
    auto* file = getUserSettings();

    // Only the user's own file counts: no value may come from a file shared by all users.
    if (file != nullptr)
        file->setFallbackPropertySet (nullptr);

    return file;
}

float EditorSettings::getEditorScale()
{
    auto* file = openUserSettings();

    if (file == nullptr || ! file->containsKey (scaleKey))
        return 1.0f;

    double percent = 0.0;

    if (! parseNumber (file->getValue (scaleKey), percent))
        return 1.0f;

    // A hand-edited or damaged value must not give a window of no size or of absurd size.
    const auto limited = juce::jlimit ((double) minimumScalePercent, (double) maximumScalePercent, percent);
    return (float) juce::roundToInt (limited) / 100.0f;
}

void EditorSettings::storeEditorScale (float factor)
{
    if (auto* file = openUserSettings())
        file->setValue (scaleKey, juce::roundToIntAccurate (factor * 100.0));
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
