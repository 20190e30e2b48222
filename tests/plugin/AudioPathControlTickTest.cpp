// The control tick (parameters to engine settings and stream states) and the audio followers.

#include "tests/plugin/AudioPathTestSupport.h"

using namespace qvl::test;

namespace
{
    float ratioFor (float pitch, int mask)
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, 512);
        setRealValue (p, "stream_1_reverse_probability", 0.0f);
        setRealValue (p, "stream_1_grain_pitch", pitch);
        setRealValue (p, "stream_1_grain_pitch_quantize", (float) mask);
        run (p, 137, 137);
        return p.streamStates[0].ratio;
    }

    // The engine's modulated value of a parameter, as if this tick's routing had produced it.
    void setModulated (QuorvalisPluginAudioProcessor& p, const juce::String& id, float real)
    {
        auto& param = parameter (p, id);
        p.modulationEngine.modulatedValues[(size_t) param.getParameterIndex()].store (param.convertTo0to1 (real));
    }

    juce::AudioBuffer<float> constant (float left, float right, int channels = 2)
    {
        juce::AudioBuffer<float> audio (channels, 137);
        for (int i = 0; i < 137; ++i)
        {
            audio.setSample (0, i, left);
            if (channels > 1)
                audio.setSample (1, i, right);
        }
        return audio;
    }

    struct FollowerFixture : ::testing::Test
    {
        void SetUp() override
        {
            prepare (p, 48000.0, 512);
            setModulated (p, "modulator_audio_in_gain", 0.0f);
            setModulated (p, "modulator_audio_out_gain", 0.0f);
        }

        float inputLevel (const juce::AudioBuffer<float>& audio)
        {
            Access::updateAudioFollower (p, audio, true);
            return p.modulationEngine.followers[0].inputLevel;
        }

        QuorvalisPluginAudioProcessor p;
    };
}

TEST (AudioPathControlTick, PitchQuantization)
{
    EXPECT_NEAR (ratioFor (7.3f, 0), std::pow (2.0f, 7.3f / 12.0f), 1e-4f);
    // -0.4 is class 11.6 of the octave below: with only C, C of that octave.
    EXPECT_NEAR (ratioFor (-0.4f, 1), 0.5f, 1e-6f);
    // Equally far from C and D: the lower class wins.
    EXPECT_NEAR (ratioFor (1.0f, 1 | 4), 1.0f, 1e-6f);
    EXPECT_NEAR (ratioFor (0.9f, 4), std::pow (2.0f, 2.0f / 12.0f), 1e-6f);
    // No wrap around the octave: 11.8 with C and G gives G.
    EXPECT_NEAR (ratioFor (11.8f, 1 | 128), std::pow (2.0f, 7.0f / 12.0f), 1e-6f);
    EXPECT_NEAR (ratioFor (-24.0f, 0), 0.25f, 1e-6f);
}

TEST (AudioPathControlTick, ReverseProbabilityOneReversesEveryTick)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    setRealValue (p, "stream_1_reverse_probability", 1.0f);
    p.modulationEngine.random.setSeed (7);

    int reversed = 0;
    for (int tick = 0; tick < 50; ++tick)
    {
        run (p, 137, 137);
        reversed += p.streamStates[0].ratio < 0.0f ? 1 : 0;
    }
    // Only a draw of exactly 32767 keeps the direction.
    EXPECT_GE (reversed, 49);
}

