#pragma once

#include "engine/CircularBuffer.h"
#include "engine/GrainPool.h"
#include "engine/ModulationEngine.h"
#include "processor/DisplaySnapshot.h"
#include "processor/ParameterHandles.h"
#include "processor/ParameterLockFlags.h"
#include "processor/Presets.h"
#include "processor/ProgramProperties.h"
#include "processor/SongPosition.h"
#include "processor/StreamState.h"
#include "processor/Timebase.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

class QuorvalisPluginAudioProcessor : public juce::AudioProcessor
{
public:
    QuorvalisPluginAudioProcessor();
    ~QuorvalisPluginAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    juce::AudioProcessorParameter* getBypassParameter() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int, const juce::String&) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    // Clears every lock and marks the 128 routing parameters with bit 0.
    void resetParameterLockFlags();

    // Hosts save and restore from their own threads while the message thread loads presets and
    // resets, so each of these is one step under the state lock, with the lock flags and macro
    // names that belong to it. No handle to the live state tree leaves them.

    // A deep copy of the state with the version properties, and with the lock flags as its last
    // child when asked for.
    juce::ValueTree copyStateForSaving (bool withLockFlags);

    // Replaces the state with a preset's tree, keeping locked parameters; true when a locked
    // parameter kept a value that differs from the preset's.
    bool applyPresetState (const juce::ValueTree& tree);

    // Every parameter to its default, every lock off, the macro names to their defaults.
    void resetState();

    // Sets the product version on a tree about to be saved.
    static void setVersionProperties (juce::ValueTree tree);

    // The preset library's folder and its access to the parameter state.
    qvl::Presets::Options makePresetOptions();

    //==============================================================================
    // Parameter handles, filled by createParameterLayout.
    juce::AudioParameterBool* bypassParameter = nullptr;
    juce::AudioParameterBool* freezeParameter = nullptr;
    juce::AudioParameterBool* bufferWriteSyncParameter = nullptr;
    juce::AudioParameterFloat* feedbackParameter = nullptr;
    juce::AudioParameterFloat* bufferSizeParameter = nullptr;
    juce::AudioParameterInt* bufferSizeTimebaseParameter = nullptr;
    std::vector<StreamParameters> streamParameters;
    juce::AudioParameterFloat* dryGainParameter = nullptr;
    juce::AudioParameterFloat* bufferGainParameter = nullptr;
    juce::AudioParameterFloat* granulatorGainParameter = nullptr;
    juce::AudioParameterFloat* inputGainParameter = nullptr;
    juce::AudioParameterInt* grainCountLimitParameter = nullptr;
    std::vector<LfoParameters> lfoParameters;
    std::vector<RandomParameters> randomParameters;
    std::vector<juce::AudioParameterFloat*> macroParameters;
    std::vector<AudioFollowerParameters> audioFollowerParameters;
    juce::Array<ModulationSlotParameters> modulationSlotParameters;

    // Bit 0: routing parameter; bit 1: locked. One entry per parameter index.
    ParameterLockFlags parameterLockFlags;

    juce::HashMap<juce::AudioParameterInt*, const TimebaseRangeTable*> timebaseRanges;

private:
    // Held around every copy and replacement of the parameter state and every edit of a macro
    // name; taken before the parameter state's own lock, never after it.
    juce::CriticalSection stateLock;

public:
    juce::AudioProcessorValueTreeState parameterState;

    juce::Array<juce::Value> sectionExpanded;
    qvl::Presets presets;
    ProgramProperties programProperties;
    juce::ChangeBroadcaster changeBroadcaster;

    // Requests between threads: each is one atomic word, written by one side and taken by the other.
    std::atomic<std::uint8_t> clearBufferRequest { 0 };
    std::atomic<int> idleCounter { 0 };
    std::atomic<std::uint8_t> displayRequest { 0 };
    std::array<std::atomic<std::uint8_t>, ParameterCounts::streams> streamResetRequests {};
    std::atomic<std::uint8_t> hostTempoValid { 0 };

    // The display's width in pixels, written by the display when it is laid out: it decides which
    // samples of the loop the display reads, and so which the audio thread copies.
    std::atomic<int> displayWaveformWidth { 0 };

    std::array<DisplaySnapshot, 2> snapshots;
    DisplaySnapshot* writeSnapshot = &snapshots[0];
    DisplaySnapshot* readSnapshot = &snapshots[1];
    juce::SpinLock snapshotLock;

    // The parameter's modulated value in its own units (the engine's value clamped, converted and
    // snapped), and the same rounded half to even. Safe from any thread: one relaxed atomic read.
    float getModulatedRealValue (const juce::RangedAudioParameter& parameter) const;
    int getModulatedIntValue (const juce::RangedAudioParameter& parameter) const;

    // Every editor of this processor holds one for its whole life, so the audio thread can tell
    // whether an editor is open without the framework's editor lock, which is held while an
    // editor is being built.
    class OpenEditorToken
    {
    public:
        explicit OpenEditorToken (QuorvalisPluginAudioProcessor& p) : count (p.openEditors) { count.fetch_add (1); }
        ~OpenEditorToken() { count.fetch_sub (1); }

    private:
        std::atomic<int>& count;
        JUCE_DECLARE_NON_COPYABLE (OpenEditorToken)
    };

    bool isEditorOpen() const noexcept { return openEditors.load (std::memory_order_relaxed) > 0; }

    // Rates a host may hand over that are not finite, not positive or beyond any real interface
    // keep the last good rate.
    static constexpr double fallbackSampleRate = 44100.0;
    static constexpr double maximumSampleRate = 1536000.0;

