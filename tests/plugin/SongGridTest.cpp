// Beat-synced grains, LFOs and random modulators against the exact grid of the song's beat, over
// minutes of host time: whole and fractional grids, every kind of note, tempo changes, a count-in
// and a loop. Each row prints its worst distances from the grid.

#include "tests/plugin/AudioPathTestSupport.h"

#include <algorithm>
#include <cmath>
#include <iostream>

using namespace qvl::test;

namespace
{
    struct SongRow
    {
        const char* name;
        double sampleRate;
        double bpm;
        int timebase;                 // the note of all three grids
        float value;                  // how many of it
        int blockSize;
        double minutes;
        double changedBpm = 0.0;      // the tempo from a third of the way in; 0 keeps it
        double startBeat = 0.0;       // below 0: a count-in
        double loopStart = 0.0, loopEnd = 0.0; // in quarter notes; equal ends: no loop
        int numerator = 4, denominator = 4;
        bool wholeSamples = false;    // lines fall on samples: grains exactly on them, as ever
        int jitter = 0;               // the host rounds its position by up to so many samples
    };

    const SongRow songRows[] = {
        { "WholeSampleGrid_48k_120_16th_512", 48000.0, 120.0, 7, 1.0f, 512, 10.0, 0.0, 0.0, 0.0, 0.0, 4, 4, true },
        { "HalfSampleGrid_44k_120_16th_512", 44100.0, 120.0, 7, 1.0f, 512, 10.0 },
        { "Fractional_48k_140_16th_512", 48000.0, 140.0, 7, 1.0f, 512, 10.0 },
        { "Fractional_96k_93_7_Dotted8th_512", 96000.0, 93.7, 11, 1.0f, 512, 10.0 },
        { "Fractional_48k_133_Triplet4th_1", 48000.0, 133.0, 15, 1.0f, 1, 10.0 },
        { "TwoBarsOf7_8_48k_150_512", 48000.0, 150.0, 3, 2.0f, 512, 10.0, 0.0, 0.0, 0.0, 0.0, 7, 8 },
        { "TempoChange_44k_120_to_100_16th_512", 44100.0, 120.0, 7, 1.0f, 512, 10.0, 100.0 },
        { "TempoChange_96k_133_to_97_5_Triplet16th_1", 96000.0, 133.0, 17, 1.0f, 1, 10.0, 97.5 },
        { "CountIn_48k_126_Dotted16th_512", 48000.0, 126.0, 12, 1.0f, 512, 10.0, 0.0, -8.0 },
        { "LoopJumpsBack_44k_128_8th_512", 44100.0, 128.0, 6, 1.0f, 512, 10.0, 0.0, 0.0, 2.5, 18.5 },
        { "HostRoundsItsPosition_48k_137_33_16th_512", 48000.0, 137.33, 7, 1.0f, 512, 10.0, 0.0, 0.0, 0.0, 0.0, 4, 4, false, 3 },
    };

    // A stretch of the song at one tempo without a jump, as the host played it.
    struct Stretch
    {
        juce::int64 first;   // our sample count
        int length;
        double beat;         // at `first`
        double bpm;
        double samplesPerMinute;
        bool afterJump;      // the host started or jumped here

        double beatsIn (double samples) const { return samples * bpm / samplesPerMinute; }
    };

    // The grid line times of all stretches played, in samples, each line once: a line belongs to
    // the sample nearest it, half-open, joined up across a tempo change.
    std::vector<double> gridLines (const std::vector<Stretch>& stretches, double spacing)
    {
        std::vector<double> lines;
        double lower = 0.0;

        for (const auto& s : stretches)
        {
            if (s.afterJump)
                lower = s.beat - s.beatsIn (0.5);

            const double upper = s.beat + s.beatsIn ((double) s.length - 0.5);
            for (double k = std::ceil (lower / spacing); k * spacing < upper; ++k)
                lines.push_back ((double) s.first + (k * spacing - s.beat) * s.samplesPerMinute / s.bpm);

            lower = upper;
        }

        return lines;
    }

    double beatAt (const std::vector<Stretch>& stretches, juce::int64 sample)
    {
        for (auto s = stretches.rbegin(); s != stretches.rend(); ++s)
            if (s->first <= sample)
                return s->beat + s->beatsIn ((double) (sample - s->first));
        return stretches.front().beat;
    }

