// The refresh against the sample registry in tests/support/fixtures/registry (with the
// sample mascots), the cache file it leaves, ids that must not name files outside the
// cache folders, servers that never answer, and a writer killed mid-write.
#include "registry/ReleaseIndex.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"
#include "support/VendorServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using hub::CatalogSnapshot;
using hub::ReleaseIndex;

namespace
{
    const juce::File fixtures (FERNHALL_FIXTURES);

    // Every field of a snapshot as text, one per line, so that two snapshots compare
    // whole and a difference shows where it is.
    juce::String dump (const CatalogSnapshot& s, bool withReleases)
    {
        juce::StringArray lines;
        lines.add ("fetchedAt " + s.fetchedAt);
        for (auto& p : s.products)
        {
            lines.add ("product " + juce::StringArray { p.id, p.name, p.tagline, p.mascot, p.mascotModule, p.mascotMotion,
                                                        p.landingUrl, p.shopUrl, p.latestStable, p.latestBeta }.joinIntoString ("|"));
            if (! withReleases)
                continue;
            for (auto& r : p.releases)
            {
                lines.add ("  release " + juce::StringArray { r.version, r.channel, r.released, r.buildRef, r.yanked ? "yanked" : "-",
                                                              r.changelog.joinIntoString (";") }.joinIntoString ("|"));
                for (auto& a : r.artifacts)
                    lines.add ("    artifact " + juce::StringArray { a.kind, a.platform, a.filename, a.url, a.sha256,
                                                                     juce::String (a.size), a.minOs }.joinIntoString ("|"));
            }
        }
        const auto& m = s.manager;
        lines.add ("manager " + juce::StringArray { m.version, m.minSupported, m.released, m.filename, m.url, m.sha256,
                                                    juce::String (m.size), m.changelog.joinIntoString (";") }.joinIntoString ("|"));
        for (auto& n : s.notices)
            lines.add ("notice " + juce::StringArray { n.id, n.image, n.url, n.from, n.until, juce::String (n.priority) }.joinIntoString ("|"));
        return lines.joinIntoString ("\n");
    }

    ReleaseIndex::Result refreshNow (ReleaseIndex& index, int timeoutMs = 30000)
    {
        std::optional<ReleaseIndex::Result> result;
        index.refreshAsync ([&] (ReleaseIndex::Result r) { result = r; });
        EXPECT_TRUE (test::pumpUntil ([&] { return result.has_value(); }, timeoutMs));
        return result.value_or (ReleaseIndex::Result { false, false, "no answer" });
    }

    juce::String describe (const ReleaseIndex::Result& r)
    {
        return juce::String (r.ok ? "ok" : "not ok") + (r.fromCache ? " cache " : " fresh ") + r.message;
    }

    // Copies a fixture folder into the server's document root; "{{origin}}" in the
    // JSON documents becomes the server's origin.
    void copyFixture (const juce::File& from, const juce::File& to, const juce::String& origin)
    {
        for (auto& f : from.findChildFiles (juce::File::findFiles, true))
        {
            const auto target = to.getChildFile (f.getRelativePathFrom (from));
            target.getParentDirectory().createDirectory();
            if (f.hasFileExtension ("json"))
                target.replaceWithText (f.loadFileAsString().replace ("{{origin}}", origin), false, false, nullptr);
            else
                f.copyFileTo (target);
        }
    }

    struct SampleRegistry
    {
        test::TempFolder root { "fernhall-sample-root" };
        test::TempFolder appData { "fernhall-sample-app" };
        test::VendorServer server { root.dir };

        SampleRegistry()
        {
            copyFixture (fixtures.getChildFile ("registry"), root.dir, server.origin());
            copyFixture (fixtures.getChildFile ("mascots"), root.dir.getChildFile ("mascots"), server.origin());
        }
    };
}

