#pragma once

#include "app/Identity.h"
#include "install/Installer.h"
#include "install/Uninstall.h"
#include "registry/ReleaseIndex.h"
#include "scan/InstallScan.h"
#include "selfupdate/SelfUpdater.h"

#include <optional>

// The manager behind the page: owns every long-lived worker (registry index, install
// job, self-updater, removal runner) and the dismissed notices, builds the state
// document and starts install and download jobs.
class ManagerLogic
{
public:
    // Where the logic finds its files, the vendor and the system. The defaults are the
    // application's; tests and the page test host point them elsewhere.
    struct Config
    {
        juce::File appData;                                                 // empty: hub::appDataDir()
        juce::String registryOrigin = hub::identity::registryOrigin;
        juce::String downloadHost = hub::identity::vendorDownloadHost;
        std::optional<std::vector<hub::InstallScan::SearchPath>> searchPaths; // empty: the platform's folders
        juce::File downloadsFolder;                                         // empty: ~/Downloads
        std::shared_ptr<hub::SignatureChecker> signatureChecker;            // null: the system's
        std::shared_ptr<hub::SystemInstaller> systemInstaller;              // null: the system's
        std::shared_ptr<hub::FileReveal> fileReveal;                        // null: the system's
        std::shared_ptr<hub::AdminCommand> adminCommand;                    // null: the system's
        std::function<void()> quit;                                         // null: the application's quit
        std::function<juce::int64()> now;                                   // null: the clock (ms since 1970)
        std::function<bool (const juce::String&)> openInBrowser;            // null: the default browser
        std::function<bool (const juce::String&)> openDocument;             // null: the system's opener
    };

    ManagerLogic();
    explicit ManagerLogic (Config config);

    // {"ok": true, "version"} or {"ok": false, "error"}: starts an install or download
    // job for a catalog product.
    juce::var startJob (const juce::String& productKey, hub::Installer::Mode mode);

    // {"ok": false, "error": message}
    static juce::var failed (const juce::String& message);

    // The state document the page draws from, built afresh on every call.
    juce::var describeState();

    // Moves a notice id to the end of the dismissed list and writes the list's file.
    void dismissNotice (const juce::String& id);

    bool openInBrowser (const juce::String& address) const;
    bool openDocument (const juce::String& document) const;

    std::vector<hub::InstallScan::SearchPath> searchPaths() const;

    // Members, in order of construction.
private:
    Config config;
public:
    hub::ReleaseIndex releaseIndex;
    hub::Installer installer;
    hub::SelfUpdater selfUpdater;
    hub::Uninstall uninstall;
    juce::File dismissedFile;
    juce::StringArray dismissedNotices;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ManagerLogic)
};
