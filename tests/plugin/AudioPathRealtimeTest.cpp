// Real-time safety of processBlock: no allocation after preparation, any block size a host may
// send, and concurrent parameter and state changes from other threads.

#include "tests/plugin/AudioPathTestSupport.h"
#include "editor/PluginEditor.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/MessagePump.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace qvl::test;

namespace
{
    // Everything the audio path can do at once: four streams, ADSR, the buffer signal, write sync
    // with a playing host, modulation from every kind of modulator and a beat-synced stream.
    void useEverything (QuorvalisPluginAudioProcessor& p)
    {
        for (int s = 1; s <= 4; ++s)
        {
            const auto n = juce::String (s);
            setRealValue (p, "stream_" + n + "_is_enabled", 1.0f);
            setTimed (p, "stream_" + n + "_rate", "stream_" + n + "_rate_timebase", streamRateRanges,
                      Timebase::milliseconds, 2.0f + 3.0f * (float) s);
            setRealValue (p, "stream_" + n + "_increment", 0.7f * (float) s - 1.5f);
        }

        setRealValue (p, "stream_2_adsr_enabled", 1.0f);
        setRealValue (p, "stream_3_rate_sync", (float) SyncMode::beat);
        setRealValue (p, "stream_3_rate_timebase", 7.0f);
        setRealValue (p, "gain_db_buffer", -6.0f);
        setRealValue (p, "buffer_write_sync", 1.0f);
        setRealValue (p, "grain_count_limit", 600.0f);

        const char* const targets[] = { "stream_1_grain_pitch", "stream_2_position", "buffer_size", "gain_db_dry" };
        const int modulators[] = { 0, 4, 8, 12 };
        for (int k = 0; k < 4; ++k)
        {
            const auto n = juce::String (k + 1);
            setRealValue (p, "modulation_" + n + "_target", (float) indexOf (p, targets[k]));
            setRealValue (p, "modulator_" + n + "_modulator_index", (float) modulators[k]);
            setRealValue (p, "modulation_" + n + "_amount", 0.3f);
        }
        setRealValue (p, "modulator_lfo_1_rate", 0.8f);
    }

    struct AllocationRun
    {
        explicit AllocationRun (int preparedSize)
        {
            prepare (p, 48000.0, preparedSize);
            useEverything (p);
            p.setPlayHead (&head);
            editor.reset (p.createEditorIfNeeded());
        }

        ~AllocationRun()
        {
            editor.reset();
            p.setPlayHead (nullptr);
        }

        // Processes one block of n samples; returns the allocations made inside processBlock.
        std::size_t block (int n)
        {
            if (storage.getNumSamples() < n)
                storage.setSize (2, n);

            juce::AudioBuffer<float> b (storage.getArrayOfWritePointers(), 2, n);
            fill (b, position, sine);
            head.set (true, position);

            // About as often as the editor's refresh timer asks.
            if (position / 768 != (position + n) / 768 || n >= 768)
                p.displayRequest = 1;

            std::size_t count;
            {
                ScopedAllocationCounter counter;
                p.processBlock (b, midi);
                count = counter.count();
            }

            position += n;
            finite = finite && allFinite (b);
            return count;
        }

        QuorvalisPluginAudioProcessor p;
        FakePlayHead head;
        EditorPtr editor;
        juce::AudioBuffer<float> storage { 2, 8192 };
        juce::MidiBuffer midi;
        juce::int64 position = 0;
        bool finite = true;
    };
}

