// processBlock at 48 kHz stereo in 512-sample blocks, timed in CPU time of this thread.
#include "processor/InputGuard.h"
#include "processor/PluginProcessor.h"
#include "tests/plugin/ProcessorTestAccess.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    double threadCpuSeconds()
    {
        timespec t {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
        return (double) t.tv_sec + (double) t.tv_nsec * 1.0e-9;
    }

    void setReal (juce::RangedAudioParameter& parameter, float value)
    {
        parameter.setValueNotifyingHost (parameter.convertTo0to1 (value));
    }

    void setText (juce::RangedAudioParameter& parameter, const juce::String& text)
    {
        parameter.setValueNotifyingHost (parameter.getValueForText (text));
    }

    // All four streams busy enough to hold 600 grains, each stream's position swept by LFO 1.
    // Pitch stays at its default unless asked: transposed grains take the slower reader path.
    void configureForManyGrains (QuorvalisPluginAudioProcessor& p, bool transposed)
    {
        setReal (*p.grainCountLimitParameter, 600.0f);

        for (int s = 0; s < 4; ++s)
        {
            auto& stream = p.streamParameters[(size_t) s];
            setReal (*stream.isEnabled, 1.0f);
            setReal (*stream.rateTimebase, 0.0f);
            setText (*stream.rate, "1");
            setReal (*stream.grainLengthTimebase, 0.0f);
            setText (*stream.grainLength, "400");
            if (transposed)
                setReal (*stream.grainPitch, (float) s * 3.5f - 5.0f);

            auto& slot = p.modulationSlotParameters.getReference (s);
            setReal (*slot.target, (float) stream.position->getParameterIndex());
            setReal (*slot.modulatorIndex, 0.0f);
            setReal (*slot.amount, 0.5f);
        }
    }

    // A playing host at 140 BPM with its musical position, and everything that can follow it on the
    // beat: four streams at 1/16, 1/8, dotted 1/16 and triplet 1/8, four LFOs and four random
    // modulators at notes, the LFOs routed.
    struct PlayingHost : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying (true);
            info.setBpm (140.0);
            info.setTimeInSamples (samples);
            info.setPpqPosition ((double) samples * 140.0 / (60.0 * sampleRate));
            return info;
        }

        juce::int64 samples = 0;
    };

    void configureBeatSynced (QuorvalisPluginAudioProcessor& p)
    {
        const char* notes[] = { "1/16", "1/8", "D 1/16", "T 1/8" };

        for (int i = 0; i < 4; ++i)
        {
            auto& stream = p.streamParameters[(size_t) i];
            setReal (*stream.isEnabled, 1.0f);
            setText (*stream.rateSync, "Beat");
            setText (*stream.rateTimebase, notes[i]);
            setText (*stream.rate, "1");

            for (auto* sync : { p.lfoParameters[(size_t) i].sync, p.randomParameters[(size_t) i].sync })
                setText (*sync, "Beat");
            setText (*p.lfoParameters[(size_t) i].timebase, notes[i]);
            setText (*p.randomParameters[(size_t) i].timebase, notes[i]);

            auto& slot = p.modulationSlotParameters.getReference (i);
            setReal (*slot.target, (float) stream.position->getParameterIndex());
            setReal (*slot.modulatorIndex, (float) i);
            setReal (*slot.amount, 0.5f);
        }
    }

    enum class Load { defaults, manyGrains, manyTransposedGrains, beatSynced };

    // A prepared processor with the given load, a block of noise for its input, and enough blocks
    // run for the streams to fill the pool.
    struct Rig
    {
        explicit Rig (Load load)
        {
            processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
            processor.prepareToPlay (sampleRate, blockSize);

            if (load == Load::manyGrains || load == Load::manyTransposedGrains)
                configureForManyGrains (processor, load == Load::manyTransposedGrains);

            if (load == Load::beatSynced)
            {
                configureBeatSynced (processor);
                processor.setPlayHead (&host);
            }

            std::mt19937 rng (7);
            std::uniform_real_distribution<float> noise (-0.5f, 0.5f);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < blockSize; ++i)
                    input.setSample (c, i, noise (rng));

            for (int b = 0; b < 400; ++b)
                process();
        }

        ~Rig() { processor.setPlayHead (nullptr); }

        void process()
        {
            block.makeCopyOf (input, true);
            processor.processBlock (block, midi);
            host.samples += blockSize;
        }

        juce::ScopedJuceInitialiser_GUI initialiser; // before the processor
        PlayingHost host;
        QuorvalisPluginAudioProcessor processor;
        juce::AudioBuffer<float> input { 2, blockSize }, block { 2, blockSize };
        juce::MidiBuffer midi;
    };

    void runProcessBlock (benchmark::State& state, Load load)
    {
        Rig rig (load);
        auto& processor = rig.processor;
        auto& block = rig.block;

        double grainSamples = 0.0;
        double cpuSeconds = 0.0;

        for (auto _ : state)
        {
            block.makeCopyOf (rig.input, true);
            grainSamples += (double) processor.grainPool.getActiveCount() * blockSize;
            const double began = threadCpuSeconds();
            processor.processBlock (block, rig.midi);
            cpuSeconds += threadCpuSeconds() - began;
            rig.host.samples += blockSize;
            benchmark::DoNotOptimize (block.getReadPointer (0)[blockSize - 1]);
        }

        const double audioSeconds = (double) state.iterations() * blockSize / sampleRate;
        state.counters["realtime_factor"] = cpuSeconds > 0.0 ? audioSeconds / cpuSeconds : 0.0;
        state.counters["ns_per_grain_sample"] = grainSamples > 0.0 ? cpuSeconds * 1.0e9 / grainSamples : 0.0;
        state.counters["grains"] = grainSamples / ((double) state.iterations() * blockSize);
    }
}

