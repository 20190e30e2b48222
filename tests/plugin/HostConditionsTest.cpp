// Odd but real things hosts do, each provoked many times: processing before preparing, broken input,
// count-in positions below 0 and near the ends of the 64-bit range, and random values saved and
// restored.

#include "tests/plugin/AudioPathTestSupport.h"
#include "tests/support/MessagePump.h"

#include <cfloat>
#include <cmath>
#include <limits>

using namespace qvl::test;

namespace
{
    constexpr int rate = 48000;

    juce::int64 floorDiv (juce::int64 a, juce::int64 b) { return a / b - (a % b < 0 ? 1 : 0); }
    juce::int64 floorMod (juce::int64 a, juce::int64 b) { return a % b + (a % b < 0 ? b : 0); }
    juce::int64 wrappingAdd (juce::int64 a, juce::int64 b) { return (juce::int64) ((std::uint64_t) a + (std::uint64_t) b); }

    float peak (const juce::AudioBuffer<float>& buffer, int from, int length)
    {
        float result = 0.0f;
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            result = juce::jmax (result, buffer.getMagnitude (c, from, length));
        return result;
    }

    // Neither infinite, NaN nor subnormal: subnormals are slow to compute with.
    bool allNormal (const float* samples, size_t n)
    {
        return std::all_of (samples, samples + n, [] (float x) { return std::isfinite (x) && std::fpclassify (x) != FP_SUBNORMAL; });
    }

    bool loopIsNormal (const QuorvalisPluginAudioProcessor& p)
    {
        for (int c = 0; c < p.circularBuffer.getNumChannels(); ++c)
            if (! allNormal (p.circularBuffer.getChannelData (c), (size_t) p.circularBuffer.getLength()))
                return false;
        return true;
    }

    // Streams 1 and 2, five routed modulators and feedback 0.9: the set-up the loop keeps longest.
    void prepareBusy (QuorvalisPluginAudioProcessor& p)
    {
        prepare (p, rate, 512);
        Access::random (p).setSeed (1);
        setRealValue (p, "buffer_feedback", 0.9f);
        setRealValue (p, "stream_2_is_enabled", 1.0f);

        const char* targets[] = { "stream_1_position", "stream_2_position", "stream_1_grain_pitch",
                                  "stream_2_grain_pan", "stream_1_grain_volume_db" };
        const int modulators[] = { 0, 1, 4, 2, 3 };

        for (int s = 0; s < 5; ++s)
            route (p, s + 1, targets[s], modulators[s], 0.4f);
    }

    // What a broken source sends for `length` samples, counted from where it starts.
    struct BrokenInput
    {
        const char* name;
        std::function<float (int channel, juce::int64 sinceStart)> sample;
        juce::int64 length;
    };

    // An upstream filter that blows up: x 1.5 a sample from the signal's level into infinity, then
    // NaN for 0.1 s.
    const int samplesToOverflow = []
    {
        int k = 0;
        for (float x = 0.3f; std::isfinite (x); x *= -1.5f)
            ++k;
        return k;
    }();

    float blowUp (int, juce::int64 k)
    {
        if (k >= samplesToOverflow)
            return k == samplesToOverflow ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        return 0.3f * std::pow (-1.5f, (float) k);
    }