TEST (AudioPathRealtime, NoAllocationForAnyFixedBlockSize)
{
    for (const int size : { 1, 64, 137, 512, 4096 })
    {
        AllocationRun r (size);
        ASSERT_NE (r.editor, nullptr);
        r.block (size);

        const int blocks = juce::jmax (4, 24000 / size);
        std::size_t allocations = 0;

        for (int b = 0; b < blocks; ++b)
        {
            // Requests from the editor and the host along the way.
            if (b == blocks / 4)
            {
                r.p.clearBufferRequest = 1;
                r.p.streamResetRequests[1] = 1;
                *r.p.randomParameters[0].triggerRequest = 1;
            }
            if (b == blocks / 2)
                r.p.bypassParameter->setValueNotifyingHost (1.0f);
            if (b == 3 * blocks / 4)
                r.p.bypassParameter->setValueNotifyingHost (0.0f);

            allocations += r.block (size);
        }

        EXPECT_EQ (allocations, 0u) << "block size " << size;
        EXPECT_TRUE (r.finite) << "block size " << size;
        EXPECT_GT (r.p.grainPool.getActiveCount(), 0) << "block size " << size;
        EXPECT_EQ (r.p.displayRequest.load(), 0) << "block size " << size;
    }
}

TEST (AudioPathRealtime, NoAllocationWithVaryingBlockSizes)
{
    AllocationRun r (512);
    r.block (512);

    juce::Random sizes (4711);
    std::size_t allocations = 0;
    for (int b = 0; b < 400; ++b)
        allocations += r.block (1 + sizes.nextInt (512));

    EXPECT_EQ (allocations, 0u);
    EXPECT_TRUE (r.finite);
}

TEST (AudioPathRealtime, BlocksLargerThanAnnounced)
{
    for (const int factor : { 2, 10 })
    {
        AllocationRun r (512);
        r.block (512);

        std::size_t allocations = 0;
        for (int b = 0; b < 20; ++b)
            allocations += r.block (512 * factor);

        EXPECT_EQ (allocations, 0u) << factor << "x";
        EXPECT_TRUE (r.finite) << factor << "x";
        EXPECT_GT (r.p.grainPool.getActiveCount(), 0);
    }
}

TEST (AudioPathRealtime, PreparedSizeBelowOneTick)
{
    AllocationRun r (16);
    r.block (16);

    std::size_t allocations = 0;
    for (int b = 0; b < 3000; ++b)
        allocations += r.block (16);
    for (const int n : { 137, 200, 1000, 16, 1 })
        allocations += r.block (n);

    EXPECT_EQ (allocations, 0u);
    EXPECT_TRUE (r.finite);
    EXPECT_GT (r.p.grainPool.getActiveCount(), 0);
}

// The framework holds its editor lock while an editor is built; the audio thread must never wait
// for it. The editor's construction waits until the audio thread has processed more blocks, which
// it never would if processBlock took that lock.
TEST (AudioPathRealtime, SlowEditorConstructionNeverStallsTheAudioThread)
{
    struct SlowEditorProcessor : QuorvalisPluginAudioProcessor
    {
        std::atomic<int> blocks { 0 };
        bool audioWentOn = false;

        juce::AudioProcessorEditor* createEditor() override
        {
            const int before = blocks.load();
            audioWentOn = waitFor ([&] { return blocks.load() >= before + 20; });
            return QuorvalisPluginAudioProcessor::createEditor();
        }
    };

    SlowEditorProcessor p;
    prepare (p, 48000.0, 256);
    std::atomic<bool> stop { false };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> block (2, 256);
        juce::MidiBuffer midi;

        while (! stop.load())
        {
            fill (block, 0, sine);
            p.processBlock (block, midi);
            ++p.blocks;
        }
    });

    EditorPtr editor (p.createEditorIfNeeded());
    stop = true;
    audio.join();

    EXPECT_TRUE (p.audioWentOn) << "no block was processed while the editor was built";
    EXPECT_TRUE (p.isEditorOpen());
}

