#include "processor/Presets.h"

#include "processor/NumberText.h"
#include "processor/ProgramProperties.h"
#include "processor/StateNames.h"
#include "processor/UntrustedFile.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
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

    // A number as a preset keeps it: the float it becomes, whether it came as text from a file or
    // as a number from the state.
    std::optional<juce::var> presetNumber (const juce::var& value)
    {
        const auto number = readFloatNumber (value);
        return number.has_value() ? std::optional<juce::var> (*number) : std::nullopt;
    }

    // The framework writes a number as text in the locale that the host, or another plug-in in
    // its process, set: "0,5" would make the file one that never loads again. Every number a
    // preset holds is a float's, so its shortest text reads back as the same float.
    void writeNumbersAsText (juce::ValueTree tree)
    {
        for (int i = 0; i < tree.getNumProperties(); ++i)
        {
            const auto name = tree.getPropertyName (i);

            if (const auto& value = tree[name]; value.isDouble())
                tree.setProperty (name, writeNumber ((float) (double) value), nullptr);
        }

        for (auto child : tree)
            writeNumbersAsText (child);
    }

    // What a preset holds of a tree, read from a file or about to be written into one: the version
    // properties, each known parameter once with its id and value, and the first macro names node
    // with the four names, tidied. Anything else (parameters of another version, repeats, lock
    // data, unknown nodes and properties) would linger in the state and travel into every later
    // save, or make a saved preset one that cannot be read back. Numbers are kept as numbers, not
    // as the text they came in: the framework rewrites a value's text only when its number
    // changes, so padding would travel too. Refuses a tree that names none of the processor's
    // parameters or gives one a value that is not a finite number. Without known IDs any is known.
    juce::ValueTree presetPart (const juce::ValueTree& source, const std::unordered_set<juce::String>* known)
    {
        std::unordered_set<juce::String> seen;
        juce::ValueTree tree (stateNames::root);
        bool hasParameter = false, hasMacroNames = false;

        for (const char* name : versionProperties)
            if (const auto number = presetNumber (source[name]))
                tree.setProperty (name, *number, nullptr);

        for (const auto& child : source)
        {
            if (child.hasType (stateNames::programProperties))
            {
                if (! std::exchange (hasMacroNames, true))
                {
                    juce::ValueTree names (stateNames::programProperties);

                    for (const char* name : macroProperties)
                        if (child.hasProperty (name))
                            names.setProperty (name, ProgramProperties::tidyName (child[name].toString()), nullptr);

                    tree.appendChild (names, nullptr);
                }

                continue;
            }

            const auto id = child[stateNames::id].toString();

            if (! child.hasType (stateNames::parameter) || id.isEmpty()
                || (known != nullptr && known->count (id) == 0) || ! seen.insert (id).second)
                continue;

            juce::ValueTree parameter (stateNames::parameter);
            parameter.setProperty (stateNames::id, id, nullptr);

            if (child.hasProperty (stateNames::value))
            {
                const auto value = presetNumber (child[stateNames::value]);

                if (! value.has_value())
                    return {};

                parameter.setProperty (stateNames::value, *value, nullptr);
            }

            tree.appendChild (parameter, nullptr);
            hasParameter = true;
        }

        return hasParameter ? tree : juce::ValueTree();
    }

    // A document's root and its parameter and macro name children, with the attributes a preset
    // may hold, as texts. Nothing else is looked up: every other name would cost a search of the
    // framework's string pool. Unlike ValueTree::fromXml, "base64:" names stay unread.
    juce::ValueTree shallowTreeOf (const juce::XmlElement& xml)
    {
        const auto withAttributes = [] (const juce::XmlElement& element, const juce::Identifier& type, const auto& names)
        {
            juce::ValueTree tree (type);

            for (const char* name : names)
                if (element.hasAttribute (name))
                    tree.setProperty (name, element.getStringAttribute (name), nullptr);

            return tree;
        };

        static const char* const parameterProperties[] = { "id", "value" };
        auto tree = withAttributes (xml, stateNames::root, versionProperties);

        for (const auto* child : xml.getChildIterator())
        {
            if (child->hasTagName (stateNames::parameter.toString()))
                tree.appendChild (withAttributes (*child, stateNames::parameter, parameterProperties), nullptr);
            else if (child->hasTagName (stateNames::programProperties.toString()))
                tree.appendChild (withAttributes (*child, stateNames::programProperties, macroProperties), nullptr);
        }

        return tree;
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

    // Depth first. Links are followed, but each real folder is entered once, so that a loop or a
    // link to "/" costs no more than the bounds; a huge tree cannot stall the message thread, nor
    // a MIDI preset change. Each entry looked at, preset or not, costs one of entriesLeft and of
    // the listing's total. With categories given, directory is the preset folder: its sub-folders
    // are gathered there instead of entered, to be walked one by one in their order.
    void collectPresets (const juce::File& directory, int depth, int& entriesLeft, Listing& listing,
                         juce::Array<juce::File>* categories = nullptr)
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
                if (categories != nullptr)
                    categories->add (file);
                else if (depth < Presets::maximumListingDepth)
                    collectPresets (file, depth + 1, entriesLeft, listing);
                else
                    listing.result.isComplete = false;
            }
            else if (listing.presets.hasPresetExtension (file) && isRegularFile (file))
            {
                listing.result.entries.add ({ nameOf (file), file });
            }
        }
    }

    bool isDigit (juce::juce_wchar c) { return c >= '0' && c <= '9'; }

    // Natural order ("Pad 2" before "Pad 10"), ignoring the case of A to Z; ties go by the exact
    // text, so that names differing in case only keep one order whatever the disk's. Written out
    // here because the framework's comparison follows the locale the host set (Turkish "i", "é"
    // under a UTF-8 one): one folder must list in one order, and keep its MIDI indices, in any.
    int compareNames (const juce::String& a, const juce::String& b)
    {
        const auto fold = [] (juce::juce_wchar c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        auto p = a.getCharPointer(), q = b.getCharPointer();

        for (;;)
        {
            if (isDigit (*p) && isDigit (*q))
            {
                // A run of digits by its value: the longer run without its leading zeros is larger.
                while (*p == '0' && isDigit (p[1])) ++p;
                while (*q == '0' && isDigit (q[1])) ++q;

                int lengthP = 0, lengthQ = 0;
                while (isDigit (p[lengthP])) ++lengthP;
                while (isDigit (q[lengthQ])) ++lengthQ;

                if (lengthP != lengthQ)
                    return lengthP < lengthQ ? -1 : 1;

                for (int i = 0; i < lengthP; ++i, ++p, ++q)
                    if (*p != *q)
                        return *p < *q ? -1 : 1;

                continue;
            }

            const auto c = fold (p.getAndAdvance()), d = fold (q.getAndAdvance());

            if (c != d)
                return c < d ? -1 : 1;

            if (c == 0)
                return a.compare (b);
        }
    }

    // By name; one name in two folders of a category by path.
    void sortByName (juce::Array<PresetEntry>& entries, int start)
    {
        std::sort (entries.begin() + start, entries.end(), [] (const PresetEntry& a, const PresetEntry& b)
        {
            const int byName = compareNames (a.name, b.name);
            return (byName != 0 ? byName : compareNames (a.file.getFullPathName(), b.file.getFullPathName())) < 0;
        });
    }

    // "Factory", then "User", then the others by name.
    void sortCategories (juce::Array<juce::File>& categories)
    {
        const auto rank = [] (const juce::String& name) { return name == factoryCategory ? 0 : name == userCategory ? 1 : 2; };

        std::sort (categories.begin(), categories.end(), [&rank] (const juce::File& a, const juce::File& b)
        {
            const auto nameA = a.getFileName(), nameB = b.getFileName();
            const int rankA = rank (nameA), rankB = rank (nameB);
            return rankA != rankB ? rankA < rankB : compareNames (nameA, nameB) < 0;
        });
    }

    // A folder's child by its name as listed or typed. Put together by hand: getChildFile would
    // read a leading "~" as a home folder, and a category or preset named "~..." would lead there.
    juce::File childOf (const juce::File& folder, const juce::String& name)
    {
        return juce::File (folder.getFullPathName() + juce::File::getSeparatorString() + name);
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
    {
        options.processor->addListener (this);

        for (auto* parameter : options.processor->getParameters())
            if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
                parameterIds.insert (withId->paramID);
    }

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

    if (category == allCategory)
    {
        // The presets lying in the folder itself, then each category's in the categories' order,
        // each part sorted. Each category is walked on a budget of its own, so that a huge
        // "Factory" cannot hide "User".
        juce::Array<juce::File> categories;
        collectPresets (options.folder, 0, entriesLeft, listing, &categories);
        sortByName (listing.result.entries, 0);
        sortCategories (categories);

        for (const auto& folder : categories)
        {
            const int start = listing.result.entries.size();
            int categoryEntriesLeft = options.maximumListingEntries;
            collectPresets (folder, 0, categoryEntriesLeft, listing);
            sortByName (listing.result.entries, start);
        }
    }
    // Categories are the folder's own sub-folders, never a way out of it.
    else if (category.isNotEmpty() && ! category.startsWithChar ('.') && ! category.containsAnyOf ("/\\"))
    {
        collectPresets (childOf (options.folder, category), 0, entriesLeft, listing);
        sortByName (listing.result.entries, 0);
    }

    return listing.result;
}

bool Presets::hasPresetExtension (const juce::File& file) const
{
    return file.getFileName().matchesWildcard ("*." + options.extension, ! juce::File::areFileNamesCaseSensitive());
}

juce::StringArray Presets::getCategories() const
{
    int entriesLeft = options.maximumListingEntries, totalEntriesLeft = entriesLeft;
    Listing listing { *this, totalEntriesLeft, {}, {} };
    juce::Array<juce::File> categories;
    collectPresets (options.folder, 0, entriesLeft, listing, &categories);
    sortCategories (categories);

    juce::StringArray names (allCategory);

    for (const auto& folder : categories)
        names.add (folder.getFileName());

    return names;
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

    return presetPart (shallowTreeOf (*xml), knownIds());
}

bool Presets::loadPreset (const juce::File& file)
{
    const auto tree = readPresetFile (file);

    // A refused file keeps the current state; replacing it with an invalid tree would reset every
    // parameter and leave nothing valid for the host to save.
    if (! tree.isValid() || ! options.setState)
        return false;

    const bool keptLockedValue = options.setState (tree);
    currentPresetFile = file;
    updatePresetName (keptLockedValue);
    return true;
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

    return childOf (options.folder.getChildFile (userCategory), name + "." + options.extension);
}

juce::Result Presets::savePreset (const juce::String& name)
{
    if (const auto check = checkName (name); check.failed())
        return check;

    // An empty file would be reported as saved and never load.
    const auto text = getPresetText();

    if (text.isEmpty())
        return juce::Result::fail ("There is nothing to save.");

    const auto userFolder = options.folder.getChildFile (userCategory);
    const auto folderFailure = juce::Result::fail ("The \"User\" preset folder cannot be written.");

    if (! userFolder.createDirectory().wasOk())
        return folderFailure;

    const auto file = getPresetFileForName (name);

    if (file.isDirectory())
        return juce::Result::fail ("A folder of that name is in the way.");

    if (! replaceWithTextChecked (file, text))
        return userFolder.hasWriteAccess() ? juce::Result::fail ("The preset file could not be written.") : folderFailure;

    currentPresetFile = file;
    updatePresetName (false);
    return juce::Result::ok();
}

juce::String Presets::getPresetText() const
{
    if (! options.getState)
        return {};

    // Only what a preset holds, so that whatever else a host state brought along cannot make the
    // file one that will not load. A state the reader would refuse gives nothing to write.
    const auto part = presetPart (options.getState(), knownIds());

    if (! part.isValid())
        return {};

    writeNumbersAsText (part);
    const auto xml = part.createXml();
    return xml != nullptr ? xml->toString() : juce::String();
}

void Presets::loadAdjacentPreset (int delta)
{
    // The "[All]" listing alone, so that every preset is met once in a round.
    const auto entries = getPresets (allCategory);
    const int count = entries.size();

    if (count == 0)
        return;

    const auto currentPath = currentPresetFile.getFullPathName();
    int index = -1;

    for (int i = 0; i < count; ++i)
    {
        if (entries.getReference (i).file.getFullPathName() == currentPath)
        {
            index = i;
            break;
        }
    }

    // Without a current preset the walk starts just outside the list, on the side it enters
    // from: "next" meets the first entry, "previous" the last.
    const int start = index >= 0 ? index : (delta > 0 ? -1 : count);

    // A file that will not load is stepped over, in the same direction, or one damaged file would
    // stop every later step there. Each other entry is tried at most once; the current preset is
    // not loaded again, so when nothing else loads, nothing changes. A file refused before and
    // unchanged since is passed without being read: a folder of broken files would otherwise be
    // read whole on every click.
    for (int step = 1; step <= count; ++step)
    {
        const auto& file = entries.getReference (((start + step * delta) % count + count) % count).file;
        const auto path = file.getFullPathName();

        if (path == currentPath)
            continue;

        const auto stamp = fileStampOf (file);
        const auto refused = refusedFiles.find (path);

        if (refused != refusedFiles.end() && refused->second == stamp)
            continue;

        if (loadPreset (file))
        {
            refusedFiles.erase (path);
            return;
        }

        refusedFiles[path] = stamp;
    }
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
