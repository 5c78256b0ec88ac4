// A registry catalog as it may come off the network, loaded through the cache file and
// turned into the state document next to a few installed bundles. The document must
// always be built, serialise to JSON that reads back the same, and only ever name page
// paths inside the two cache folders and https links.
#include "manager/ManagerLogic.h"

#include <juce_events/juce_events.h>

#include <cstdlib>
#include <memory>

namespace
{
    struct Setup
    {
        juce::ScopedJuceInitialiser_GUI framework;
        juce::File root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("fernhall-fuzz-state", {}, false);
        std::unique_ptr<ManagerLogic> logic;

        Setup()
        {
            using A = hub::InstalledArtifact;
            const std::vector<hub::InstallScan::SearchPath> paths {
                { root.getChildFile ("vst3"), A::VST3, A::System }, { root.getChildFile ("au"), A::AU, A::User } };
            bundle (paths[0].directory.getChildFile ("G2.vst3"), "de.tarvo.grumbot2", "2.0.0");
            bundle (paths[1].directory.getChildFile ("G2.component"), "de.tarvo.grumbot2", "1.9");
            bundle (paths[1].directory.getChildFile ("H.component"), "de.tarvo.hissmoth", "");

            ManagerLogic::Config c;
            c.appData = root.getChildFile ("app");
            c.registryOrigin = "https://localhost:9";
            c.searchPaths = paths;
            c.quit = [] {};
            c.now = [] { return (juce::int64) 1781000000000; };
            logic = std::make_unique<ManagerLogic> (c);

            // Cached files for the ids the seeds use, and one just outside the folders.
            for (auto name : { "mascots/grumbot-2.svg", "mascots/grumbot-2.mjs", "banners/sale.svg", "outside.svg" })
                c.appData.getChildFile (name).create();
        }

        ~Setup()
        {
            logic.reset();
            root.deleteRecursively();
        }

        static void bundle (const juce::File& b, const juce::String& id, const juce::String& version)
        {
            b.getChildFile ("Contents").createDirectory();
            b.getChildFile ("Contents/Info.plist").replaceWithText (
                "<plist><dict><key>CFBundleIdentifier</key><string>" + id + "</string><key>CFBundleShortVersionString</key><string>"
                + version + "</string></dict></plist>");
        }
    };

    Setup& setup()
    {
        static Setup s;
        return s;
    }

    bool isCachePath (const juce::String& path, const juce::String& folder, const juce::String& extension)
    {
        if (path.isEmpty())
            return true;
        if (! path.startsWith ("/" + folder + "/"))
            return false;
        const auto name = path.substring (folder.length() + 2).upToFirstOccurrenceOf ("?v=", false, false);
        return name.endsWith (extension) && ! name.containsAnyOf ("/\\") && ! name.startsWith (".")
               && path.fromFirstOccurrenceOf ("?v=", false, false).containsOnly ("0123456789");
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& s = setup();
    const auto text = hub::InstallScan::textFromBytes (reinterpret_cast<const char*> (data), size);
    s.logic->releaseIndex.getCacheFile().replaceWithText ("{\"fetchedAt\":\"x\",\"catalog\":" + text + "}");
    (void) s.logic->releaseIndex.loadCached();
    const auto snapshot = s.logic->releaseIndex.snapshot();

    const auto doc = s.logic->describeState();
    const auto* products = doc["products"].getArray();
    if (products == nullptr || products->size() < (int) snapshot.products.size())
        std::abort();
    for (auto& p : *products)
    {
        if (! isCachePath (p["mascot"].toString(), "mascots", ".svg") || ! isCachePath (p["mascotModule"].toString(), "mascots", ".mjs"))
            std::abort();
        if (! p["installed"].isBool() || (p.hasProperty ("orphan") && ! (bool) p["installed"]))
            std::abort();
    }
    const auto& notice = doc["notice"];
    if (! notice.isVoid())
    {
        const auto url = notice["url"].toString();
        if (! isCachePath (notice["image"].toString(), "banners", ".svg") || (url.isNotEmpty() && ! url.startsWith ("https://")))
            std::abort();
    }
    const auto& update = doc["appUpdate"]["state"].toString();
    if (! juce::StringArray { "required", "available", "upToDate", "unknown" }.contains (update))
        std::abort();

    const auto written = juce::JSON::toString (doc, true);
    if (juce::JSON::toString (juce::JSON::parse (written), true) != written)
        std::abort();
    return 0;
}
