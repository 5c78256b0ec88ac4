#include "registry/ReleaseIndex.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"
#include "support/VendorServer.h"

#include <gtest/gtest.h>

using hub::ReleaseIndex;

namespace
{
    juce::String svg (int characters)
    {
        juce::String s = "<svg xmlns=\"http://www.w3.org/2000/svg\">";
        while (s.length() < characters - 6)
            s << "x";
        s << "</svg>";
        return s.substring (0, characters);
    }

    // A vendor server document root with a catalog of three products and one notice.
    struct Registry
    {
        test::TempFolder root { "fernhall-registry-root" };
        test::TempFolder appData { "fernhall-registry-app" };
        std::unique_ptr<test::VendorServer> server;

        Registry()
        {
            server = std::make_unique<test::VendorServer> (root.dir);
            writeCatalog();
            for (auto id : { "grumbot-2", "grumbot-lite", "hissmoth" })
                test::writeFile (root / ("registry/v1/products/" + juce::String (id) + ".json"),
                                 R"({"releases":[{"version":"2.0.0","artifacts":[{"platform":"macos","url":"https://x/)" + juce::String (id) + R"(.pkg"}]}]})");
            test::writeFile (root / "files/grumbot-2.svg", svg (201));
            test::writeFile (root / "files/grumbot-2.mjs", "export function poseSvg () { return '" + juce::String::repeatedString ("x", 300) + "'; }");
            test::writeFile (root / "files/short.svg", svg (200));
            test::writeFile (root / "files/banner.svg", svg (5000));
        }

        juce::String origin() const { return server->origin(); }

        void writeCatalog (const juce::String& extraNotices = {})
        {
            const auto o = origin();
            test::writeFile (root / "registry/v1/catalog.json", R"({
              "products": [
                {"id":"grumbot-2","name":"Grumbot 2","mascot":")" + o + R"(/files/grumbot-2.svg","mascotModule":")" + o + R"(/files/grumbot-2.mjs","latest":{"stable":"2.0.0"}},
                {"id":"grumbot-lite","mascot":")" + o + R"(/files/short.svg"},
                {"id":"hissmoth"},
                {"id":"../escape","mascot":")" + o + R"(/files/grumbot-2.svg"}
              ],
              "notices": [ {"id":"spring","image":")" + o + R"(/files/banner.svg","priority":1} )" + extraNotices + R"( ],
              "manager": {"macos": {"version":"1.1.0"}}
            })");
        }

        ReleaseIndex::Result refresh (ReleaseIndex& index)
        {
            std::optional<ReleaseIndex::Result> result;
            index.refreshAsync ([&] (ReleaseIndex::Result r) { result = r; });
            EXPECT_TRUE (test::pumpUntil ([&] { return result.has_value(); }, 30000));
            return result.value_or (ReleaseIndex::Result {});
        }
    };

    juce::String describe (const ReleaseIndex::Result& r)
    {
        return juce::String (r.ok ? "ok" : "not ok") + (r.fromCache ? " cache " : " fresh ") + r.message;
    }
}

