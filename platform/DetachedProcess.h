#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace hub
{
    // Starts a program that outlives the application: it leads a session of its own
    // (no controlling terminal), its standard input, output and error are /dev/null,
    // it inherits no other file descriptors, and it gets the application's
    // environment. Nobody waits for it.
    class DetachedProcess
    {
    public:
        virtual ~DetachedProcess() = default;

        // Starts args[0] (a full path) with the rest of `args` as its arguments.
        // Answers the new process id, or 0 when it could not be started.
        virtual int spawn (const juce::StringArray& args) = 0;

        // The real thing: posix_spawn with a new session and a closed descriptor table
        // where the system offers them (macOS: POSIX_SPAWN_SETSID and
        // POSIX_SPAWN_CLOEXEC_DEFAULT; Linux with glibc 2.34 or later:
        // POSIX_SPAWN_SETSID and a close-from action), fork + setsid otherwise.
        static int spawnNow (const juce::StringArray& args);

        // An object whose spawn() is spawnNow().
        static std::shared_ptr<DetachedProcess> createSystem();
    };
}