TEST (SampleRegistry, RefreshReadsCombinesAndCachesEverything)
{
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());
    ReleaseIndex index (reg.appData.dir, reg.server.origin());

    const auto before = juce::Time::getCurrentTime();
    EXPECT_EQ (describe (refreshNow (index)), "ok fresh Catalog updated");
    const auto s = index.snapshot();

    // The catalog decides the products; each product document only adds releases. The
    // HTML error page of hissmoth leaves it without releases.
    const auto o = reg.server.origin();
    const juce::String expected = juce::StringArray {
        "product grumbot-2|Grumbot 2|Grumpy tape saturation with two moods|" + o + "/mascots/grumbot-2.svg|" + o + "/mascots/grumbot-2.mjs|walk|"
            "https://www.tarvo.de/grumbot-2|https://www.tarvo.de/de/shop/grumbot-2|2.1.0|2.2.0-beta.1",
        "  release 2.2.0-beta.1|beta|2026-12-02|g2-1187|-|New mood: sulky;Lower CPU use",
        "    artifact installer|macos|Grumbot2-2.2.0-beta.1.pkg|https://downloads.tarvo.de/grumbot-2/Grumbot2-2.2.0-beta.1.pkg|"
            "aa11bb22cc33dd44ee55ff6600112233445566778899aabbccddeeff00112233|48234496|11.0",
        "  release 2.1.0|stable|2026-10-14|g2-1120|-|Two moods;Bypass clicks fixed",
        "    artifact installer|macos|Grumbot2-2.1.0.pkg|https://downloads.tarvo.de/grumbot-2/Grumbot2-2.1.0.pkg|"
            "bb11bb22cc33dd44ee55ff6600112233445566778899aabbccddeeff00112233|47185920|11.0",
        "    artifact manual|any|Grumbot2.pdf|https://downloads.tarvo.de/grumbot-2/Grumbot2.pdf||1048576|",
        "  release 2.0.1|stable|||yanked|",
        "product grumbot-lite|Grumbot Lite|The small one|" + o + "/mascots/grumbot-lite.svg|" + o + "/mascots/grumbot-lite.mjs|walk||"
            "https://www.tarvo.de/en/shop/grumbot-lite|1.4.2|",
        "  release 1.4.2|stable|2026-09-01||-|",
        "    artifact installer|macos|GrumbotLite-1.4.2.pkg|https://downloads.tarvo.de/grumbot-lite/GrumbotLite-1.4.2.pkg|"
            "cc11bb22cc33dd44ee55ff6600112233445566778899aabbccddeeff00112233|20971520|",
        "product hissmoth|Hissmoth|A noise gate that flutters|" + o + "/mascots/hissmoth.svg|" + o + "/mascots/hissmoth.mjs|fly|"
            "https://www.tarvo.de/hissmoth|||0.9.0-beta.3",
        "manager 1.1.0|1.0.0|2026-11-20|TARVO-Fernhall-1.1.0.pkg|https://downloads.tarvo.de/manager/TARVO-Fernhall-1.1.0.pkg|"
            "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0|18874368|Faster catalog refresh;Banner fixes",
        "notice winter-sale|" + o + "/banners/winter-sale.svg|https://www.tarvo.de/sale|2026-12-01|2027-01-07T00:00:00+01:00|5",
    }.joinIntoString ("\n");
    EXPECT_EQ (dump (s, true).fromFirstOccurrenceOf ("\n", false, false), expected);

    // fetchedAt: local time with milliseconds and the zone, close to now.
    const auto fetched = juce::Time::fromISO8601 (s.fetchedAt);
    EXPECT_TRUE (s.fetchedAt.matchesWildcard ("????" "-??" "-??T??:??:??.???*", false)) << s.fetchedAt;
    EXPECT_TRUE (s.fetchedAt.endsWithChar ('Z') || s.fetchedAt.fromLastOccurrenceOf (".", false, false).containsAnyOf ("+-")) << s.fetchedAt;
    EXPECT_LE (std::abs ((fetched - before).inSeconds()), 60.0) << s.fetchedAt;

    // Requests: the documents in catalog order, then each product's image and module,
    // then the banner.
    const juce::StringArray order { "/registry/v1/catalog.json", "/registry/v1/products/grumbot-2.json",
                                    "/registry/v1/products/grumbot-lite.json", "/registry/v1/products/hissmoth.json",
                                    "/mascots/grumbot-2.svg", "/mascots/grumbot-2.mjs", "/mascots/grumbot-lite.svg",
                                    "/mascots/grumbot-lite.mjs", "/mascots/hissmoth.svg", "/mascots/hissmoth.mjs",
                                    "/banners/winter-sale.svg" };
    EXPECT_EQ (reg.server.requests().joinIntoString ("\n"), order.joinIntoString ("\n"));

    // The cached files hold exactly the served bytes.
    for (auto name : { "grumbot-2.svg", "grumbot-2.mjs", "grumbot-lite.svg", "grumbot-lite.mjs", "hissmoth.svg", "hissmoth.mjs" })
    {
        juce::MemoryBlock served, cached;
        fixtures.getChildFile ("mascots").getChildFile (name).loadFileAsData (served);
        reg.appData.dir.getChildFile ("mascots").getChildFile (name).loadFileAsData (cached);
        EXPECT_TRUE (served == cached) << name;
    }
    EXPECT_EQ ((reg.appData / "banners/winter-sale.svg").loadFileAsString(),
               fixtures.getChildFile ("registry/banners/winter-sale.svg").loadFileAsString());

    // The cache file: {"fetchedAt", "catalog"} in that order, CR LF line ends only, the
    // catalog as served (unknown keys and dropped notices included).
    const auto cacheText = (reg.appData / "registry-cache.json").loadFileAsString();
    EXPECT_TRUE (cacheText.startsWith ("{\r\n  \"fetchedAt\": \"" + s.fetchedAt + "\",\r\n  \"catalog\": {")) << cacheText.substring (0, 120);
    EXPECT_FALSE (cacheText.replace ("\r\n", "").containsAnyOf ("\r\n"));
    const auto cached = juce::JSON::parse (cacheText);
    EXPECT_EQ (juce::JSON::toString (cached["catalog"]),
               juce::JSON::toString (juce::JSON::parse ((reg.root / "registry/v1/catalog.json").loadFileAsString())));

    // Round trip: what the refresh wrote reads back as the same snapshot, without releases.
    ReleaseIndex reloaded (reg.appData.dir, "https://localhost:1");
    ASSERT_TRUE (reloaded.loadCached());
    EXPECT_EQ (dump (reloaded.snapshot(), true), dump (s, false));
}

