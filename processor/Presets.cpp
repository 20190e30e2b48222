#include "processor/Presets.h"

#include "processor/StateNames.h"
#include "processor/UntrustedFile.h"

#include <set>
#include <utility>

namespace qvl
{

namespace
{
    const juce::String allCategory ("[All]");
    const juce::String factoryCategory ("Factory");
    const juce::String userCategory ("User");

    // A preset is some tens of kilobytes; anything far larger is not one of ours.
    constexpr juce::int64 maximumPresetFileBytes = 16 * 1024 * 1024;

    const char* const versionProperties[] = { "version_major", "version_minor", "version_patch" };
    const char* const macroProperties[] = { "macro_1", "macro_2", "macro_3", "macro_4" };

    // Far more than a macro's label shows; a longer name would only travel into every later save.
    constexpr int maximumMacroNameLength = 1024;

    std::set<juce::String> parameterIds (const juce::AudioProcessor& processor)
    {
        std::set<juce::String> ids;

        for (auto* parameter : processor.getParameters())
            if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
                ids.insert (withId->paramID);

        return ids;
    }

    // Copies the named attributes that are present and pass keep, as strings, the way
    // ValueTree::fromXml would.
    template <typename Names, typename Keep>
    juce::ValueTree copyAttributes (const juce::XmlElement& xml, const juce::Identifier& type, const Names& names, Keep keep)
    {
        juce::ValueTree tree (type);

        for (const char* name : names)
            if (xml.hasAttribute (name))
                if (const auto value = xml.getStringAttribute (name); keep (value))
                    tree.setProperty (name, value, nullptr);

        return tree;
    }

    // Builds the tree from what a preset may carry: the version properties, each known parameter
    // once with its id and value, and the first macro names node. Anything else (parameters of
    // another version, repeats, lock data, unknown nodes and properties) would linger in the state
    // and travel into every later save. Refuses a document that names none of the processor's
    // parameters or gives one a value that is not a finite number.
    juce::ValueTree tidyPreset (const juce::XmlElement& xml, const juce::AudioProcessor* processor)
    {
        const auto known = processor != nullptr ? parameterIds (*processor) : std::set<juce::String>();
        std::set<juce::String> seen;
        auto tree = copyAttributes (xml, stateNames::root, versionProperties, isPlainNumber);
        bool hasParameter = false, hasMacroNames = false;

        for (const auto* child : xml.getChildIterator())
        {
            if (child->hasTagName (stateNames::programProperties.toString()))
            {
                if (! std::exchange (hasMacroNames, true))
                    tree.appendChild (copyAttributes (*child, stateNames::programProperties, macroProperties,
                                                      [] (const juce::String& name) { return name.length() <= maximumMacroNameLength; }),
                                      nullptr);

                continue;
            }

            if (! child->hasTagName (stateNames::parameter.toString()))
                continue;

            const auto id = child->getStringAttribute (stateNames::id);

            if (id.isEmpty() || (processor != nullptr && known.count (id) == 0) || ! seen.insert (id).second)
                continue;

            juce::ValueTree parameter (stateNames::parameter);
            parameter.setProperty (stateNames::id, id, nullptr);

            if (child->hasAttribute (stateNames::value))
            {
                const auto value = child->getStringAttribute (stateNames::value);

                // Only a plain decimal number is a parameter value, and it must stay finite once
                // the framework turns it into a float.
                if (! isPlainNumber (value))
                    return {};

                parameter.setProperty (stateNames::value, value, nullptr);
            }

            tree.appendChild (parameter, nullptr);
            hasParameter = true;
        }

        return hasParameter ? tree : juce::ValueTree();
    }

    juce::String nameOf (const juce::File& file)
    {
        return file.getFileNameWithoutExtension();
    }

    bool isHidden (const juce::File& file)
    {
        return file.getFileName().startsWithChar ('.');
    }

    // One listing in the making. Its total bounds the work of a listing made of several
    // categories, each on a budget of its own.
    struct Listing
    {
        const Presets& presets;
        int& totalEntriesLeft;
        VisitedFolders visited;
        PresetListing result;
    };