TEST (AudioPathControlTick, MusicalRateWithoutHostTempoReadsAsSeconds)
{
    for (const bool withHost : { false, true })
    {
        QuorvalisPluginAudioProcessor p;
        prepare (p, 48000.0, 512);
        FakePlayHead head;
        if (withHost)
            p.setPlayHead (&head);

        // "1/4", half way: a quarter note at 120 BPM with a host, 0.1 s without one.
        setRealValue (p, "stream_1_rate_timebase", 5.0f);
        setNormalised (p, "stream_1_rate", 0.5f);
        // LFOs fall back to Hz instead: 1 Hz without a host, a quarter note (2 Hz) with one.
        setRealValue (p, "modulator_lfo_1_timebase", 5.0f);
        setNormalised (p, "modulator_lfo_1_rate", 0.5f);

        run (p, 274, 137);
        EXPECT_EQ (p.hostTempoValid.load(), withHost ? 1 : 0);
        EXPECT_EQ (p.streamStates[0].period, withHost ? 24000 : 4800);
        EXPECT_FLOAT_EQ (p.modulationEngine.lfos[0].frequency, withHost ? 2.0f : 1.0f);
    }
}

TEST (AudioPathControlTick, PlayHeadWithoutTempoMeans120Bpm)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    FakePlayHead head;
    head.info = {};
    head.set (false, 0);
    p.setPlayHead (&head);
    setRealValue (p, "stream_1_rate_timebase", 5.0f);
    setNormalised (p, "stream_1_rate", 0.5f);

    run (p, 137, 137);
    EXPECT_EQ (p.hostTempoValid.load(), 1);
    EXPECT_EQ (p.streamStates[0].period, 24000);

    // A bar of 3/4 at 90 BPM when the host says so: 2 s.
    head.info.setBpm (90.0);
    head.info.setTimeSignature (juce::AudioPlayHead::TimeSignature { 3, 4 });
    setRealValue (p, "stream_1_rate_timebase", (float) Timebase::bar);
    setTimed (p, "stream_1_rate", "stream_1_rate_timebase", streamRateRanges, Timebase::bar, 1.0f);
    run (p, 137, 137);
    EXPECT_EQ (p.streamStates[0].period, 96000);
}

TEST (AudioPathControlTick, FreezeHoldsTheLoopAndReleasesWithRamps)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "buffer_feedback", 0.3f);
    run (p, 548, 137);
    ASSERT_EQ (Access::inputGainSmoother (p).getCurrentValue(), 1.0f);

    setRealValue (p, "freeze", 1.0f);
    run (p, 548, 137);
    EXPECT_EQ (Access::inputGainSmoother (p).getTargetValue(), 0.0f);
    EXPECT_EQ (Access::feedbackSmoother (p).getTargetValue(), 1.0f);
    EXPECT_EQ (Access::inputGainSmoother (p).getCurrentValue(), 0.0f);
    EXPECT_EQ (Access::feedbackSmoother (p).getCurrentValue(), 1.0f);

    // Frozen, the loop repeats unchanged under new input.
    const auto frozen = loopContent (p, 0);
    run (p, 1370, 137, [] (int, juce::int64) { return 0.25f; });
    EXPECT_EQ (loopContent (p, 0), frozen);

    setRealValue (p, "freeze", 0.0f);
    run (p, 137, 137);
    EXPECT_EQ (Access::inputGainSmoother (p).getTargetValue(), 1.0f);
    EXPECT_NEAR (Access::feedbackSmoother (p).getTargetValue(), 0.3f, 1e-6f);
    EXPECT_NEAR (Access::inputGainSmoother (p).getCurrentValue(), 137.0f / 480.0f, 1e-5f);
    EXPECT_NEAR (Access::feedbackSmoother (p).getCurrentValue(), 1.0f - 0.7f * 137.0f / 480.0f, 1e-5f);

    run (p, 343, 137);
    EXPECT_FALSE (Access::inputGainSmoother (p).isSmoothing());
    EXPECT_FALSE (Access::feedbackSmoother (p).isSmoothing());
}

TEST (AudioPathControlTick, StreamResetIsTakenOnce)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    run (p, 137, 137);

    p.streamStates[2].phase = 123.0;
    p.streamStates[3].phase = 77.0;
    p.streamResetRequests[2] = 1;
    run (p, 137, 137);
    EXPECT_EQ (p.streamResetRequests[2].load(), 0);
    EXPECT_EQ (p.streamStates[2].phase, 0.0);
    EXPECT_EQ (p.streamStates[3].phase, 77.0);

    p.streamStates[2].phase = 55.0;
    run (p, 137, 137);
    EXPECT_EQ (p.streamStates[2].phase, 55.0);
}

