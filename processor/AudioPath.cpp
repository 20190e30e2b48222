#include "processor/PluginProcessor.h"

#include "engine/Decibels.h"
#include "processor/InputGuard.h"

#include <juce_dsp/juce_dsp.h>

#include <cmath>
#include <limits>

namespace
{
    constexpr int maxPeriod = std::numeric_limits<int>::max();

    // Maps a follower's rise or fall setting to its smoothing weight: 0 gives 0.1, 0.5 gives 0.975, 1 gives 1.
    const juce::NormalisableRange<float> followerCoefficientRange (0.1f, 1.0f, 0.00001f,
                                                                   std::log (0.5f) / std::log ((0.975f - 0.1f) / (1.0f - 0.1f)));

    bool isMusical (int timebase) { return timebase >= Timebase::firstMusical; }

    // Musical units need a host tempo; anything past the last unit is never valid.
    int usableTimebase (int timebase, bool hostTempoValid, int fallback)
    {
        if ((isMusical (timebase) && ! hostTempoValid) || timebase >= Timebase::count || timebase < 0)
            return fallback;
        return timebase;
    }

    // Host positions run negative through a count-in or pre-roll: rounding down keeps them on the
    // same grid as the song. The divisor is always positive.
    std::int64_t floorDivide (std::int64_t position, std::int64_t divisor)
    {
        const auto quotient = position / divisor;
        return position % divisor < 0 ? quotient - 1 : quotient;
    }

    std::int64_t floorModulo (std::int64_t position, std::int64_t divisor)
    {
        const auto remainder = position % divisor;
        return remainder < 0 ? remainder + divisor : remainder;
    }

    bool isMidiPresetSelect (const juce::MidiMessageMetadata& event)
    {
        const auto* data = event.data;
        return event.numBytes >= 3 && data[0] == 0xB0 && data[1] == 102;
    }

    // Nearest enabled pitch class; the lower class wins a tie and the octave never wraps.
    float quantizePitchClass (float pitchClass, int mask)
    {
        if (mask == 0)
            return pitchClass;

        float best = std::numeric_limits<float>::infinity();
        int bestClass = 0;

        for (int c = 0; c < 12; ++c)
        {
            if ((mask & (1 << c)) == 0)
                continue;

            const float distance = std::abs (pitchClass - (float) c);
            if (distance < best)
            {
                best = distance;
                bestClass = c;
            }
        }

        return (float) bestClass;
    }
}

int QuorvalisPluginAudioProcessor::getTickLength() const
{
    // At least one sample, so an absurd rate can never stall the block loop.
    const double samples = std::rint (preparedSampleRate / (double) controlTicksPerSecond);
    return samples >= 1.0 && samples < 1.0e9 ? (int) samples : 1;
}

float QuorvalisPluginAudioProcessor::getModulatedRealValue (const juce::RangedAudioParameter& parameter) const
{
    const auto& range = parameter.getNormalisableRange();
    const float normalised = juce::jlimit (0.0f, 1.0f, modulationEngine.getModulatedValue (parameter.getParameterIndex()));
    return range.snapToLegalValue (range.convertFrom0to1 (normalised));
}

int QuorvalisPluginAudioProcessor::getModulatedIntValue (const juce::RangedAudioParameter& parameter) const
{
    return (int) std::rint (getModulatedRealValue (parameter));
}

// Audio thread only: the range conversion is redone only when the modulated value moved.
float QuorvalisPluginAudioProcessor::modulatedReal (const juce::RangedAudioParameter& parameter)
{
    const int index = parameter.getParameterIndex();
    auto& memo = modulatedMemo[(size_t) index];
    const float normalised = modulationEngine.getModulatedValue (index);

    if (! (normalised == memo.normalised))
    {
        memo.normalised = normalised;
        memo.real = getModulatedRealValue (parameter);
    }

    return memo.real;
}

