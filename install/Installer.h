#pragma once

#include "app/Identity.h"
#include "install/InstallProgress.h"
#include "platform/FileReveal.h"
#include "platform/SignatureChecker.h"
#include "platform/SystemInstaller.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>

namespace hub
{
    // The one download job of the application: fetches a release file from the
    // vendor's download host into the private "downloads" folder, verifies size and
    // SHA-256 (three attempts), checks the package signature, then opens it with the
    // system installer or copies it into a folder. Runs on its own thread,
    // "tarvo-installer"; the page follows it through state().
    class Installer : public juce::Thread
    {
    public:
        enum Mode
        {
            install = 0,    // open with the system installer and wait until it closes
            download = 1,   // copy into saveFolder (the user's Downloads), optionally reveal
            appUpdate = 2   // copy into saveFolder (the manager's update folder)
        };

        struct Request
        {
            juce::String product;      // product key ("tarvo-manager" for the manager itself)
            juce::String version;      // release version
            juce::String url;          // download address; must be https on the vendor host
            juce::String sha256;       // expected digest, hex, any case; empty: not checked
            juce::String fileName;     // untrusted; cleaned with safeFileName
            juce::int64 size = 0;      // expected size; 0 or less: not checked
            Mode mode = install;
            juce::String saveFolder;   // receives the copy in modes download and appUpdate
            bool reveal = false;       // show the copy in the file manager afterwards
        };

        // Listener of one download attempt; forwards progress and wakes the job.
        class Sink : public juce::URL::DownloadTaskListener
        {
        public:
            explicit Sink (Installer* ownerIn) : owner (ownerIn) {}
            void progress (juce::URL::DownloadTask*, juce::int64 bytesDownloaded, juce::int64 totalLength) override;
            void finished (juce::URL::DownloadTask*, bool success) override;

            // Stops forwarding; used when a cancelled download is left to end on its own.
            void disconnect() { owner = nullptr; }

        private:
            std::atomic<Installer*> owner;
        };

        // What the installer is wired to. Everything defaults to the product's own
        // folder, host, team and platform operations; tests point it elsewhere.
        struct Setup
        {
            juce::File appData;                                        // empty: hub::appDataDir()
            juce::String downloadHost = identity::vendorDownloadHost;  // host every url must name
            juce::String teamId = identity::vendorTeamId;              // expected signing team
            std::shared_ptr<SignatureChecker> signatureChecker;        // null: the system's
            std::shared_ptr<SystemInstaller> systemInstaller;          // null: the system's
            std::shared_ptr<FileReveal> fileReveal;                    // null: the system's
            std::array<int, 2> pausesMs { 2000, 5000 };                // after attempts 1 and 2
        };

        Installer();
        explicit Installer (Setup setup);

        // Stops the thread, waiting at most 15 s.
        ~Installer() override;

        // Message thread. Checks and stores the request, resets the progress record and
        // starts the thread; false with `error` set (and nothing changed) on a refusal.
        bool start (const Request& request, juce::String& error);

        // A copy of the progress record; never blocks on the job.
        InstallProgress state() const;

        // The request of the current or last job.
        Request request() const;

        // Tells a running job to stop and wakes it from any wait.
        void cancel();

        // The file name cleaner: last path part, letters, digits, space, "-", "." and
        // "_" only, trimmed, at most 120 characters; empty when nothing usable (or only
        // dots) is left.
        static juce::String safeFileName (const juce::String& name);

        // The same for raw bytes, which need not be valid UTF-8 (invalid sequences
        // are dropped).
        static juce::String safeFileNameFromBytes (const char* data, size_t size);

        // "downloads" inside the application-data folder, created if missing.
        static juce::File downloadDir();
        static juce::File downloadDirIn (const juce::File& appData);

        // The folder this installer downloads into.
        juce::File downloadFolder() const;

        // SHA-256 of the whole file as 64 lower-case hex digits, streamed; empty when
        // the file cannot be opened.
        static juce::String sha256OfFile (const juce::File& file);

        // The host part of an address as the start check reads it: after "https://" up
        // to the first "/", then up to the first "?", then up to the first ":". Empty when
        // the address does not begin with "https://".
        static juce::String hostOf (const juce::String& url);

        // True when `url` is https and names exactly `host` (any letter case; a port,
        // path or query may follow). An address with a user part is refused.
        static bool isVendorAddress (const juce::String& url, const juce::String& host);

        static constexpr int stopWaitMs = 15000;
        static constexpr int maxAttempts = 3;
        static constexpr int maxFileNameLength = 120;

        void run() override;

    private:
        friend class Sink;

        void setStage (InstallProgress::Stage stage, const juce::String& message, int attempt);
        void finish (InstallProgress::Stage stage, const juce::String& message, const juce::String& error);
        void writeLogLine (const InstallProgress& snapshot, bool withExitCode);
        bool pause (int ms);
        void onProgress (juce::int64 bytes, juce::int64 total);

        void runInstall (const juce::File& target);
        void runCopy (const Request& req, const juce::String& name, const juce::File& target);

        // One download attempt: the framework's task and the listener it reports to.
        // The task is declared last so that it goes first.
        struct Download
        {
            std::unique_ptr<Sink> sink;
            std::unique_ptr<juce::URL::DownloadTask> task;
        };

        Setup setup;
        std::unique_ptr<Download> retired;   // a cancelled download still winding down
        juce::CriticalSection lock;
        InstallProgress progressRecord;
        Request storedRequest;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Installer)
    };
}