private:
    static BusesProperties makeBuses();
    juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    void updateControlTick (juce::AudioBuffer<float>& chunk, const juce::AudioPlayHead::CurrentPositionInfo& position);
    void processAudioChunk (juce::AudioBuffer<float>& chunk);
    void updateAudioFollower (const juce::AudioBuffer<float>& audio, bool isInput);
    void spawnGrain (size_t stream, int shortestGrain);
    void fillAndPublishSnapshot (int blockSamples);

    // With the state lock held: installs a private deep copy of tree, so the caller's handle never
    // becomes part of the live state (and the replaced root is freed under the lock).
    void installState (const juce::ValueTree& tree);
    int getTickLength() const;

    static constexpr float controlTicksPerSecond = 350.0f;

    double preparedSampleRate = 0.0;
    int preparedBlockSize = 0;
    int preparedInputChannels = 0;
    int preparedOutputChannels = 0;

public:
    qvl::ModulationEngine modulationEngine { ParameterCounts::modulationSlots, ParameterCounts::modulationTargets };
    qvl::CircularBuffer circularBuffer;
    std::vector<StreamState> streamStates;
    qvl::GrainPool grainPool { 600, ParameterCounts::streams };

private:
    int requestedBufferLength = 0;
    juce::AudioBuffer<float> bufferOutput;

    // A parameter's normalised value, recomputed only when its stored value changed: the
    // conversion is the costly part of pushing 449 base values every tick.
    struct BaseValue
    {
        juce::AudioParameterFloat* asFloat = nullptr;
        juce::AudioParameterInt* asInt = nullptr;
        juce::AudioParameterBool* asBool = nullptr;
        juce::AudioProcessorParameter* parameter = nullptr;
        float lastStored = std::numeric_limits<float>::quiet_NaN();
        float lastNormalised = 0.0f;

        float normalised()
        {
            // A switch's stored value is its normalised value; get() would only say whether it is
            // at 0.5 or more, and a change from 0.2 to 0.3 would go unseen.
            const float stored = asFloat != nullptr ? asFloat->get()
                               : asInt != nullptr   ? (float) asInt->get()
                               : asBool != nullptr  ? parameter->getValue()
                                                    : std::numeric_limits<float>::quiet_NaN();

            if (! (stored == lastStored))
            {
                lastStored = stored;
                lastNormalised = parameter->getValue();
            }

            return lastNormalised;
        }
    };

    std::vector<BaseValue> baseValues;

    // A snapshot's level bars are copied over as many blocks as it takes to keep each block's
    // share small; the picture is handed over once all are in.
    struct SnapshotFill
    {
        int length = -1, channels = -1, width = -1;
        int nextBar = 0;
    };

    SnapshotFill snapshotFill;

    struct ModulatedMemo
    {
        float normalised = std::numeric_limits<float>::quiet_NaN();
        float real = 0.0f;
    };

    std::vector<ModulatedMemo> modulatedMemo = std::vector<ModulatedMemo> ((size_t) ParameterCounts::modulationTargets);
    float modulatedReal (const juce::RangedAudioParameter& parameter);

    // One per period conversion of the control tick: the last inputs and their result.
    struct PeriodMemo
    {
        struct Key
        {
            float normalised = std::numeric_limits<float>::quiet_NaN();
            int timebase = -1, minSamples = 0, maxSamples = 0;
            const TimebaseRangeTable* table = nullptr;
            double sampleRate = 0.0, bpm = 0.0;
            int numerator = 0, denominator = 0;
        };

        TimebasePeriod get (float normalised, int timebase, int minSamples, int maxSamples, const TimebaseRangeTable& table,
                            double sampleRate, double bpm, int numerator, int denominator);

        Key key;
        TimebasePeriod result;
        double beats = 0.0; // the same setting's cycle in quarter notes, for synced grids
    };

    std::array<PeriodMemo, 17> periodMemos;

    juce::SmoothedValue<float> feedbackSmoother { 0.5f };
    juce::SmoothedValue<float> dryGainSmoother { 0.0f };
    juce::SmoothedValue<float> bufferGainSmoother { 0.0f };
    juce::SmoothedValue<float> granulatorGainSmoother { 0.0f };
    juce::SmoothedValue<float> inputGainSmoother { 0.0f };

    juce::Random random;
    std::atomic<int> openEditors { 0 };
    bool editorOpen = false; // looked up once per processed block
    bool wasPlaying = false;
    juce::int64 timeInSamples = 0;
    int samplesLeftInTick = 0;
    SongPosition songPosition;
    int sampleInBlock = 0; // of the current block, processed so far

    friend struct ProcessorTestAccess; // tests reach the audio-thread state directly

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorvalisPluginAudioProcessor)
};
