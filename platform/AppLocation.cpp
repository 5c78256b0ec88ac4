#include "platform/AppLocation.h"

namespace hub
{
    juce::File AppLocation::applicationsFolder()
    {
       #if JUCE_MAC
        return juce::File ("/Applications");
       #else
        return juce::File ("/opt/tarvo-fernhall");
       #endif
    }

    AppLocation AppLocation::forRunning (const juce::File& running)
    {
        AppLocation where;
        where.running = running;
        where.installed = applicationsFolder().getChildFile (running.getFileName());
        return where;
    }

    AppLocation AppLocation::current()
    {
        // On macOS this is the bundle folder; on Linux the framework answers with
        // the executable itself.
        return forRunning (juce::File::getSpecialLocation (juce::File::currentApplicationFile));
    }
}