TimebasePeriod QuorvalisPluginAudioProcessor::PeriodMemo::get (float normalised, int timebase, int minSamples, int maxSamples,
                                                               const TimebaseRangeTable& table, double sampleRate, double bpm,
                                                               int numerator, int denominator)
{
    if (! (normalised == key.normalised && timebase == key.timebase && minSamples == key.minSamples
           && maxSamples == key.maxSamples && &table == key.table && sampleRate == key.sampleRate
           && bpm == key.bpm && numerator == key.numerator && denominator == key.denominator))
    {
        key = { normalised, timebase, minSamples, maxSamples, &table, sampleRate, bpm, numerator, denominator };
        result = timebaseValueToPeriod (normalised, timebase, minSamples, maxSamples, table, sampleRate, bpm, numerator, denominator);
        beats = timebaseValueToBeats (normalised, timebase, table, bpm, numerator, denominator);
    }

    return result;
}

void QuorvalisPluginAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages)
{
    const int n = buffer.getNumSamples();
    const int inputs = getTotalNumInputChannels();
    const int outputs = getTotalNumOutputChannels();

    // A host may process before it prepares: until then there is nothing to process with.
    if (n == 0 || inputs == 0 || outputs == 0 || preparedSampleRate <= 0.0)
        return;

    juce::ScopedNoDenormals noDenormals;

    for (int c = inputs; c < juce::jmin (outputs, buffer.getNumChannels()); ++c)
        buffer.clear (c, 0, n);

    // A single NaN or infinity would stay in the feedback loop for good, and a huge sample would
    // overflow it: the one reads as silence, the other is held at the bound, before the input
    // follower of the first tick measures them. A bypassed block passes on only what is left.
    for (int c = 0; c < juce::jmin (inputs, buffer.getNumChannels()); ++c)
        qvl::limitInput (buffer.getWritePointer (c), n);

    for (const auto event : midiMessages)
        if (isMidiPresetSelect (event))
            presets.pendingPresetIndex.exchange (event.data[2] & 0x7f);

    juce::AudioPlayHead::CurrentPositionInfo position;
    bool positionGiven = false;

    if (auto* host = getPlayHead())
    {
        if (const auto info = host->getPosition())
        {
            positionGiven = true;

            if (const auto bpm = info->getBpm())
                position.bpm = *bpm;
            if (const auto signature = info->getTimeSignature())
            {
                position.timeSigNumerator = signature->numerator;
                position.timeSigDenominator = signature->denominator;
            }
            if (const auto samples = info->getTimeInSamples())
                position.timeInSamples = *samples;
            position.isPlaying = info->getIsPlaying();
            position.isRecording = info->getIsRecording();

            hostTempoValid.exchange (1);
            const bool playing = position.isPlaying || position.isRecording;

            if (! wasPlaying && playing && bufferWriteSyncParameter->get())
                circularBuffer.clear();

            wasPlaying = playing;

            if (playing)
            {
                timeInSamples = position.timeInSamples;
                const auto beat = info->getPpqPosition();
                songPosition.startBlock (beat ? *beat : std::numeric_limits<double>::quiet_NaN(), position.bpm,
                                         preparedSampleRate, timeInSamples, n);
            }
            else
            {
                songPosition.stop();
            }
        }
    }

    // Without a word from the host the song runs on as it was.
    if (! positionGiven && wasPlaying)
        songPosition.continueBlock (n);

    sampleInBlock = 0;

    const bool bypassed = bypassParameter->get();

    if (! bypassed)
        idleCounter.store (0);

    const bool faded = granulatorGainSmoother.getCurrentValue() <= 0.0001f && ! granulatorGainSmoother.isSmoothing()
                    && bufferGainSmoother.getCurrentValue() <= 0.0001f && ! bufferGainSmoother.isSmoothing();

    if (bypassed && faded)
    {
        songPosition.stop();
        return;
    }

    // Never getActiveEditor(): it takes the framework's editor lock, held while an editor is built.
    editorOpen = isEditorOpen();

    const int tickLength = getTickLength();
    float* const* channels = buffer.getArrayOfWritePointers();
    const int numChannels = buffer.getNumChannels();

    const int rest = juce::jmin (samplesLeftInTick, n);
    if (rest > 0)
    {
        juce::AudioBuffer<float> chunk (channels, numChannels, 0, rest);
        processAudioChunk (chunk);
        samplesLeftInTick -= rest;
    }

    for (int offset = rest; offset < n; offset += tickLength)
    {
        const int m = juce::jmin (n - offset, tickLength);
        juce::AudioBuffer<float> chunk (channels, numChannels, offset, m);
        samplesLeftInTick = tickLength - m;

        updateControlTick (chunk, position);

        if (requestedBufferLength != circularBuffer.getLength() || clearBufferRequest.load() != 0 || bypassParameter->get())
        {
            bufferGainSmoother.setTargetValue (0.0f);
            granulatorGainSmoother.setTargetValue (0.0f);
            dryGainSmoother.setTargetValue (1.0f);

            if (faded)
            {
                clearBufferRequest.store (0);
                circularBuffer.setLength (requestedBufferLength);
                circularBuffer.clear();
            }
        }

        processAudioChunk (chunk);
    }

    if (displayRequest.load() != 0 && editorOpen)
        fillAndPublishSnapshot (n);
}

void QuorvalisPluginAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    processBlock (buffer, midi);
}

void QuorvalisPluginAudioProcessor::updateControlTick (juce::AudioBuffer<float>& chunk,
                                                       const juce::AudioPlayHead::CurrentPositionInfo& position)
{
    const double sampleRate = preparedSampleRate;
    const double bpm = position.bpm;
    const int numerator = position.timeSigNumerator;
    const int denominator = position.timeSigDenominator;
    const bool tempoValid = hostTempoValid.load() != 0;

    const auto& parameters = getParameters();
    for (int i = 0; i < parameters.size(); ++i)
        modulationEngine.setBaseValue (i, baseValues[(size_t) i].normalised());

    auto periodOf = [&] (PeriodMemo& memo, juce::AudioParameterFloat& value, juce::AudioParameterInt& timebaseParameter,
                         int fallback, int minSamples, int maxSamples)
    {
        const int timebase = usableTimebase (timebaseParameter.get(), tempoValid, fallback);
        return memo.get (modulatedReal (value), timebase, minSamples, maxSamples,
                         *timebaseRanges[&timebaseParameter], sampleRate, bpm, numerator, denominator);
    };

    // Synced modulators and streams follow the song's position: their grids come from the exact
    // note lengths, not from the periods, which are whole samples. 0 where there is no grid.
    const bool onTheBeat = wasPlaying && songPosition.isUsable();

    // From the memo the period conversion just used.
    auto beatsOf = [] (const PeriodMemo& memo)
    {
        return memo.beats > 0.0 && memo.beats < SongPosition::largestPosition ? memo.beats : 0.0;
    };

    // A modulator's cycle is never under two ticks, synced or not.
    const double shortestCycle = 2.0 * songPosition.beatsIn ((double) getTickLength());
    auto modulatorBeatsOf = [&] (const PeriodMemo& memo)
    {
        const double beats = beatsOf (memo);
        return beats > 0.0 ? std::max (beats, shortestCycle) : 0.0;
    };

    for (size_t i = 0; i < lfoParameters.size(); ++i)
    {
        auto& p = lfoParameters[i];
        auto& lfo = modulationEngine.lfos[i];
        lfo.shape = (int) std::rint (modulatedReal (*p.shape));
        const int period = periodOf (periodMemos[i], *p.rate, *p.timebase, Timebase::hertz, 0, maxPeriod).period;
        lfo.frequency = (float) sampleRate / (float) period;
        lfo.synced = p.sync->get() == SyncMode::beat;
        lfo.syncedCycle = lfo.synced && onTheBeat ? modulatorBeatsOf (periodMemos[i]) : 0.0;
    }

    for (size_t i = 0; i < randomParameters.size(); ++i)
    {
        auto& p = randomParameters[i];
        auto& modulator = modulationEngine.randoms[i];
        const int period = periodOf (periodMemos[4 + i], *p.rate, *p.timebase, Timebase::hertz, 0, maxPeriod).period;
        modulator.rate = (float) sampleRate / (float) period;
        modulator.probability = modulatedReal (*p.probability);
        modulator.triggerRequest = p.triggerRequest->exchange (0) != 0;
        modulator.clearRequest = p.clearRequest->exchange (0) != 0;
        modulator.synced = p.sync->get() == SyncMode::beat;
        modulator.syncedCycle = modulator.synced && onTheBeat ? modulatorBeatsOf (periodMemos[4 + i]) : 0.0;
    }

    for (size_t i = 0; i < macroParameters.size(); ++i)
        modulationEngine.macros[i].value = modulatedReal (*macroParameters[i]);

    updateAudioFollower (chunk, true);

    for (int j = 0; j < modulationSlotParameters.size(); ++j)
    {
        const auto& p = modulationSlotParameters.getReference (j);
        auto& slot = modulationEngine.slots[(size_t) j];
        slot.target = p.target->get();
        slot.modulator = p.modulatorIndex->get();
        slot.amount = modulatedReal (*p.amount);
        slot.bipolar = p.isBipolar->get();
        slot.bypassed = p.isBypassed->get();
    }

    auto host = qvl::HostPosition::atTick (floorDivide (timeInSamples, getTickLength()));

    if (onTheBeat)
    {
        // The tick's span on the song, joined to the last tick's unless the host jumped.
        host.start = songPosition.at (sampleInBlock);
        host.end = songPosition.at (sampleInBlock + getTickLength());
        host.from = std::isnan (songPosition.tickEdge) ? host.start : songPosition.tickEdge;
        songPosition.tickEdge = host.end;
    }

    modulationEngine.process (wasPlaying, host);

    auto& snapshot = *writeSnapshot;

    if (editorOpen)
    {
        for (int i = 0; i < parameters.size(); ++i)
            snapshot.modulatedValues[(size_t) i] = modulationEngine.getModulatedValue (i);

        snapshot.grainLimit = getModulatedIntValue (*grainCountLimitParameter);
    }

    const auto bufferLength = periodOf (periodMemos[8], *bufferSizeParameter, *bufferSizeTimebaseParameter, Timebase::seconds,
                                        circularBuffer.getCrossfadeLength(), circularBuffer.getMaxLength());
    requestedBufferLength = bufferLength.period;
    snapshot.modulatedValues[(size_t) bufferSizeParameter->getParameterIndex()] = bufferLength.realised;

    const int loopLength = circularBuffer.getLength();
    const int shortestGrain = (int) std::rint (sampleRate / 1000.0);

    for (size_t s = 0; s < streamStates.size(); ++s)
    {
        auto& p = streamParameters[s];
        auto& state = streamStates[s];

        state.enabled = p.isEnabled->get();
        state.increment = modulatedReal (*p.increment);
        state.position = (int) std::rint ((float) (loopLength - 1) * modulatedReal (*p.position));

        if (streamResetRequests[s].exchange (0) == 1)
            state.phase = 0.0;

        const auto rate = periodOf (periodMemos[9 + s], *p.rate, *p.rateTimebase, Timebase::seconds, 0, maxPeriod);
        state.period = rate.period;
        state.beatsPerGrain = onTheBeat && p.rateSync->get() == SyncMode::beat ? beatsOf (periodMemos[9 + s]) : 0.0;
        snapshot.modulatedValues[(size_t) p.rate->getParameterIndex()] = rate.realised;

        const float pitch = modulatedReal (*p.grainPitch);
        const float pitchClass = std::fmod (std::fmod (pitch, 12.0f) + 12.0f, 12.0f);
        const float quantized = quantizePitchClass (pitchClass, p.grainPitchQuantize->get());
        const float semitones = std::floor (pitch / 12.0f) * 12.0f + quantized;

        const float reverseProbability = modulatedReal (*p.reverseProbability);
        const float u = (float) modulationEngine.random.next() / 32767.0f;
        const float sign = reverseProbability > u ? -1.0f : 1.0f;
        state.ratio = std::pow (2.0f, (semitones * 100.0f) / 1200.0f) * sign;

        const auto length = periodOf (periodMemos[13 + s], *p.grainLength, *p.grainLengthTimebase, Timebase::seconds,
                                      shortestGrain, circularBuffer.getMaxLength());
        state.grainLength = length.period;
        snapshot.modulatedValues[(size_t) p.grainLength->getParameterIndex()] = length.realised;

        state.balance = modulatedReal (*p.balance);
        state.gain = qvl::decibelsToGain (modulatedReal (*p.grainVolumeDb));
        state.pan = modulatedReal (*p.grainPan);
    }

    if (! dryGainSmoother.isSmoothing())
        dryGainSmoother.setTargetValue (qvl::decibelsToGain (modulatedReal (*dryGainParameter)));
    if (! bufferGainSmoother.isSmoothing())
        bufferGainSmoother.setTargetValue (qvl::decibelsToGain (modulatedReal (*bufferGainParameter)));
    if (! granulatorGainSmoother.isSmoothing())
        granulatorGainSmoother.setTargetValue (qvl::decibelsToGain (modulatedReal (*granulatorGainParameter)));

    // Freeze holds the loop as it is: no new input, nothing lost to feedback.
    const bool frozen = freezeParameter->get() || bypassParameter->get();
    inputGainSmoother.setTargetValue (frozen ? 0.0f : qvl::decibelsToGain (modulatedReal (*inputGainParameter)));
    feedbackSmoother.setTargetValue (frozen ? 1.0f : modulatedReal (*feedbackParameter));
}