static void BM_ProcessBlock_Default (benchmark::State& state) { runProcessBlock (state, Load::defaults); }
static void BM_ProcessBlock_600Grains (benchmark::State& state) { runProcessBlock (state, Load::manyGrains); }
static void BM_ProcessBlock_600TransposedGrains (benchmark::State& state) { runProcessBlock (state, Load::manyTransposedGrains); }
static void BM_ProcessBlock_BeatSynced (benchmark::State& state) { runProcessBlock (state, Load::beatSynced); }

BENCHMARK (BM_ProcessBlock_Default)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_ProcessBlock_600Grains)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_ProcessBlock_600TransposedGrains)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_ProcessBlock_BeatSynced)->Unit (benchmark::kMicrosecond);

// The input guard and the output check together against a default block, both on the same
// noise: the guard limits every input sample and every chunk's output is checked for broken
// values. The goal is under 2 % of the block.
static void BM_InputGuardShareOfDefaultBlock (benchmark::State& state)
{
    Rig rig (Load::defaults);
    auto& processor = rig.processor;
    auto& block = rig.block;

    // The guard is cheap enough that a clock read per call would be most of what is measured.
    constexpr int guardRepeats = 64;
    double blockSeconds = 0.0, guardSeconds = 0.0;
    bool finite = true;

    for (auto _ : state)
    {
        block.makeCopyOf (rig.input, true);
        double began = threadCpuSeconds();
        processor.processBlock (block, rig.midi);
        blockSeconds += threadCpuSeconds() - began;

        block.makeCopyOf (rig.input, true);
        began = threadCpuSeconds();
        for (int r = 0; r < guardRepeats; ++r)
        {
            for (int c = 0; c < 2; ++c)
                qvl::limitInput (block.getWritePointer (c), blockSize);
            for (int c = 0; c < 2; ++c)
                finite = qvl::allFinite (block.getReadPointer (c), blockSize) && finite;
            benchmark::ClobberMemory();
        }
        guardSeconds += (threadCpuSeconds() - began) / guardRepeats;
    }

    benchmark::DoNotOptimize (finite);
    const auto iterations = (double) state.iterations();
    state.counters["block_us"] = blockSeconds * 1.0e6 / iterations;
    state.counters["guard_us"] = guardSeconds * 1.0e6 / iterations;
    state.counters["guard_share_pct"] = blockSeconds > 0.0 ? 100.0 * guardSeconds / blockSeconds : 0.0;
}

BENCHMARK (BM_InputGuardShareOfDefaultBlock)->Unit (benchmark::kMicrosecond);

// The display snapshot's share of a 64-sample block while the editor keeps asking for pictures:
// a full 5-second stereo loop, the display's 840-pixel bars. The budget is 5 % of the block.
static void BM_SnapshotFill (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const double rate = (double) state.range (0);
    constexpr int smallBlock = 64;

    QuorvalisPluginAudioProcessor processor;
    processor.setRateAndBufferSizeDetails (rate, smallBlock);
    processor.prepareToPlay (rate, smallBlock);
    setReal (*processor.bufferSizeTimebaseParameter, 1.0f);   // seconds
    processor.bufferSizeParameter->setValueNotifyingHost (1.0f); // the longest, 5 s

    juce::AudioBuffer<float> block (2, 4096);
    juce::MidiBuffer midi;
    for (int b = 0; b < (int) (rate * 5.5) / 4096; ++b)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 4096; ++i)
                block.setSample (c, i, (float) ((b * 4096 + i) % 101) / 101.0f - 0.5f);
        processor.processBlock (block, midi);
    }

    const QuorvalisPluginAudioProcessor::OpenEditorToken editorOpen (processor);
    processor.displayWaveformWidth = 840;

    double cpuSeconds = 0.0;

    for (auto _ : state)
    {
        processor.displayRequest = 1;
        const double began = threadCpuSeconds();
        ProcessorTestAccess::fillAndPublishSnapshot (processor, smallBlock);
        cpuSeconds += threadCpuSeconds() - began;
        benchmark::ClobberMemory();
    }

    const double blockSeconds = smallBlock / rate;
    state.counters["loop_samples"] = processor.circularBuffer.getLength();
    state.counters["block_share_pct"] = 100.0 * cpuSeconds / (double) state.iterations() / blockSeconds;
}

BENCHMARK (BM_SnapshotFill)->Arg (48000)->Arg (192000)->Unit (benchmark::kMicrosecond);