TEST (AudioPathControlTick, SlotOnAnotherSlotsAmountActsOneTickLater)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    const int pan = indexOf (p, "stream_1_grain_pan");
    const int macro1 = 8;

    setRealValue (p, "modulator_macro_1", 0.5f);
    setRealValue (p, "modulation_1_target", (float) pan);
    setRealValue (p, "modulator_1_modulator_index", (float) macro1);
    setRealValue (p, "modulation_2_amount", 1.0f);
    setRealValue (p, "modulator_2_modulator_index", (float) macro1);
    run (p, 3 * 137, 137);
    ASSERT_NEAR (p.streamStates[0].pan, 0.5f, 1e-6f);

    // Slot 2 adds 0.5 (macro at 0.5, unipolar, amount 1) to slot 1's amount: 0 becomes 1.
    setRealValue (p, "modulation_2_target", (float) indexOf (p, "modulation_1_amount"));
    run (p, 137, 137);
    EXPECT_NEAR (p.modulationEngine.getModulatedValue (indexOf (p, "modulation_1_amount")), 1.0f, 1e-6f);
    EXPECT_NEAR (p.modulationEngine.slots[0].amount, 0.0f, 1e-6f);
    EXPECT_NEAR (p.streamStates[0].pan, 0.5f, 1e-6f);

    run (p, 137, 137);
    EXPECT_NEAR (p.modulationEngine.slots[0].amount, 1.0f, 1e-6f);
    EXPECT_NEAR (p.streamStates[0].pan, 1.0f, 1e-6f);
}

TEST (AudioPathControlTick, FirstTickReadsModulatorsAndSlotsAtZero)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    setRealValue (p, "modulator_lfo_1_shape", 3.0f);
    setRealValue (p, "modulator_macro_1", 0.7f);
    setRealValue (p, "modulation_5_amount", 0.25f);

    run (p, 137, 137);
    for (const auto& slot : p.modulationEngine.slots)
        EXPECT_EQ (slot.amount, -1.0f);
    EXPECT_EQ (p.modulationEngine.lfos[0].shape, 0);
    EXPECT_NEAR (p.modulationEngine.lfos[0].frequency, 48000.0 / 2147483647.0, 1e-9);
    EXPECT_EQ (p.modulationEngine.randoms[0].probability, 0.0f);
    EXPECT_EQ (p.modulationEngine.macros[0].value, 0.0f);

    run (p, 137, 137);
    EXPECT_EQ (p.modulationEngine.slots[0].amount, 0.0f);
    EXPECT_NEAR (p.modulationEngine.slots[4].amount, 0.25f, 1e-6f);
    EXPECT_EQ (p.modulationEngine.lfos[0].shape, 3);
    EXPECT_FLOAT_EQ (p.modulationEngine.lfos[0].frequency, 1.0f);
    EXPECT_EQ (p.modulationEngine.randoms[0].probability, 1.0f);
    EXPECT_NEAR (p.modulationEngine.macros[0].value, 0.7f, 1e-6f);
}

// A switch's stored value is its normalised value, snapped to off or on as it is set: every change
// must reach the engine, since a slot may modulate the switch from there.
TEST (AudioPathControlTick, SwitchBaseValuesFollowEveryChange)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    const int freeze = indexOf (p, "freeze");

    for (const float value : { 0.2f, 0.3f, 0.45f, 0.7f, 0.6f, 0.0f })
    {
        setNormalised (p, "freeze", value);
        run (p, 137, 137);
        EXPECT_FLOAT_EQ (p.modulationEngine.baseValues[(size_t) freeze], value >= 0.5f ? 1.0f : 0.0f);
    }
}

