// The preset library on its own: folders, categories, stepping, saving, the name display and
// the MIDI index, with a stand-in state instead of a processor.

#include "processor/Presets.h"
#include "tests/plugin/PresetTestSupport.h"
#include "tests/plugin/TestHome.h"
#include "tests/support/CommaLocale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#if JUCE_LINUX
 #include <sys/inotify.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    juce::ValueTree presetTree (float marker)
    {
        juce::ValueTree tree ("PARAMETERS");
        juce::ValueTree parameter ("PARAM");
        parameter.setProperty ("id", "marker", nullptr);
        parameter.setProperty ("value", marker, nullptr);
        tree.appendChild (parameter, nullptr);
        return tree;
    }

    class PresetLibraryTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            static int counter = 0;
            root = qvl::test::testHomeFolder().getChildFile ("library-" + juce::String (++counter));
            ASSERT_TRUE (root.isAChildOf (qvl::test::testHomeFolder()));
            root.deleteRecursively();
            folder = root.getChildFile ("Presets");
            ASSERT_TRUE (folder.createDirectory().wasOk());
        }

        void TearDown() override
        {
            presets.reset();
            makeWritable (root);
            root.deleteRecursively();
        }

        // Never through a link: tests plant links to folders, and the framework's recursive
        // setReadOnly follows them.
        static void makeWritable (const juce::File& f)
        {
            if (f.isDirectory() && ! f.isSymbolicLink())
            {
                f.setReadOnly (false, false);

                for (const auto& child : f.findChildFiles (juce::File::findDirectories, false, "*", juce::File::FollowSymlinks::no))
                    makeWritable (child);
            }
        }

        qvl::Presets& library()
        {
            if (presets == nullptr)
            {
                qvl::Presets::Options options;
                options.folder = folder;
                options.extension = "quorvalis";
                options.getState = [this] { return stateToSave; };
                options.maximumListingEntries = listingEntries;
                options.setState = [this] (juce::ValueTree tree)
                {
                    applied.push_back (tree);
                    return keepsLockedValue;
                };
                presets = std::make_unique<qvl::Presets> (std::move (options));
            }

            return *presets;
        }

        // Put together by hand: getChildFile would take a leading "~" for the home folder.
        juce::File writeFile (const juce::String& relativePath, const juce::String& text)
        {
            const juce::File file (folder.getFullPathName() + "/" + relativePath);
            EXPECT_TRUE (file.getParentDirectory().createDirectory().wasOk());
            EXPECT_TRUE (file.replaceWithText (text));
            return file;
        }

        juce::File writePreset (const juce::String& relativePath, float marker = 0.0f)
        {
            return writeFile (relativePath, presetTree (marker).toXmlString());
        }

        // A new library on an empty folder.
        void startOver()
        {
            presets.reset();
            applied.clear();
            ASSERT_TRUE (folder.deleteRecursively() && folder.createDirectory().wasOk());
        }

        // A listed file as the tests name it: its path below the folder, without the extension.
        juce::String relativeName (const juce::File& file) const
        {
            return file.getRelativePathFrom (folder).upToLastOccurrenceOf (".", false, false);
        }

        std::vector<juce::String> relativeNames (const juce::Array<qvl::PresetEntry>& entries) const
        {
            std::vector<juce::String> names;
            for (const auto& e : entries)
                names.push_back (relativeName (e.file));
            return names;
        }

        static std::vector<juce::File> filesOf (const juce::Array<qvl::PresetEntry>& entries)
        {
            std::vector<juce::File> files;
            for (const auto& e : entries)
                files.push_back (e.file);
            return files;
        }

        static std::vector<juce::String> namesOf (const juce::Array<qvl::PresetEntry>& entries)
        {
            std::vector<juce::String> names;
            for (const auto& e : entries)
                names.push_back (e.name);
            std::sort (names.begin(), names.end());
            return names;
        }

        juce::String shownName() { return library().presetName.toString(); }

        juce::File root, folder;
        juce::ValueTree stateToSave = presetTree (0.25f);
        std::vector<juce::ValueTree> applied;
        bool keepsLockedValue = false;
        int listingEntries = 10000;
        std::unique_ptr<qvl::Presets> presets;
    };
}

