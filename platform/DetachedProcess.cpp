#include "platform/DetachedProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if JUCE_MAC
 #include <crt_externs.h>
 #define FERNHALL_ENVIRON (*_NSGetEnviron())
#else
 extern char** environ;
 #define FERNHALL_ENVIRON environ
#endif

#if JUCE_MAC
 #define FERNHALL_SPAWN_DETACHED 1
#elif defined (__GLIBC__) && defined (POSIX_SPAWN_SETSID) \
      && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
 #define FERNHALL_SPAWN_DETACHED 1
#else
 #define FERNHALL_SPAWN_DETACHED 0
#endif

namespace hub
{
    namespace
    {
        // Signals the child should see with their default action, whatever the
        // application did with them.
        void defaultSignals (sigset_t& set)
        {
            sigemptyset (&set);
            for (int s : { SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2 })
                sigaddset (&set, s);
        }

        struct Argv
        {
            std::vector<std::string> storage;
            std::vector<char*> pointers;

            explicit Argv (const juce::StringArray& args)
            {
                for (auto& a : args)
                    storage.push_back (a.toStdString());
                for (auto& s : storage)
                    pointers.push_back (s.data());
                pointers.push_back (nullptr);
            }
        };

       #if FERNHALL_SPAWN_DETACHED
        int spawnWithAttributes (const Argv& argv)
        {
            posix_spawnattr_t attr;
            posix_spawn_file_actions_t actions;
            if (posix_spawnattr_init (&attr) != 0)
                return 0;
            if (posix_spawn_file_actions_init (&actions) != 0)
            {
                posix_spawnattr_destroy (&attr);
                return 0;
            }

            short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
           #if JUCE_MAC
            flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
           #endif
            sigset_t none, defaults;
            sigemptyset (&none);
            defaultSignals (defaults);

            bool ok = posix_spawnattr_setflags (&attr, flags) == 0
                   && posix_spawnattr_setsigmask (&attr, &none) == 0
                   && posix_spawnattr_setsigdefault (&attr, &defaults) == 0
                   && posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0) == 0
                   && posix_spawn_file_actions_addopen (&actions, 1, "/dev/null", O_WRONLY, 0) == 0
                   && posix_spawn_file_actions_addopen (&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
           #if ! JUCE_MAC
            ok = ok && posix_spawn_file_actions_addclosefrom_np (&actions, 3) == 0;
           #endif

            pid_t pid = 0;
            int rc = ok ? posix_spawn (&pid, argv.pointers[0], &actions, &attr, argv.pointers.data(), FERNHALL_ENVIRON)
                        : -1;

            posix_spawn_file_actions_destroy (&actions);
            posix_spawnattr_destroy (&attr);
            return rc == 0 && pid > 0 ? (int) pid : 0;
        }
       #else
        // Older systems: fork, then in the child a new session, /dev/null on 0-2,
        // every other descriptor closed, and exec. A pipe with close-on-exec tells the
        // parent whether the exec worked.
        int spawnByFork (const Argv& argv)
        {
            int report[2];
            if (::pipe (report) != 0)
                return 0;
            ::fcntl (report[0], F_SETFD, FD_CLOEXEC);
            ::fcntl (report[1], F_SETFD, FD_CLOEXEC);

            sigset_t defaults;
            defaultSignals (defaults);

            pid_t pid = ::fork();
            if (pid == 0)
            {
                ::setsid();
                for (int s = 1; s < NSIG; ++s)
                    if (sigismember (&defaults, s) == 1)
                        ::signal (s, SIG_DFL);
                sigset_t none;
                sigemptyset (&none);
                ::sigprocmask (SIG_SETMASK, &none, nullptr);

                int nullIn = ::open ("/dev/null", O_RDONLY);
                int nullOut = ::open ("/dev/null", O_WRONLY);
                if (nullIn < 0 || nullOut < 0)
                    ::_exit (127);
                ::dup2 (nullIn, 0);
                ::dup2 (nullOut, 1);
                ::dup2 (nullOut, 2);

                struct rlimit lim {};
                int top = ::getrlimit (RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                              ? (int) juce::jmin ((rlim_t) 65536, lim.rlim_cur) : 4096;
                for (int fd = 3; fd < top; ++fd)
                    if (fd != report[1])
                        ::close (fd);

                ::execve (argv.pointers[0], argv.pointers.data(), FERNHALL_ENVIRON);
                int err = errno;
                (void) ! ::write (report[1], &err, sizeof (err));
                ::_exit (127);
            }

            ::close (report[1]);
            if (pid < 0)
            {
                ::close (report[0]);
                return 0;
            }

            int err = 0;
            ssize_t n;
            do { n = ::read (report[0], &err, sizeof (err)); } while (n < 0 && errno == EINTR);
            ::close (report[0]);
            if (n > 0)
            {
                // The exec failed; collect the child that has already exited.
                ::waitpid (pid, nullptr, 0);
                return 0;
            }
            return (int) pid;
        }
       #endif
    }

    int DetachedProcess::spawnNow (const juce::StringArray& args)
    {
        if (args.isEmpty() || ! juce::File::isAbsolutePath (args[0]))
            return 0;

        Argv argv (args);
       #if FERNHALL_SPAWN_DETACHED
        return spawnWithAttributes (argv);
       #else
        return spawnByFork (argv);
       #endif
    }

    namespace
    {
        struct SystemDetachedProcess : DetachedProcess
        {
            int spawn (const juce::StringArray& args) override { return spawnNow (args); }
        };
    }

    std::shared_ptr<DetachedProcess> DetachedProcess::createSystem()
    {
        return std::make_shared<SystemDetachedProcess>();
    }
}
