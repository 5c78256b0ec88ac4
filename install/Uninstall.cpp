#include "install/Uninstall.h"

#include <juce_events/juce_events.h>

namespace hub
{
    juce::var Uninstall::Result::toVar() const
    {
        juce::Array<juce::var> failedList;
        for (auto& f : failed)
            failedList.add (f);

        auto* o = new juce::DynamicObject();
        o->setProperty ("ok", ok);
        o->setProperty ("cancelled", cancelled);
        o->setProperty ("removed", removed);
        o->setProperty ("message", message);
        o->setProperty ("failed", failedList);
        return juce::var (o);
    }

    Uninstall::Result Uninstall::Result::unknownProduct()
    {
        Result r;
        r.message = "This product is not known to the app";
        return r;
    }

    //==============================================================================
    Uninstall::Uninstall() : Uninstall (nullptr, std::nullopt) {}

    Uninstall::Uninstall (std::shared_ptr<AdminCommand> adminIn,
                          std::optional<std::vector<InstallScan::SearchPath>> searchPathsIn)
        : admin (adminIn != nullptr ? std::move (adminIn) : AdminCommand::createSystem()),
          pathsOverride (std::move (searchPathsIn)),
          pool (1)
    {
    }

    Uninstall::~Uninstall()
    {
        pool.removeAllJobs (true, stopWaitMs);
    }

    std::vector<InstallScan::SearchPath> Uninstall::searchPaths() const
    {
        return pathsOverride.has_value() ? *pathsOverride : InstallScan::defaultSearchPaths();
    }

    //==============================================================================
    juce::String Uninstall::skipReason (const InstalledArtifact& candidate,
                                        const std::vector<InstallScan::SearchPath>& searchPaths)
    {
        if (candidate.path.isEmpty() || ! juce::File::isAbsolutePath (candidate.path))
            return "not there any more";

        const juce::File bundle (candidate.path);
        if (! bundle.exists())
            return "not there any more";
        if (bundle.isSymbolicLink())
            return "is a link, not a plug-in";

        if (! (candidate.path.endsWithIgnoreCase (".vst3") || candidate.path.endsWithIgnoreCase (".component")))
            return "not a plug-in bundle";

        const auto parent = candidate.path.upToLastOccurrenceOf ("/", false, false);
        const InstallScan::SearchPath* home = nullptr;
        for (auto& sp : searchPaths)
        {
            if (sp.directory.getFullPathName().equalsIgnoreCase (parent))
            {
                home = &sp;
                break;
            }
        }
        if (home == nullptr)
            return "not in a plug-in folder";

        InstalledArtifact again;
        if (! InstallScan::readBundle (bundle, home->format, home->scope, again))
            return "cannot be read";

        if (! again.bundleId.startsWith ("de.tarvo."))
            return "not a TARVO plug-in";

        return {};
    }

    RemovalPlan Uninstall::plan (const juce::String& bundleId, const std::vector<InstallScan::SearchPath>& searchPaths)
    {
        RemovalPlan p;
        for (auto& candidate : InstallScan::scan (searchPaths, juce::StringArray { bundleId }))
        {
            auto reason = skipReason (candidate, searchPaths);
            if (reason.isNotEmpty())
                p.skipped.add (candidate.path + " (" + reason + ")");
            else if (candidate.scope == InstalledArtifact::User)
                p.userScope.add (juce::File (candidate.path));
            else
                p.systemScope.add (juce::File (candidate.path));
        }
        return p;
    }

    RemovalPlan Uninstall::planFor (const juce::String& bundleId) const
    {
        return plan (bundleId, searchPaths());
    }

    //==============================================================================
    juce::String Uninstall::removalCommand (const juce::Array<juce::File>& bundles)
    {
        juce::StringArray quoted;
        for (auto& b : bundles)
            quoted.add ("'" + b.getFullPathName().replace ("'", "'\\''") + "'");
        return "/bin/rm -rf -- " + quoted.joinIntoString (" ");
    }

    Uninstall::Result Uninstall::removeNow (const juce::String& bundleId, const juce::String& displayName)
    {
        Result r;
        const auto p = planFor (bundleId);

        if (p.userScope.isEmpty() && p.systemScope.isEmpty())
        {
            r.message = "Nothing to remove";
            r.failed = p.skipped;
            return r;
        }

        for (auto& bundle : p.userScope)
        {
            if (bundle.deleteRecursively (false) && ! bundle.exists() && ! bundle.isSymbolicLink())
                ++r.removed;
            else
                r.failed.add (bundle.getFullPathName());
        }

        if (! p.systemScope.isEmpty())
        {
            auto outcome = admin->run (removalCommand (p.systemScope));
            if (! outcome.started)
            {
                r.message = "Could not ask for permission";
                r.ok = false;
                return r;
            }

            if (outcome.exitCode == 0)
            {
                r.removed += p.systemScope.size();
            }
            else if (outcome.output.contains ("-128") || outcome.output.containsIgnoreCase ("User canceled"))
            {
                r.cancelled = true;
                r.message = "Cancelled - nothing was removed from the system folder";
            }
            else
            {
                for (auto& bundle : p.systemScope)
                    r.failed.add (bundle.getFullPathName());
                r.message = "The system folder could not be cleaned up";
            }
        }

        r.failed.addArray (p.skipped);
        r.ok = r.removed >= 1 && ! r.cancelled;

        if (r.message.isEmpty())
        {
            if (r.ok)
                r.message = displayName + " removed (" + juce::String (r.removed) + (r.removed == 1 ? " copy)" : " copies)");
            else
                r.message = "Nothing was removed";
        }
        return r;
    }

    void Uninstall::runAsync (const juce::String& bundleId, const juce::String& displayName,
                              std::function<void (Result)> done)
    {
        pool.addJob ([this, bundleId, displayName, done = std::move (done)]
        {
            juce::Thread::setCurrentThreadName ("tarvo-uninstall");
            auto result = removeNow (bundleId, displayName);
            juce::MessageManager::callAsync ([done, result] { if (done) done (result); });
        });
    }
}
