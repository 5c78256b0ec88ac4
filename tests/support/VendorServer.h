#pragma once

// Starts tests/support/vendor_server.py on a free loopback port for the life of the
// object. The test program must run with FERNHALL_TLS_DIR set to the folder the
// "vendor_tls" fixture filled (see tests/support/CMakeLists.txt).
#include <juce_core/juce_core.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test
{
    class VendorServer
    {
    public:
        enum class Mode { trusted, untrustedCertificate, silent };

        explicit VendorServer (const juce::File& root, Mode mode = Mode::trusted)
        {
            const char* tls = std::getenv ("FERNHALL_TLS_DIR");
            const juce::String dir = tls != nullptr ? tls : "";
            const juce::String name = mode == Mode::untrustedCertificate ? "rogue" : "server";

            std::vector<std::string> args { "python3", FERNHALL_VENDOR_SERVER, "--root", root.getFullPathName().toStdString(),
                                            "--cert", (dir + "/" + name + ".crt").toStdString(),
                                            "--key", (dir + "/" + name + ".key").toStdString() };
            if (mode == Mode::silent)
                args.push_back ("--silent");

            // Close-on-exec, so that a second server started later does not inherit this
            // one's standard input and keep it alive after its owner has gone.
            int in[2], out[2];
            if (::pipe (in) != 0 || ::pipe (out) != 0)
                return;
            for (int fd : { in[0], in[1], out[0], out[1] })
                ::fcntl (fd, F_SETFD, FD_CLOEXEC);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_adddup2 (&actions, in[0], 0);
            posix_spawn_file_actions_adddup2 (&actions, out[1], 1);
            posix_spawn_file_actions_addclose (&actions, in[1]);
            posix_spawn_file_actions_addclose (&actions, out[0]);

            std::vector<char*> argv;
            for (auto& a : args) argv.push_back (a.data());
            argv.push_back (nullptr);
            if (posix_spawnp (&pid, "python3", &actions, nullptr, argv.data(), environ) != 0)
                pid = -1;
            posix_spawn_file_actions_destroy (&actions);
            ::close (in[0]);
            ::close (out[1]);
            toServer = in[1];

            FILE* f = ::fdopen (out[0], "r");
            char line[64] = {};
            if (f != nullptr && std::fgets (line, sizeof line, f) != nullptr && std::strncmp (line, "PORT ", 5) == 0)
                portNumber = std::atoi (line + 5);
            if (f != nullptr)
                std::fclose (f);
        }

        ~VendorServer()
        {
            if (toServer >= 0)
                ::close (toServer);
            if (pid > 0)
            {
                for (int i = 0; i < 100; ++i)
                {
                    if (::waitpid (pid, nullptr, WNOHANG) == pid) return;
                    ::usleep (20000);
                }
                ::kill (pid, SIGKILL);
                ::waitpid (pid, nullptr, 0);
            }
        }

        bool running() const { return portNumber > 0; }
        int port() const { return portNumber; }
        juce::String origin() const { return "https://localhost:" + juce::String (portNumber); }

        // The paths requested so far, in order.
        juce::StringArray requests() const
        {
            juce::StringArray list;
            auto stream = juce::URL (origin() + "/__requests").createInputStream (
                juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress).withConnectionTimeoutMs (3000));
            if (stream == nullptr)
                return list;
            const auto parsed = juce::JSON::parse (stream->readEntireStreamAsString());
            if (auto* a = parsed.getArray())
                for (auto& v : *a)
                    list.add (v.toString());
            return list;
        }

        VendorServer (const VendorServer&) = delete;
        VendorServer& operator= (const VendorServer&) = delete;

    private:
        pid_t pid = -1;
        int toServer = -1;
        int portNumber = 0;
    };
}
