#pragma once

#include <juce_core/juce_core.h>

namespace hub
{
    // Where the running application lives and where the system's package installer
    // puts a new copy of it. The relaunch after a self-update starts the installed
    // copy when there is one, otherwise the one that is running now.
    struct AppLocation
    {
        juce::File running;     // the running application (macOS: its .app bundle; Linux: its executable)
        juce::File installed;   // the same name in the system's application folder

        // The running application and its installed counterpart.
        static AppLocation current();

        // The installed counterpart of `running`: on macOS "/Applications" joined with
        // the bundle's folder name; on Linux applicationsFolder() joined with the
        // executable's name.
        static AppLocation forRunning (const juce::File& running);

        // "/Applications" on macOS; "/opt/tarvo-fernhall", where the Linux package
        // installs the program, elsewhere.
        static juce::File applicationsFolder();
    };
}
