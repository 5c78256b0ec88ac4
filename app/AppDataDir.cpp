#include "app/Identity.h"

namespace hub
{
    juce::File appDataDir()
    {
        auto dir = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                       .getChildFile ("TARVO")
                       .getChildFile ("Fern Hall");
        (void) dir.createDirectory();
        return dir;
    }
}
