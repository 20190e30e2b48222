#pragma once

#include <juce_events/juce_events.h>

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
    bool pumpMessagesUntil (Predicate done, juce::uint32 milliseconds = 5000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + milliseconds;

        while (! done() && juce::Time::getMillisecondCounter() < deadline)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);

        return done();
    }

    inline void pumpMessages (juce::uint32 milliseconds = 20)
    {
        pumpMessagesUntil ([] { return false; }, milliseconds);
    }
}
