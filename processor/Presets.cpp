#include "processor/Presets.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#if ! JUCE_WINDOWS
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace qvl
{

namespace
{
    const juce::String allCategory ("[All]");
    const juce::String factoryCategory ("Factory");
    const juce::String userCategory ("User");

    const juce::Identifier parameterType ("PARAM");
    const juce::Identifier programPropertiesType ("PROGRAM_PROPERTIES");
    const juce::Identifier idProperty ("id");
    const juce::Identifier valueProperty ("value");

    // A preset is some tens of kilobytes; anything far larger is not one of ours.
    constexpr juce::int64 maximumPresetFileBytes = 16 * 1024 * 1024;

    // A preset holds one child per parameter (449) and the macro names.
    constexpr int maximumPresetChildren = 4096;

    // Preset folders are shared between users, so a "preset" may be a device, a FIFO or a link to
    // one: only regular files (after following links) are listed or read. Opening a FIFO would
    // block the message thread until a writer came, and a device may never end.
    bool isRegularFile (const juce::File& file)
    {
       #if JUCE_WINDOWS
        return file.existsAsFile();
       #else
        struct stat info;
        return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
       #endif
    }

    // Reads at most maximumPresetFileBytes; a longer file, or one that is not regular by the time
    // it is opened, gives nothing.
    juce::String readBoundedText (const juce::File& file)
    {
        juce::MemoryBlock bytes;

       #if JUCE_WINDOWS
        juce::FileInputStream stream (file);
        if (stream.failedToOpen() || stream.readIntoMemoryBlock (bytes, maximumPresetFileBytes + 1) > (size_t) maximumPresetFileBytes)
            return {};
       #else
        // Non-blocking, so a FIFO swapped in after the check cannot hang the open.
        const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return {};

        struct stat info;
        bool good = ::fstat (fd, &info) == 0 && S_ISREG (info.st_mode);
        char chunk[65536];

        while (good)
        {
            const auto n = ::read (fd, chunk, sizeof (chunk));

            if (n == 0)
                break;

            if (n < 0 || (juce::int64) bytes.getSize() + n > maximumPresetFileBytes)
                good = false;
            else
                bytes.append (chunk, (size_t) n);
        }

        ::close (fd);

        if (! good)
            return {};
       #endif

        return juce::String::createStringFromData (bytes.getData(), (int) bytes.getSize());
    }

    // A preset nests two levels deep. The framework's XML parser and tree builder recurse once
    // per level, so a deeply nested file could exhaust the stack.
    constexpr int maximumXmlDepth = 32;

    bool startsWith (const char* text, const char* prefix)
    {
        return std::strncmp (text, prefix, std::strlen (prefix)) == 0;
    }

    // Checks the element nesting without building anything, and refuses document type
    // declarations: presets never have one, and the parser expands entities defined there
    // recursively, without a limit.
    bool hasSafeXmlStructure (const juce::String& text)
    {
        const char* p = text.toRawUTF8();
        int depth = 0;

        const auto skipPast = [&p] (const char* from, const char* terminator)
        {
            p = std::strstr (from, terminator);
            if (p == nullptr)
                return false;
            p += std::strlen (terminator);
            return true;
        };

        while (*p != 0)
        {
            if (*p != '<')
            {
                ++p;
                continue;
            }

            if (startsWith (p, "<!--"))
            {
                if (! skipPast (p + 4, "-->"))
                    return false;
            }
            else if (startsWith (p, "<![CDATA["))
            {
                if (! skipPast (p + 9, "]]>"))
                    return false;
            }
            else if (startsWith (p, "<?"))
            {
                if (! skipPast (p + 2, "?>"))
                    return false;
            }
            else if (p[1] == '!')
            {
                return false;
            }
            else if (p[1] == '/')
            {
                --depth;
                if (! skipPast (p + 2, ">"))
                    return false;
            }
            else
            {
                char quote = 0;

                for (++p; *p != 0; ++p)
                {
                    if (quote != 0)
                    {
                        if (*p == quote)
                            quote = 0;
                    }
                    else if (*p == '"' || *p == '\'')
                    {
                        quote = *p;
                    }
                    else if (*p == '>')
                    {
                        break;
                    }
                }

                if (*p == 0)
                    return false;

                if (p[-1] != '/' && ++depth > maximumXmlDepth)
                    return false;

                ++p;
            }
        }

        return true;
    }

    bool isDigit (char c) { return c >= '0' && c <= '9'; }

    // Only a plain decimal number is a parameter value: no "nan", "inf", hex or trailing text, and
    // it must stay finite once the framework turns it into a float.
    bool isFiniteNumber (const juce::var& value)
    {
        if (value.isInt() || value.isInt64() || value.isBool())
            return true;

        if (value.isDouble())
            return std::isfinite ((float) (double) value);

        if (! value.isString())
            return false;

        const auto text = value.toString().trim();
        const char* s = text.toRawUTF8();

        if (*s == '+' || *s == '-')
            ++s;

        int digits = 0;
        for (; isDigit (*s); ++s)
            ++digits;

        if (*s == '.')
            for (++s; isDigit (*s); ++s)
                ++digits;

        if (digits == 0)
            return false;

        if (*s == 'e' || *s == 'E')
        {
            ++s;
            if (*s == '+' || *s == '-')
                ++s;

            int exponentDigits = 0;
            for (; isDigit (*s); ++s)
                ++exponentDigits;

            if (exponentDigits == 0)
                return false;
        }

        return *s == 0 && std::isfinite ((float) text.getDoubleValue());
    }

    std::set<juce::String> parameterIds (const juce::AudioProcessor& processor)
    {
        std::set<juce::String> ids;

        for (auto* parameter : processor.getParameters())
            if (auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter))
                ids.insert (withId->paramID);

        return ids;
    }

    // Refuses a tree that names none of the processor's parameters or gives one a value that is
    // not a finite number. Keeps only what a preset may carry: each known parameter once and the
    // macro names; parameters of another version, repeats, lock data and unknown children would
    // otherwise linger in the state and travel into every later save. Rebuilt in one pass, since
    // removing children one by one is quadratic in a crafted file's child count.
    bool checkAndTidyParameters (juce::ValueTree& tree, const juce::AudioProcessor* processor)
    {
        const auto known = processor != nullptr ? parameterIds (*processor) : std::set<juce::String>();
        std::set<juce::String> seen;
        juce::Array<juce::ValueTree> kept;
        bool hasParameter = false;

        for (const auto& child : tree)
        {
            if (child.hasType (programPropertiesType))
            {
                kept.add (child);
                continue;
            }

            if (! child.hasType (parameterType))
                continue;

            const auto id = child.getProperty (idProperty).toString();

            if (id.isEmpty() || (processor != nullptr && known.count (id) == 0) || ! seen.insert (id).second)
                continue;

            if (child.hasProperty (valueProperty) && ! isFiniteNumber (child.getProperty (valueProperty)))
                return false;

            kept.add (child);
            hasParameter = true;
        }

        if (! hasParameter)
            return false;

        if (kept.size() != tree.getNumChildren())
        {
            tree.removeAllChildren (nullptr);
            for (auto& child : kept)
                tree.appendChild (child, nullptr);
        }

        return true;
    }

    juce::String nameOf (const juce::File& file)
    {
        return file.getFileNameWithoutExtension();
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

juce::Array<PresetEntry> Presets::getPresets (const juce::String& category) const
{
    const auto subFolder = category == allCategory ? juce::String (".") : category;
    const auto directory = options.folder.getChildFile (subFolder);

    juce::Array<PresetEntry> entries;

    // Unsorted: the file system's own order.
    for (const auto& file : directory.findChildFiles (juce::File::findFiles, true, "*." + options.extension,
                                                      juce::File::FollowSymlinks::noCycles))
        if (isRegularFile (file))
            entries.add ({ nameOf (file), file });

    return entries;
}

juce::StringArray Presets::getCategories() const
{
    juce::StringArray categories;

    for (const auto& directory : options.folder.findChildFiles (juce::File::findDirectories, false, "*",
                                                                juce::File::FollowSymlinks::noCycles))
        categories.add (directory.getFileName());

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
    if (! isRegularFile (file))
        return {};

    const auto text = readBoundedText (file);

    if (text.isEmpty() || ! hasSafeXmlStructure (text))
        return {};

    const auto xml = juce::parseXML (text);

    if (xml == nullptr || xml->getNumChildElements() > maximumPresetChildren)
        return {};

    auto tree = juce::ValueTree::fromXml (*xml);

    if (! tree.isValid())
        return {};

    if (options.getState)
    {
        const auto expectedType = options.getState().getType();

        if (expectedType.isValid() && ! tree.hasType (expectedType))
            return {};
    }

    if (! checkAndTidyParameters (tree, options.processor))
        return {};

    return tree;
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

juce::File Presets::getPresetFileForName (const juce::String& name) const
{
    const auto userFolder = options.folder.getChildFile (userCategory);
    const auto file = userFolder.getChildFile (name).withFileExtension ("." + options.extension);

    if (file.getParentDirectory() != userFolder)
        return {};

    return file;
}

void Presets::savePreset (const juce::String& name)
{
    if (! options.getState)
        return;

    if (! options.folder.getChildFile (userCategory).createDirectory().wasOk())
        return;

    const auto file = getPresetFileForName (name);

    if (file == juce::File())
        return;

    const auto tree = options.getState();
    juce::String text;

    if (tree.isValid())
        if (const auto xml = tree.createXml())
            text = xml->toString();

    if (! file.replaceWithText (text))
        return;

    currentPresetFile = file;
    updatePresetName (false);
}

void Presets::loadAdjacentPreset (int delta)
{
    // "[All]" comes first and lists every categorised preset again, so most presets stand twice.
    juce::Array<juce::File> files;

    for (const auto& category : getCategories())
        for (const auto& entry : getPresets (category))
            files.add (entry.file);

    const int count = files.size();

    if (count == 0)
        return;

    const auto currentPath = currentPresetFile.getFullPathName();
    int index = -1;

    for (int i = 0; i < count; ++i)
    {
        if (files.getReference (i).getFullPathName().equalsIgnoreCase (currentPath))
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