    // Depth first, in the file system's order. Links are followed, but each real folder is entered
    // once, so that a loop or a link to "/" costs no more than the bounds; a huge tree cannot stall
    // the message thread, nor a MIDI preset change. Each entry looked at, preset or not, costs one
    // of entriesLeft and of the listing's total. With a categoryBudget, directory is the preset
    // folder and each sub-folder below it is a category walked on that budget of its own, so that
    // a huge "Factory" cannot hide "User".
    void collectPresets (const juce::File& directory, int depth, int& entriesLeft, Listing& listing, int categoryBudget = 0)
    {
        if (! listing.visited.firstVisit (directory))
            return;

        for (const auto& entry : juce::RangedDirectoryIterator (directory, false, "*", juce::File::findFilesAndDirectories))
        {
            if (entriesLeft <= 0 || listing.totalEntriesLeft <= 0)
            {
                listing.result.isComplete = false;
                return;
            }

            --entriesLeft;
            --listing.totalEntriesLeft;

            const auto& file = entry.getFile();

            // A crash's temporary file, and anything else hidden, is no preset.
            if (isHidden (file))
                continue;

            if (entry.isDirectory())
            {
                if (categoryBudget > 0)
                {
                    int categoryEntriesLeft = categoryBudget;
                    collectPresets (file, 0, categoryEntriesLeft, listing);
                }
                else if (depth < Presets::maximumListingDepth)
                {
                    collectPresets (file, depth + 1, entriesLeft, listing);
                }
                else
                {
                    listing.result.isComplete = false;
                }
            }
            else if (listing.presets.hasPresetExtension (file) && isRegularFile (file))
            {
                listing.result.entries.add ({ nameOf (file), file });
            }
        }
    }

    // A file name may take 255 bytes. A save first writes a hidden temporary file beside the
    // preset: ".", the name, "_temp", up to 8 hex digits and the extension.
    constexpr int maximumFileNameBytes = 255;
    constexpr int temporaryFileExtraBytes = 1 + 5 + 8;

