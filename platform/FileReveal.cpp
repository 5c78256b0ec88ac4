#include "platform/FileReveal.h"

#if ! JUCE_MAC
 #include <spawn.h>
 #include <sys/wait.h>
 extern char** environ;
#endif

namespace hub
{
    namespace
    {
        class DesktopReveal final : public FileReveal
        {
        public:
            void reveal (const juce::File& file) override
            {
               #if JUCE_MAC
                file.revealToUser();
               #else
                // The file manager opens the folder holding the file. The path goes to
                // xdg-open as an argument of its own, never through shell parsing; the
                // short-lived shell only puts xdg-open in the background.
                const juce::File opener ("/usr/bin/xdg-open");
                if (! opener.existsAsFile())
                    return;

                auto folder = file.isDirectory() ? file : file.getParentDirectory();
                std::string path = folder.getFullPathName().toStdString();
                const char* argv[] = { "/bin/sh", "-c", "/usr/bin/xdg-open \"$1\" >/dev/null 2>&1 &", "sh", path.c_str(), nullptr };
                pid_t child = -1;
                if (posix_spawn (&child, "/bin/sh", nullptr, nullptr, const_cast<char**> (argv), environ) == 0)
                {
                    int status = 0;
                    ::waitpid (child, &status, 0);
                }
               #endif
            }
        };
    }

    std::shared_ptr<FileReveal> FileReveal::createSystem()
    {
        return std::make_shared<DesktopReveal>();
    }
}