void QuorvalisPluginAudioProcessor::processAudioChunk (juce::AudioBuffer<float>& chunk)
{
    const int n = chunk.getNumSamples();
    if (n == 0)
        return;

    const float* const* inputs = chunk.getArrayOfReadPointers();
    const double sampleRate = preparedSampleRate;
    const bool tempoValid = hostTempoValid.load() != 0;
    const int shortestGrain = (int) std::rint (sampleRate * 0.5 / 1000.0);

    // Parameters and modulated values read once per chunk: a chunk lies inside one tick, so the
    // modulated values cannot change within it, and a host change arriving mid-chunk is simply
    // taken as having arrived at the next chunk.
    const bool writeSync = bufferWriteSyncParameter->get();
    const int limit = (int) std::rint (modulatedReal (*grainCountLimitParameter));
    bool beatSynced[ParameterCounts::streams];

    // A beat-synced stream starts its grains on the samples nearest its grid lines; without a song
    // position to follow it runs free. linesBelow counts each grid's lines below the sample edge,
    // and nextLine is the first sample of the chunk whose stretch of the song reaches past another
    // (n when none does).
    const bool onTheBeat = wasPlaying && songPosition.isUsable();
    double linesBelow[ParameterCounts::streams] = {};
    int nextLine[ParameterCounts::streams] = {};

    auto linesUpTo = [&] (size_t s, int i) { return std::ceil (songPosition.upperEdge (sampleInBlock + i) / streamStates[s].beatsPerGrain); };

    // The edges only grow through a chunk, so halving finds the sample, with the same sums the
    // next chunk goes on from, and a handful of divisions a line rather than one a sample.
    auto findNextLine = [&] (size_t s, int from)
    {
        int below = from, above = n;
        while (below < above)
        {
            const int middle = below + (above - below) / 2;
            if (linesUpTo (s, middle) > linesBelow[s])
                above = middle;
            else
                below = middle + 1;
        }
        return below;
    };

    for (size_t s = 0; s < streamStates.size(); ++s)
    {
        const auto& p = streamParameters[s];
        const int timebase = usableTimebase (p.rateTimebase->get(), tempoValid, Timebase::seconds);
        const double spacing = streamStates[s].beatsPerGrain;
        beatSynced[s] = p.rateSync->get() == SyncMode::beat && onTheBeat && isMusical (timebase) && spacing > 0.0;

        if (beatSynced[s])
        {
            linesBelow[s] = std::ceil (songPosition.sampleEdge / spacing);
            nextLine[s] = findNextLine (s, 0);
        }
    }

    // Mono or stereo layouts only, so the buffer has at most two channels.
    const int bufferChannels = juce::jmin (circularBuffer.getNumChannels(), 2);
    float* bufferOutputChannels[2] = { nullptr, nullptr };
    for (int c = 0; c < bufferChannels; ++c)
        bufferOutputChannels[c] = bufferOutput.getWritePointer (c);

    for (int i = 0; i < n; ++i)
    {
        const float inputGain = inputGainSmoother.getNextValue();
        const float feedback = feedbackSmoother.getNextValue();

        if (writeSync)
        {
            const auto position = timeInSamples >= 0 ? timeInSamples : floorModulo (timeInSamples, circularBuffer.getLength());
            circularBuffer.writeAt ((std::uint64_t) position, inputs, i, inputGain, feedback);
        }
        else
        {
            circularBuffer.write (inputs, i, inputGain, feedback);
        }

        const auto r = (std::uint64_t) random.nextInt64();

        for (std::uint64_t u = 0; u < 4; ++u)
        {
            const auto s = (size_t) ((r + u) % 4);
            auto& state = streamStates[s];
            bool due = state.countdown == 0;

            if (beatSynced[s])
            {
                // Only the grid makes a grain due, so neither a jump nor a tempo change between two
                // lines can slip one in off the beat.
                due = i == nextLine[s];

                if (due)
                {
                    state.countdown = 0;
                    linesBelow[s] = linesUpTo (s, i);
                    nextLine[s] = findNextLine (s, i + 1);
                }
            }

            state.nextGrainStart = (std::int64_t) ((double) state.position + state.phase);
            state.phase += (double) state.increment;

            if (state.enabled && due)
            {
                state.countdown = state.period > 0 ? 1 : 0;

                if (grainPool.getActiveCount() < limit)
                    spawnGrain (s, shortestGrain);
            }
            else
            {
                state.countdown = state.countdown < state.period ? state.countdown + 1 : 0;
            }
        }

        grainPool.advanceReaders();

        for (int c = 0; c < bufferChannels; ++c)
            bufferOutputChannels[c][i] = circularBuffer.getLastOverwritten (c);

        // Wraps at the end of the range instead of overflowing.
        timeInSamples = (juce::int64) ((std::uint64_t) timeInSamples + 1);
    }

    sampleInBlock += n;

    // The same sum as the last sample's, so that the next chunk goes on from exactly there; never
    // back, where a host that rounded behind the last block would bring lines round again.
    if (onTheBeat)
        songPosition.sampleEdge = std::max (songPosition.sampleEdge, songPosition.upperEdge (sampleInBlock - 1));

    grainPool.renderChunk (n);

    auto main = getBusBuffer (chunk, false, 0);
    const int mainChannels = main.getNumChannels();
    juce::dsp::AudioBlock<float> (main).getSubBlock (0, (size_t) n).multiplyBy (dryGainSmoother);

    juce::dsp::AudioBlock<float> (bufferOutput).getSubBlock (0, (size_t) n).multiplyBy (bufferGainSmoother);
    for (int c = 0; c < juce::jmin (mainChannels, bufferChannels); ++c)
        juce::FloatVectorOperations::add (main.getWritePointer (c), bufferOutput.getReadPointer (c), n);

    juce::dsp::AudioBlock<float> (grainPool.getOutputs(), (size_t) grainPool.getNumOutputs(), (size_t) n).multiplyBy (granulatorGainSmoother);
    for (int s = 0; s < grainPool.getNumStreams(); ++s)
        for (int c = 0; c < juce::jmin (mainChannels, 2); ++c)
            juce::FloatVectorOperations::add (main.getWritePointer (c), grainPool.getOutputs()[2 * s + c], n);

    // The buffer signal carries every loop sample once a lap and any grain passes on what it reads,
    // so whatever broke in the loop shows here. Should it ever, the loop and the grains start afresh,
    // as a clear request leaves them, and this chunk is silent rather than broken.
    bool finite = true;
    for (int c = 0; c < mainChannels; ++c)
        finite = finite && qvl::allFinite (main.getReadPointer (c), n);

    if (! finite)
    {
        main.clear();
        grainPool.clear();
        circularBuffer.clear();
    }

    updateAudioFollower (chunk, false);
}

