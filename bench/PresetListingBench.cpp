// What listing presets costs on the message thread: the browser's lists, a MIDI preset change
// and a "next" step (both the "[All]" list), for a musician's library of 12,000 "Factory" presets
// and one "User" preset, and for a library so crowded that the listing bounds cut it. And a
// "next" step beside 300 broken presets of a real preset's size, against one in a clean folder.
#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>

namespace
{
    const char* presetText = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<PARAMETERS><PARAM id=\"marker\" value=\"0.5\"/></PARAMETERS>\r\n";

    // count presets named prefix and a number, each holding text, in one category.
    struct Part
    {
        const char* category;
        int count;
        std::string text = presetText;
        const char* prefix = "Preset ";
    };

    // A preset folder in the temporary folder, filled once per process and removed at exit.
    class Library
    {
    public:
        Library (const juce::String& name, std::initializer_list<Part> parts)
            : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("qvl-listing-bench-" + juce::String (juce::Time::currentTimeMillis()))
                          .getChildFile (name))
        {
            for (const auto& part : parts)
            {
                const auto directory = folder.getChildFile (part.category);
                directory.createDirectory();

                for (int i = 0; i < part.count; ++i)
                    std::ofstream (directory.getChildFile (part.prefix + juce::String (i) + ".quorvalis").getFullPathName().toStdString())
                        << part.text;
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

namespace
{
    // What the plug-in saves with every parameter at its default: a real preset's size.
    std::string savedPresetText()
    {
        juce::ScopedJuceInitialiser_GUI juce;
        QuorvalisPluginAudioProcessor processor;
        return processor.presets.getPresetText().toStdString();
    }

    // The same with each value's decimal point a comma, as a host's locale once had it written:
    // refused, but only once all of it has been read.
    std::string withDecimalCommas (std::string text)
    {
        const std::string value = " value=\"";

        for (auto at = text.find (value); at != std::string::npos; at = text.find (value, at + 1))
        {
            const auto point = text.find_first_of (".\"", at + value.size());

            if (point != std::string::npos && text[point] == '.')
                text[point] = ',';
        }

        return text;
    }

    const Library& cleanLibrary()
    {
        static const Library library ("clean", { { "User", 301, savedPresetText() } });
        return library;
    }

    const Library& brokenLibrary()
    {
        static const auto text = savedPresetText();
        static const Library library ("broken", { { "User", 1, text, "Good " }, { "User", 300, withDecimalCommas (text), "Broken " } });
        return library;
    }
}

// "next" from one preset among 301 of a real preset's size: all good, or all but it broken, where
// nothing else loads. The first click tries every broken file; later ones pass what they refused.
static void BM_StepBesideBrokenFiles (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const bool broken = state.range (0) != 0, firstClick = state.range (1) != 0;
    const auto& library = broken ? brokenLibrary() : cleanLibrary();
    const auto good = library.folder.getChildFile (broken ? "User/Good 0.quorvalis" : "User/Preset 0.quorvalis");
    auto presets = library.open();
    presets->currentPresetFile = good;

    if (! firstClick)
        presets->loadAdjacentPreset (+1);

    for (auto _ : state)
    {
        if (firstClick)
        {
            state.PauseTiming();
            presets = library.open();
            presets->currentPresetFile = good;
            state.ResumeTiming();
        }

        presets->loadAdjacentPreset (+1);
    }

    state.counters["preset_bytes"] = (double) good.getSize();
}

BENCHMARK_CAPTURE (BM_ListCategory, all, "[All]")->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_ListCategory, factory, "Factory")->ArgName ("crowded")->Arg (0)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (BM_ListCategory, user, "User")->ArgName ("crowded")->Arg (0)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_Categories)->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_StepNext)->ArgName ("crowded")->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_StepBesideBrokenFiles)->ArgNames ({ "broken", "firstClick" })->Args ({ 0, 0 })->Args ({ 1, 0 })->Args ({ 1, 1 })
    ->Unit (benchmark::kMillisecond);