// The processor's range arithmetic must round like the plain formula, without fused
// multiply-adds (which some targets' compilers use by default): the increment of a linear range is
// start + (end - start) * proportion, rounded after each operation.
TEST (AudioPathControlTick, LinearRangesRoundLikeThePlainFormula)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    juce::Random random (17);

    for (int k = 0; k < 2000; ++k)
    {
        setNormalised (p, "stream_1_increment", random.nextFloat());
        juce::AudioBuffer<float> chunk (2, 137);
        chunk.clear();
        Access::updateControlTick (p, chunk);

        const float proportion = p.modulationEngine.getModulatedValue (indexOf (p, "stream_1_increment"));
        volatile float product = 8.0f * proportion; // kept apart from the addition on purpose
        ASSERT_EQ (p.streamStates[0].increment, -4.0f + product) << "proportion " << proportion;
    }
}

// A gain that is still ramping keeps its target: a new one is taken only when the ramp has ended.
TEST (AudioPathControlTick, NoNewGainTargetWhileAGainRamps)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    run (p, 4800, 480);  // the opening ramps are over
    auto& dry = Access::dryGainSmoother (p);
    ASSERT_FALSE (dry.isSmoothing());

    setRealValue (p, "gain_db_dry", -20.0f);
    run (p, 137, 137);
    ASSERT_TRUE (dry.isSmoothing());
    EXPECT_FLOAT_EQ (dry.getTargetValue(), dbToGain (-20.0f));

    setRealValue (p, "gain_db_dry", -6.0f);
    run (p, 137, 137);  // mid-ramp: the target stands
    EXPECT_FLOAT_EQ (dry.getTargetValue(), dbToGain (-20.0f));

    run (p, 480, 480);
    run (p, 137, 137);  // a tick after the ramp: the new target is taken
    EXPECT_FLOAT_EQ (dry.getTargetValue(), dbToGain (-6.0f));
}

TEST_F (FollowerFixture, LevelsMapFromMinus100To0Decibels)
{
    EXPECT_NEAR (inputLevel (constant (1.0f, 0.0f, 1)), 1.0f, 1e-5f);
    EXPECT_NEAR (inputLevel (constant (0.1f, 0.0f, 1)), 0.8f, 1e-5f);
    EXPECT_NEAR (inputLevel (constant (0.001f, 0.0f, 1)), 0.4f, 1e-5f);
    EXPECT_NEAR (inputLevel (constant (0.00001f, 0.0f, 1)), 0.0f, 1e-5f);
    EXPECT_EQ (inputLevel (constant (0.000001f, 0.0f, 1)), 0.0f);
    EXPECT_EQ (inputLevel (constant (0.0f, 0.0f, 1)), 0.0f);
    EXPECT_EQ (inputLevel (juce::AudioBuffer<float> (2, 0)), 0.0f);
    // The sign of the samples does not matter.
    EXPECT_NEAR (inputLevel (constant (-0.1f, 0.0f, 1)), 0.8f, 1e-5f);
}

TEST_F (FollowerFixture, GainScalesTheLevel)
{
    setModulated (p, "modulator_audio_in_gain", -100.0f);
    EXPECT_EQ (inputLevel (constant (1.0f, 1.0f)), 0.0f);

    setModulated (p, "modulator_audio_in_gain", 6.0f);
    EXPECT_EQ (inputLevel (constant (1.0f, 0.0f)), 1.0f);

    // +12 dB, the most the gain offers, lifts 0.001 (-60 dB) to -48 dB.
    setModulated (p, "modulator_audio_in_gain", 12.0f);
    EXPECT_NEAR (inputLevel (constant (0.001f, 0.0f)), 0.52f, 1e-4f);
}

