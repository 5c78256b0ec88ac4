#pragma once

// Runs the framework's message loop on the test's thread (the message thread of the
// test program) until a condition holds or the time is up.
#include <juce_events/juce_events.h>

#include <functional>

namespace juce
{
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace test
{
    inline bool pumpUntil (const std::function<bool()>& done, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        while (! done())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (2);
        }
        return true;
    }

    inline void pumpFor (int ms)
    {
        pumpUntil ([] { return false; }, ms);
    }
}
