#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace hub
{
    // Runs one shell command with administrator rights after the system has asked the
    // user for permission.
    class AdminCommand
    {
    public:
        struct Outcome
        {
            bool started = false;   // false: the permission request could not be started
            juce::String output;    // everything printed, standard error included
            int exitCode = 0;       // 0 when the command ran (or had not ended in time)
        };

        virtual ~AdminCommand() = default;

        // Runs `shellCommand` (plain /bin/sh syntax). A refused or dismissed permission
        // request shows as "User canceled" / "-128" in the output and a non-zero code.
        virtual Outcome run (const juce::String& shellCommand) = 0;

        // How long the command may take, the user's answer to the prompt included.
        static constexpr int waitMs = 300000;

        // The AppleScript line that runs `shellCommand` with administrator privileges:
        // backslashes doubled, then double quotes escaped, inside an AppleScript string.
        static juce::String appleScriptFor (const juce::String& shellCommand);

        // This platform's elevated runner: on macOS /usr/bin/osascript -e <script>;
        // on Linux the shell command through pkexec (polkit's password prompt).
        static std::shared_ptr<AdminCommand> createSystem();
    };
}
