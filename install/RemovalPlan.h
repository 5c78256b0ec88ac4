#pragma once

#include <juce_core/juce_core.h>

namespace hub
{
    // What a removal would delete, and what it leaves alone and why.
    struct RemovalPlan
    {
        juce::Array<juce::File> userScope;     // deleted directly
        juce::Array<juce::File> systemScope;   // deleted with administrator permission
        juce::StringArray skipped;             // full path + " (" + reason + ")"

        int count() const { return userScope.size() + systemScope.size(); }
        bool needsPassword() const { return ! systemScope.isEmpty(); }

        // The removal-plan document: "count", "needsPassword", "paths" (user, then
        // system), "skipped", in this order.
        juce::var toVar() const;

        // The document for a key the product table does not know: {"count": 0}.
        static juce::var unknownProductDocument();
    };
}