// Each processor draws its own random numbers: the C runtime's shared, locked generator is left
// alone, and a second instance running alongside changes nothing in the first one's output.
TEST (AudioPathRealtime, EachProcessorDrawsItsOwnRandomNumbers)
{
    const auto render = [] (QuorvalisPluginAudioProcessor* other)
    {
        QuorvalisPluginAudioProcessor p;
        for (auto* q : { &p, other })
        {
            if (q == nullptr)
                continue;
            prepare (*q, 48000.0, 256);
            setRealValue (*q, "stream_1_reverse_probability", 0.5f);
            setRealValue (*q, "modulation_1_target", (float) indexOf (*q, "stream_1_grain_pitch"));
            setRealValue (*q, "modulator_1_modulator_index", 4.0f);
            setRealValue (*q, "modulation_1_amount", 0.5f);
            setRealValue (*q, "modulator_random_1_rate", 1.0f);
        }

        juce::AudioBuffer<float> out (2, 256 * 40), block (2, 256);
        juce::MidiBuffer midi;
        for (int b = 0; b < 40; ++b)
        {
            fill (block, b * 256, sine);
            p.processBlock (block, midi);
            out.copyFrom (0, b * 256, block, 0, 0, 256);

            if (other != nullptr)
            {
                fill (block, b * 256, sine);
                other->processBlock (block, midi);
            }
        }
        return out;
    };

    std::srand (3);
    const int next = std::rand();
    std::srand (3);

    const auto alone = render (nullptr);
    QuorvalisPluginAudioProcessor neighbour;
    const auto besideAnother = render (&neighbour);

    EXPECT_EQ (std::rand(), next);
    for (int i = 0; i < alone.getNumSamples(); ++i)
        ASSERT_EQ (alone.getSample (0, i), besideAnother.getSample (0, i)) << "sample " << i;
}

TEST (AudioPathThreads, ParameterAndStateChangesWhileProcessing)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 256);
    juce::MemoryBlock initialState;
    p.getStateInformation (initialState);

    // The editor's refresh timer and the display's paint run on this thread against the audio.
    EditorPtr editor (p.createEditorIfNeeded());
    auto& window = dynamic_cast<QuorvalisPluginAudioProcessorEditor&> (*editor);

    std::atomic<bool> stop { false };
    std::atomic<bool> finite { true };
    std::atomic<int> blocks { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> block (2, 256);
        juce::MidiBuffer midi;
        juce::int64 position = 0;

        while (! stop.load())
        {
            fill (block, position, sine);
            p.processBlock (block, midi);
            position += 256;
            if (! allFinite (block))
                finite = false;
            ++blocks;
        }
    });

    // The editor's lock toggling and overlay reads, against the host thread's save and restore.
    std::thread lockToggling ([&]
    {
        juce::Random choice (99);
        int seen = 0;
        while (! stop.load())
        {
            p.parameterLockFlags.toggle (choice.nextInt (p.parameterLockFlags.size()), 3);
            seen += p.parameterLockFlags[choice.nextInt (p.parameterLockFlags.size())];
        }
        juce::ignoreUnused (seen);
    });

    // A number of rounds, each against blocks being processed, however slow the machine.
    juce::Random random (1234);
    const auto& parameters = p.getParameters();
    int rounds = 0;

    const bool done = waitFor ([&]
    {
        for (int k = 0; k < 20; ++k)
            parameters[random.nextInt (parameters.size())]->setValueNotifyingHost (random.nextFloat());

        window.timerCallback();
        window.display->createComponentSnapshot (window.display->getLocalBounds());
        qvl::test::pumpMessages (1);

        juce::MemoryBlock state;
        p.getStateInformation (state);
        if (rounds % 10 == 9)
            p.setStateInformation (initialState.getData(), (int) initialState.getSize());
        else
            p.setStateInformation (state.getData(), (int) state.getSize());

        return ++rounds >= 40 && blocks.load() >= 200;
    });

    stop = true;
    audio.join();
    lockToggling.join();

    EXPECT_TRUE (done) << rounds << " rounds, " << blocks.load() << " blocks";
    EXPECT_TRUE (finite.load());

    // Still working afterwards.
    const auto out = run (p, 4096, 256);
    EXPECT_TRUE (allFinite (out));
}