TEST (SampleRegistry, ProductIdsNeverNameFilesOutsideTheMascotFolder)
{
    // The app-data folder sits inside an outer folder, and the working folder is
    // another empty one: neither may receive a file.
    test::TempFolder outer, cwd;
    const auto appData = outer / "app";
    const auto previousCwd = juce::File::getCurrentWorkingDirectory();
    cwd.dir.setAsCurrentWorkingDirectory();

    test::TempFolder root;
    test::VendorServer server (root.dir);
    ASSERT_TRUE (server.running());
    copyFixture (fixtures.getChildFile ("mascots"), root.dir.getChildFile ("mascots"), server.origin());

    const juce::String hostile[] = { "~", "~root", "~/home-file", "a/b", "../up", "../../far", "..", "x\\\\y", "sub/../../z",
                                     juce::String::repeatedString ("long", 60), "ok-id" };
    juce::String products;
    for (auto& id : hostile)
        products << (products.isEmpty() ? "" : ",") << "{\"id\":\"" << id << "\",\"mascot\":\"" << server.origin()
                 << "/mascots/grumbot-2.svg\",\"mascotModule\":\"" << server.origin() << "/mascots/grumbot-2.mjs\"}";
    test::writeFile (root / "registry/v1/catalog.json", "{\"products\":[" + products + "]}");

    {
        ReleaseIndex index (appData, server.origin());
        EXPECT_EQ (describe (refreshNow (index)), "ok fresh Catalog updated");
        EXPECT_EQ (index.snapshot().products.size(), (size_t) std::size (hostile));
    }
    previousCwd.setAsCurrentWorkingDirectory();

    juce::StringArray written;
    for (auto& f : outer.dir.findChildFiles (juce::File::findFilesAndDirectories, true))
        written.add (f.getRelativePathFrom (outer.dir));
    written.sort (false);
    EXPECT_EQ (written.joinIntoString (" "), "app app/banners app/mascots app/mascots/ok-id.mjs app/mascots/ok-id.svg app/registry-cache.json");
    EXPECT_EQ (cwd.dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
}

TEST (SampleRegistry, OnlyHttpsAddressesAreCached)
{
    // A catalog naming a local file or a plain-HTTP address for a mascot: neither is
    // read, the older cached copy stays, and the https one beside them is cached.
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());
    test::TempFolder elsewhere;
    const auto secret = test::writeFile (elsewhere / "secret.svg", "<svg>" + juce::String::repeatedString ("s", 400) + "</svg>");
    const auto catalog = reg.root / "registry/v1/catalog.json";
    catalog.replaceWithText (catalog.loadFileAsString()
                                 .replace (reg.server.origin() + "/mascots/grumbot-2.svg", juce::URL (secret).toString (false))
                                 .replace (reg.server.origin() + "/mascots/grumbot-2.mjs",
                                           "http://localhost:" + juce::String (reg.server.port()) + "/mascots/grumbot-2.mjs"));
    ASSERT_TRUE (catalog.loadFileAsString().contains ("file://"));
    test::writeFile (reg.appData / "mascots/grumbot-2.mjs", "older copy");

    ReleaseIndex index (reg.appData.dir, reg.server.origin());
    EXPECT_EQ (describe (refreshNow (index)), "ok fresh Catalog updated");
    EXPECT_FALSE ((reg.appData / "mascots/grumbot-2.svg").exists());
    EXPECT_EQ ((reg.appData / "mascots/grumbot-2.mjs").loadFileAsString(), "older copy");
    EXPECT_TRUE ((reg.appData / "mascots/grumbot-lite.mjs").existsAsFile());
    EXPECT_FALSE (reg.server.requests().contains ("/mascots/grumbot-2.mjs"));
}

