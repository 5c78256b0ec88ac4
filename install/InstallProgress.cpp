#include "install/InstallProgress.h"

namespace hub
{
    juce::String InstallProgress::stageName (int s)
    {
        switch (s)
        {
            case downloading: return "downloading";
            case verifying:   return "verifying";
            case checking:    return "checking";
            case installing:  return "installing";
            case done:        return "done";
            case failed:      return "failed";
            case cancelled:   return "cancelled";
            default:          return "idle";
        }
    }

    bool InstallProgress::isRunning (int s)
    {
        return s == downloading || s == verifying || s == checking || s == installing;
    }

    double InstallProgress::fraction() const
    {
        if (stage == done)
            return 1.0;
        if (stage == downloading && total >= 1)
            return juce::jlimit (0.0, 1.0, (double) received / (double) total);
        return -1.0;
    }

    juce::var InstallProgress::toVar() const
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("stage", stageName (stage));
        o->setProperty ("running", isRunning (stage));
        o->setProperty ("product", product);
        o->setProperty ("version", version);
        o->setProperty ("file", file);
        o->setProperty ("received", received);
        o->setProperty ("total", total);
        o->setProperty ("fraction", fraction());
        o->setProperty ("attempt", attempt);
        o->setProperty ("message", message);
        o->setProperty ("error", error);
        o->setProperty ("delivered", delivered);
        o->setProperty ("exitCode", exitCode);
        return juce::var (o);
    }
}