    // Like the framework's replaceWithText (same text, same hidden temporary file moved over the
    // target), but a write that fails part way, on a full disk say, is noticed.
    bool replaceWithTextChecked (const juce::File& file, const juce::String& text)
    {
        juce::TemporaryFile temporary (file, juce::TemporaryFile::useHiddenFile);

        {
            juce::FileOutputStream out (temporary.getFile());

            if (! out.openedOk() || ! out.writeText (text, false, false, "\r\n"))
                return false;

            out.flush();

            if (out.getStatus().failed())
                return false;
        }

        return temporary.overwriteTargetFileWithTemporary();
    }
}

Presets::Presets (Options optionsToUse)
    : options (std::move (optionsToUse))
{
    if (options.processor != nullptr)
        options.processor->addListener (this);

    startTimer (timerIntervalMs);
}

Presets::~Presets()
{
    stopTimer();

    if (options.processor != nullptr)
        options.processor->removeListener (this);
}

PresetListing Presets::getPresetListing (const juce::String& category) const
{
    int totalEntriesLeft = maximumAllListingShare * options.maximumListingEntries;
    return listPresets (category, totalEntriesLeft);
}

juce::Array<PresetEntry> Presets::getPresets (const juce::String& category) const
{
    return getPresetListing (category).entries;
}

PresetListing Presets::listPresets (const juce::String& category, int& totalEntriesLeft) const
{
    Listing listing { *this, totalEntriesLeft, {}, {} };
    int entriesLeft = options.maximumListingEntries;

    // Categories are the folder's own sub-folders, never a way out of it.
    if (category == allCategory)
        collectPresets (options.folder, 0, entriesLeft, listing, options.maximumListingEntries);
    else if (category.isNotEmpty() && ! category.startsWithChar ('.') && ! category.containsAnyOf ("/\\"))
        collectPresets (options.folder.getChildFile (category), 0, entriesLeft, listing);

    return listing.result;
}

bool Presets::hasPresetExtension (const juce::File& file) const
{
    return file.getFileName().matchesWildcard ("*." + options.extension, ! juce::File::areFileNamesCaseSensitive());
}

juce::StringArray Presets::getCategories() const
{
    juce::StringArray categories;
    int entriesLeft = options.maximumListingEntries;

    for (const auto& entry : juce::RangedDirectoryIterator (options.folder, false, "*", juce::File::findFilesAndDirectories))
    {
        if (--entriesLeft < 0)
            break;

        if (entry.isDirectory() && ! isHidden (entry.getFile()))
            categories.add (entry.getFile().getFileName());
    }

    for (const auto& known : { userCategory, factoryCategory })
    {
        if (categories.contains (known))
        {
            categories.removeString (known);
            categories.insert (0, known);
        }
    }

    categories.insert (0, allCategory);
    return categories;
}

juce::ValueTree Presets::readPresetFile (const juce::File& file) const
{
    return readPresetText (readBoundedText (file, maximumPresetFileBytes));
}

juce::ValueTree Presets::readPresetText (const juce::String& text) const
{
    const auto xml = parseUntrustedXml (text, xmlBounds);

    if (xml == nullptr || ! xml->hasTagName (stateNames::root.toString()))
        return {};

    return tidyPreset (*xml, options.processor);
}

void Presets::loadPreset (const juce::File& file)
{
    const auto tree = readPresetFile (file);

    // A refused file keeps the current state; replacing it with an invalid tree would reset every
    // parameter and leave nothing valid for the host to save.
    if (! tree.isValid() || ! options.setState)
        return;

    const bool keptLockedValue = options.setState (tree);
    currentPresetFile = file;
    updatePresetName (keptLockedValue);
}

int Presets::getMaximumNameBytes() const
{
    return maximumFileNameBytes - temporaryFileExtraBytes - utf8Bytes ("." + options.extension);
}

juce::Result Presets::checkName (const juce::String& name) const
{
    if (name.trim().isEmpty())
        return juce::Result::fail ("Please type a name for the preset.");

    for (auto p = name.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (c < 0x20 || c == 0x7f)
            return juce::Result::fail ("A preset name cannot contain line breaks, tabs or other control characters.");
    }

    if (name.containsAnyOf ("/\\"))
        return juce::Result::fail ("A preset name cannot contain \"/\" or \"\\\".");

    if (name.startsWithChar ('.'))
        return juce::Result::fail ("A preset name cannot start with a dot.");

    if (utf8Bytes (name) > getMaximumNameBytes())
        return juce::Result::fail ("The name is too long. Please shorten it.");

    return juce::Result::ok();
}

juce::File Presets::getPresetFileForName (const juce::String& name) const
{
    if (checkName (name).failed())
        return {};

    // Put together by hand: getChildFile would read a leading "~" as the home folder.
    const auto userFolder = options.folder.getChildFile (userCategory);
    return juce::File (userFolder.getFullPathName() + juce::File::getSeparatorString() + name + "." + options.extension);
}

juce::Result Presets::savePreset (const juce::String& name)
{
    if (! options.getState)
        return juce::Result::fail ("There is nothing to save.");

    if (const auto check = checkName (name); check.failed())
        return check;

    const auto userFolder = options.folder.getChildFile (userCategory);
    const auto folderFailure = juce::Result::fail ("The \"User\" preset folder cannot be written.");

    if (! userFolder.createDirectory().wasOk())
        return folderFailure;

    const auto file = getPresetFileForName (name);

    if (file.isDirectory())
        return juce::Result::fail ("A folder of that name is in the way.");

    const auto tree = options.getState();
    juce::String text;

    if (tree.isValid())
        if (const auto xml = tree.createXml())
            text = xml->toString();

    if (! replaceWithTextChecked (file, text))
        return userFolder.hasWriteAccess() ? juce::Result::fail ("The preset file could not be written.") : folderFailure;

    currentPresetFile = file;
    updatePresetName (false);
    return juce::Result::ok();
}

void Presets::loadAdjacentPreset (int delta)
{
    // "[All]" comes first and lists every categorised preset again, so most presets stand twice.
    // Each part is a listing of its own, on the category budgets; one total for all parts keeps
    // the work within twice what an "[All]" listing may cost.
    juce::Array<juce::File> files;
    int totalEntriesLeft = 2 * maximumAllListingShare * options.maximumListingEntries;

    for (const auto& category : getCategories())
        for (const auto& entry : listPresets (category, totalEntriesLeft).entries)
            files.add (entry.file);

    const int count = files.size();

    if (count == 0)
        return;

    const auto currentPath = currentPresetFile.getFullPathName();
    int index = -1;

    for (int i = 0; i < count; ++i)
    {
        if (files.getReference (i).getFullPathName() == currentPath)
        {
            index = i;
            break;
        }
    }

    int n = count + index + delta;

    while (n < 0)
        n += count;

    while (n >= count)
        n -= count;

    loadPreset (files.getReference (n));
}

PresetEntry Presets::getCurrentPresetFile() const
{
    const bool exists = currentPresetFile.getFullPathName().isNotEmpty() && currentPresetFile.existsAsFile();
    return { nameOf (currentPresetFile), exists ? currentPresetFile : options.folder };
}

void Presets::updatePresetName (bool isModified)
{
    const auto name = nameOf (currentPresetFile);
    const auto suffix = name.isNotEmpty() && isModified ? juce::String (modifiedMark) : juce::String (" ");

    presetName = name + suffix;

    modified = false;
    timerTicks = 0;
}

void Presets::audioProcessorParameterChanged (juce::AudioProcessor*, int, float)
{
    // Any thread, the audio thread included: atomics only.
    if (timerTicks.load() >= 2)
        modified.exchange (true);
}

void Presets::timerCallback()
{
    ++timerTicks;

    bool expected = true;

    if (modified.compare_exchange_strong (expected, false))
        updatePresetName (true);

    const int index = pendingPresetIndex.exchange (-1);

    if (index >= 0)
    {
        const auto entries = getPresets (allCategory);

        if (index < entries.size())
            loadPreset (entries.getReference (index).file);
    }
}

} // namespace qvl