TEST (Refresh, FetchesCombinesAndCaches)
{
    Registry reg;
    ASSERT_TRUE (reg.server->running());
    ReleaseIndex index (reg.appData.dir, reg.origin());

    EXPECT_EQ (describe (reg.refresh (index)), "ok fresh Catalog updated");

    auto s = index.snapshot();
    ASSERT_EQ (s.products.size(), 4u);
    EXPECT_EQ (s.products[0].releases.size(), 1u);
    EXPECT_EQ (s.products[2].releases.at (0).artifacts.at (0).url, "https://x/hissmoth.pkg");
    EXPECT_TRUE (s.fetchedAt.isNotEmpty());

    // Documents in catalog order, one after another.
    auto requests = reg.server->requests();
    EXPECT_EQ (requests.joinIntoString (",").upToFirstOccurrenceOf (",/files", false, false),
               "/registry/v1/catalog.json,/registry/v1/products/grumbot-2.json,/registry/v1/products/grumbot-lite.json,"
               "/registry/v1/products/hissmoth.json,/registry/v1/escape.json");   // dot segments resolved by the HTTP client

    // 201 characters are cached, 200 are not; the unsafe id wrote nothing outside the folder.
    auto mascots = reg.appData / "mascots";
    EXPECT_EQ (mascots.getChildFile ("grumbot-2.svg").loadFileAsString(), svg (201));
    EXPECT_TRUE (mascots.getChildFile ("grumbot-2.mjs").existsAsFile());
    EXPECT_FALSE (mascots.getChildFile ("grumbot-lite.svg").exists());
    EXPECT_FALSE (reg.appData.dir.getChildFile ("escape.svg").exists());
    EXPECT_EQ (mascots.findChildFiles (juce::File::findFilesAndDirectories, true).size(), 2);
    EXPECT_TRUE ((reg.appData / "banners/spring.svg").existsAsFile());

    // The cache file reads back as the same catalog, without releases.
    const auto cacheText = (reg.appData / "registry-cache.json").loadFileAsString();
    EXPECT_TRUE (cacheText.contains ("\r\n"));
    EXPECT_TRUE (cacheText.trimStart().startsWith ("{\r\n  \"fetchedAt\""));
    ReleaseIndex reloaded (reg.appData.dir, "https://localhost:1");
    ASSERT_TRUE (reloaded.loadCached());
    auto c = reloaded.snapshot();
    EXPECT_EQ (c.fetchedAt, s.fetchedAt);
    ASSERT_EQ (c.products.size(), s.products.size());
    for (size_t i = 0; i < c.products.size(); ++i)
    {
        EXPECT_EQ (c.products[i].id, s.products[i].id);
        EXPECT_EQ (c.products[i].mascot, s.products[i].mascot);
        EXPECT_EQ (c.products[i].latestStable, s.products[i].latestStable);
        EXPECT_TRUE (c.products[i].releases.empty());
    }
    EXPECT_EQ (c.manager.version, "1.1.0");
    EXPECT_EQ (c.notices.size(), 1u);
}

TEST (Refresh, OfflinePaths)
{
    test::TempFolder appData;
    const juce::String nowhere = "https://localhost:9";   // nothing listens there

    {
        ReleaseIndex index (appData.dir, nowhere);
        Registry unused;
        EXPECT_EQ (describe (unused.refresh (index)), "not ok fresh Catalog unavailable");
        EXPECT_TRUE (index.snapshot().products.empty());
    }

    // A good refresh, then the server goes away: releases are kept.
    Registry reg;
    {
        ReleaseIndex index (appData.dir, reg.origin());
        EXPECT_EQ (describe (reg.refresh (index)), "ok fresh Catalog updated");
        reg.server.reset();
        test::writeFile (appData / "registry-cache.json", "garbage");   // must not be read on this path
        EXPECT_EQ (describe (reg.refresh (index)), "ok cache Offline - showing last known state");
        EXPECT_EQ (index.snapshot().products.at (0).releases.size(), 1u);
    }

    // Nothing loaded at start but a valid cache now: the failed refresh loads it.
    reg.server = std::make_unique<test::VendorServer> (reg.root.dir);
    reg.writeCatalog();
    {
        ReleaseIndex index (appData.dir, reg.origin());
        EXPECT_EQ (describe (reg.refresh (index)), "ok fresh Catalog updated");
    }
    {
        ReleaseIndex index (appData.dir, nowhere);
        EXPECT_EQ (describe (reg.refresh (index)), "ok cache Offline - showing last known state");
        EXPECT_EQ (index.snapshot().products.size(), 4u);
        EXPECT_TRUE (index.snapshot().products[0].releases.empty());
    }
}

TEST (Refresh, TwoQuickRefreshesEachGetTheirOwnResult)
{
    Registry reg;
    ReleaseIndex index (reg.appData.dir, reg.origin());
    std::vector<juce::String> results;
    index.refreshAsync ([&] (ReleaseIndex::Result r) { results.push_back ("first " + describe (r)); });
    index.refreshAsync ([&] (ReleaseIndex::Result r) { results.push_back ("second " + describe (r)); });
    ASSERT_TRUE (test::pumpUntil ([&] { return results.size() == 2; }, 30000));
    EXPECT_EQ (results[0], "first ok fresh Catalog updated");
    EXPECT_EQ (results[1], "second ok fresh Catalog updated");
}

