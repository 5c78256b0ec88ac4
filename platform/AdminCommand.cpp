#include "platform/AdminCommand.h"

namespace hub
{
    juce::String AdminCommand::appleScriptFor (const juce::String& shellCommand)
    {
        auto escaped = shellCommand.replace ("\\", "\\\\").replace ("\"", "\\\"");
        return "do shell script \"" + escaped + "\" with administrator privileges";
    }

    namespace
    {
        AdminCommand::Outcome runProcess (const juce::StringArray& args)
        {
            AdminCommand::Outcome out;
            juce::ChildProcess process;
            if (! process.start (args, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
                return out;

            out.started = true;
            out.output = process.readAllProcessOutput();
            process.waitForProcessToFinish (AdminCommand::waitMs);
            out.exitCode = (int) process.getExitCode(); // 0 when it has not ended in time
            return out;
        }

       #if JUCE_MAC
        class OsascriptCommand final : public AdminCommand
        {
        public:
            Outcome run (const juce::String& shellCommand) override
            {
                return runProcess ({ "/usr/bin/osascript", "-e", appleScriptFor (shellCommand) });
            }
        };
       #else
        // polkit's pkexec asks for an administrator's password through the desktop's
        // authentication agent. It ends with 126 when the prompt was dismissed or the
        // request not authorised and 127 when authentication failed; both are reported
        // as a refusal.
        class PkexecCommand final : public AdminCommand
        {
        public:
            Outcome run (const juce::String& shellCommand) override
            {
                const juce::File pkexec ("/usr/bin/pkexec");
                if (! pkexec.existsAsFile())
                    return {};

                auto out = runProcess ({ pkexec.getFullPathName(), "/bin/sh", "-c", shellCommand });
                if (out.started && (out.exitCode == 126 || out.exitCode == 127))
                    out.output << "\nUser canceled (" << out.exitCode << ")";
                return out;
            }
        };
       #endif
    }

    std::shared_ptr<AdminCommand> AdminCommand::createSystem()
    {
       #if JUCE_MAC
        return std::make_shared<OsascriptCommand>();
       #else
        return std::make_shared<PkexecCommand>();
       #endif
    }
}