    const std::vector<BrokenInput>& brokenInputs()
    {
        static const std::vector<BrokenInput> inputs {
            { "NaN", [] (int c, juce::int64 k) { return k % 7 == 0 ? std::numeric_limits<float>::quiet_NaN() : sine (c, k); }, rate },
            { "infinity", [] (int c, juce::int64 k) { return k % 11 == 0 ? (c == 0 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity() : sine (c, k); }, rate },
            { "FLT_MAX burst", [] (int, juce::int64 k) { return (k / 240) % 2 == 0 ? FLT_MAX : -FLT_MAX; }, rate },
            { "blow-up", blowUp, samplesToOverflow + rate / 10 },
            { "denormals", [] (int c, juce::int64 k) { return (k % 2 == 0) == (c == 0) ? 1.0e-40f : -1.0e-40f; }, rate },
        };
        return inputs;
    }

    std::function<float (int, juce::int64)> withBrokenInput (const BrokenInput& broken, juce::int64 start)
    {
        return [&broken, start] (int c, juce::int64 i)
        {
            return i >= start && i < start + broken.length ? broken.sample (c, i - start) : sine (c, i);
        };
    }

    //==============================================================================
    void processBeforePrepare()
    {
        for (const int blockSize : { 1, 64, 512, 8192 })
        {
            SCOPED_TRACE (blockSize);
            QuorvalisPluginAudioProcessor early, prepared;
            FakePlayHead head;
            head.set (true, -48000);
            early.setPlayHead (&head);
            for (auto* p : { &early, &prepared })
            {
                setRealValue (*p, "buffer_write_sync", 1.0f);
                setRealValue (*p, "stream_2_is_enabled", 1.0f);
            }

            juce::MidiBuffer midi;
            for (int k = 0; k < 20; ++k)
            {
                juce::AudioBuffer<float> block (2, blockSize);
                fill (block, k * blockSize, sine);
                const auto delivered = block;
                early.processBlock (block, midi);
                early.processBlockBypassed (block, midi);

                for (int c = 0; c < 2; ++c)
                    ASSERT_EQ (0, std::memcmp (block.getReadPointer (c), delivered.getReadPointer (c), sizeof (float) * (size_t) blockSize));
            }

            EXPECT_FALSE (Access::wasPlaying (early));
            EXPECT_EQ (Access::timeInSamples (early), 0);
            early.setPlayHead (nullptr);

            // Preparation then works as if nothing had come before it.
            for (auto* p : { &early, &prepared })
            {
                prepare (*p, rate, blockSize);
                Access::random (*p).setSeed (3);
            }

            const auto a = run (early, 9600, blockSize);
            const auto b = run (prepared, 9600, blockSize);
            for (int c = 0; c < 2; ++c)
                ASSERT_EQ (0, std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * 9600));
            EXPECT_GT (early.grainPool.getActiveCount(), 0);
        }
    }

    // The output stays finite throughout, the loop holds nothing broken, and 9 s after the input is
    // normal again the output's peak is within 20 dB of the same run without the broken input.
    void brokenInput()
    {
        const juce::int64 start = 2 * rate;

        for (const auto& broken : brokenInputs())
        {
            SCOPED_TRACE (broken.name);
            QuorvalisPluginAudioProcessor clean, hit;
            prepareBusy (clean);
            prepareBusy (hit);

            const auto normalAgain = start + broken.length;
            const int total = (int) normalAgain + 10 * rate;
            const auto reference = run (clean, total, 512);
            const auto out = run (hit, total, 512, withBrokenInput (broken, start));

            for (int c = 0; c < 2; ++c)
                ASSERT_TRUE (allNormal (out.getReadPointer (c), (size_t) total));
            EXPECT_TRUE (loopIsNormal (hit));

            const int from = (int) normalAgain + 9 * rate;
            const float before = peak (reference, from, rate);
            const float after = peak (out, from, rate);
            EXPECT_LE (after, before * 10.0f);
            EXPECT_GT (after, 0.1f);
            const auto key = juce::String (broken.name).replace (" ", "_") + "_peak_dBFS";
            ::testing::Test::RecordProperty (key.toStdString(), juce::String (juce::Decibels::gainToDecibels (after), 1).toStdString());
            ::testing::Test::RecordProperty ((key + "_without").toStdString(), juce::String (juce::Decibels::gainToDecibels (before), 1).toStdString());
        }
    }

    // Nothing went wrong in a frozen loop: whatever comes in, it stays exactly as it was. Bypassed,
    // the output is the input, less what is broken in it.
    void brokenInputWhileFrozenOrBypassed()
    {
        for (const auto* mode : { "freeze", "bypass" })
        {
            SCOPED_TRACE (mode);
            QuorvalisPluginAudioProcessor p;
            prepareBusy (p);
            run (p, rate, 512);
            setRealValue (p, mode, 1.0f);
            run (p, rate / 10, 512, sine, rate);
            const auto frozen = loopContent (p, 0);

            juce::int64 t = rate + rate / 10;
            for (const auto& broken : brokenInputs())
            {
                SCOPED_TRACE (broken.name);
                for (const int blockSize : { 64, 1000 })
                {
                    const auto signal = withBrokenInput (broken, t);
                    const auto out = run (p, (int) broken.length, blockSize, signal, t);
                    EXPECT_TRUE (allFinite (out));
                    EXPECT_EQ (loopContent (p, 0), frozen);

                    if (juce::String (mode) == "bypass")
                    {
                        for (int i = 0; i < out.getNumSamples(); ++i)
                        {
                            if (const float in = signal (0, t + i); std::abs (in) <= 1.0f)
                            {
                                ASSERT_EQ (out.getSample (0, i), in) << i;
                            }
                        }
                    }

                    t += broken.length;
                }
            }
        }
    }

