#include "install/RemovalPlan.h"

namespace hub
{
    juce::var RemovalPlan::toVar() const
    {
        juce::Array<juce::var> paths, skippedList;
        for (auto& f : userScope)
            paths.add (f.getFullPathName());
        for (auto& f : systemScope)
            paths.add (f.getFullPathName());
        for (auto& s : skipped)
            skippedList.add (s);

        auto* o = new juce::DynamicObject();
        o->setProperty ("count", count());
        o->setProperty ("needsPassword", needsPassword());
        o->setProperty ("paths", paths);
        o->setProperty ("skipped", skippedList);
        return juce::var (o);
    }

    juce::var RemovalPlan::unknownProductDocument()
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("count", 0);
        return juce::var (o);
    }
}
