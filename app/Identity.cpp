#include "app/Identity.h"

namespace hub::identity
{
    juce::String buildStamp()
    {
        // __DATE__ pads a one-digit day with a space ("Sep  1 2026"); keep a single space.
        juce::String date (__DATE__);
        return date.replace ("  ", " ") + " " + __TIME__;
    }

    juce::String welcomeLine()
    {
        return juce::String (appName) + " " + appVersion + " (" + buildStamp() + ")";
    }
}
