#pragma once

// A manager logic wired to temporary folders: its own application-data folder, the
// four plug-in folders, a Downloads folder, and recording stand-ins for the browser,
// the mail program, the package checker, the system installer and the file manager.

#include "app/NativeFunctions.h"
#include "manager/ManagerLogic.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace test
{
    struct SignedChecker : hub::SignatureChecker
    {
        Output check (const juce::File&) override
        {
            Output out;
            out.started = true;
            out.text = "Package \"x.pkg\":\n"
                       "   Status: signed by a developer certificate issued by Apple for distribution\n"
                       "   Notarization: trusted by the Apple notary service\n"
                       "   Certificate Chain:\n"
                       "    1. Developer ID Installer: TARVO Audio GmbH (T4RV0FH123)\n"
                       "    2. Developer ID Certification Authority\n"
                       "    3. Apple Root CA\n";
            return out;
        }
    };

    // Opens "packages" that close after a few polls, or never while `hold` is set.
    struct HeldInstaller : hub::SystemInstaller
    {
        std::atomic<bool> hold { false };
        std::atomic<int> opens { 0 };
        int polls = 0;

        bool open (const juce::File&) override { ++opens; polls = 0; return true; }
        State poll() override { return hold || ++polls < 2 ? State::running : State::exited; }
        int exitCode() const override { return hold ? -1 : 0; }
    };

    struct NoReveal : hub::FileReveal
    {
        juce::Array<juce::File> shown;
        void reveal (const juce::File& f) override { shown.add (f); }
    };

    struct RefusingAdmin : hub::AdminCommand
    {
        int calls = 0;
        Outcome run (const juce::String&) override { ++calls; return { true, "User canceled. (-128)", 1 }; }
    };

    struct ManagerRig
    {
        TempFolder root { "fernhall-manager" };
        juce::File appData = root / "app";
        juce::File systemVst3 = root / "Library/VST3";
        juce::File systemAu = root / "Library/Components";
        juce::File userVst3 = root / "home/VST3";
        juce::File userAu = root / "home/Components";
        juce::File downloads = root / "home/Downloads";

        std::shared_ptr<HeldInstaller> systemInstaller = std::make_shared<HeldInstaller>();
        std::shared_ptr<NoReveal> reveal = std::make_shared<NoReveal>();
        std::shared_ptr<RefusingAdmin> admin = std::make_shared<RefusingAdmin>();
        juce::StringArray browserOpened, documentsOpened;
        bool documentOpens = true;
        juce::int64 nowMs = juce::Time (2026, 5, 15, 12, 0).toMilliseconds();   // 15 June 2026

        std::unique_ptr<ManagerLogic> logic;

        ManagerLogic::Config config (const juce::String& origin = "https://localhost:9")
        {
            ManagerLogic::Config c;
            c.appData = appData;
            c.registryOrigin = origin;
            c.downloadHost = "localhost";
            c.searchPaths = std::vector<hub::InstallScan::SearchPath> {
                { systemVst3, hub::InstalledArtifact::VST3, hub::InstalledArtifact::System },
                { systemAu, hub::InstalledArtifact::AU, hub::InstalledArtifact::System },
                { userVst3, hub::InstalledArtifact::VST3, hub::InstalledArtifact::User },
                { userAu, hub::InstalledArtifact::AU, hub::InstalledArtifact::User } };
            c.downloadsFolder = downloads;
            c.signatureChecker = std::make_shared<SignedChecker>();
            c.systemInstaller = systemInstaller;
            c.fileReveal = reveal;
            c.adminCommand = admin;
            c.quit = [] {};
            c.now = [this] { return nowMs; };
            c.openInBrowser = [this] (const juce::String& a) { browserOpened.add (a); return true; };
            c.openDocument = [this] (const juce::String& d) { documentsOpened.add (d); return documentOpens; };
            return c;
        }

        explicit ManagerRig (const juce::String& origin = "https://localhost:9")
        {
            for (auto f : { systemVst3, systemAu, userVst3, userAu, downloads })
                f.createDirectory();
            logic = std::make_unique<ManagerLogic> (config (origin));
        }

        ~ManagerRig()
        {
            if (logic != nullptr)
            {
                logic->installer.cancel();
                pumpUntil ([this] { return ! hub::InstallProgress::isRunning (logic->installer.state().stage); }, 20000);
            }
        }

        // A plug-in bundle in one of the folders; the extension follows the folder's format.
        juce::File bundle (const juce::File& folder, const juce::String& name, const juce::String& bundleId,
                           const juce::String& version)
        {
            const bool au = folder == systemAu || folder == userAu;
            return makeBundle (folder, name + (au ? ".component" : ".vst3"), bundleId, version);
        }

        // Writes the registry cache file with this catalog and loads it as the current
        // catalog (the cache keeps no releases).
        void loadCatalog (const juce::String& catalogJson, const juce::String& fetchedAt = "2026-06-01T08:00:00.000Z")
        {
            writeFile (appData.getChildFile ("registry-cache.json"),
                       "{\"fetchedAt\": \"" + fetchedAt + "\", \"catalog\": " + catalogJson + "}");
            ASSERT_TRUE (logic->releaseIndex.loadCached());
        }
    };

    // The page's side of the bridge: the native functions registered for a manager,
    // called by name. Posted resizes are recorded when the message loop runs them.
    struct BridgeHost : NativeHost
    {
        ManagerLogic& logic;
        std::vector<std::pair<int, int>> sizes;
        tarvo::WebBrowserComponent::Options options;

        explicit BridgeHost (ManagerLogic& l) : logic (l), options (NativeFunctions::addAll ({}, *this)) {}

        ManagerLogic& getLogic() override { return logic; }
        void postContentSize (int w, int h) override
        {
            juce::MessageManager::callAsync ([this, w, h] { sizes.emplace_back (w, h); });
        }

        // The answer as JSON; "<no value>" for a void answer, "<no function>" when
        // nothing of that name is registered, "<no answer>" when none came in time.
        juce::String call (const juce::String& name, const juce::Array<juce::var>& args = {}, int waitMs = 30000)
        {
            std::optional<juce::var> answer;
            int answers = 0;
            if (! options.invoke (name, args, [&] (juce::var v) { answer = v; ++answers; }))
                return "<no function>";
            pumpUntil ([&] { return answer.has_value(); }, waitMs);
            pumpFor (5);
            EXPECT_LE (answers, 1) << name;
            if (! answer)
                return "<no answer>";
            return answer->isVoid() ? juce::String ("<no value>") : juce::JSON::toString (*answer, true);
        }
    };

    // Whole-document comparison: the expected text (with "@ROOT@" standing for the rig's
    // folder and "@BUILD@" for the build stamp) parsed and written out again, against
    // the document written out, so key order and types count.
    inline juce::String json (const juce::var& v) { return juce::JSON::toString (v, true); }

    inline juce::String expectedJson (const juce::String& text, const juce::File& root)
    {
        const auto filled = text.replace ("@ROOT@", root.getFullPathName())
                                .replace ("@BUILD@", hub::identity::buildStamp());
        juce::var parsed;
        const auto r = juce::JSON::parse (filled, parsed);
        EXPECT_TRUE (r.wasOk()) << r.getErrorMessage() << "\n" << filled;
        return json (parsed);
    }
}