TEST (SampleRegistry, ByteOrderMarksAreNotPartOfTheText)
{
    // A catalog and a mascot saved with a UTF-8 byte-order mark: the catalog reads, and
    // the cached mascot is the text without the mark.
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());
    auto withMark = [] (const juce::File& f) {
        juce::MemoryBlock marked ("\xEF\xBB\xBF", 3);
        juce::MemoryBlock text;
        f.loadFileAsData (text);
        marked.append (text.getData(), text.getSize());
        f.replaceWithData (marked.getData(), marked.getSize());
    };
    withMark (reg.root / "registry/v1/catalog.json");
    withMark (reg.root / "mascots/hissmoth.svg");

    ReleaseIndex index (reg.appData.dir, reg.server.origin());
    EXPECT_EQ (describe (refreshNow (index)), "ok fresh Catalog updated");
    juce::MemoryBlock cached, original;
    (reg.appData / "mascots/hissmoth.svg").loadFileAsData (cached);
    fixtures.getChildFile ("mascots/hissmoth.svg").loadFileAsData (original);
    EXPECT_TRUE (cached == original);
}

TEST (SampleRegistry, ServersThatNeverAnswerEndWithinTheTimeOuts)
{
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());

    // The catalog request is accepted, the TLS handshake done, and no answer ever comes.
    {
        ReleaseIndex index (reg.appData.dir, reg.server.origin() + "/hang");
        const auto start = juce::Time::getMillisecondCounter();
        EXPECT_EQ (describe (refreshNow (index)), "not ok fresh Catalog unavailable");
        EXPECT_LT (juce::Time::getMillisecondCounter() - start, 12000u);
    }

    // The catalog answers but one mascot hangs and another trickles in too slowly: the
    // refresh still ends, and the older cached copy of that mascot stays.
    const auto catalog = reg.root / "registry/v1/catalog.json";
    catalog.replaceWithText (catalog.loadFileAsString()
                                 .replace ("/mascots/grumbot-2.svg", "/hang/mascots/grumbot-2.svg")
                                 .replace ("/mascots/hissmoth.mjs", "/slow/20/mascots/hissmoth.mjs"));
    test::writeFile (reg.appData / "mascots/grumbot-2.svg", "older copy");
    {
        ReleaseIndex index (reg.appData.dir, reg.server.origin());
        const auto start = juce::Time::getMillisecondCounter();
        EXPECT_EQ (describe (refreshNow (index, 60000)), "ok fresh Catalog updated");
        EXPECT_LT (juce::Time::getMillisecondCounter() - start, 30000u);
        EXPECT_EQ (index.snapshot().products.at (0).releases.size(), 3u);
    }
    EXPECT_EQ ((reg.appData / "mascots/grumbot-2.svg").loadFileAsString(), "older copy");
    EXPECT_FALSE ((reg.appData / "mascots/hissmoth.mjs").exists());
    EXPECT_TRUE ((reg.appData / "mascots/grumbot-lite.svg").existsAsFile());
}