TEST (Refresh, BannerLimitsAgeAndCleanUp)
{
    Registry reg;
    test::writeFile (reg.root / "files/big.svg", juce::String::repeatedString ("x", 1048576));
    reg.writeCatalog (R"(, {"id":"big","image":")" + reg.origin() + R"(/files/big.svg"}, {"id":"old","image":")" + reg.origin() + R"(/files/banner.svg"}, {"id":"young","image":")" + reg.origin() + R"(/files/banner.svg"}, {"id":"future","image":")" + reg.origin() + R"(/files/banner.svg"})");

    auto banners = reg.appData / "banners";
    test::writeFile (banners.getChildFile ("stale.svg"), "<svg/>");
    test::writeFile (banners.getChildFile ("keep.png"), "png");
    test::writeFile (banners.getChildFile ("old.svg"), "old");
    test::writeFile (banners.getChildFile ("young.svg"), "young");
    test::writeFile (banners.getChildFile ("future.svg"), "future");
    const auto now = juce::Time::getCurrentTime();
    banners.getChildFile ("old.svg").setLastModificationTime (now - juce::RelativeTime::seconds (21600));
    banners.getChildFile ("young.svg").setLastModificationTime (now - juce::RelativeTime::seconds (21540));
    banners.getChildFile ("future.svg").setLastModificationTime (now + juce::RelativeTime::days (30));

    ReleaseIndex index (reg.appData.dir, reg.origin());
    EXPECT_EQ (describe (reg.refresh (index)), "ok fresh Catalog updated");

    EXPECT_FALSE (banners.getChildFile ("big.svg").exists());
    EXPECT_FALSE (banners.getChildFile ("stale.svg").exists());
    EXPECT_TRUE (banners.getChildFile ("keep.png").exists());
    EXPECT_EQ (banners.getChildFile ("old.svg").loadFileAsString(), svg (5000));
    EXPECT_EQ (banners.getChildFile ("young.svg").loadFileAsString(), "young");
    EXPECT_EQ (banners.getChildFile ("future.svg").loadFileAsString(), svg (5000));   // dated ahead of the clock
}

TEST (Refresh, OversizedCatalogSilentServerAndUnknownCertificate)
{
    // A catalog over 256 KiB is cut and fails to read: treated as unreachable.
    {
        Registry reg;
        juce::String big = (reg.root / "registry/v1/catalog.json").loadFileAsString();
        big = big.upToLastOccurrenceOf ("}", false, false) + ", \"padding\": \"" + juce::String::repeatedString ("p", 300000) + "\"}";
        test::writeFile (reg.root / "registry/v1/catalog.json", big);
        ReleaseIndex index (reg.appData.dir, reg.origin());
        EXPECT_EQ (describe (reg.refresh (index)), "not ok fresh Catalog unavailable");
    }

    // A server that accepts and never answers: the refresh ends within the time-outs.
    {
        test::TempFolder root, appData;
        test::VendorServer silent (root.dir, test::VendorServer::Mode::silent);
        ASSERT_TRUE (silent.running());
        ReleaseIndex index (appData.dir, silent.origin());
        const auto start = juce::Time::getMillisecondCounter();
        std::optional<ReleaseIndex::Result> result;
        index.refreshAsync ([&] (ReleaseIndex::Result r) { result = r; });
        ASSERT_TRUE (test::pumpUntil ([&] { return result.has_value(); }, 20000));
        EXPECT_EQ (describe (*result), "not ok fresh Catalog unavailable");
        EXPECT_LT (juce::Time::getMillisecondCounter() - start, 15000u);
    }

    // A certificate from a CA nobody trusts: refused, nothing cached.
    {
        Registry reg;
        test::VendorServer rogue (reg.root.dir, test::VendorServer::Mode::untrustedCertificate);
        ASSERT_TRUE (rogue.running());
        reg.writeCatalog();
        ReleaseIndex index (reg.appData.dir, rogue.origin());
        EXPECT_EQ (describe (reg.refresh (index)), "not ok fresh Catalog unavailable");
        EXPECT_FALSE ((reg.appData / "registry-cache.json").exists());
        EXPECT_TRUE (index.snapshot().products.empty());
    }
}
