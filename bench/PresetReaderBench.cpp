// Reading crafted preset files as large as a preset may be (16 MB), each made to cost the reader
// as much as it can: every one must be read or refused well within a second. A saved preset for
// comparison.
#include "processor/PluginProcessor.h"
#include "tests/support/CraftedXml.h"

#include <benchmark/benchmark.h>

namespace
{
    constexpr int maximumBytes = 16 * 1024 * 1024;

    // head, then unit as often as fits, then tail.
    juce::String filled (const juce::String& head, const juce::String& unit, const juce::String& tail)
    {
        const int count = (maximumBytes - head.length() - tail.length()) / unit.length();
        return head + juce::String::repeatedString (unit, count) + tail;
    }

    const juce::String root ("<PARAMETERS version_major=\"1\">" + qvl::test::craftedXml::validParameter);

    // Every bound of attributes reached with distinct names of 256 bytes that differ only at
    // their end, the hardest for the string pool's sorted inserts; elements of 64 attributes.
    // Names new to the pool in every round.
    juce::String longDistinctNames (int round)
    {
        juce::MemoryOutputStream out;
        out << root;
        const auto prefix = juce::String::repeatedString ("n", 244) + juce::String (round).paddedLeft ('0', 6);
        const int names = qvl::Presets::xmlBounds.maximumAttributes - 3; // the root's and the parameter's

        for (int i = 0; i < names; ++i)
        {
            if (i % 64 == 0)
                out << (i == 0 ? "<e" : "/><e");

            out << " " << prefix << juce::String (i).paddedLeft ('0', 6) << "=\"\"";
        }

        out << "/></PARAMETERS>";
        return out.toString();
    }

    namespace crafted = qvl::test::craftedXml;

    juce::String millionAttributeNames (int)     { return crafted::distinctAttributeNames (1000000); }
    juce::String manyElements (int)              { return filled (root, crafted::validParameter, "</PARAMETERS>"); }
    juce::String deepNesting (int)               { return filled (root, "<a>", ""); }
    juce::String nestingAfterCommentInTag (int)  { return crafted::nestingAfterCommentInTag (maximumBytes / 7); }
    juce::String nestingAfterInstructions (int)  { return crafted::nestingAfterInstructionInTag (maximumBytes / 9); }
    juce::String hugeText (int)                  { return filled (root, " text &amp; &#x1F3B9; ", "</PARAMETERS>"); }
    juce::String hugeMacroName (int)             { return filled (root + "<PROGRAM_PROPERTIES macro_1=\"", "&#x1F3B9;&lt;", "\"/></PARAMETERS>"); }
    juce::String manyComments (int)              { return filled (root, "<!-- <a> -->", "</PARAMETERS>"); }
    juce::String valuePaddedWithZeros (int)      { return crafted::paddedValue ("0.", "0", maximumBytes); }
    juce::String valuePaddedWithBlanks (int)     { return crafted::paddedValue ("-6", " ", maximumBytes); }
    juce::String hugeExponent (int)              { return crafted::paddedValue ("1e-" + juce::String::repeatedString ("9", maximumBytes - 64), "", 0); }
    juce::String hugeNumber (int)                { return crafted::paddedValue ("1" + juce::String::repeatedString ("0", maximumBytes - 64), "", 0); }
    juce::String tinyNumber (int)                { return crafted::paddedValue ("0." + juce::String::repeatedString ("0", maximumBytes - 64) + "1", "", 0); }

    // make (round) gives the document; only longDistinctNames differs from round to round.
    void readPreset (benchmark::State& state, juce::String (*make) (int), bool accepted)
    {
        juce::ScopedJuceInitialiser_GUI juce;
        QuorvalisPluginAudioProcessor processor;
        auto text = make != nullptr ? make (0) : processor.presets.getOptions().getState().toXmlString();
        int round = 0;

        for (auto _ : state)
        {
            if (make == longDistinctNames && round > 0)
            {
                state.PauseTiming();
                text = make (round);
                state.ResumeTiming();
            }

            ++round;
            const auto tree = processor.presets.readPresetText (text);
            benchmark::DoNotOptimize (tree);

            if (tree.isValid() != accepted)
                state.SkipWithError (accepted ? "refused" : "accepted");
        }

        state.SetBytesProcessed ((int64_t) state.iterations() * (int64_t) text.getNumBytesAsUTF8());
    }
}

BENCHMARK_CAPTURE (readPreset, savedPreset, nullptr, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, millionAttributeNames, millionAttributeNames, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, manyElements, manyElements, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, deepNesting, deepNesting, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, nestingAfterCommentInTag, nestingAfterCommentInTag, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, nestingAfterInstructionsInTags, nestingAfterInstructions, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, hugeText, hugeText, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, hugeMacroName, hugeMacroName, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, manyComments, manyComments, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, valuePaddedWithZeros, valuePaddedWithZeros, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, valuePaddedWithBlanks, valuePaddedWithBlanks, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, hugeExponent, hugeExponent, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, hugeNumber, hugeNumber, false)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, tinyNumber, tinyNumber, true)->Unit (benchmark::kMillisecond);
BENCHMARK_CAPTURE (readPreset, everyAttributeBoundWithNewNames, longDistinctNames, true)->Unit (benchmark::kMillisecond);