// One order for every listing, whatever order the disk keeps. Categories: "[All]", "Factory",
// "User" (exact names only), then the rest by name. Presets by name in natural order, ignoring
// case, names differing in case only by their exact text; "[All]" holds the presets lying in the
// folder first, then each category's. A category lists its part of "[All]"; the MIDI index counts
// in "[All]". Presets are written against the listing order.
TEST_F (PresetLibraryTest, EveryListingKeepsOneSortedOrder)
{
    struct Case { const char* what; std::vector<juce::String> emptyFolders, all; const char* categories; bool needsCaseTwins; };
    const Case cases[] = {
        { "nothing", {}, {}, "[All]", false },
        { "categories", { "Empty" }, { "Loose", "Factory/F", "User/u", "2 Bass/b", "10 Pads/p", "Alpha/a", "factory/f", "Zeta/z" },
          "[All]|Factory|User|2 Bass|10 Pads|Alpha|Empty|factory|Zeta", true },
        { "natural numbers, case ignored", {}, { "User/b", "User/Pad 1", "User/pad 2", "User/Pad 10" }, "[All]|User", false },
        { "case twins", {}, { "User/PAD", "User/PaD", "User/Pad", "User/pad" }, "[All]|User", true },
        { "presets in the folder first", {}, { "Top 2", "Top 10", "Factory/A", "Factory/Deep", "Factory/Sub/Deep", "Bass/B1" },
          "[All]|Factory|Bass", false },
        { "a category named ~, not the home folder", {}, { "User/u", "~/Mine" }, "[All]|User|~", false },
        { "letters past Z by their code", {}, { "User/Ecole", "User/ecole", "User/Intro", "User/intro", juce::CharPointer_UTF8 ("User/\xc3\x89" "cole"), juce::CharPointer_UTF8 ("User/\xc3\xa9" "cole") },
          "[All]|User", true },
    };

    // Whatever locale the host set: one folder keeps one order, and its MIDI indices.
    for (const auto& locale : { std::string(), qvl::test::commaDecimalLocale(), qvl::test::dotlessILocale() })
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.what) + ", locale " + locale);

        if (c.needsCaseTwins && ! juce::File::areFileNamesCaseSensitive())
            continue;

        startOver();

        for (const auto& name : c.emptyFolders)
            ASSERT_TRUE (folder.getChildFile (name).createDirectory().wasOk());

        for (auto i = c.all.size(); i-- > 0;)
            writePreset (c.all[i] + ".quorvalis", (float) i);

        const qvl::test::ScopedHostLocale hostLocale (locale);

        EXPECT_EQ (library().getCategories().joinIntoString ("|"), c.categories);
        EXPECT_EQ (relativeNames (library().getPresets ("[All]")), c.all);

        for (const auto& category : library().getCategories())
        {
            if (category == "[All]")
                continue;

            std::vector<juce::String> part;
            std::copy_if (c.all.begin(), c.all.end(), std::back_inserter (part),
                          [&] (const juce::String& name) { return name.startsWith (category + "/"); });
            EXPECT_EQ (relativeNames (library().getPresets (category)), part) << category;
        }

        if (! c.all.empty())
        {
            library().pendingPresetIndex = (int) c.all.size() - 1;
            library().timerCallback();
            EXPECT_EQ (relativeName (library().currentPresetFile), c.all.back());
        }
    }
}

TEST_F (PresetLibraryTest, ListsPresetsRecursivelyWithNamesWithoutExtension)
{
    writePreset ("Factory/Bass/Deep.quorvalis");
    writePreset ("Factory/Lush Pad.B.quorvalis");
    writePreset ("Factory/.quorvalis");     // hidden
    writePreset ("Factory/readme.txt");
    writePreset ("User/Mine.quorvalis");
    writePreset ("Top.quorvalis");

    EXPECT_EQ (namesOf (library().getPresets ("Factory")),
               (std::vector<juce::String> { "Deep", "Lush Pad.B" }));
    EXPECT_EQ (namesOf (library().getPresets ("User")), std::vector<juce::String> { "Mine" });
    EXPECT_EQ (namesOf (library().getPresets ("[All]")),
               (std::vector<juce::String> { "Deep", "Lush Pad.B", "Mine", "Top" }));
    EXPECT_TRUE (library().getPresets ("Missing").isEmpty());

    for (const auto& entry : library().getPresets ("Factory"))
        EXPECT_TRUE (entry.file.isAChildOf (folder.getChildFile ("Factory")));
}