    struct Measured
    {
        double grainWorst = 0.0;     // samples from the line
        size_t grainLines = 0, grains = 0;
        double lfoWorst = 0.0;       // cycles
        int lfoTicks = 0;
        double randomWorst = 0.0;    // samples between a line and the tick that fired for it
        size_t randomLines = 0, fires = 0;
    };

    class SongGrid : public ::testing::TestWithParam<SongRow> {};
}

TEST_P (SongGrid, SyncedFeaturesStayOnTheBeat)
{
    const auto& row = GetParam();
    const auto total = (juce::int64) (row.minutes * 60.0 * row.sampleRate);

    QuorvalisPluginAudioProcessor p;
    prepare (p, row.sampleRate, row.blockSize);
    useFullBuffer (p);
    FakePlayHead head;
    head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { row.numerator, row.denominator });
    p.setPlayHead (&head);

    setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
    setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, row.timebase, row.value);
    setTimed (p, "stream_1_grain_length", "stream_1_grain_length_timebase", grainLengthRanges, Timebase::milliseconds, 100.0f);
    setRealValue (p, "modulator_lfo_1_sync", (float) SyncMode::beat);
    setRealValue (p, "modulator_lfo_1_shape", 3.0f); // saw up shows its phase
    setTimed (p, "modulator_lfo_1_rate", "modulator_lfo_1_timebase", modulatorRateRanges, row.timebase, row.value);
    setRealValue (p, "modulator_random_1_sync", (float) SyncMode::beat);
    setRealValue (p, "modulator_random_1_probability", 1.0f);
    setTimed (p, "modulator_random_1_rate", "modulator_random_1_timebase", modulatorRateRanges, row.timebase, row.value);

    // One cycle in quarter notes, from the row alone.
    const double note[] = { 0, 0, 0, 4.0 * row.numerator / row.denominator, 2, 1, 0.5, 0.25, 0.125 };
    const int tb = row.timebase;
    const double spacing = row.value * (tb <= 8 ? note[tb] : tb <= 13 ? 1.5 * note[tb - 5] : note[tb - 10] / 3.0);

    const int tickLength = Access::tickLength (p);
    const bool looping = row.loopEnd > row.loopStart;
    const auto changeAt = row.changedBpm > 0.0 ? total / 3 : total + 1;

    std::vector<Stretch> stretches;
    std::vector<double> onsets;
    std::vector<std::pair<juce::int64, juce::int64>> fireTicks; // ticks started in the block that fired
    Measured m;

    double beat = row.startBeat;
    double bpm = row.bpm;
    bool jumped = true;
    auto songSample = (juce::int64) std::llround (beat * 60.0 / bpm * row.sampleRate);
    std::vector<float> lastValues;

    juce::MidiBuffer midi;
    juce::AudioBuffer<float> block (2, row.blockSize);

    for (juce::int64 t = 0; t < total;)
    {
        if (t == changeAt)
            bpm = row.changedBpm;

        const double perSample = bpm / 60.0 / row.sampleRate;
        const double samplesPerMinute = 60.0 * row.sampleRate;

        // The host ends a block where the tempo changes or the loop turns back.
        auto n = (juce::int64) row.blockSize;
        if (t < changeAt)
            n = std::min (n, changeAt - t);
        if (looping)
            n = std::min (n, std::max<juce::int64> (1, (juce::int64) std::ceil ((row.loopEnd - beat) / perSample)));

        if (jumped || stretches.empty() || stretches.back().bpm != bpm)
            stretches.push_back ({ t, 0, beat, bpm, samplesPerMinute, jumped });

        auto& stretch = stretches.back();
        stretch.length += (int) n;

        head.set (true, songSample);
        head.info.setPpqPosition (beat + (double) ((t / row.blockSize) % 7 - 3) * row.jitter / 3 * perSample);
        head.info.setBpm (bpm);

        juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), 2, 0, (int) n);
        fill (view, t, sine);
        p.processBlock (view, midi);

        // Grains that began in this block, by how far they have played.
        std::vector<double> fresh;
        for (int i = 0; i < p.grainPool.getActiveCount(); ++i)
            if (p.grainPool.getGrain (i).progress <= n)
                fresh.push_back ((double) (t + n - p.grainPool.getGrain (i).progress));
        std::sort (fresh.begin(), fresh.end());
        onsets.insert (onsets.end(), fresh.begin(), fresh.end());

        const auto lastTick = (t + n - 1) / tickLength;
        const auto firstTick = (t + tickLength - 1) / tickLength;

        // The LFO as its latest tick left it; its first ticks still read the defaults.
        if (lastTick >= 2)
        {
            const double x = (p.modulationEngine.lfos[0].output + 1.0) / 2.0;
            double expected = beatAt (stretches, lastTick * tickLength) / spacing;
            expected -= std::floor (expected);
            const double error = std::abs (x - expected);
            m.lfoWorst = std::max (m.lfoWorst, std::min (error, 1.0 - error));
            ++m.lfoTicks;
        }

        const auto& values = p.modulationEngine.randoms[0].values;
        const std::vector<float> now (values.begin(), values.begin() + 8);
        if (firstTick <= lastTick && firstTick >= 2 && now != lastValues)
            fireTicks.push_back ({ firstTick, lastTick });
        lastValues = now;

        // From the stretch's start, as a host's tempo map gives it: never summed block by block.
        t += n;
        songSample += n;
        beat = stretch.beat + stretch.beatsIn ((double) (t - stretch.first));
        jumped = false;

        if (looping && beat >= row.loopEnd)
        {
            beat = row.loopStart + (beat - row.loopEnd);
            songSample -= (juce::int64) std::llround ((row.loopEnd - row.loopStart) * 60.0 / bpm * row.sampleRate);
            jumped = true;
        }
    }

    const auto lines = gridLines (stretches, spacing);
    m.grainLines = lines.size();
    m.grains = onsets.size();
    for (size_t i = 0; i < std::min (lines.size(), onsets.size()); ++i)
        m.grainWorst = std::max (m.grainWorst, std::abs (onsets[i] - lines[i]));

    // The random modulator: the tick that holds each line fires, once, in its turn. The last tick
    // reaches past the last sample, and so does its grid.
    auto wholeTicks = stretches;
    wholeTicks.back().length += (int) ((tickLength - total % tickLength) % tickLength);
    std::vector<juce::int64> held;
    for (const double line : gridLines (wholeTicks, spacing))
        if (line >= 2.0 * tickLength)
            held.push_back ((juce::int64) std::floor (line / tickLength));

    m.randomLines = held.size();
    m.fires = fireTicks.size();
    for (size_t i = 0; i < std::min (held.size(), fireTicks.size()); ++i)
    {
        const auto [from, to] = fireTicks[i];
        const auto ticksOff = held[i] < from ? from - held[i] : held[i] > to ? held[i] - to : 0;
        m.randomWorst = std::max (m.randomWorst, (double) (ticksOff * tickLength));
    }

    std::cout << "[ grid     ] " << row.name << ": grains " << m.grainWorst << " samples off worst, " << m.grains << " for "
              << m.grainLines << " lines; LFO " << m.lfoWorst << " cycles off worst over " << m.lfoTicks
              << " ticks; random " << m.randomWorst << " samples off worst, " << m.fires << " fires for " << m.randomLines
              << " lines" << std::endl;

    EXPECT_EQ (m.grains, m.grainLines);
    EXPECT_LE (m.grainWorst, row.wholeSamples ? 0.0 : 1.0 + row.jitter);
    EXPECT_LE (m.lfoWorst, 0.01);
    EXPECT_EQ (m.fires, m.randomLines);
    // Across a tempo change or a rounding a tick has guessed where it ends: a line there may go to
    // its neighbour.
    EXPECT_LE (m.randomWorst, row.changedBpm > 0.0 || row.jitter > 0 ? (double) tickLength : 0.0);

    p.setPlayHead (nullptr);
}

INSTANTIATE_TEST_SUITE_P (, SongGrid, ::testing::ValuesIn (songRows),
                          [] (const ::testing::TestParamInfo<SongRow>& row) { return std::string (row.param.name); });