void QuorvalisPluginAudioProcessor::spawnGrain (size_t stream, int shortestGrain)
{
    const auto& state = streamStates[stream];
    const auto& p = streamParameters[stream];

    qvl::GrainSpawnRequest request;
    request.buffer = &circularBuffer;
    request.startIndex = (std::uint32_t) (std::uint64_t) state.nextGrainStart;
    request.ratio = state.ratio;
    request.gain = state.gain;
    request.pan = state.pan;
    request.balance = state.balance;
    request.stream = (int) stream;
    request.length = juce::jmax (state.grainLength, shortestGrain);

    if (p.adsrEnabled->get())
    {
        request.envelopeKind = qvl::EnvelopeKind::adsr;
        request.attack = modulatedReal (*p.adsrAttack);
        request.decay = modulatedReal (*p.adsrDecay);
        request.sustain = modulatedReal (*p.adsrSustain);
        request.release = modulatedReal (*p.adsrRelease);
    }
    else
    {
        request.envelopeKind = qvl::EnvelopeKind::sineWindow;
    }

    grainPool.spawnGrain (request);
}

void QuorvalisPluginAudioProcessor::updateAudioFollower (const juce::AudioBuffer<float>& audio, bool isInput)
{
    auto& follower = modulationEngine.followers[isInput ? 0 : 1];
    const auto& p = audioFollowerParameters[isInput ? 0 : 1];

    follower.rise = followerCoefficientRange.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, modulatedReal (*p.rise)));
    follower.fall = followerCoefficientRange.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, modulatedReal (*p.fall)));

    float level = 0.0f;
    for (int c = 0; c < audio.getNumChannels(); ++c)
        level += audio.getRMSLevel (c, 0, audio.getNumSamples());

    const float x = qvl::decibelsToGain (modulatedReal (*p.gain)) * level;
    const float levelDb = x > 0.0f ? juce::jmax (20.0f * std::log10 (x), -100.0f) : -100.0f;
    follower.inputLevel = juce::jlimit (0.0f, 1.0f, levelDb / 100.0f + 1.0f);
}

