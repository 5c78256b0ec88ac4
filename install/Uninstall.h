#pragma once

#include "install/RemovalPlan.h"
#include "platform/AdminCommand.h"
#include "scan/InstallScan.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace hub
{
    // Removes the installed bundles of one product: user-folder bundles directly,
    // system-folder bundles in one elevated shell command. Only real vendor bundles
    // lying directly in a plug-in folder are ever deleted. Removals run one after the
    // other on the pool "tarvo-uninstall".
    class Uninstall
    {
    public:
        struct Result
        {
            bool ok = false;          // something was removed and the user did not cancel
            bool cancelled = false;   // the permission request was refused
            int removed = 0;          // bundles removed
            juce::String message;     // outcome for the user
            juce::StringArray failed; // paths that could not be removed, then the plan's skipped entries

            // The removal-result document: "ok", "cancelled", "removed", "message",
            // "failed", in this order.
            juce::var toVar() const;

            // The result for a key the product table does not know.
            static Result unknownProduct();
        };

        // The system's permission prompt and the platform's default plug-in folders.
        Uninstall();

        // Tests: another elevated runner and other plug-in folders.
        Uninstall (std::shared_ptr<AdminCommand> admin,
                   std::optional<std::vector<InstallScan::SearchPath>> searchPaths);

        // Drops queued removals, waits at most 30 s for a running one.
        ~Uninstall();

        // The plan for one bundle identifier over the given folders; reads only.
        static RemovalPlan plan (const juce::String& bundleId,
                                 const std::vector<InstallScan::SearchPath>& searchPaths);

        // Why a scanned bundle must not be deleted ("not there any more", "is a link, not
        // a plug-in", "not a plug-in bundle", "not in a plug-in folder", "cannot be read",
        // "not a TARVO plug-in"); empty when it may be.
        static juce::String skipReason (const InstalledArtifact& candidate,
                                        const std::vector<InstallScan::SearchPath>& searchPaths);

        // The plan over this uninstaller's folders.
        RemovalPlan planFor (const juce::String& bundleId) const;

        // Queues one removal and returns at once; `done` is called exactly once, on the
        // message thread, with the result.
        void runAsync (const juce::String& bundleId, const juce::String& displayName,
                       std::function<void (Result)> done);

        // The removal itself, on the calling thread (the pool's job calls this).
        Result removeNow (const juce::String& bundleId, const juce::String& displayName);

        // "/bin/rm -rf -- " + each path single-quoted ("'" written as "'\''"), joined
        // with spaces.
        static juce::String removalCommand (const juce::Array<juce::File>& bundles);

        // The folders this uninstaller scans.
        std::vector<InstallScan::SearchPath> searchPaths() const;

        static constexpr int stopWaitMs = 30000;

    private:
        std::shared_ptr<AdminCommand> admin;
        std::optional<std::vector<InstallScan::SearchPath>> pathsOverride;
        juce::ThreadPool pool;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Uninstall)
    };
}
