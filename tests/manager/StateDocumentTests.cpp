// The state document, compared whole (keys, order and types) against expected
// documents, on real plug-in folders and a catalog loaded from the registry cache.

#include "ManagerRig.h"

namespace
{
    const char* const noUpdate = R"({"state":"unknown","version":"","released":"","size":0,"busy":false,"ready":false,"changelog":[]})";
    const char* const fetched = "2026-06-01T08:00:00.000Z";

    juce::String stateDoc (const juce::String& products, const juce::String& appUpdate = noUpdate,
                           const juce::String& notice = "null", bool catalogReady = true,
                           const juce::String& fetchedAt = fetched)
    {
        return "{\"products\":" + products + ",\"appUpdate\":" + appUpdate + ",\"notice\":" + notice
               + ",\"catalogReady\":" + (catalogReady ? "true" : "false") + ",\"fetchedAt\":\"" + fetchedAt
               + "\",\"appVersion\":\"1.0.0\",\"buildStamp\":\"@BUILD@\",\"downloadsUrl\":\""
               + hub::identity::downloadsUrl + "\",\"supportMail\":\"" + hub::identity::supportMail + "\"}";
    }

    // The catalog entry of grumbot-2 as the catalog below describes it, up to "latestChannel".
    juce::String grumbotHead (const juce::String& latest, const juce::String& channel,
                              const juce::String& mascot = {}, const juce::String& module = {})
    {
        return R"({"id":"grumbot-2","name":"Grumbot 2","tagline":"Grumbles at your mix","mascot":")" + mascot
               + R"(","mascotModule":")" + module + R"(","mascotMotion":"stomp","landingUrl":"https://www.tarvo.de/grumbot-2",)"
               + R"("shopUrl":"https://shop.tarvo.de/de/grumbot-2","latest":")" + latest + R"(","latestChannel":")" + channel + "\",";
    }

    const char* const notInstalledTail = R"("installed":false,"installedVersion":null,"duplicate":false,"conflict":false,"update":false,"locations":[]})";

    juce::String grumbotCatalog (const juce::String& latestObject, const juce::String& extra = {})
    {
        return R"({"products":[{"id":"grumbot-2","name":"Grumbot 2","tagline":"Grumbles at your mix","mascotMotion":"stomp",
                   "landingUrl":"https://www.tarvo.de/grumbot-2","shopUrl":{"en":"https://shop.tarvo.de/en/grumbot-2","de":"https://shop.tarvo.de/de/grumbot-2"},
                   "latest":)" + latestObject + "}]" + extra + "}";
    }

    juce::String location (const char* format, const char* scope, const char* version, const char* path)
    {
        return juce::String ("{\"format\":\"") + format + "\",\"scope\":\"" + scope + "\",\"version\":\"" + version
               + "\",\"path\":\"@ROOT@/" + path + "\"}";
    }

    void expectDocument (test::ManagerRig& rig, const juce::String& expected)
    {
        EXPECT_EQ (test::json (rig.logic->describeState()), test::expectedJson (expected, rig.root.dir));
    }
}

TEST (StateDocument, NoCatalogShowsEveryInstalledProductAsOrphan)
{
    test::ManagerRig rig;
    rig.bundle (rig.systemVst3, "G2", "de.tarvo.grumbot2", "1.0");
    rig.bundle (rig.userVst3, "G2", "de.tarvo.grumbot2", "1.2.0");
    rig.bundle (rig.userAu, "Hiss", "de.tarvo.hissmoth", "");
    rig.bundle (rig.userAu, "Other", "de.other.plugin", "9.9");   // not one of ours

    expectDocument (rig, stateDoc (R"([
        {"id":"grumbot-2","name":"Grumbot 2","tagline":"","installed":true,"installedVersion":"1.2.0","duplicate":true,"conflict":true,"update":false,"orphan":true},
        {"id":"hissmoth","name":"Hissmoth","tagline":"","installed":true,"installedVersion":"","duplicate":false,"conflict":false,"update":false,"orphan":true}])",
                                   noUpdate, "null", false, ""));
}

