#include "tests/plugin/TestHome.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace
{
    juce::File homeFolder;

    const char* const homePrefix = "qvl-plugin-tests-";

    std::string temporaryFolder()
    {
        const char* temporary = std::getenv ("TMPDIR");
        return temporary != nullptr && *temporary != 0 ? temporary : "/tmp";
    }

    // A crashed or killed run cannot remove its home; the next run removes every home whose
    // process (named in the folder) no longer exists.
    void removeAbandonedHomes()
    {
        for (const auto& folder : juce::File (temporaryFolder()).findChildFiles (juce::File::findDirectories, false,
                                                                                juce::String (homePrefix) + "*"))
        {
            const auto pidText = folder.getFileName().fromFirstOccurrenceOf (homePrefix, false, false)
                                                     .upToFirstOccurrenceOf ("-", false, false);

            if (! pidText.containsOnly ("0123456789") || pidText.isEmpty())
                continue;

            const auto pid = (pid_t) pidText.getLargeIntValue();

            if (pid > 0 && kill (pid, 0) != 0 && errno == ESRCH)
                folder.deleteRecursively();
        }
    }

    // A fresh folder per test process, so parallel test runs never share presets or settings.
    std::string makeTemporaryHome()
    {
        std::string path = temporaryFolder() + "/" + homePrefix + std::to_string ((long) getpid()) + "-XXXXXX";

        if (mkdtemp (path.data()) == nullptr)
        {
            std::perror ("qvl_plugin_tests: cannot create a temporary home folder");
            std::exit (1);
        }

        return path;
    }

    void pointHomeAt (const std::string& home)
    {
        // The framework finds the documents folder through ~/.config/user-dirs.dirs and "~"
        // through HOME; the XDG variables keep everything else off the real home too.
        setenv ("HOME", home.c_str(), 1);
        setenv ("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        setenv ("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        setenv ("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
        setenv ("XDG_DOCUMENTS_DIR", (home + "/Documents").c_str(), 1);
    }
}

juce::File qvl::test::testHomeFolder()
{
    return homeFolder;
}

// The processor's parameter tree and timers need the framework's message manager.
int main (int argc, char** argv)
{
    removeAbandonedHomes();
    const auto home = makeTemporaryHome();
    pointHomeAt (home);
    homeFolder = juce::File (home);

    ::testing::InitGoogleTest (&argc, argv);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    homeFolder.deleteRecursively();
    return result;
}
