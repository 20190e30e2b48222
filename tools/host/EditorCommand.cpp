#include "EditorCommand.h"
#include "RenderCommand.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <iostream>
#include <memory>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

namespace
{
    // Set by SIGTERM while the editors are open: the session then ends as if its time were up.
    std::atomic<bool> endRequested { false };
    static_assert (std::atomic<bool>::is_always_lock_free, "read in a signal handler");

    extern "C" void requestEnd (int) { endRequested.store (true); }

    // Set by SIGUSR1: the session then says how far each instance has played, so that a caller
    // can wait for the audio rather than for the clock.
    std::atomic<bool> reportRequested { false };

    extern "C" void requestReport (int) { reportRequested.store (true); }

    double now() { return juce::Time::getMillisecondCounterHiRes(); }

    // Lets the message loop run for a while in short slices, so a SIGTERM ends the wait soon.
    void dispatchFor (double milliseconds)
    {
        const auto until = now() + milliseconds;

        for (double left; ! endRequested.load() && (left = until - now()) > 0.0;)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (juce::jlimit (1, 50, (int) left));
    }

    double threadCpuMs (pthread_t thread)
    {
        clockid_t clock {};
        timespec t {};

        if (pthread_getcpuclockid (thread, &clock) != 0 || clock_gettime (clock, &t) != 0)
            return -1.0;

        return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
    }

