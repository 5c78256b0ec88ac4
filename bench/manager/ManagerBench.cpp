// Cost of one state document next to the folder scan it is built on: the three
// products installed twice each (VST3 in the system folder, AU in the user folder)
// among 1,000 foreign bundles spread over the four plug-in folders, a cached catalog
// of the three products with mascots and a notice banner. Prints the median time of
// each and their ratio; the document should add little to the scan.
#include "manager/ManagerLogic.h"
#include "manager/ProductTable.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
    using Clock = std::chrono::steady_clock;

    double medianMilliseconds (const std::function<void()>& fn, int runs)
    {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
        {
            const auto t0 = Clock::now();
            fn();
            times.push_back (std::chrono::duration<double, std::milli> (Clock::now() - t0).count());
        }
        std::sort (times.begin(), times.end());
        return times[times.size() / 2];
    }

    void makeBundle (const juce::File& folder, const juce::String& name, const juce::String& id, const juce::String& version)
    {
        auto contents = folder.getChildFile (name).getChildFile ("Contents");
        contents.getChildFile ("Resources").createDirectory();
        juce::String plist;
        plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
              << "\t<key>CFBundleExecutable</key>\n\t<string>" << name << "</string>\n"
              << "\t<key>CFBundleIdentifier</key>\n\t<string>" << id << "</string>\n"
              << "\t<key>CFBundlePackageType</key>\n\t<string>BNDL</string>\n"
              << "\t<key>CFBundleShortVersionString</key>\n\t<string>" << version << "</string>\n"
              << "\t<key>CFBundleVersion</key>\n\t<string>" << version << "</string>\n"
              << "</dict>\n</plist>\n";
        contents.getChildFile ("Info.plist").replaceWithText (plist);
        contents.getChildFile ("Resources/moduleinfo.json").replaceWithText (
            "{\"Name\": \"" + name + "\", \"Version\": \"" + version + "\", \"Classes\": [{\"CID\": \"0123456789ABCDEF\"}]}\n");
    }
}

int main()
{
    juce::ScopedJuceInitialiser_GUI framework;

    const auto root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getNonexistentChildFile ("fernhall-manager-bench", {}, false);
    const auto appData = root.getChildFile ("app");
    using A = hub::InstalledArtifact;
    const std::vector<hub::InstallScan::SearchPath> paths {
        { root.getChildFile ("sys/VST3"), A::VST3, A::System },
        { root.getChildFile ("sys/Components"), A::AU, A::System },
        { root.getChildFile ("user/VST3"), A::VST3, A::User },
        { root.getChildFile ("user/Components"), A::AU, A::User } };

    for (int i = 0; i < 1000; ++i)
    {
        const auto& p = paths[(size_t) (i % 4)];
        makeBundle (p.directory, "Foreign" + juce::String (i) + (p.format == A::AU ? ".component" : ".vst3"),
                    "com.other" + juce::String (i % 37) + ".plugin" + juce::String (i), "1." + juce::String (i % 10));
    }
    juce::StringArray catalogProducts;
    for (auto& row : hub::ProductTable::all())
    {
        makeBundle (paths[0].directory, row.name + ".vst3", row.bundleId, "2.0.0");
        makeBundle (paths[3].directory, row.name + ".component", row.bundleId, "1.9.0");
        appData.getChildFile ("mascots/" + row.key + ".svg").create();
        appData.getChildFile ("mascots/" + row.key + ".mjs").create();
        catalogProducts.add ("{\"id\":\"" + row.key + "\",\"name\":\"" + row.name + "\",\"latest\":{\"stable\":\"2.0.0\"}}");
    }
    appData.getChildFile ("banners/sale.svg").create();
    appData.getChildFile ("registry-cache.json")
        .replaceWithText ("{\"fetchedAt\":\"2026-06-01T08:00:00.000Z\",\"catalog\":{\"products\":[" + catalogProducts.joinIntoString (",")
                          + "],\"notices\":[{\"id\":\"sale\",\"image\":\"https://localhost/sale.svg\",\"url\":\"https://localhost/\"}],"
                            "\"manager\":{\"macos\":{\"version\":\"1.0.1\",\"url\":\"https://localhost/m.pkg\",\"sha256\":\"ab\"}}}}");

    int status = 0;
    {
        ManagerLogic::Config config;
        config.appData = appData;
        config.registryOrigin = "https://localhost:9";
        config.searchPaths = paths;
        config.quit = [] {};
        ManagerLogic logic (config);
        if (! logic.releaseIndex.loadCached())
        {
            std::fprintf (stderr, "catalog cache not loaded\n");
            status = 1;
        }

        // Sanity: every product found in both formats, with the AU holding it back.
        const auto doc = logic.describeState();
        const auto* products = doc["products"].getArray();
        if (products == nullptr || products->size() != 3 || (*products)[0]["locations"].size() != 2
            || (*products)[0]["installedVersion"].toString() != "1.9.0" || doc["notice"].isVoid())
        {
            std::fprintf (stderr, "unexpected document:\n%s\n", juce::JSON::toString (doc).toRawUTF8());
            status = 1;
        }

        const int runs = 41;
        const auto ids = hub::ProductTable::bundleIds();
        size_t found = 0;
        // Alternating, so that whatever else the machine does falls on both alike.
        std::vector<double> scanTimes, stateTimes;
        for (int i = 0; i < runs; ++i)
        {
            auto timeScan = [&] { scanTimes.push_back (medianMilliseconds ([&] { found += hub::InstallScan::scan (paths, ids).size(); }, 1)); };
            auto timeState = [&] { stateTimes.push_back (medianMilliseconds ([&] { (void) logic.describeState(); }, 1)); };
            if (i % 2 == 0) { timeScan(); timeState(); }
            else            { timeState(); timeScan(); }
        }
        std::sort (scanTimes.begin(), scanTimes.end());
        std::sort (stateTimes.begin(), stateTimes.end());
        const double scan = scanTimes[scanTimes.size() / 2];
        const double state = stateTimes[stateTimes.size() / 2];

        std::printf ("bundles: 1006 in 4 folders, %zu of ours per scan\n", found / (size_t) runs);
        std::printf ("scan alone:        median %.3f ms\n", scan);
        std::printf ("describeState:     median %.3f ms\n", state);
        std::printf ("ratio state/scan:  %.3f (overhead %.3f ms)\n", state / scan, state - scan);
    }

    root.deleteRecursively();
    return status;
}
