#include "platform/SystemInstaller.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace hub
{
    namespace
    {
        // Starts `command` + the package path as a child process and follows it with
        // non-blocking waits.
        class ProcessLauncher final : public SystemInstaller
        {
        public:
            explicit ProcessLauncher (juce::StringArray commandIn) : command (std::move (commandIn)) {}

            ~ProcessLauncher() override { reapIfEnded(); }

            bool open (const juce::File& package) override
            {
                reapIfEnded();
                pid = -1;
                code = -1;
                ended = false;

                if (command.isEmpty())
                    return false;

                juce::StringArray args (command);
                args.add (package.getFullPathName());

                std::vector<std::string> storage;
                for (auto& a : args)
                    storage.push_back (a.toStdString());
                std::vector<char*> argv;
                for (auto& s : storage)
                    argv.push_back (s.data());
                argv.push_back (nullptr);

                pid_t child = -1;
                if (posix_spawn (&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
                    return false;
                pid = child;
                return true;
            }

            State poll() override
            {
                if (pid <= 0)
                    return State::signalled;
                if (ended)
                    return code >= 0 ? State::exited : State::signalled;

                int status = 0;
                const auto r = ::waitpid (pid, &status, WNOHANG | WUNTRACED);
                if (r == 0)
                    return State::running;
                if (r < 0)
                {
                    if (errno == EINTR)
                        return State::running;
                    ended = true;   // lost track of it (already reaped elsewhere)
                    return State::signalled;
                }
                if (WIFSTOPPED (status))
                    return State::stopped;
                ended = true;
                if (WIFEXITED (status))
                {
                    code = WEXITSTATUS (status);
                    return State::exited;
                }
                return State::signalled;
            }

            int exitCode() const override { return code; }

        private:
            void reapIfEnded()
            {
                if (pid > 0 && ! ended)
                {
                    int status = 0;
                    if (::waitpid (pid, &status, WNOHANG) == pid)
                        ended = true;
                }
            }

            juce::StringArray command;
            pid_t pid = -1;
            int code = -1;
            bool ended = false;
        };
    }

    std::shared_ptr<SystemInstaller> SystemInstaller::createLauncher (const juce::StringArray& command)
    {
        return std::make_shared<ProcessLauncher> (command);
    }

    std::shared_ptr<SystemInstaller> SystemInstaller::createSystem()
    {
       #if JUCE_MAC
        return createLauncher ({ "/usr/bin/open", "-W" });
       #else
        // No installer application for these packages here: every launch fails.
        return createLauncher ({});
       #endif
    }
}