    double processCpuMs()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        const auto ms = [] (const timeval& t) { return (double) t.tv_sec * 1000.0 + (double) t.tv_usec / 1000.0; };
        return ms (usage.ru_utime) + ms (usage.ru_stime);
    }

    // As a host's audio callback runs: ahead of the editor and everything else, where the system
    // lets us. Without the right to, the thread runs at normal priority and says so.
    bool makeThisThreadRealtime()
    {
        sched_param parameters {};
        parameters.sched_priority = juce::jmin (80, sched_get_priority_max (SCHED_FIFO));
        return pthread_setschedparam (pthread_self(), SCHED_FIFO, &parameters) == 0;
    }

    //==============================================================================
    // One instance on screen: its editor window, and its own audio thread that plays the input
    // through it paced by the clock, as a host's audio callback is.
    class LiveInstance
    {
    public:
        LiveInstance (juce::AudioPluginInstance& instanceToUse, HostOptions ownOptions, double sampleRate,
                      juce::String name, juce::Point<int> position)
            : instance (instanceToUse), options (std::move (ownOptions)), audio (instanceToUse, options, sampleRate),
              windowName (std::move (name)), windowPosition (position)
        {
        }

        ~LiveInstance()
        {
            editor.reset();
            stopAudio();
        }

        int prepare() { return audio.prepare (true); }

        void startAudio()
        {
            started = now();
            audioThread = std::thread ([this]
            {
                realtime = makeThisThreadRealtime();
                const double period = options.blockSize / audio.getSampleRate() * 1000.0;
                double previousStart = -1.0;

                while (! stop.load())
                {
                    const bool paced = ! draining.load();
                    const double start = now();

                    // More than one and a half periods between two blocks' starts: a host's
                    // output would have run dry in between.
                    if (paced && previousStart >= 0.0)
                    {
                        const double gap = start - previousStart;
                        largestGap = std::max (largestGap.load(), gap);
                        lateBlocks += gap > 1.5 * period ? 1 : 0;
                    }

                    previousStart = start;

                    if (! audio.processNextBlock())
                        break;

                    played = audio.getPosition();

                    const double due = started + (double) audio.getPosition() / audio.getSampleRate() * 1000.0;
                    const double wait = due - now();

                    if (paced && wait > 0.0)
                        std::this_thread::sleep_for (std::chrono::microseconds ((juce::int64) (wait * 1000.0)));
                }

                // Its clock goes with it: kept for a reading after the input ran out.
                cpuAtEnd = threadCpuMs (pthread_self());
            });
        }

        juce::int64 getPlayed() const { return played.load(); }

        // The audio thread's own processor time so far.
        double audioCpuMs()
        {
            if (const auto ended = cpuAtEnd.load(); ended >= 0.0)
                return ended;

            // A failed reading means the thread ended in between, its time already kept.
            const auto running = threadCpuMs (audioThread.native_handle());
            return running >= 0.0 ? running : cpuAtEnd.load();
        }

        bool openEditor()
        {
            editor = openEditorWindow (instance, windowName, windowPosition);
            return editor != nullptr;
        }

        void closeEditor() { editor.reset(); }

        juce::Rectangle<int> editorBounds() const { return editor != nullptr ? editor->getBounds() : juce::Rectangle<int>(); }

        // Stops the audio and writes the output and the level report. With playToEnd, whatever
        // input is left is processed at once, so the output is always complete however slow the
        // machine was; otherwise (a SIGTERM) it ends where it is.
        int finish (bool playToEnd)
        {
            if (playToEnd)
            {
                draining = true;

                if (audioThread.joinable())
                    audioThread.join();
            }

            stopAudio();
            const int result = audio.finish (now() - started);

            std::cout << "audio thread: " << (realtime ? "real-time (SCHED_FIFO)" : "normal priority") << '\n'
                      << "largest block gap: " << juce::String (largestGap.load(), 1) << " ms (block period "
                      << juce::String (options.blockSize / audio.getSampleRate() * 1000.0, 1) << " ms)\n"
                      << "late blocks: " << lateBlocks.load() << '\n';
            return result;
        }

    private:
        void stopAudio()
        {
            stop = true;

            if (audioThread.joinable())
                audioThread.join();
        }

        juce::AudioPluginInstance& instance;
        const HostOptions options;
        RenderSession audio;
        const juce::String windowName;
        const juce::Point<int> windowPosition;
        std::unique_ptr<juce::AudioProcessorEditor> editor;
        std::thread audioThread;
        std::atomic<bool> stop { false }, draining { false }, realtime { false };
        std::atomic<double> largestGap { 0.0 }, cpuAtEnd { -1.0 };
        std::atomic<int> lateBlocks { 0 };
        std::atomic<juce::int64> played { 0 };
        double started = 0.0;
    };

    //==============================================================================
    // A host's automation: from a thread of its own, every few milliseconds, a slow sweep of one
    // knob and a switch flipped four times a second, on every instance a little out of step.
    class Automation
    {
    public:
        struct Lane
        {
            juce::AudioProcessorParameter* sweep = nullptr;
            juce::AudioProcessorParameter* toggle = nullptr;
        };

        static constexpr const char* sweepId = "stream_1_position";
        static constexpr const char* toggleId = "stream_2_is_enabled";

        explicit Automation (std::vector<Lane> lanesToMove) : lanes (std::move (lanesToMove)) {}

        ~Automation() { stop(); }

        void start()
        {
            thread = std::thread ([this] { run(); });
        }

        void stop()
        {
            stopping = true;

            if (thread.joinable())
                thread.join();
        }

        juce::int64 getChangeCount() const { return changes.load(); }

    private:
        void run()
        {
            const auto startedAt = now();

            while (! stopping.load())
            {
                const double seconds = (now() - startedAt) / 1000.0;

                for (size_t i = 0; i < lanes.size(); ++i)
                {
                    const double offset = 0.3 * (double) i;
                    const auto sweep = (float) (0.5 + 0.5 * std::sin (juce::MathConstants<double>::twoPi * 0.5 * (seconds + offset)));
                    const auto toggle = ((juce::int64) ((seconds + offset) * 4.0) % 2 == 0) ? 1.0f : 0.0f;

                    lanes[i].sweep->setValueNotifyingHost (sweep);
                    ++changes;

                    if (lanes[i].toggle->getValue() != toggle)
                    {
                        lanes[i].toggle->setValueNotifyingHost (toggle);
                        ++changes;
                    }
                }

                std::this_thread::sleep_for (std::chrono::milliseconds (5));
            }
        }

        const std::vector<Lane> lanes;
        std::thread thread;
        std::atomic<bool> stopping { false };
        std::atomic<juce::int64> changes { 0 };
    };

    std::unique_ptr<Automation> makeAutomation (const std::vector<PluginSession*>& sessions)
    {
        std::vector<Automation::Lane> lanes;
        juce::String error;

        for (auto* session : sessions)
        {
            Automation::Lane lane { session->findParameter (Automation::sweepId, error),
                                    session->findParameter (Automation::toggleId, error) };

            if (lane.sweep == nullptr || lane.toggle == nullptr)
            {
                std::cerr << "error: cannot automate: " << error << '\n';
                return nullptr;
            }

            lanes.push_back (lane);
        }

        return std::make_unique<Automation> (std::move (lanes));
    }

    juce::String windowName (size_t index, size_t count)
    {
        return count == 1 ? juce::String ("qvl_host editor") : "qvl_host editor " + juce::String ((int) index + 1);
    }
}

