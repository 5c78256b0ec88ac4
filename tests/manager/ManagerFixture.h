#pragma once

#include "manager/ManagerLogic.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace test
{
    // A manager on temporary folders: an application-data folder, four plug-in
    // folders, and a registry that is only reached when a test gives an origin.
    struct ManagerFixture
    {
        TempFolder root { "fernhall-manager" };
        juce::File appData = root / "app";
        juce::File sysVst3 = root / "sys/VST3", sysAu = root / "sys/Components";
        juce::File userVst3 = root / "user/VST3", userAu = root / "user/Components";
        juce::StringArray opened;
        juce::int64 nowMs = juce::Time::fromISO8601 ("2026-06-01T12:00:00Z").toMilliseconds();
        std::unique_ptr<ManagerLogic> logic;

        explicit ManagerFixture (const juce::String& origin = "https://localhost:9")
        {
            for (auto f : { appData, sysVst3, sysAu, userVst3, userAu })
                f.createDirectory();
            ManagerLogic::Config c;
            c.appData = appData;
            c.registryOrigin = origin;
            c.downloadHost = "localhost";
            c.downloadsFolder = root / "Downloads";
            c.searchPaths = std::vector<hub::InstallScan::SearchPath> {
                { sysVst3, hub::InstalledArtifact::VST3, hub::InstalledArtifact::System },
                { sysAu, hub::InstalledArtifact::AU, hub::InstalledArtifact::System },
                { userVst3, hub::InstalledArtifact::VST3, hub::InstalledArtifact::User },
                { userAu, hub::InstalledArtifact::AU, hub::InstalledArtifact::User } };
            c.now = [this] { return nowMs; };
            c.openInBrowser = [this] (const juce::String& a) { opened.add ("browser " + a); return true; };
            c.openDocument = [this] (const juce::String& a) { opened.add ("document " + a); return true; };
            c.quit = [] {};
            logic = std::make_unique<ManagerLogic> (c);
        }

        // Installs a bundle with an Info.plist naming the id and version.
        void bundle (const juce::File& folder, const juce::String& name, const juce::String& id, const juce::String& version)
        {
            auto contents = folder.getChildFile (name).getChildFile ("Contents");
            contents.createDirectory();
            juce::String plist = "<plist><dict><key>CFBundleIdentifier</key><string>" + id + "</string>";
            if (version.isNotEmpty())
                plist << "<key>CFBundleShortVersionString</key><string>" << version << "</string>";
            contents.getChildFile ("Info.plist").replaceWithText (plist + "</dict></plist>");
        }

        // Loads a catalog into the manager through the cache file.
        void catalog (const juce::String& catalogJson, const juce::String& fetchedAt = "2026-06-01T10:00:00.000Z")
        {
            appData.getChildFile ("registry-cache.json")
                .replaceWithText ("{\"fetchedAt\": \"" + fetchedAt + "\", \"catalog\": " + catalogJson + "}");
            ASSERT_TRUE (logic->releaseIndex.loadCached());
        }

        juce::String state() { return juce::JSON::toString (logic->describeState(), true); }

        // The document's product list alone, as one-line JSON.
        juce::String products()
        {
            return juce::JSON::toString (logic->describeState().getProperty ("products", {}), true);
        }
    };

    inline juce::String oneLine (const juce::String& json)
    {
        return juce::JSON::toString (juce::JSON::parse (json), true);
    }
}
