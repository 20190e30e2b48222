// What listing presets costs on the message thread: the browser's lists, a MIDI preset change
// and a "next" step (both the "[All]" list), for a musician's library of 12,000 "Factory" presets
// and one "User" preset, and for a library so crowded that the listing bounds cut it.
#include "processor/Presets.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>

namespace
{
    const char* presetText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<PARAMETERS><PARAM id=\"marker\" value=\"0.5\"/></PARAMETERS>\r\n";

    // A preset folder in the temporary folder, filled once per process and removed at exit.
    class Library
    {
    public:
        Library (const juce::String& name, std::initializer_list<std::pair<const char*, int>> categories)
            : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("qvl-listing-bench-" + juce::String (juce::Time::currentTimeMillis()))
                          .getChildFile (name))
        {
            for (const auto& [category, count] : categories)
            {
                const auto directory = folder.getChildFile (category);
                directory.createDirectory();

                for (int i = 0; i < count; ++i)
                    std::ofstream (directory.getChildFile ("Preset " + juce::String (i) + ".quorvalis").getFullPathName().toStdString())
                        << presetText;
            }
        }

        ~Library() { folder.getParentDirectory().deleteRecursively(); }

        std::unique_ptr<qvl::Presets> open() const
        {
            qvl::Presets::Options options;
            options.folder = folder;
            options.extension = "quorvalis";
            options.setState = [] (juce::ValueTree) { return false; };
            return std::make_unique<qvl::Presets> (std::move (options));
        }

        const juce::File folder;
    };

    const Library& musiciansLibrary()
    {
        static const Library library ("musician", { { "Factory", 12000 }, { "User", 1 } });
        return library;
    }

    // More than the "[All]" listing may look at: every category is cut, and so is the whole.
    const Library& crowdedLibrary()
    {
        static const Library library ("crowded", { { "A", 12000 }, { "B", 12000 }, { "C", 12000 }, { "D", 12000 }, { "E", 12000 } });
        return library;
    }

    const Library& libraryFor (const benchmark::State& state)
    {
        return state.range (0) == 0 ? musiciansLibrary() : crowdedLibrary();
    }

    void countListed (benchmark::State& state, int listed)
    {
        state.counters["listed"] = listed;
        state.counters["per_entry"] = benchmark::Counter ((double) listed, benchmark::Counter::kIsIterationInvariantRate
                                                                               | benchmark::Counter::kInvert);
    }
}

static void BM_ListCategory (benchmark::State& state, const char* category)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto presets = libraryFor (state).open();
    int listed = 0;

    for (auto _ : state)
    {
        const auto listing = presets->getPresetListing (category);
        listed = listing.entries.size();
        benchmark::DoNotOptimize (listing.isComplete);
    }

    countListed (state, listed);
}

static void BM_Categories (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto presets = libraryFor (state).open();

    for (auto _ : state)
        benchmark::DoNotOptimize (presets->getCategories().size());
}

// Lists "[All]", finds the current preset and loads the next one.
static void BM_StepNext (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto presets = libraryFor (state).open();

    for (auto _ : state)
        presets->loadAdjacentPreset (+1);
}

BENCHMARK_CAPTURE (BM_ListCategory, all, "[All]")->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_ListCategory, factory, "Factory")->ArgName ("crowded")->Arg (0)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_ListCategory, user, "User")->ArgName ("crowded")->Arg (0)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Categories)->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_StepNext)->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