    // Should a value in the loop break after all, the loop and the grains start afresh within a
    // tick and the output goes on.
    void nonFiniteInTheLoop()
    {
        for (const float broken : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity() })
        {
            SCOPED_TRACE (broken);
            QuorvalisPluginAudioProcessor p;
            prepareBusy (p);
            setRealValue (p, "gain_db_buffer", 0.0f);
            run (p, rate, 512);

            const float samples[] = { broken, -broken };
            const float* frame[] = { samples, samples + 1 };
            for (int k = 0; k < 100; ++k)
                p.circularBuffer.write (frame, 0, 1.0f, 0.0f);

            // One lap at most before the buffer signal passes the broken samples.
            const int lap = p.circularBuffer.getLength();
            const auto out = run (p, lap + 512, 512, sine, rate);
            EXPECT_TRUE (allFinite (out));

            int silent = 0;
            for (int i = 0; i < out.getNumSamples(); ++i)
                silent += out.getSample (0, i) == 0.0f ? 1 : 0;
            EXPECT_LE (silent, Access::tickLength (p));
            EXPECT_TRUE (loopIsNormal (p));
        }
    }

    //==============================================================================
    // Stream 1 on the beat at 1/16, under the given play head.
    void prepareSixteenths (QuorvalisPluginAudioProcessor& p, FakePlayHead& head)
    {
        prepare (p, rate, 512);
        useFullBuffer (p);
        p.setPlayHead (&head);
        setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
        setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, 7, 1.0f);
    }

    // 1/16 at 120 BPM: the grid lines of the count-in are every 6000 samples, as in the song.
    void countInBeatSync()
    {
        QuorvalisPluginAudioProcessor p;
        FakePlayHead head;
        prepareSixteenths (p, head);

        std::vector<juce::int64> grid;
        for (juce::int64 t = -48000; t <= 12000; t += 6000)
            grid.push_back (t);

        EXPECT_EQ (samplesOf (grainStarts (p, -48000, 12001, &head)), grid);
        EXPECT_EQ (p.streamStates[0].period, 6000);
        p.setPlayHead (nullptr);
    }

    // A synced LFO (saw up, 1/4) follows the song's position through the count-in as in the song,
    // and it and a synced random modulator count the host's tick rounded down.
    void countInSyncedModulators()
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, rate, 137);
        FakePlayHead head;
        p.setPlayHead (&head);
        setRealValue (p, "modulator_lfo_1_sync", (float) SyncMode::beat);
        setRealValue (p, "modulator_lfo_1_shape", 3.0f);
        setTimed (p, "modulator_lfo_1_rate", "modulator_lfo_1_timebase", modulatorRateRanges, 5, 1.0f);
        setRealValue (p, "modulator_random_1_sync", (float) SyncMode::beat);

        juce::MidiBuffer midi;
        juce::AudioBuffer<float> block (2, 137);
        int distinct = 0;
        float last = 0.0f;

        for (juce::int64 t = -96000; t < 24000; t += 137)
        {
            head.set (true, t);
            fill (block, t, sine);
            p.processBlock (block, midi);

            const auto tick = floorDiv (t, 137);
            ASSERT_EQ (p.modulationEngine.randoms[0].tickCounter, tick) << t;
            ASSERT_EQ (p.modulationEngine.lfos[0].tickCounter, tick) << t;

            if (t < -96000 + 3 * 137)
                continue; // the modulator's settings reach it a tick late

            const double x = (double) floorMod (t, 24000) / 24000.0;
            const float output = p.modulationEngine.lfos[0].output;
            ASSERT_NEAR (output, (float) (2.0 * x - 1.0), 1.0e-5f) << t;
            distinct += output != last ? 1 : 0;
            last = output;
        }

        EXPECT_GT (distinct, 800);
        p.setPlayHead (nullptr);
    }

    // Write sync: an impulse at host position p lands at p modulo the loop, rounded down.
    void countInWriteSync()
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, rate, 512);
        useFullBuffer (p);
        setRealValue (p, "buffer_write_sync", 1.0f);
        FakePlayHead head;
        p.setPlayHead (&head);

        const std::vector<juce::int64> impulses { -119000, -100001, -24000, -513, -1, 0, 511, 5000, 23999 };
        auto signal = [&impulses] (int, juce::int64 t)
        {
            return std::find (impulses.begin(), impulses.end(), t) != impulses.end() ? 1.0f : 0.0f;
        };

        juce::MidiBuffer midi;
        for (juce::int64 t = -120000; t < 24000; t += 512)
        {
            head.set (true, t);
            juce::AudioBuffer<float> block (2, 512);
            fill (block, t, signal);
            p.processBlock (block, midi);
        }

        const int length = p.circularBuffer.getLength();
        ASSERT_EQ (length, 5 * rate);
        const auto loop = loopContent (p, 0);
        EXPECT_EQ (countNonZero (loop, 0, length), (int) impulses.size());
        for (const auto t : impulses)
            EXPECT_EQ (loop[(size_t) floorMod (t, length)], 1.0f) << t;
        p.setPlayHead (nullptr);
    }

    // Musical positions, tempi and time signatures that no song has, with every synced feature on:
    // the output stays finite, and once the host makes sense again so does the grid.
    void nonsenseMusicalPositions()
    {
        QuorvalisPluginAudioProcessor p;
        FakePlayHead head;
        prepareSixteenths (p, head);
        setRealValue (p, "grain_count_limit", 600.0f);
        setTimed (p, "stream_1_grain_length", "stream_1_grain_length_timebase", grainLengthRanges, Timebase::milliseconds, 10.0f);

        for (const char* kind : { "lfo_1", "lfo_2", "random_1" })
            setRealValue (p, juce::String ("modulator_") + kind + "_sync", (float) SyncMode::beat);
        setTimed (p, "modulator_lfo_2_rate", "modulator_lfo_2_timebase", modulatorRateRanges, 3, 1.0f);
        setRealValue (p, "modulator_lfo_2_shape", 5.0f);
        route (p, 1, "stream_1_position", 1, 0.4f);

        constexpr double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
        struct Nonsense { double ppq, bpm; int numerator, denominator; };
        const Nonsense nonsense[] = { { nan, 120, 4, 4 }, { inf, 120, 4, 4 }, { -inf, 120, 4, 4 }, { 1.0e300, 120, 4, 4 },
                                      { -1.0e300, 120, 4, 4 }, { 3.0e9, 120, 4, 4 }, { 4, 0, 4, 4 }, { 4, -120, 4, 4 },
                                      { 4, nan, 4, 4 }, { 4, inf, 4, 4 }, { 4, 1.0e300, 4, 4 }, { 4, 1.0e-300, 4, 4 },
                                      { 4, 120, 0, 0 }, { 4, 120, 7, 0 }, { 4, 120, -3, 4 }, { 4, 120, 4, -8 } };

        juce::MidiBuffer midi;
        juce::AudioBuffer<float> block (2, 512);
        juce::int64 t = 0;

        for (const auto& n : nonsense)
        {
            for (int b = 0; b < 40; ++b, t += 512)
            {
                head.set (true, b % 3 == 0 ? t : -t);
                head.info.setPpqPosition (b % 5 == 4 ? 1.0 + b : n.ppq);
                head.info.setBpm (n.bpm);
                head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { n.numerator, n.denominator });
                fill (block, t, sine);
                p.processBlock (block, midi);
                ASSERT_TRUE (allFinite (block)) << n.ppq << " " << n.bpm << " " << n.numerator << "/" << n.denominator;
            }
        }

        head.info.setPpqPosition ({});
        head.info.setBpm (120.0);
        head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 4, 4 });
        std::vector<juce::int64> grid;
        for (juce::int64 g = 0; g <= 24000; g += 6000)
            grid.push_back (g);

        const auto starts = grainStarts (p, 0, 24001, &head);
        std::vector<juce::int64> streamOne;
        for (const auto& start : starts)
            if (start.stream == 0)
                streamOne.push_back (start.sample);
        EXPECT_EQ (streamOne, grid);
        p.setPlayHead (nullptr);
    }

    // Positions at both ends of the range, running past the end: the host's clock wraps, and
    // everything that follows it keeps working (the sanitized build checks for overflow).
    void endsOfThePositionRange()
    {
        const juce::int64 starts[] = { std::numeric_limits<juce::int64>::max() - 5000,
                                       std::numeric_limits<juce::int64>::min(), -1 };

        for (const auto first : starts)
        {
            SCOPED_TRACE (first);
            QuorvalisPluginAudioProcessor p;
            prepare (p, rate, 512);
            FakePlayHead head;
            p.setPlayHead (&head);
            setRealValue (p, "buffer_write_sync", 1.0f);
            setRealValue (p, "stream_1_rate_sync", (float) SyncMode::beat);
            setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, 7, 1.0f);
            setRealValue (p, "modulator_lfo_1_sync", (float) SyncMode::beat);
            setRealValue (p, "modulator_random_1_sync", (float) SyncMode::beat);
            setRealValue (p, "modulation_1_target", (float) indexOf (p, "stream_1_position"));

            juce::MidiBuffer midi;
            auto t = first;
            for (int b = 0; b < 20; ++b, t = wrappingAdd (t, 512))
            {
                head.set (true, t);
                juce::AudioBuffer<float> block (2, 512);
                fill (block, b * 512, sine);
                p.processBlock (block, midi);
                ASSERT_TRUE (allFinite (block));
            }

            EXPECT_EQ (Access::timeInSamples (p), t);
            EXPECT_EQ (p.circularBuffer.getWritePosition(), (int) floorMod (t, p.circularBuffer.getLength()));
            EXPECT_GT (p.grainPool.getActiveCount(), 0);
            p.setPlayHead (nullptr);
        }
    }

    //==============================================================================
    // Every parameter at random values, saved, moved elsewhere and restored: each reads back as it
    // did before the save. A switch reads back as what it plays, never a value in between.
    void randomSaveAndRestore()
    {
        QuorvalisPluginAudioProcessor p;
        juce::Random random (11);
        const auto& parameters = p.getParameters();

        auto setAllRandomly = [&]
        {
            for (auto* parameter : parameters)
                parameter->setValueNotifyingHost (random.nextFloat());
        };

        for (int round = 0; round < 50; ++round)
        {
            SCOPED_TRACE (round);
            setAllRandomly();

            std::vector<float> saved;
            for (auto* parameter : parameters)
            {
                saved.push_back (parameter->getValue());
                if (parameter->isBoolean())
                {
                    ASSERT_TRUE (saved.back() == 0.0f || saved.back() == 1.0f) << parameter->getName (100);
                }
            }

            const auto chunk = savedHostChunk (p);
            setAllRandomly();
            p.setStateInformation (chunk.getData(), (int) chunk.getSize());

            // A continuous value is stored as its real value, which a skewed range may turn back
            // into a normalised value a float step away.
            for (int i = 0; i < parameters.size(); ++i)
            {
                const bool continuous = dynamic_cast<juce::AudioParameterFloat*> (parameters[i]) != nullptr;
                ASSERT_NEAR (parameters[i]->getValue(), saved[(size_t) i], continuous ? 1.0e-7f : 0.0f) << parameters[i]->getName (100);
            }
        }

        // Hosts set a switch by itself too, and may hand it anything. One that set it from its own
        // controls, on the message thread, is then told what plays, as hosts hear of any change.
        struct LastValue : juce::AudioProcessorParameter::Listener
        {
            void parameterValueChanged (int, float value) override { last = value; }
            void parameterGestureChanged (int, bool) override {}
            float last = -1.0f;
        } heard;

        juce::AudioProcessorParameter& freeze = *p.freezeParameter;
        freeze.addListener (&heard);

        // A NaN is another matter: it leaves the switch as it was (HostNaNTest).
        for (const float value : { 0.361f, 0.5f, 0.4999f, 1.7f, -0.2f })
        {
            freeze.setValueNotifyingHost (value);
            const float plays = value >= 0.5f ? 1.0f : 0.0f;
            EXPECT_EQ (freeze.getValue(), plays) << value;
            EXPECT_EQ (p.freezeParameter->get(), value >= 0.5f) << value;
            EXPECT_TRUE (qvl::test::pumpMessagesUntil ([&] { return heard.last == plays; })) << value;
        }

        freeze.removeListener (&heard);
    }

    //==============================================================================
    struct HostCondition
    {
        const char* name;
        void (*provoke)();
    };

    const HostCondition hostConditions[] = {
        { "ProcessBeforePrepare", processBeforePrepare },
        { "BrokenInput", brokenInput },
        { "BrokenInputWhileFrozenOrBypassed", brokenInputWhileFrozenOrBypassed },
        { "NonFiniteInTheLoop", nonFiniteInTheLoop },
        { "CountInBeatSync", countInBeatSync },
        { "CountInSyncedModulators", countInSyncedModulators },
        { "CountInWriteSync", countInWriteSync },
        { "EndsOfThePositionRange", endsOfThePositionRange },
        { "NonsenseMusicalPositions", nonsenseMusicalPositions },
        { "RandomSaveAndRestore", randomSaveAndRestore },
    };

    class HostConditions : public ::testing::TestWithParam<HostCondition> {};
}

TEST_P (HostConditions, AreHandled)
{
    GetParam().provoke();
}

INSTANTIATE_TEST_SUITE_P (, HostConditions, ::testing::ValuesIn (hostConditions),
                          [] (const ::testing::TestParamInfo<HostCondition>& condition) { return std::string (condition.param.name); });
