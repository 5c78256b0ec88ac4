#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace hub
{
    // Opens an installer package with the system's installer application and lets the
    // caller follow it until that application has closed. One launch at a time per
    // object; a new open() forgets the previous launch.
    class SystemInstaller
    {
    public:
        enum class State
        {
            running,    // still open
            stopped,    // suspended, still there
            exited,     // ended normally; exitCode() holds its code
            signalled   // ended by a signal; no exit code
        };

        virtual ~SystemInstaller() = default;

        // Starts the launch; false when it could not be started at all.
        virtual bool open (const juce::File& package) = 0;

        // Never blocks.
        virtual State poll() = 0;

        // The exit code once poll() has answered `exited`; -1 before.
        virtual int exitCode() const = 0;

        // This platform's launcher: on macOS /usr/bin/open -W <package>. Other systems
        // have no installer application for these packages and report a launch failure.
        static std::shared_ptr<SystemInstaller> createSystem();

        // A launcher that runs `command` followed by the package's full path (no shell
        // involved). An empty command never starts.
        static std::shared_ptr<SystemInstaller> createLauncher (const juce::StringArray& command);
    };
}