TEST (StateDocument, CatalogProductsUnknownToTheTableAreNeverInstalled)
{
    test::ManagerRig rig;
    rig.loadCatalog (R"({"products":[{"id":"zapper","name":"Zapper","latest":{"stable":"1.0"}},
                                     {"id":"Hissmoth"},
                                     {"id":"hissmoth","tagline":"Moths","latest":{"beta":"0.9b1"}}]})");
    rig.bundle (rig.systemVst3, "Zap", "de.tarvo.zapper", "1.0");    // not a table identifier: not scanned
    rig.bundle (rig.systemVst3, "G2", "de.tarvo.grumbot2", "2.0");   // in the table, not in the catalog

    const juce::String entryHead = R"("mascot":"","mascotModule":"","mascotMotion":"walk","landingUrl":"","shopUrl":"",)";
    expectDocument (rig, stateDoc ("[{\"id\":\"zapper\",\"name\":\"Zapper\",\"tagline\":\"\"," + entryHead
                                   + "\"latest\":\"1.0\",\"latestChannel\":\"stable\"," + notInstalledTail
                                   + ",{\"id\":\"Hissmoth\",\"name\":\"Hissmoth\",\"tagline\":\"\"," + entryHead
                                   + "\"latest\":\"\",\"latestChannel\":\"stable\"," + notInstalledTail
                                   + ",{\"id\":\"hissmoth\",\"name\":\"hissmoth\",\"tagline\":\"Moths\"," + entryHead
                                   + "\"latest\":\"0.9b1\",\"latestChannel\":\"beta\"," + notInstalledTail
                                   + R"(,{"id":"grumbot-2","name":"Grumbot 2","tagline":"","installed":true,"installedVersion":"2.0","duplicate":false,"conflict":false,"update":false,"orphan":true}])"));
}