// What hosts do on their own threads while the editor is open: one restores the state in a loop,
// another changes the sample rate between blocks. The editor refreshes and paints meanwhile, then
// closes while the restores still run; the last restored macro name must still reach the labels.
TEST (AudioPathThreads, HostThreadsRestoreAndPrepareWhileTheEditorPaints)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 256);

    // Two states that differ in a macro name, so every restore changes what a label shows.
    std::array<juce::MemoryBlock, 2> states;
    for (size_t i = 0; i < states.size(); ++i)
    {
        p.programProperties.setMacroName (0, "Name " + juce::String ((int) i));
        p.getStateInformation (states[i]);
    }

    EditorPtr editor (p.createEditorIfNeeded());
    auto* window = dynamic_cast<QuorvalisPluginAudioProcessorEditor*> (editor.get());
    ASSERT_NE (window, nullptr);

    std::mutex callback; // a host never prepares while it processes
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, restores { 0 }, preparations { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> block (2, 256);
        juce::MidiBuffer midi;
        for (juce::int64 position = 0; ! stop.load(); position += 256, ++blocks)
        {
            fill (block, position, sine);
            const std::lock_guard<std::mutex> lock (callback);
            p.processBlock (block, midi);
        }
    });

    std::thread restoring ([&]
    {
        for (size_t i = 0; ! stop.load(); ++i, ++restores)
            p.setStateInformation (states[i % 2].getData(), (int) states[i % 2].getSize());
    });

    std::thread preparing ([&]
    {
        const double rates[] = { 44100.0, 96000.0, 48000.0 };
        for (size_t i = 0; ! stop.load(); ++i, ++preparations)
        {
            // Some blocks between preparations, as a host's would have.
            for (const int seen = blocks; ! stop.load() && blocks < seen + 2;)
                std::this_thread::yield();

            const std::lock_guard<std::mutex> lock (callback);
            prepare (p, rates[i % 3], 256);
        }
    });

    // Counted in events, not time; the deadline only ends a broken run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (120);
    const auto until = [&] (auto done)
    {
        while (! done() && std::chrono::steady_clock::now() < deadline)
        {
            if (window != nullptr)
            {
                window->timerCallback();
                window->display->createComponentSnapshot (window->display->getLocalBounds());
            }
            qvl::test::pumpMessages (1);
        }
        return done();
    };

    int paints = 0;
    EXPECT_TRUE (until ([&] { return ++paints > 40 && restores > 100 && preparations > 20 && blocks > 20; }));

    // Closing (and opening again) while the restores run.
    for (int round = 0; round < 10; ++round)
    {
        const int restoresBefore = restores;
        window = nullptr;
        editor.reset();
        EXPECT_TRUE (until ([&] { return restores > restoresBefore + 2; }));
        editor.reset (p.createEditorIfNeeded());
        window = dynamic_cast<QuorvalisPluginAudioProcessorEditor*> (editor.get());
        EXPECT_TRUE (until ([&] { return restores > restoresBefore + 4; }));
    }

    window = nullptr;
    editor.reset();

    stop = true;
    for (auto* thread : { &audio, &restoring, &preparing })
        thread->join();

    // The last restore wins, in the state and in a newly opened editor.
    const auto last = "Name " + juce::String ((restores.load() - 1) % 2);
    EXPECT_EQ (p.programProperties.getMacroNames()[0], last);
    EditorPtr reopened (p.createEditorIfNeeded());
    auto& macro = *dynamic_cast<QuorvalisPluginAudioProcessorEditor&> (*reopened).knobsByParameter[p.macroParameters[0]->getParameterIndex()];
    EXPECT_TRUE (qvl::test::pumpMessagesUntil ([&] { return macro.nameLabel.getText() == last; })) << macro.nameLabel.getText();
}

