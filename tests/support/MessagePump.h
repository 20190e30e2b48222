#pragma once

#include <juce_events/juce_events.h>

#include <chrono>
#include <thread>

namespace juce
{
    // The framework's own message pump; this build has no modal loops, so no runDispatchLoopUntil.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace qvl::test
{
    // Dispatches queued messages (change messages, parameter updates, timers) until the predicate
    // holds; the deadline only stops a broken test from waiting for ever.
    template <typename Predicate>
    bool pumpMessagesUntil (Predicate done, juce::uint32 milliseconds = 30000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + milliseconds;

        while (! done() && juce::Time::getMillisecondCounter() < deadline)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);

        return done();
    }

    // Delivers everything already posted, however long that takes on a busy machine, then
    // whatever arrives in the time given.
    inline void pumpMessages (juce::uint32 milliseconds = 20)
    {
        for (int i = 0; i < 100000 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
        {
        }

        pumpMessagesUntil ([] { return false; }, milliseconds);
    }

    // Calls the predicate until it holds, sleeping between calls; as above, the deadline only
    // ends a broken test.
    template <typename Predicate>
    bool waitFor (Predicate done, int milliseconds = 60000, int pollMilliseconds = 1)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (milliseconds);

        while (! done())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;

            std::this_thread::sleep_for (std::chrono::milliseconds (pollMilliseconds));
        }

        return true;
    }
}