int runEditor (const std::vector<PluginSession*>& sessions, const HostOptions& options, double sampleRate)
{
    if (! checkDisplay())
        return ExitCode::skipped;

    std::vector<std::unique_ptr<LiveInstance>> live;

    for (size_t i = 0; i < sessions.size(); ++i)
    {
        auto& instance = sessions[i]->getInstance();

        if (! instance.hasEditor())
        {
            std::cerr << "error: the plug-in has no editor\n";
            return ExitCode::failed;
        }

        // Only the first instance writes the output file.
        auto own = options;
        if (i > 0)
            own.outputFile.clear();

        const auto offset = 40 * (int) i;
        live.push_back (std::make_unique<LiveInstance> (instance, std::move (own), sampleRate, windowName (i, sessions.size()),
                                                        juce::Point<int> (offset, offset)));

        if (const int result = live.back()->prepare(); result != ExitCode::ok)
            return result;
    }

    std::unique_ptr<Automation> automation;

    if (options.reopenCount > 0 && (automation = makeAutomation (sessions)) == nullptr)
        return ExitCode::failed;

    // Before any window shows: whoever sees one may ask at once.
    std::signal (SIGUSR1, requestReport);

    for (auto& instance : live)
        instance->startAudio();

    for (auto& instance : live)
        if (! instance->openEditor())
        {
            std::cerr << "error: the plug-in did not create its editor\n";
            return ExitCode::failed;
        }

    if (automation != nullptr)
        automation->start();

    std::signal (SIGTERM, requestEnd);

    // The reopenings divide the time into equal parts; each closes and reopens the editors one
    // after another, with a little time between, as a person would. All of them happen however
    // slow the machine is, each after the automation has moved on, so a run may take longer.
    const auto openedAt = now();
    const auto cpuAtOpen = processCpuMs();
    std::vector<double> audioCpuAtOpen;
    for (auto& instance : live)
        audioCpuAtOpen.push_back (instance->audioCpuMs());

    const auto length = options.seconds * 1000.0;
    constexpr juce::int64 changesBetweenReopenings = 20;
    juce::int64 changesAtLastReopening = 0;
    int reopened = 0;
    int result = ExitCode::ok;

    while (! endRequested.load() && result == ExitCode::ok)
    {
        if (reportRequested.exchange (false))
        {
            std::cout << "played:";
            for (auto& instance : live)
                std::cout << ' ' << instance->getPlayed();
            std::cout << std::endl;
        }

        const auto elapsed = now() - openedAt;

        if (elapsed >= length && reopened >= options.reopenCount)
            break;

        const auto nextReopening = reopened < options.reopenCount ? length * (reopened + 1) / (options.reopenCount + 1) : length;
        const bool automationMovedOn = automation == nullptr
                                       || automation->getChangeCount() >= changesAtLastReopening + changesBetweenReopenings;

        if (elapsed < nextReopening || ! automationMovedOn)
        {
            dispatchFor (juce::jlimit (1.0, 50.0, nextReopening - elapsed));
            continue;
        }

        for (auto& instance : live)
        {
            instance->closeEditor();
            dispatchFor (50.0);

            if (! instance->openEditor())
            {
                std::cerr << "error: the plug-in did not create its editor again\n";
                result = ExitCode::failed;
                break;
            }
        }

        ++reopened;
        changesAtLastReopening = automation != nullptr ? automation->getChangeCount() : 0;
    }

    // The processor time of everything but the audio threads (message thread, the plug-in's own
    // threads, any renderer's), in cores over the time the editors were open.
    const auto openMs = now() - openedAt;
    double audioCpu = 0.0;
    for (size_t i = 0; i < live.size(); ++i)
        audioCpu += live[i]->audioCpuMs() - audioCpuAtOpen[i];
    const auto cpuOutsideAudio = (processCpuMs() - cpuAtOpen - audioCpu) / juce::jmax (1.0, openMs);

    std::signal (SIGTERM, SIG_DFL);
    std::signal (SIGUSR1, SIG_IGN);

    if (automation != nullptr)
    {
        automation->stop();
        std::cout << "automated changes: " << automation->getChangeCount() << '\n';
    }

    if (options.reopenCount > 0)
        std::cout << "editors reopened: " << reopened << '\n';

    std::cout << "cpu outside the audio threads: " << juce::String (cpuOutsideAudio, 3) << " cores over "
              << juce::String (openMs / 1000.0, 1) << " s\n";

    for (size_t i = 0; i < live.size(); ++i)
    {
        const auto size = live[i]->editorBounds();
        std::cout << (live.size() == 1 ? juce::String ("editor") : "editor " + juce::String ((int) i + 1))
                  << " size: " << size.getWidth() << " x " << size.getHeight() << '\n';
        live[i]->closeEditor();
    }

    const bool playToEnd = ! endRequested.load();

    for (size_t i = 0; i < live.size(); ++i)
    {
        if (live.size() > 1)
            std::cout << "# instance " << (i + 1) << '\n';

        const int finished = live[i]->finish (playToEnd);

        if (result == ExitCode::ok)
            result = finished;
    }

    return result;
}