TEST (SampleRegistry, DestroyingTheIndexStopsARefreshReadingATricklingBody)
{
    // A catalog that arrives at 150 bytes a second, fast enough for the client's
    // low-speed limit, would take minutes: the index must not wait for it when it goes.
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());
    test::writeFile (reg.root / "registry/v1/catalog.json",
                     R"({"products":[{"id":"a","tagline":")" + juce::String::repeatedString ("t", 40000) + R"("}]})");
    bool answered = false;
    juce::uint32 destroyMs = 0;
    {
        auto index = std::make_unique<ReleaseIndex> (reg.appData.dir, reg.server.origin() + "/slow/150");
        index->refreshAsync ([&] (ReleaseIndex::Result) { answered = true; });
        test::pumpFor (1500);
        const auto start = juce::Time::getMillisecondCounter();
        index.reset();
        destroyMs = juce::Time::getMillisecondCounter() - start;
    }
    test::pumpFor (200);
    EXPECT_LT (destroyMs, 4500u);
    EXPECT_FALSE (answered);
    EXPECT_FALSE ((reg.appData / "registry-cache.json").exists());
    EXPECT_TRUE (reg.server.requests().contains ("/slow/150/registry/v1/catalog.json"));
}

TEST (SampleRegistry, FollowsAtMostThreeRedirects)
{
    SampleRegistry reg;
    ASSERT_TRUE (reg.server.running());
    for (auto [hops, outcome] : { std::pair<int, const char*> { 3, "ok fresh Catalog updated" }, { 4, "not ok fresh Catalog unavailable" } })
    {
        test::TempFolder appData;
        ReleaseIndex index (appData.dir, reg.server.origin() + "/redirect/" + juce::String (hops));
        EXPECT_EQ (describe (refreshNow (index)), outcome) << hops << " redirects";
    }
}

TEST (CacheFile, AKilledWriterNeverLeavesAHalfWrittenFile)
{
    // Two large catalogs written over each other again and again by a child process
    // that is killed at varying moments: the file always reads as one of them, whole.
    test::TempFolder dir;
    const auto target = dir / "registry-cache.json";
    auto catalogOf = [] (const char* prefix) {
        std::string text = "{\"products\":[";
        for (int i = 0; i < 3000; ++i)
            text += (i ? "," : "") + std::string ("{\"id\":\"") + prefix + std::to_string (i) + "\",\"tagline\":\"" + std::string (60, 't') + "\"}";
        return juce::JSON::parse (juce::String (text + "]}"));
    };
    const auto first = catalogOf ("first-"), second = catalogOf ("second-");
    ASSERT_TRUE (ReleaseIndex::writeCacheFile (target, "first", first));

    for (int round = 0; round < 12; ++round)
    {
        const pid_t pid = ::fork();
        ASSERT_GE (pid, 0);
        if (pid == 0)
        {
            const auto end = juce::Time::getMillisecondCounter() + 10000;
            while (juce::Time::getMillisecondCounter() < end)
            {
                ReleaseIndex::writeCacheFile (target, "second", second);
                ReleaseIndex::writeCacheFile (target, "first", first);
            }
            ::_exit (0);
        }
        juce::Thread::sleep (5 + round * 7);
        ::kill (pid, SIGKILL);
        ::waitpid (pid, nullptr, 0);

        ReleaseIndex index (dir.dir, "https://localhost:1");
        ASSERT_TRUE (index.loadCached()) << "round " << round;
        const auto s = index.snapshot();
        ASSERT_EQ (s.products.size(), 3000u) << "round " << round;
        EXPECT_TRUE (s.products.back().id == s.fetchedAt + "-2999") << "round " << round << ": " << s.fetchedAt;
    }
}
