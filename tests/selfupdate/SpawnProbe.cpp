// Helper for the detached-start tests.
//   spawn <out> <release>   keeps an extra descriptor open, starts "report" detached,
//                           prints the new process id and its own, and exits at once
//   report <out> <release>  writes how it was started to <out>, waits (at most 20 s)
//                           for <release> to exist, then writes <out>.end and exits
#include "platform/DetachedProcess.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{
    juce::String descriptors()
    {
        juce::StringArray fds;
       #if JUCE_LINUX
        if (auto* d = ::opendir ("/proc/self/fd"))
        {
            const int own = ::dirfd (d);
            while (auto* e = ::readdir (d))
                if (e->d_name[0] != '.' && juce::String (e->d_name).getIntValue() != own)
                    fds.add (e->d_name);
            ::closedir (d);
        }
       #else
        for (int fd = 0; fd < 1024; ++fd)
            if (::fcntl (fd, F_GETFD) != -1)
                fds.add (juce::String (fd));
       #endif
        fds.sortNatural();
        return fds.joinIntoString (",");
    }

    juce::String target (int fd)
    {
        char buf[512] = {};
        auto n = ::readlink (("/proc/self/fd/" + juce::String (fd)).toRawUTF8(), buf, sizeof (buf) - 1);
        return n > 0 ? juce::String (buf, (size_t) n) : juce::String ("?");
    }

    int report (const juce::File& out, const juce::File& release)
    {
        const int parent = (int) ::getppid();
        const int tty = ::open ("/dev/tty", O_RDONLY | O_CLOEXEC);
        juce::String text;
        text << "pid=" << (int) ::getpid() << "\n"
             << "sid=" << (int) ::getsid (0) << "\n"
             << "pgid=" << (int) ::getpgid (0) << "\n"
             << "ppid=" << parent << "\n"
             << "tty=" << (tty >= 0 ? 1 : 0) << "\n"
             << "fds=" << descriptors() << "\n"
             << "stdin=" << target (0) << "\n"
             << "stdout=" << target (1) << "\n"
             << "stderr=" << target (2) << "\n";
        auto tmp = out.getSiblingFile (out.getFileName() + ".tmp");
        tmp.replaceWithText (text);
        tmp.moveFileTo (out);

        for (int i = 0; i < 400 && ! release.exists(); ++i)
            juce::Thread::sleep (50);
        out.getSiblingFile (out.getFileName() + ".end")
            .replaceWithText ("released=" + juce::String (release.exists() ? 1 : 0) + "\n");
        return 0;
    }
}

int main (int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const juce::String mode (argv[1]);
    const juce::File out (juce::String::fromUTF8 (argv[2]));
    const juce::File release (juce::String::fromUTF8 (argv[3]));

    if (mode == "report")
        return report (out, release);

    if (mode == "spawn")
    {
        // Descriptors a careless start would hand on: one without close-on-exec at a
        // high number and one at the next free number.
        int extra = ::open ("/dev/null", O_RDONLY);
        if (extra >= 0)
            ::dup2 (extra, 57);

        auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
        int pid = hub::DetachedProcess::spawnNow ({ self.getFullPathName(), "report",
                                                    out.getFullPathName(), release.getFullPathName() });
        std::printf ("%d %d\n", pid, (int) ::getpid());
        std::fflush (stdout);
        return pid > 0 ? 0 : 1;
    }
    return 2;
}