// Links are followed, but each real folder is walked once per listing; each category is walked
// within bounds of its own, for the browser and every MIDI preset change alike, and a listing
// that a bound cut says so.
TEST_F (PresetLibraryTest, ListingFollowsLinksOnceAndWithinItsBounds)
{
    listingEntries = 50;
    const int allBound = qvl::Presets::maximumAllListingShare * listingEntries;
    const auto outside = root.getChildFile ("outside"), far = outside.getChildFile ("Far.quorvalis");
    const auto link = [this] (const juce::File& target, const juce::String& at)
    {
        folder.getChildFile (at).getParentDirectory().createDirectory();
        ASSERT_TRUE (target.createSymbolicLink (folder.getChildFile (at), true));
    };
    const auto crowd = [&] (const juce::String& category, int count)   // links to one file: cheap presets
    {
        for (int i = 0; i < count; ++i)
            link (far, category + "/P" + juce::String (i) + ".quorvalis");
    };
    juce::String deepest ("Deep");
    for (int depth = 0; depth < qvl::Presets::maximumListingDepth; ++depth)
        deepest << "/d";

    struct Case { const char* what; std::function<void()> plant; const char* category; const char* listedOnce; int least, most; bool complete; };
    const Case cases[] = {
        { "\"User\" linked in", [&] { link (outside, "User"); }, "[All]", "Far", 1, 1, true },
        { "\"User\" linked in, alone", [&] { link (outside, "User"); }, "User", "Far", 1, 1, true },
        { "a link to a file", [&] { link (far, "User/Alias.quorvalis"); }, "[All]", "Alias", 1, 1, true },
        { "loops", [&] { writePreset ("User/Mine.quorvalis"); link (folder, "User/Up"); link (folder.getChildFile ("User"), "User/Self"); },
          "[All]", "Mine", 1, 1, true },
        { "one folder through two categories", [&] { link (outside, "Factory/Far"); link (outside, "User"); }, "[All]", "Far", 1, 1, true },
        { "a link to \"/\"", [&] { writePreset ("User/Mine.quorvalis"); link (juce::File ("/"), "Root"); }, "[All]", "Mine", 1, allBound, false },
        { "hidden", [&] { for (auto p : { "User/.Mine_temp1a2b", "User/.old/Old", ".Trash/Gone", "User/Mine" }) writePreset (p + juce::String (".quorvalis")); },
          "[All]", "Mine", 1, 1, true },
        { "too deep", [&] { writePreset (deepest + "/Bottom.quorvalis"); writePreset (deepest + "/d/Below.quorvalis"); }, "[All]", "Bottom", 1, 1, false },
        { "a huge \"Factory\"", [&] { crowd ("Factory", listingEntries + 20); writePreset ("User/Mine.quorvalis"); },
          "[All]", "Mine", listingEntries + 1, listingEntries + 1, false },
        { "many huge categories", [&] { for (auto c : { "A", "B", "C", "D", "E", "F" }) crowd (c, listingEntries + 1); }, "[All]", "", 1, allBound, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        presets.reset();
        ASSERT_TRUE (root.deleteRecursively() && outside.createDirectory().wasOk() && folder.createDirectory().wasOk());
        ASSERT_TRUE (far.replaceWithText (presetTree (1.0f).toXmlString()));
        c.plant();

        const auto listing = library().getPresetListing (c.category);
        const auto names = namesOf (listing.entries);
        EXPECT_TRUE ((int) names.size() >= c.least && (int) names.size() <= c.most) << names.size();
        EXPECT_EQ (std::count (names.begin(), names.end(), c.listedOnce), *c.listedOnce != 0 ? 1 : 0);
        EXPECT_EQ (listing.isComplete, c.complete);
        EXPECT_EQ (library().getCategories().contains ("User"), folder.getChildFile ("User").isDirectory());
        EXPECT_FALSE (library().getCategories().contains (".Trash"));
    }

    // Still many huge categories: a MIDI index beyond what "[All]" lists loads nothing, stepping works.
    library().pendingPresetIndex = allBound + 10;
    library().timerCallback();
    EXPECT_TRUE (applied.empty());
    library().loadAdjacentPreset (+1);
    EXPECT_EQ (applied.size(), 1u);
}

// "next" and "previous" go through the "[All]" listing alone, each preset once a round, in its
// order, wrapping at both ends: two rounds each way from no current preset, where "next" starts at
// the first entry and "previous" at the last, so every preset is a start once in each direction.
TEST_F (PresetLibraryTest, SteppingMeetsEveryPresetOnceARoundInListingOrder)
{
    const std::vector<juce::String> ownCategories { "Factory/F1", "Factory/F2", "User/U1", "Bass/B1", "Drones/D1", "Pads/P1" };
    auto withLoosePresets = ownCategories;
    withLoosePresets.insert (withLoosePresets.begin(), { "L1", "L2", "L3" });

    struct Case { const char* what; std::vector<juce::String> order; bool needsCaseTwins; };
    const Case cases[] = {
        { "Factory and User", { "Factory/A", "Factory/B", "User/C" }, false },
        { "categories of one's own", ownCategories, false },
        { "presets directly in the folder too", withLoosePresets, false },
        { "case twins", { "User/PAD", "User/Pad", "User/pad" }, true },
    };

    for (const auto& c : cases)
    {
        if (c.needsCaseTwins && ! juce::File::areFileNamesCaseSensitive())
            continue;

        startOver();
        const auto count = c.order.size();

        for (auto i = count; i-- > 0;)
            writePreset (c.order[i] + ".quorvalis", (float) i);

        for (const int delta : { +1, -1 })
        {
            SCOPED_TRACE (juce::String (c.what) + (delta > 0 ? ", next" : ", previous"));
            library().currentPresetFile = juce::File();
            applied.clear();

            std::vector<juce::String> met, expected;

            for (size_t step = 0; step < 2 * count; ++step)
            {
                library().loadAdjacentPreset (delta);
                met.push_back (relativeName (library().currentPresetFile));

                const auto index = delta > 0 ? step % count : count - 1 - step % count;
                expected.push_back (c.order[index]);
                ASSERT_EQ (applied.size(), step + 1);
                EXPECT_FLOAT_EQ ((float) applied.back().getChild (0).getProperty ("value"), (float) index);
            }

            EXPECT_EQ (met, expected);
        }
    }
}

TEST_F (PresetLibraryTest, SteppingWithoutAnyPresetDoesNothing)
{
    library().loadAdjacentPreset (+1);
    library().loadAdjacentPreset (-1);
    EXPECT_TRUE (applied.empty());
    EXPECT_EQ (library().currentPresetFile, juce::File());
}

// "Pad" and "PAD" are two presets: "next" from either goes on to the following entry. A path that
// differs in case only is no current preset: "next" starts from the top.
TEST_F (PresetLibraryTest, SteppingComparesPathsExactly)
{
    if (! juce::File::areFileNamesCaseSensitive())
        GTEST_SKIP() << "names differing in case only are one file here";

    for (auto name : { "Pad", "PAD", "Zed" })
        writePreset ("User/" + juce::String (name) + ".quorvalis");

    const auto all = filesOf (library().getPresets ("[All]"));
    ASSERT_EQ (all.size(), 3u);
    const std::pair<juce::File, juce::File> steps[] = { { all[0], all[1] }, { all[1], all[2] },
                                                        { juce::File (all[1].getFullPathName().toUpperCase()), all[0] } };

    for (const auto& [from, to] : steps)
    {
        library().currentPresetFile = from;
        library().loadAdjacentPreset (+1);
        EXPECT_EQ (library().currentPresetFile, to) << from.getFullPathName();
    }
}

// A file that will not load is stepped over in the same direction, each at most once; when no
// other preset loads, nothing changes. Positions are in the "[All]" listing: A, B, C.
TEST_F (PresetLibraryTest, SteppingMovesPastFilesThatAreRefused)
{
    for (auto name : { "A", "B", "C" })
        writePreset ("User/" + juce::String (name) + ".quorvalis");

    const auto all = filesOf (library().getPresets ("[All]"));
    ASSERT_EQ (all.size(), 3u);

    // broken: "x" for each position whose file is damaged; expected -1: nothing changes.
    struct Case { const char* what; int from; int delta; const char* broken; int expected; };
    const Case cases[] = {
        { "next past one", 0, +1, ".x.", 2 },
        { "previous past one", 2, -1, ".x.", 0 },
        { "next past the end and round", 1, +1, "..x", 0 },
        { "nothing else loads", 0, +1, ".xx", -1 },
        { "no current preset, the first broken", -1, +1, "x..", 1 },
        { "every one broken", -1, -1, "xxx", -1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_TRUE (all[i].replaceWithText (c.broken[i] == 'x' ? "not a preset" : presetTree ((float) i).toXmlString()));

        const auto from = c.from < 0 ? juce::File() : all[(size_t) c.from];
        library().currentPresetFile = from;
        applied.clear();
        library().loadAdjacentPreset (c.delta);

        EXPECT_EQ (library().currentPresetFile, c.expected < 0 ? from : all[(size_t) c.expected]);
        EXPECT_EQ (applied.size(), c.expected < 0 ? 0u : 1u);
    }
}

#if JUCE_LINUX
namespace
{
    // How often each file in one folder was opened since the last look, as the kernel tells.
    class OpenCounter
    {
    public:
        explicit OpenCounter (const juce::File& folder)
            : fd (inotify_init1 (IN_NONBLOCK | IN_CLOEXEC)),
              watch (fd < 0 ? -1 : inotify_add_watch (fd, folder.getFullPathName().toRawUTF8(), IN_OPEN))
        {
        }

        ~OpenCounter()
        {
            if (fd >= 0)
                close (fd);
        }

        bool isWatching() const { return watch >= 0; }

        std::map<juce::String, int> take()
        {
            std::map<juce::String, int> opens;
            alignas (inotify_event) char buffer[4096];

            for (ssize_t n; (n = read (fd, buffer, sizeof (buffer))) > 0;)
            {
                for (const char* p = buffer; p < buffer + n;)
                {
                    const auto* event = reinterpret_cast<const inotify_event*> (p);

                    if (event->len > 0 && (event->mask & IN_ISDIR) == 0)
                        ++opens[juce::String::fromUTF8 (event->name)];

                    p += sizeof (inotify_event) + event->len;
                }
            }

            return opens;
        }

    private:
        const int fd, watch;
    };
}

// Stepping remembers the files it found refused: later steps pass them without opening them until
// they change, in content, time or permissions.
TEST_F (PresetLibraryTest, RefusedFilesAreNotReadAgainUntilTheyChange)
{
    const auto a = writePreset ("User/A.quorvalis");
    writeFile ("User/B.quorvalis", "not a preset");
    const auto c = writeFile ("User/C.quorvalis", "not a preset");
    OpenCounter counter (folder.getChildFile ("User"));
    ASSERT_TRUE (counter.isWatching());

    using Opens = std::map<juce::String, int>;
    struct Step { const char* what; std::function<void()> change; Opens opened; juce::File loaded; };
    const Step steps[] = {
        { "first", [] {}, { { "B.quorvalis", 1 }, { "C.quorvalis", 1 } }, a },
        { "again", [] {}, {}, a },
        { "B written, still broken", [&] { writeFile ("User/B.quorvalis", "still not a preset"); }, { { "B.quorvalis", 1 } }, a },
        { "C touched", [&] { c.setLastModificationTime (juce::Time::getCurrentTime() + juce::RelativeTime::hours (1)); },
          { { "C.quorvalis", 1 } }, a },
        { "C repaired", [&] { writePreset ("User/C.quorvalis"); }, { { "C.quorvalis", 1 } }, c },
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.what);
        step.change();
        counter.take();
        library().currentPresetFile = a;
        library().loadAdjacentPreset (+1);
        EXPECT_EQ (counter.take(), step.opened);
        EXPECT_EQ (library().currentPresetFile, step.loaded);
    }
}

// A preset that could not be read is tried again once it can be, though only its permissions changed.
TEST_F (PresetLibraryTest, UnreadablePresetIsTriedAgainOnceReadable)
{
    const auto a = writePreset ("User/A.quorvalis");
    const auto b = writePreset ("User/B.quorvalis");
    ASSERT_EQ (chmod (b.getFullPathName().toRawUTF8(), 0), 0);

    if (b.loadFileAsString().isNotEmpty())
        GTEST_SKIP() << "permissions are not enforced for this user";

    library().currentPresetFile = a;
    library().loadAdjacentPreset (+1);
    ASSERT_EQ (library().currentPresetFile, a);

    // The clock that stamps files may be coarse: change until the file's status time shows it.
    const auto statusTime = [&b]
    {
        struct stat info {};
        stat (b.getFullPathName().toRawUTF8(), &info);
        return std::make_pair (info.st_ctim.tv_sec, info.st_ctim.tv_nsec);
    };
    const auto refused = statusTime();

    while (statusTime() == refused)
        ASSERT_EQ (chmod (b.getFullPathName().toRawUTF8(), 0644), 0);

    library().loadAdjacentPreset (+1);
    EXPECT_EQ (library().currentPresetFile, b);
}
#endif

TEST_F (PresetLibraryTest, SavingKeepsEveryDotAndWritesTheFrameworkText)
{
    EXPECT_TRUE (library().savePreset ("Lush Pad.B").wasOk());

    const auto expected = folder.getChildFile ("User").getChildFile ("Lush Pad.B.quorvalis");
    EXPECT_EQ (library().getPresetFileForName ("Lush Pad.B"), expected);
    ASSERT_TRUE (expected.existsAsFile());
    EXPECT_EQ (library().currentPresetFile, expected);
    EXPECT_EQ (shownName(), "Lush Pad.B ");
    EXPECT_EQ (folder.getChildFile ("User").getNumberOfChildFiles (juce::File::findFiles), 1);

    juce::MemoryBlock bytes;
    ASSERT_TRUE (expected.loadFileAsData (bytes));
    const juce::String text ((const char*) bytes.getData(), bytes.getSize());

    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"));
    EXPECT_FALSE (text.startsWith ("\xef\xbb\xbf"));
    EXPECT_EQ (text.replace ("\r\n", "").indexOfAnyOf ("\r\n"), -1); // every line ends in CR LF
    EXPECT_TRUE (text.contains ("<PARAMETERS>"));
    EXPECT_TRUE (text.contains ("<PARAM id=\"marker\" value=\"0.25\"/>"));
    EXPECT_EQ (text, stateToSave.createXml()->toString()); // byte for byte what the framework writes

    // What was written loads back as the same tree.
    library().loadPreset (expected);
    ASSERT_EQ (applied.size(), 1u);
    EXPECT_TRUE (applied[0].isEquivalentTo (stateToSave));
}

// A dot never cuts the name: "Pad v1.5" lands beside "Pad v1", which stays as it was. Names
// that the framework would take for paths, and the longest name, are files in "User" too.
TEST_F (PresetLibraryTest, EveryAcceptedNameGetsItsOwnFile)
{
    const auto longest = juce::String::repeatedString (juce::CharPointer_UTF8 ("\xc3\xa9"), library().getMaximumNameBytes() / 2)
                         + juce::String::repeatedString ("x", library().getMaximumNameBytes() % 2);
    ASSERT_EQ ((int) longest.getNumBytesAsUTF8(), library().getMaximumNameBytes());

    const juce::String names[] = { "Pad v1", "Pad v1.5", "Pad v1.quorvalis", "~", "~user", "a..b", longest };
    const auto user = folder.getChildFile ("User");

    for (int i = 0; i < (int) std::size (names); ++i)
    {
        SCOPED_TRACE (names[i]);
        stateToSave = presetTree ((float) i);
        ASSERT_TRUE (library().savePreset (names[i]).wasOk());

        const juce::File file (user.getFullPathName() + "/" + names[i] + ".quorvalis");
        EXPECT_EQ (library().currentPresetFile, file);
        EXPECT_EQ (shownName(), names[i] + " ");
        EXPECT_EQ (library().getCurrentPresetFile().name, names[i]);
    }

    // Each file holds what was saved under its own name.
    ASSERT_EQ (user.getNumberOfChildFiles (juce::File::findFiles), (int) std::size (names));

    for (int i = 0; i < (int) std::size (names); ++i)
    {
        library().loadPreset (library().getPresetFileForName (names[i]));
        EXPECT_FLOAT_EQ ((float) applied.back().getChild (0).getProperty ("value"), (float) i) << names[i];
    }
}

TEST_F (PresetLibraryTest, RefusedNamesSayWhyAndWriteNothing)
{
    const auto outside = root.getChildFile ("outside");
    ASSERT_TRUE (outside.createDirectory().wasOk());

    ASSERT_TRUE (library().savePreset ("Kept").wasOk());
    const auto kept = library().currentPresetFile;
    const auto tooLong = juce::String::repeatedString ("x", library().getMaximumNameBytes() + 1);
    const auto tooLongInBytes = juce::String::repeatedString (juce::CharPointer_UTF8 ("\xc3\xa9"), library().getMaximumNameBytes() / 2 + 1);

    struct Case { juce::String name; const char* message; };
    const Case cases[] = {
        { "../x", "A preset name cannot contain \"/\" or \"\\\"." },
        { "../../outside/x", "A preset name cannot contain \"/\" or \"\\\"." },
        { outside.getChildFile ("x").getFullPathName(), "A preset name cannot contain \"/\" or \"\\\"." },
        { "~/x", "A preset name cannot contain \"/\" or \"\\\"." },
        { "sub/x", "A preset name cannot contain \"/\" or \"\\\"." },
        { "a\\b", "A preset name cannot contain \"/\" or \"\\\"." },
        { ".hidden", "A preset name cannot start with a dot." },
        { "..", "A preset name cannot start with a dot." },
        { ".", "A preset name cannot start with a dot." },
        { "...", "A preset name cannot start with a dot." },
        { {}, "Please type a name for the preset." },
        { "   ", "Please type a name for the preset." },
        { " \t\n", "Please type a name for the preset." },
        { "Line\nBreak", "A preset name cannot contain line breaks, tabs or other control characters." },
        { "\x01Start", "A preset name cannot contain line breaks, tabs or other control characters." },
        { "Bell\x07", "A preset name cannot contain line breaks, tabs or other control characters." },
        { "Del\x7f", "A preset name cannot contain line breaks, tabs or other control characters." },
        { tooLong, "The name is too long. Please shorten it." },
        { tooLongInBytes, "The name is too long. Please shorten it." },  // fewer characters, more bytes
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_EQ (library().getPresetFileForName (c.name), juce::File());
        EXPECT_EQ (library().savePreset (c.name).getErrorMessage(), c.message);
        EXPECT_EQ (library().currentPresetFile, kept);
        EXPECT_EQ (shownName(), "Kept ");
    }

    // Nothing was written anywhere but the one preset.
    EXPECT_EQ (root.findChildFiles (juce::File::findFiles, true).size(), 1);
    EXPECT_FALSE (qvl::test::testHomeFolder().getChildFile ("x.quorvalis").exists());
}

TEST_F (PresetLibraryTest, SaveFailuresChangeNothing)
{
    library().savePreset ("Kept");
    const auto kept = library().currentPresetFile;
    const auto user = folder.getChildFile ("User");

    const auto expectUnchanged = [&]
    {
        EXPECT_EQ (library().currentPresetFile, kept);
        EXPECT_EQ (shownName(), "Kept ");
    };

    // The target name is taken by a folder with content: the file cannot replace it.
    ASSERT_TRUE (user.getChildFile ("Busy.quorvalis").getChildFile ("inside").create().wasOk());
    EXPECT_EQ (library().savePreset ("Busy").getErrorMessage(), "A folder of that name is in the way.");
    expectUnchanged();
    EXPECT_TRUE (user.getChildFile ("Busy.quorvalis").isDirectory());

    // A file where the "User" folder should be.
    ASSERT_TRUE (user.deleteRecursively());
    ASSERT_TRUE (user.create().wasOk());
    EXPECT_EQ (library().savePreset ("Other").getErrorMessage(), "The \"User\" preset folder cannot be written.");
    expectUnchanged();
    EXPECT_TRUE (user.existsAsFile());

    // A file where the preset folder itself should be.
    ASSERT_TRUE (folder.deleteRecursively());
    ASSERT_TRUE (folder.create().wasOk());
    EXPECT_EQ (library().savePreset ("Other").getErrorMessage(), "The \"User\" preset folder cannot be written.");
    expectUnchanged();

    // No state getter: nothing to save.
    ASSERT_TRUE (folder.deleteFile());
    qvl::Presets::Options options;
    options.folder = folder;
    options.extension = "quorvalis";
    qvl::Presets withoutState (options);
    EXPECT_TRUE (withoutState.savePreset ("Other").failed());
    EXPECT_EQ (withoutState.currentPresetFile, juce::File());
    EXPECT_FALSE (folder.exists());
}

TEST_F (PresetLibraryTest, ReadOnlyUserFolderMakesSavingFail)
{
    const auto user = folder.getChildFile ("User");
    ASSERT_TRUE (user.createDirectory().wasOk());
    ASSERT_TRUE (user.setReadOnly (true));

    if (user.hasWriteAccess())
        GTEST_SKIP() << "permissions are not enforced for this user";

    EXPECT_EQ (library().savePreset ("Blocked").getErrorMessage(), "The \"User\" preset folder cannot be written.");
    EXPECT_EQ (library().currentPresetFile, juce::File());
    EXPECT_EQ (shownName(), "");
    EXPECT_EQ (user.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
}

TEST_F (PresetLibraryTest, NameShowsBlankOrMarkAndTheCurrentFile)
{
    EXPECT_EQ (shownName(), "");                      // nothing shown before the first update
    EXPECT_EQ (library().getCurrentPresetFile().file, folder);
    EXPECT_EQ (library().getCurrentPresetFile().name, "");

    library().updatePresetName (true);
    EXPECT_EQ (shownName(), " ");                     // no preset: never a mark

    const auto file = writePreset ("User/Keys.quorvalis");
    keepsLockedValue = true;
    library().loadPreset (file);
    EXPECT_EQ (shownName(), "Keys*");                 // a lock kept a differing value

    keepsLockedValue = false;
    library().loadPreset (file);
    EXPECT_EQ (shownName(), "Keys ");
    EXPECT_EQ (library().getCurrentPresetFile().file, file);
    EXPECT_EQ (library().getCurrentPresetFile().name, "Keys");

    // Removed behind the library's back: the entry points at the folder, the name stays.
    ASSERT_TRUE (file.deleteFile());
    EXPECT_EQ (library().getCurrentPresetFile().file, folder);
    EXPECT_EQ (library().getCurrentPresetFile().name, "Keys");
}

TEST_F (PresetLibraryTest, ParameterChangesMarkTheNameOnlyFromTheSecondTick)
{
    const auto file = writePreset ("User/Keys.quorvalis");
    library().loadPreset (file);
    ASSERT_EQ (shownName(), "Keys ");

    auto& presetLibrary = library();
    presetLibrary.audioProcessorParameterChanged (nullptr, 3, 0.5f); // tick count 0: ignored
    presetLibrary.timerCallback();                                    // 1
    presetLibrary.audioProcessorParameterChanged (nullptr, 3, 0.6f); // still ignored
    presetLibrary.timerCallback();                                    // 2
    EXPECT_EQ (shownName(), "Keys ");
    EXPECT_FALSE (presetLibrary.modified.load());

    presetLibrary.audioProcessorParameterChanged (nullptr, 3, 0.7f);
    EXPECT_TRUE (presetLibrary.modified.load());
    EXPECT_EQ (shownName(), "Keys ");                                 // shown on the next tick
    presetLibrary.timerCallback();
    EXPECT_EQ (shownName(), "Keys*");
    EXPECT_FALSE (presetLibrary.modified.load());
    EXPECT_EQ (presetLibrary.timerTicks.load(), 0);

    // The count restarted: the next change needs two ticks again.
    presetLibrary.audioProcessorParameterChanged (nullptr, 3, 0.8f);
    presetLibrary.timerCallback();
    presetLibrary.timerCallback();
    EXPECT_FALSE (presetLibrary.modified.load());

    // Saving shows the blank again.
    presetLibrary.savePreset ("Keys");
    EXPECT_EQ (shownName(), "Keys ");
}

TEST_F (PresetLibraryTest, MidiIndexLoadsTheEntryOfTheAllListOnTheNextTick)
{
    for (int k = 0; k < 5; ++k)
        writePreset ("User/P" + juce::String (k) + ".quorvalis", (float) k);

    // Five presets: index 5 is past the end and is dropped.
    library().pendingPresetIndex = 5;
    library().timerCallback();
    EXPECT_TRUE (applied.empty());
    EXPECT_EQ (library().pendingPresetIndex.load(), -1);
    EXPECT_EQ (library().currentPresetFile, juce::File());

    writePreset ("Factory/P5.quorvalis", 5.0f);
    const auto all = library().getPresets ("[All]");
    ASSERT_EQ (all.size(), 6);

    library().pendingPresetIndex = 5;
    library().timerCallback();
    ASSERT_EQ (applied.size(), 1u);
    EXPECT_EQ (library().currentPresetFile, all[5].file);
    EXPECT_EQ (shownName(), all[5].name + " ");
    EXPECT_FLOAT_EQ ((float) applied[0].getChild (0).getProperty ("value"), all[5].name.getTrailingIntValue());
    EXPECT_EQ (library().pendingPresetIndex.load(), -1);

    // No index posted: the tick loads nothing.
    library().timerCallback();
    EXPECT_EQ (applied.size(), 1u);

    // Several posts within one tick: only the last counts.
    library().pendingPresetIndex = 1;
    library().pendingPresetIndex = 2;
    library().timerCallback();
    ASSERT_EQ (applied.size(), 2u);
    EXPECT_EQ (library().currentPresetFile, all[2].file);
}

TEST_F (PresetLibraryTest, TimerRunsEveryFiftyMilliseconds)
{
    EXPECT_TRUE (library().isTimerRunning());
    EXPECT_EQ (library().getTimerInterval(), 50);
}