TEST (StateDocument, InstalledVersionsUpdatesDuplicatesAndConflicts)
{
    enum Folder { sysVst3, sysAu, usrVst3, usrAu };
    struct Bundle { Folder folder; const char* version; };
    struct Case
    {
        const char* name;
        const char* latestObject;          // the catalog's "latest"
        std::vector<Bundle> bundles;       // in scan order
        const char* latest;
        const char* channel;
        const char* installed;             // "installedVersion" .. "update"
    };

    const Case cases[] = {
        { "AU lags behind VST3", R"({"stable":"2.0.0"})", { { sysVst3, "2.0.0" }, { sysAu, "1.9.0" } }, "2.0.0", "stable",
          R"("installedVersion":"1.9.0","duplicate":false,"conflict":false,"update":true)" },
        { "both formats current", R"({"stable":"2.0.0"})", { { sysVst3, "2.0.0" }, { usrAu, "2.0.0" } }, "2.0.0", "stable",
          R"("installedVersion":"2.0.0","duplicate":false,"conflict":false,"update":false)" },
        { "system and user VST3 differ", R"({"stable":"1.1"})", { { sysVst3, "1.0" }, { usrVst3, "1.1" } }, "1.1", "stable",
          R"("installedVersion":"1.1","duplicate":true,"conflict":true,"update":false)" },
        { "the highest VST3 is compared", R"({"stable":"1.2"})", { { sysVst3, "1.0" }, { usrVst3, "1.1" } }, "1.2", "stable",
          R"("installedVersion":"1.1","duplicate":true,"conflict":true,"update":true)" },
        { "same version twice", R"({"stable":"1.1"})", { { sysAu, "1.1" }, { usrAu, "1.1" } }, "1.1", "stable",
          R"("installedVersion":"1.1","duplicate":true,"conflict":false,"update":false)" },
        { "1.2 and 1.2.0 are different texts", R"({"stable":"1.2"})", { { sysAu, "1.2" }, { usrAu, "1.2.0" } }, "1.2", "stable",
          R"("installedVersion":"1.2","duplicate":true,"conflict":true,"update":false)" },
        { "no version text at all", R"({"stable":"1.0"})", { { sysVst3, "" }, { usrAu, "" } }, "1.0", "stable",
          R"("installedVersion":"","duplicate":false,"conflict":false,"update":true)" },
        { "all-zero latest is not newer than nothing", R"({"stable":"0.0"})", { { sysVst3, "" } }, "0.0", "stable",
          R"("installedVersion":"","duplicate":false,"conflict":false,"update":false)" },
        { "an AU without version does not hold the product back", R"({"stable":"1.0"})", { { sysVst3, "1.0" }, { usrAu, "" } }, "1.0", "stable",
          R"("installedVersion":"1.0","duplicate":false,"conflict":false,"update":false)" },
        { "no latest version in the catalog", R"({})", { { sysVst3, "1.0" }, { sysAu, "0.9" } }, "", "stable",
          R"("installedVersion":"1.0","duplicate":false,"conflict":false,"update":false)" },
        { "only a beta is listed", R"({"stable":"","beta":"2.1.0-beta2"})", { { sysVst3, "2.0.0" } }, "2.1.0-beta2", "beta",
          R"("installedVersion":"2.0.0","duplicate":false,"conflict":false,"update":true)" },
        { "stable wins over beta", R"({"stable":"2.0.0","beta":"2.1.0-beta2"})", { { sysVst3, "2.0.0" } }, "2.0.0", "stable",
          R"("installedVersion":"2.0.0","duplicate":false,"conflict":false,"update":false)" },
        { "installed newer than the catalog", R"({"stable":"1.0"})", { { sysVst3, "1.5" }, { sysAu, "1.4" } }, "1.0", "stable",
          R"("installedVersion":"1.5","duplicate":false,"conflict":false,"update":false)" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        test::ManagerRig rig;
        rig.loadCatalog (grumbotCatalog (c.latestObject));

        juce::StringArray locations;
        int n = 0;
        for (auto& b : c.bundles)
        {
            const juce::File folders[] = { rig.systemVst3, rig.systemAu, rig.userVst3, rig.userAu };
            const char* rel[] = { "Library/VST3", "Library/Components", "home/VST3", "home/Components" };
            const bool au = b.folder == sysAu || b.folder == usrAu;
            const auto name = "G2-" + juce::String (n++);
            rig.bundle (folders[b.folder], name, "de.tarvo.grumbot2", b.version);
            locations.add (location (au ? "AU" : "VST3", b.folder == sysVst3 || b.folder == sysAu ? "System" : "User", b.version,
                                     (juce::String (rel[b.folder]) + "/" + name + (au ? ".component" : ".vst3")).toRawUTF8()));
        }

        expectDocument (rig, stateDoc ("[" + grumbotHead (c.latest, c.channel) + "\"installed\":true," + c.installed
                                       + ",\"locations\":[" + locations.joinIntoString (",") + "]}]"));
    }
}

TEST (StateDocument, NotInstalledCatalogEntryAndLocationOrder)
{
    test::ManagerRig rig;
    rig.loadCatalog (grumbotCatalog (R"({"stable":"3.0"})"));
    expectDocument (rig, stateDoc ("[" + grumbotHead ("3.0", "stable") + notInstalledTail + "]"));

    // Folder order first (system before user, as the search paths list them), then
    // the listing within a folder.
    rig.bundle (rig.userVst3, "B", "de.tarvo.grumbot2", "3.0");
    rig.bundle (rig.systemAu, "A", "de.tarvo.grumbot2", "3.0");
    rig.bundle (rig.systemVst3, "Z", "de.tarvo.grumbot2", "3.0");
    expectDocument (rig, stateDoc ("[" + grumbotHead ("3.0", "stable")
                                   + R"("installed":true,"installedVersion":"3.0","duplicate":true,"conflict":false,"update":false,"locations":[)"
                                   + location ("VST3", "System", "3.0", "Library/VST3/Z.vst3") + ","
                                   + location ("AU", "System", "3.0", "Library/Components/A.component") + ","
                                   + location ("VST3", "User", "3.0", "home/VST3/B.vst3") + "]}]"));
}

TEST (StateDocument, MascotPathsCarryTheLaterStampOfTheCachedFiles)
{
    const juce::int64 older = 1767225600999;   // stamps in whole seconds: 1767225600
    const juce::int64 newer = 1767312000500;   // 1767312000

    struct Case
    {
        const char* name;
        bool svg, mjs, svgIsFolder;
        juce::int64 svgTime, mjsTime;
        const char* mascot;
        const char* module;
    };
    const Case cases[] = {
        { "image only", true, false, false, older, 0, "/mascots/grumbot-2.svg?v=1767225600", "" },
        { "both, script newer", true, true, false, older, newer, "/mascots/grumbot-2.svg?v=1767312000", "/mascots/grumbot-2.mjs?v=1767312000" },
        { "both, image newer", true, true, false, newer, older, "/mascots/grumbot-2.svg?v=1767312000", "/mascots/grumbot-2.mjs?v=1767312000" },
        { "script only", false, true, false, 0, older, "", "/mascots/grumbot-2.mjs?v=1767225600" },
        { "a folder named like the image", false, true, true, 0, older, "", "/mascots/grumbot-2.mjs?v=1767225600" },
        { "nothing cached", false, false, false, 0, 0, "", "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        test::ManagerRig rig;
        rig.loadCatalog (grumbotCatalog (R"({"stable":"1.0"})"));
        const auto mascots = rig.appData.getChildFile ("mascots");
        const auto svg = mascots.getChildFile ("grumbot-2.svg");
        const auto mjs = mascots.getChildFile ("grumbot-2.mjs");
        if (c.svg)
        {
            test::writeFile (svg, "<svg/>");
            EXPECT_TRUE (svg.setLastModificationTime (juce::Time (c.svgTime)));
        }
        if (c.svgIsFolder)
        {
            EXPECT_TRUE (svg.createDirectory().wasOk());
        }
        if (c.mjs)
        {
            test::writeFile (mjs, "export {}");
            EXPECT_TRUE (mjs.setLastModificationTime (juce::Time (c.mjsTime)));
        }

        expectDocument (rig, stateDoc ("[" + grumbotHead ("1.0", "stable", c.mascot, c.module) + notInstalledTail + "]"));
    }
}

TEST (StateDocument, ProductIdThatCouldLeaveTheMascotFolderGetsNoMascot)
{
    test::ManagerRig rig;
    rig.loadCatalog (R"({"products":[{"id":"../escape"}]})");
    test::writeFile (rig.appData.getChildFile ("escape.svg"), "<svg/>");
    test::writeFile (rig.appData.getChildFile ("escape.mjs"), "export {}");

    expectDocument (rig, stateDoc (R"([{"id":"../escape","name":"../escape","tagline":"","mascot":"","mascotModule":"","mascotMotion":"walk",
                                       "landingUrl":"","shopUrl":"","latest":"","latestChannel":"stable",)" + juce::String (notInstalledTail) + "]"));
}

TEST (StateDocument, ManagerUpdateStates)
{
    struct Case
    {
        const char* name;
        const char* manager;   // the catalog's "manager" value
        const char* expected;
    };
    const char* const full = R"("url":"https://localhost/m.pkg","sha256":"ab12","released":"2026-06-01","size":4096,"changelog":["Faster scan","Fixes"])";
    const Case cases[] = {
        { "same version", R"({"macos":{"version":"1.0.0",%F}})",
          R"({"state":"upToDate","version":"1.0.0","released":"2026-06-01","size":4096,"busy":false,"ready":false,"changelog":["Faster scan","Fixes"]})" },
        { "newer version", R"({"macos":{"version":"1.0.1",%F}})",
          R"({"state":"available","version":"1.0.1","released":"2026-06-01","size":4096,"busy":false,"ready":false,"changelog":["Faster scan","Fixes"]})" },
        { "older version", R"({"macos":{"version":"0.9.9",%F}})",
          R"({"state":"upToDate","version":"0.9.9","released":"2026-06-01","size":4096,"busy":false,"ready":false,"changelog":["Faster scan","Fixes"]})" },
        { "minimum above this version", R"({"macos":{"version":"1.2","minSupported":"1.1",%F}})",
          R"({"state":"required","version":"1.2","released":"2026-06-01","size":4096,"busy":false,"ready":false,"changelog":["Faster scan","Fixes"]})" },
        { "minimum equal to this version", R"({"macos":{"version":"1.2","minSupported":"1.0.0",%F}})",
          R"({"state":"available","version":"1.2","released":"2026-06-01","size":4096,"busy":false,"ready":false,"changelog":["Faster scan","Fixes"]})" },
        { "no address", R"({"macos":{"version":"1.2","minSupported":"1.1","url":"","sha256":"ab12","size":7}})",
          R"({"state":"unknown","version":"1.2","released":"","size":7,"busy":false,"ready":false,"changelog":[]})" },
        { "no digest", R"({"macos":{"version":"1.2","url":"https://localhost/m.pkg"}})",
          R"({"state":"unknown","version":"1.2","released":"","size":0,"busy":false,"ready":false,"changelog":[]})" },
        { "no entry for this system", R"({"windows":{"version":"9"}})", noUpdate },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        test::ManagerRig rig;
        rig.loadCatalog (grumbotCatalog ("{}", ",\"manager\":" + juce::String (c.manager).replace ("%F", full)));
        expectDocument (rig, stateDoc ("[" + grumbotHead ("", "stable") + notInstalledTail + "]", c.expected));
    }
}

TEST (StateDocument, NoticeNeedsItsCachedBannerAndAnHttpsLink)
{
    struct Case
    {
        const char* name;
        const char* url;
        bool bannerCached;
        bool bannerIsFolder;
        const char* expected;
    };
    const Case cases[] = {
        { "cached banner, https link", "https://www.tarvo.de/sale", true, false,
          R"({"id":"summer-sale","image":"/banners/summer-sale.svg?v=1767225600","url":"https://www.tarvo.de/sale"})" },
        { "plain http link", "http://www.tarvo.de/sale", true, false,
          R"({"id":"summer-sale","image":"/banners/summer-sale.svg?v=1767225600","url":""})" },
        { "upper-case scheme", "HTTPS://www.tarvo.de/sale", true, false,
          R"({"id":"summer-sale","image":"/banners/summer-sale.svg?v=1767225600","url":""})" },
        { "script link", "javascript:alert(1)", true, false,
          R"({"id":"summer-sale","image":"/banners/summer-sale.svg?v=1767225600","url":""})" },
        { "banner not cached yet", "https://www.tarvo.de/sale", false, false, "null" },
        { "a folder where the banner should be", "https://www.tarvo.de/sale", false, true, "null" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        test::ManagerRig rig;
        rig.loadCatalog (grumbotCatalog ("{}", R"(,"notices":[{"id":"summer-sale","image":"https://localhost/b.svg","url":")"
                                                   + juce::String (c.url) + R"(","from":"2026-06-01","until":"2026-07-01"}])"));
        const auto banner = rig.appData.getChildFile ("banners/summer-sale.svg");
        if (c.bannerCached)
        {
            test::writeFile (banner, "<svg/>");
            EXPECT_TRUE (banner.setLastModificationTime (juce::Time ((juce::int64) 1767225600999)));
        }
        if (c.bannerIsFolder)
        {
            EXPECT_TRUE (banner.createDirectory().wasOk());
        }

        expectDocument (rig, stateDoc ("[" + grumbotHead ("", "stable") + notInstalledTail + "]", noUpdate, c.expected));
    }
}

TEST (StateDocument, DismissedNoticeIsGoneAndStaysGoneForTheNextManager)
{
    auto rig = std::make_unique<test::ManagerRig>();
    rig->loadCatalog (grumbotCatalog ("{}", R"(,"notices":[{"id":"a","image":"https://localhost/a.svg","priority":2},
                                                            {"id":"b","image":"https://localhost/b.svg","priority":1}])"));
    for (auto id : { "a", "b" })
    {
        const auto f = rig->appData.getChildFile ("banners/" + juce::String (id) + ".svg");
        test::writeFile (f, "<svg/>");
        f.setLastModificationTime (juce::Time ((juce::int64) 1767225600000));
    }
    const auto products = "[" + grumbotHead ("", "stable") + notInstalledTail + "]";
    expectDocument (*rig, stateDoc (products, noUpdate, R"({"id":"a","image":"/banners/a.svg?v=1767225600","url":""})"));

    rig->logic->dismissNotice ("a");
    expectDocument (*rig, stateDoc (products, noUpdate, R"({"id":"b","image":"/banners/b.svg?v=1767225600","url":""})"));

    // A new manager on the same folder reads the dismissed list back.
    rig->logic.reset();
    rig->logic = std::make_unique<ManagerLogic> (rig->config());
    ASSERT_TRUE (rig->logic->releaseIndex.loadCached());
    EXPECT_EQ (rig->logic->dismissedNotices, juce::StringArray ("a"));
    expectDocument (*rig, stateDoc (products, noUpdate, R"({"id":"b","image":"/banners/b.svg?v=1767225600","url":""})"));
}

TEST (StateDocument, DiskChangesShowInTheNextDocument)
{
    test::ManagerRig rig;
    rig.loadCatalog (grumbotCatalog (R"({"stable":"2.0"})"));
    const auto bundle = rig.bundle (rig.userVst3, "G2", "de.tarvo.grumbot2", "1.0");
    auto first = rig.logic->describeState();
    EXPECT_TRUE ((bool) first["products"][0]["update"]);

    test::makeBundle (rig.userVst3, "G2.vst3", "de.tarvo.grumbot2", "2.0");
    auto second = rig.logic->describeState();
    EXPECT_EQ (second["products"][0]["installedVersion"].toString(), "2.0");
    EXPECT_FALSE ((bool) second["products"][0]["update"]);

    EXPECT_TRUE (bundle.deleteRecursively());
    expectDocument (rig, stateDoc ("[" + grumbotHead ("2.0", "stable") + notInstalledTail + "]"));
}

TEST (StateDocument, RootFactsNameTheVendorPages)
{
    test::ManagerRig rig;
    auto doc = rig.logic->describeState();

    const juce::URL downloads (doc["downloadsUrl"].toString());
    EXPECT_TRUE (doc["downloadsUrl"].toString().startsWith ("https://"));
    EXPECT_EQ (downloads.getDomain(), hub::identity::vendorWebHost);
    EXPECT_TRUE (doc["downloadsUrl"].toString().endsWith ("/downloads#installers"));
    EXPECT_TRUE (doc["supportMail"].toString().containsChar ('@'));
    EXPECT_EQ (doc["buildStamp"].toString(), hub::identity::buildStamp());
    EXPECT_TRUE (doc["buildStamp"].toString().matchesWildcard ("??? ?? ???? ??:??:??", false));
}
