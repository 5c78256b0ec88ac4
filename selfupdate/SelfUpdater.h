#pragma once

#include "app/Identity.h"
#include "install/InstallProgress.h"
#include "install/Installer.h"
#include "platform/AppLocation.h"
#include "platform/DetachedProcess.h"

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

namespace hub
{
    // Replaces the running manager with its newer release: downloads the manager's
    // package through the shared install job into the "update" folder, follows that
    // download, and on request writes and starts the relaunch script, which waits for
    // the application to exit, runs the package's installer, starts the application
    // again and deletes the package. Everything here runs on the message thread.
    class SelfUpdater : public juce::Timer
    {
    public:
        // What the updater needs of the install job. The application's is
        // hub::Installer; tests replay progress records through their own.
        struct Job
        {
            virtual ~Job() = default;
            virtual bool start (const Installer::Request& request, juce::String& error) = 0;
            virtual InstallProgress state() const = 0;
        };

        // The fields of the catalog's manager entry that the update uses. of() takes
        // them from any record with these member names (the registry's manager entry).
        struct Release
        {
            juce::String version;
            juce::String minSupported;
            juce::String filename;
            juce::String url;
            juce::String sha256;
            juce::int64 size = 0;

            template <typename Entry>
            static Release of (const Entry& m)
            {
                return { m.version, m.minSupported, m.filename, m.url, m.sha256, (juce::int64) m.size };
            }

            // version, url and sha256 all present.
            bool isComplete() const;
        };

        // The commands the relaunch script runs. Each list is a program's full path
        // and its leading arguments; the script adds the quoted path it works on.
        struct ScriptCommands
        {
            juce::StringArray openPackage;   // the system installer; returns when it has closed
            juce::String appPresent;         // test(1) operator that finds the installed copy
            juce::StringArray startApp;      // starts the application at the given path
            juce::String startAppRedirect;   // appended to the start lines
            juce::StringArray removeFile;    // deletes the package

            // macOS: /usr/bin/open -W, [ -d ], /usr/bin/open, /bin/rm -f.
            // Linux: /usr/bin/pkexec /usr/bin/dpkg -i (the password prompt and the
            // package tool, which returns when done), [ -f ], /usr/bin/setsid -f with
            // its output sent to /dev/null, /bin/rm -f.
            static ScriptCommands platform();
        };

        // What the relaunch script is written for.
        struct ScriptValues
        {
            int processId = 0;
            juce::File package;
            juce::File app;         // the running application
            juce::File installed;   // its counterpart in the system's application folder
            juce::File log;         // "relaunch.log" next to the package
        };

        // Where the updater keeps its files and how it reaches the platform. Empty
        // members mean the real thing; tests point them elsewhere.
        struct Setup
        {
            juce::File appData;                          // empty: hub::appDataDir()
            std::function<int()> processId;              // null: the process id
            std::function<AppLocation()> location;       // null: AppLocation::current()
            std::shared_ptr<DetachedProcess> spawner;    // null: the system's detached start
            std::function<void()> quit;                  // null: the application's quit
            ScriptCommands commands = ScriptCommands::platform();
        };

        // What a native function answers: ok (with the version for a started
        // download) or the error text shown to the user.
        struct Outcome
        {
            bool ok = false;
            juce::String version;
            juce::String error;

            static Outcome accepted (const juce::String& version = {}) { return { true, version, {} }; }
            static Outcome refused (const juce::String& error) { return { false, {}, error }; }
        };

        static constexpr const char* productKey = "tarvo-manager";
        static constexpr int followIntervalMs = 200;
        static constexpr const char* scriptName = "relaunch.sh";
        static constexpr const char* logName = "relaunch.log";

        explicit SelfUpdater (Installer& installer);
        SelfUpdater (Installer& installer, Setup setup);
        SelfUpdater (Job& job, Setup setup);
        ~SelfUpdater() override;

        // startAppUpdate: starts the download of the manager package described by the
        // catalog's manager entry (pass the registry snapshot's `manager`).
        template <typename Entry>
        Outcome startAppUpdate (const Entry& managerEntry) { return startAppUpdate (Release::of (managerEntry)); }
        Outcome startAppUpdate (const Release& m);

        // skipAppUpdate: forgets a ready package (the file stays until the next start).
        void skipAppUpdate();

        // applyAppUpdate: writes and starts the relaunch script, then asks the
        // application to quit.
        Outcome applyAppUpdate();

        // Folds the install job's progress into the flags; called by the timer and by
        // every build of the state document.
        void sync();

        bool isBusy() const { return busy; }
        bool isReady() const { return ready; }
        juce::String packagePath() const { return package; }

        // The update folder of this updater ("update" in its application-data folder),
        // created if missing.
        juce::File folder() const;

        // "update" in hub::appDataDir() (or in `appData`), created if missing; a
        // failure to create it is not reported.
        static juce::File updateDir();
        static juce::File updateDirIn (const juce::File& appData);

        // Double quotes around the text, with each ", $, \ and ` preceded by a backslash.
        static juce::String shellQuote (const juce::String& text);

        // The relaunch script, "\n" line ends, the last line included.
        static juce::String relaunchScript (const ScriptValues& values,
                                            const ScriptCommands& commands = ScriptCommands::platform());

        // Start-up clean-up: deletes the files (not folders, not in sub-folders) of the
        // update folder whose extension is .pkg or .exe in any letter case; the script
        // and its log stay. Answers how many files were deleted.
        static int cleanUpdateDir();
        static int cleanUpdateFolder (const juce::File& folder);

        // "unknown", "required", "available" or "upToDate" for the manager entry `m`
        // against the application's own version.
        template <typename Entry>
        static juce::String updateState (const Entry& managerEntry, const juce::String& ownVersion = identity::appVersion)
        {
            return updateStateOf (Release::of (managerEntry), ownVersion);
        }
        static juce::String updateStateOf (const Release& m, const juce::String& ownVersion = identity::appVersion);

        void timerCallback() override;

    private:
        struct InstallerJob;

        std::unique_ptr<Job> adapter;   // wraps an Installer; declared first so that it outlives its use
        Job& installer;
        juce::String package;
        bool busy = false;
        bool ready = false;
        Setup setup;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SelfUpdater)
    };
}