// What a host and a musician do at once: two host threads save and restore the state in turn
// while the message thread loads presets, takes MIDI preset changes and presses "Reset", with the
// editor open and audio running. Under the sanitizers this must stay silent; every save must
// still be a whole state.
TEST (AudioPathThreads, PresetsAndResetWhileHostThreadsSaveAndRestore)
{
    QuorvalisPluginAudioProcessor p;
    prepare (p, 48000.0, 256);
    ScopedPresetFolder folder (p.presets);
    const auto presets = makeNumberedPresets (p, 4);
    ASSERT_EQ (presets.size(), 4);

    std::array<juce::MemoryBlock, 2> states;
    for (size_t i = 0; i < states.size(); ++i)
    {
        p.programProperties.setMacroName (0, "Host " + juce::String ((int) i));
        p.parameterLockFlags.set (3, (int) i * 2);
        p.getStateInformation (states[i]);
    }

    EditorPtr editor (p.createEditorIfNeeded());
    auto* window = dynamic_cast<QuorvalisPluginAudioProcessorEditor*> (editor.get());
    ASSERT_NE (window, nullptr);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, restores { 0 }, badSaves { 0 };

    std::thread audio ([&]
    {
        juce::AudioBuffer<float> block (2, 256);
        juce::MidiBuffer midi;
        for (juce::int64 position = 0; ! stop.load(); position += 256, ++blocks)
        {
            midi.clear();
            if (blocks % 8 == 0)
                midi.addEvent (juce::MidiMessage::controllerEvent (1, 102, (blocks / 8) % 4), 0);
            fill (block, position, sine);
            p.processBlock (block, midi);
        }
    });

    const auto host = [&] (size_t first)
    {
        for (size_t i = first; ! stop.load(); ++i, ++restores)
        {
            juce::MemoryBlock saved;
            p.getStateInformation (saved);
            const auto tree = juce::ValueTree::readFromData (saved.getData(), saved.getSize());
            const auto* flags = tree.getChildWithName ("PARAMETER_LOCK").getProperty ("parameter_lock_flags").getArray();
            if (! tree.hasType ("PARAMETERS") || flags == nullptr || flags->size() != p.parameterLockFlags.size()
                || tree.getChildWithName ("PROGRAM_PROPERTIES").getNumProperties() != 4)
                ++badSaves;

            p.setStateInformation (states[i % 2].getData(), (int) states[i % 2].getSize());
        }
    };

    std::thread hostA (host, 0), hostB (host, 1);

    int rounds = 0, midiLoads = 0, resets = 0;
    const bool done = waitFor ([&]
    {
        window->timerCallback();
        window->display->createComponentSnapshot (window->display->getLocalBounds());

        p.presets.loadPreset (presets.getReference (rounds % presets.size()).file);

        if (p.presets.pendingPresetIndex.load() >= 0)
            ++midiLoads;
        p.presets.timerCallback();

        if (rounds % 5 == 4)
        {
            window->resetAllParameters();
            ++resets;
        }

        pumpMessages (1);
        ++rounds;
        return rounds >= 40 && midiLoads >= 8 && resets >= 8 && restores >= 100 && blocks >= 200;
    }, 120000);

    stop = true;
    for (auto* thread : { &audio, &hostA, &hostB })
        thread->join();

    EXPECT_TRUE (done) << rounds << " rounds, " << midiLoads << " MIDI loads, " << restores.load() << " restores, "
                       << blocks.load() << " blocks";
    EXPECT_EQ (badSaves.load(), 0);

    // Still whole and working afterwards.
    editor.reset();
    p.setStateInformation (states[1].getData(), (int) states[1].getSize());
    EXPECT_EQ (p.programProperties.getMacroNames()[0], "Host 1");
    EXPECT_EQ (p.parameterLockFlags[3], 2);
    EXPECT_TRUE (allFinite (run (p, 4096, 256)));
}