TEST_F (FollowerFixture, ChannelLevelsAddUp)
{
    EXPECT_NEAR (inputLevel (constant (0.5f, 0.5f)), 1.0f, 1e-5f);
    EXPECT_NEAR (inputLevel (constant (0.5f, 0.0f)), 1.0f - 6.0206f / 100.0f, 1e-5f);
    EXPECT_NEAR (inputLevel (constant (0.0f, -0.5f)), 1.0f - 6.0206f / 100.0f, 1e-5f);
}

TEST_F (FollowerFixture, RiseAndFallCoefficients)
{
    const std::pair<float, float> cases[] = { { 1.0f, 1.0f }, { 0.5f, 0.975f }, { 0.0f, 0.1f } };

    for (const auto& [parameterValue, coefficient] : cases)
    {
        setModulated (p, "modulator_audio_in_rise", parameterValue);
        setModulated (p, "modulator_audio_in_fall", parameterValue);
        setModulated (p, "modulator_audio_out_rise", 0.0f);
        setModulated (p, "modulator_audio_out_fall", 1.0f);
        inputLevel (constant (0.5f, 0.5f));
        EXPECT_NEAR (p.modulationEngine.followers[0].rise, coefficient, 1e-5f) << parameterValue;
        EXPECT_NEAR (p.modulationEngine.followers[0].fall, coefficient, 1e-5f) << parameterValue;
    }

    // The output follower has its own parameters and record.
    Access::updateAudioFollower (p, constant (0.5f, 0.5f), false);
    EXPECT_NEAR (p.modulationEngine.followers[1].rise, 0.1f, 1e-6f);
    EXPECT_NEAR (p.modulationEngine.followers[1].fall, 1.0f, 1e-6f);
}

TEST_F (FollowerFixture, InputAndOutputFollowersUseTheirOwnGain)
{
    setModulated (p, "modulator_audio_in_gain", -100.0f);
    p.modulationEngine.followers[1].inputLevel = 0.0f;

    Access::updateAudioFollower (p, constant (1.0f, 0.0f), true);
    Access::updateAudioFollower (p, constant (1.0f, 0.0f), false);
    EXPECT_EQ (p.modulationEngine.followers[0].inputLevel, 0.0f);
    EXPECT_NEAR (p.modulationEngine.followers[1].inputLevel, 1.0f, 1e-5f);
}

TEST (AudioPathFollower, OutputFollowerMeasuresTheProcessedOutput)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    useFullBuffer (p);
    setRealValue (p, "gain_db_granulator", -100.0f);
    setRealValue (p, "gain_db_dry", -20.0f);
    run (p, 685, 137, [] (int, juce::int64) { return 1.0f; });

    // Only the dry signal at -20 dB reaches the output; the input follower hears the input.
    EXPECT_NEAR (p.modulationEngine.followers[1].inputLevel, 1.0f - (20.0f - 6.0206f) / 100.0f, 1e-4f);
    EXPECT_NEAR (p.modulationEngine.followers[0].inputLevel, 1.0f, 1e-4f);
}

TEST (AudioPathControlTick, SyncedModulatorsFollowTheHostTick)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 512);
    FakePlayHead head;
    head.set (true, 137 * 1050 + 68);
    p.setPlayHead (&head);
    setRealValue (p, "modulator_lfo_1_sync", (float) SyncMode::beat);
    setRealValue (p, "modulator_lfo_1_shape", 3.0f);
    setRealValue (p, "modulator_random_1_sync", (float) SyncMode::beat);

    // The second tick starts at host sample 137 x 1051 + 68: host tick 1051, 3.0011458 s into the
    // song. A 1 Hz saw is then 0.0011458 into its cycle.
    run (p, 274, 274);
    EXPECT_EQ (p.modulationEngine.lfos[0].tickCounter, 1051);
    EXPECT_EQ (p.modulationEngine.randoms[0].tickCounter, 1051);
    EXPECT_NEAR (p.modulationEngine.lfos[0].output, 2.0f * (144055.0f / 48000.0f - 3.0f) - 1.0f, 1e-5f);
    p.setPlayHead (nullptr);
}
