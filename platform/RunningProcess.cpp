#include "platform/RunningProcess.h"

#include <juce_events/juce_events.h>

#include <unistd.h>

namespace hub
{
    int RunningProcess::id()
    {
        return (int) ::getpid();
    }

    void RunningProcess::requestQuit()
    {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    }
}