void QuorvalisPluginAudioProcessor::fillAndPublishSnapshot (int blockSamples)
{
    auto& snapshot = *writeSnapshot;
    auto& fill = snapshotFill;
    const int length = circularBuffer.getLength();
    const int channels = circularBuffer.getNumChannels();
    const int width = displayWaveformWidth.load (std::memory_order_relaxed);

    if (fill.length != length || fill.channels != channels || fill.width != width)
        fill = { length, channels, width, 0 };

    // Within the room prepareToPlay made: no allocation here.
    if (snapshot.buffer.getNumChannels() != channels || snapshot.buffer.getNumSamples() != length)
        snapshot.buffer.setSize (channels, length, false, false, true);

    // Only the samples the display's bars read, about one bar for every two samples of the
    // block: a whole 5-second loop at 192 kHz would cost a small block many times its budget.
    const WaveformBars bars (length, width);
    const int lastBar = juce::jmin (bars.bars, fill.nextBar + juce::jmax (1, blockSamples / 2));

    for (; fill.nextBar < lastBar; ++fill.nextBar)
        for (int c = 0; c < channels; ++c)
            snapshot.buffer.copyFrom (c, bars.start (fill.nextBar), circularBuffer.getChannelData (c) + bars.start (fill.nextBar),
                                      bars.count (fill.nextBar));

    if (fill.nextBar < bars.bars)
        return;

    for (size_t s = 0; s < streamStates.size(); ++s)
    {
        // Where the next grain would start, as a 32-bit index; the drift may have run past it.
        const double start = (double) streamStates[s].position + streamStates[s].phase;
        const auto wide = std::abs (start) < 9.0e18 ? (std::int64_t) start : std::int64_t (0);
        snapshot.streamPositions[s] = (std::int32_t) (std::uint32_t) (std::uint64_t) wide;
    }

    const int count = grainPool.getActiveCount();
    snapshot.grainCount = count;

    for (int i = 0; i < count; ++i)
    {
        const int readPosition = grainPool.getReader (i).getReadPosition();
        const auto& grain = grainPool.getGrain (i);
        snapshot.grainPositions[(size_t) i] = (float) ((length + readPosition % length) % length) / (float) length;
        snapshot.grainPans[(size_t) i] = grain.pan;
        snapshot.grainStreams[(size_t) i] = grain.stream;
    }

    snapshot.writePosition = circularBuffer.getWritePosition();

    if (snapshotLock.tryEnter())
    {
        std::swap (writeSnapshot, readSnapshot);
        displayRequest.exchange (0);
        snapshotLock.exit();

        // The other record's bars are older: the next picture copies them all again.
        fill.nextBar = 0;
    }
}
