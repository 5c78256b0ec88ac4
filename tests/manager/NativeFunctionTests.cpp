// The native functions as the page meets them: called by name through the web view
// options, answers checked as the JSON the page receives.

#include "ManagerRig.h"

#include "support/VendorServer.h"

namespace
{
    juce::Array<juce::var> argsOf (const std::vector<juce::var>& list)
    {
        juce::Array<juce::var> args;
        for (auto& v : list)
            args.add (v);
        return args;
    }

    juce::String oneLine (const juce::String& jsonText) { return juce::JSON::toString (juce::JSON::parse (jsonText), true); }
}

TEST (NativeFunctions, RegisteredInIndexOrderAndNothingElse)
{
    test::ManagerRig rig;
    test::BridgeHost page (*rig.logic);
    EXPECT_EQ (page.options.getNativeFunctionNames().joinIntoString (","),
               "getState,openUrl,contactSupport,refreshCatalog,dismissNotice,startInstall,startAppUpdate,"
               "applyAppUpdate,skipAppUpdate,startDownload,cancelInstall,getInstallState,uninstallPlan,"
               "uninstallProduct,getPluginVersion,getUiSettings,setEditorSize");
    EXPECT_EQ (page.call ("setUiSetting", { "theme", "dark" }), "<no function>");
}

TEST (NativeFunctions, AnswersWithoutAndWithArguments)
{
    test::ManagerRig rig;
    test::BridgeHost page (*rig.logic);

    struct Case { const char* name; std::vector<juce::var> args; juce::String answer; };
    const Case cases[] = {
        // A missing key starts nothing and answers with no value.
        { "startInstall", {}, "<no value>" },
        { "startDownload", {}, "<no value>" },
        { "cancelInstall", {}, "<no value>" },
        { "uninstallPlan", {}, "<no value>" },
        { "uninstallProduct", {}, "<no value>" },
        // Other functions ignore what they are given.
        { "getPluginVersion", {}, "\"1.0.0\"" },
        { "getPluginVersion", { 1, "x", juce::var() }, "\"1.0.0\"" },
        { "getUiSettings", {}, oneLine (R"({"uiScale":1,"contrast":"high","theme":"white"})") },
        { "getUiSettings", { "theme" }, oneLine (R"({"uiScale":1,"contrast":"high","theme":"white"})") },
        { "dismissNotice", {}, "true" },
        { "dismissNotice", { "" }, "true" },
        { "skipAppUpdate", { 5 }, oneLine (R"({"ok":true})") },
        { "cancelInstall", { "anything" }, oneLine (R"({"ok":true})") },
        { "startInstall", { "grumbot-2", "extra" }, oneLine (R"({"ok":false,"error":"This product is not in the catalogue"})") },
        { "startDownload", { juce::var() }, oneLine (R"({"ok":false,"error":"This product is not in the catalogue"})") },
        { "startAppUpdate", {}, oneLine (R"({"ok":false,"error":"No update available"})") },
        { "applyAppUpdate", {}, oneLine (R"({"ok":false,"error":"No update ready"})") },
        { "uninstallPlan", { "no-such-product" }, oneLine (R"({"count":0})") },
        { "uninstallProduct", { "no-such-product" }, test::json (hub::Uninstall::Result::unknownProduct().toVar()) },
        { "getInstallState", {}, test::json (hub::InstallProgress().toVar()) },
    };
    for (const auto& c : cases)
        EXPECT_EQ (page.call (c.name, argsOf (c.args)), c.answer) << c.name << " " << c.args.size();

    // Nothing above wrote the dismissed list or started a job.
    EXPECT_FALSE (rig.appData.getChildFile ("dismissed-notices.json").exists());
    EXPECT_EQ (hub::InstallProgress::stageName (rig.logic->installer.state().stage), "idle");
}

TEST (NativeFunctions, GetStateIsTheStateDocumentBuiltAtEachCall)
{
    test::ManagerRig rig;
    test::BridgeHost page (*rig.logic);
    const auto before = page.call ("getState");
    EXPECT_EQ (before, test::json (rig.logic->describeState()));

    rig.bundle (rig.userVst3, "G2", "de.tarvo.grumbot2", "1.0");
    const auto after = page.call ("getState");
    EXPECT_NE (after, before);
    EXPECT_TRUE (after.contains ("\"orphan\": true"));
}

TEST (NativeFunctions, OpenUrlHandsOnlyHttpsAddressesToTheBrowser)
{
    struct Case { std::vector<juce::var> args; bool accepted; };
    const Case cases[] = {
        { { "https://www.tarvo.de/sale?x=1#top" }, true },
        { { "https://" }, true },
        { { "https://www.tarvo.de/", "ignored" }, true },
        { { "HTTPS://www.tarvo.de/" }, false },
        { { "Https://www.tarvo.de/" }, false },
        { { " https://www.tarvo.de/" }, false },
        { { "http://www.tarvo.de/" }, false },
        { { "https:/www.tarvo.de/" }, false },
        { { "mailto:support@tarvo.de" }, false },
        { { "file:///etc/passwd" }, false },
        { { "javascript:alert(1)" }, false },
        { { "/downloads" }, false },
        { { "" }, false },
        { { juce::var() }, false },
        { {}, false },
    };
    for (const auto& c : cases)
    {
        test::ManagerRig rig;
        test::BridgeHost page (*rig.logic);
        const auto address = c.args.empty() ? juce::String ("(none)") : c.args[0].toString();
        EXPECT_EQ (page.call ("openUrl", argsOf (c.args)), c.accepted ? "true" : "false") << address;
        EXPECT_EQ (rig.browserOpened, c.accepted ? juce::StringArray (address) : juce::StringArray()) << address;
    }
}

TEST (NativeFunctions, ContactSupportEncodesOnlySpaces)
{
    struct Case { const char* system; const char* subjectTail; };
    const Case cases[] = {
        { "Mac OSX 14.5", "Mac%20OSX%2014.5)" },
        { "Linux", "Linux)" },
        { "Linux 6.1 (x86_64) & co?", "Linux%206.1%20(x86_64)%20&%20co?)" },
        { "  two  spaces ", "%20%20two%20%20spaces%20)" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (NativeFunctions::supportMailAddress (c.system),
                   juce::String ("mailto:") + hub::identity::supportMail + "?subject=TARVO%20Fernhall%201.0.0%20(" + c.subjectTail);

    // The call hands this system's address to the opener and answers with its verdict.
    for (bool opens : { true, false })
    {
        test::ManagerRig rig;
        rig.documentOpens = opens;
        test::BridgeHost page (*rig.logic);
        EXPECT_EQ (page.call ("contactSupport", { "ignored" }), opens ? "true" : "false");
        EXPECT_EQ (rig.documentsOpened,
                   juce::StringArray (NativeFunctions::supportMailAddress (juce::SystemStats::getOperatingSystemName())));
        EXPECT_TRUE (rig.browserOpened.isEmpty());
    }
}

TEST (NativeFunctions, EditorSizeIsClampedAndTheLastCallWins)
{
    struct Case { std::vector<juce::var> args; std::vector<std::pair<int, int>> posted; };
    const Case cases[] = {
        { { 100, 5000 }, { { 320, 2400 } } },
        { { 700.9, 800.2 }, { { 700, 800 } } },
        { { "700", "800" }, { { 700, 800 } } },
        { { 320, 2400 }, { { 320, 2400 } } },
        { { 319.99, 2400.5 }, { { 320, 2400 } } },
        { { -640, (juce::int64) 1 << 40 }, { { 320, 2400 } } },
        { { "wide", juce::var() }, { { 320, 320 } } },
        { { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity() }, { { 320, 320 } } },
        { { 560, 612, "extra" }, { { 560, 612 } } },
        { { 600 }, {} },
        { {}, {} },
    };
    for (const auto& c : cases)
    {
        test::ManagerRig rig;
        test::BridgeHost page (*rig.logic);
        const auto args = argsOf (c.args);
        EXPECT_EQ (page.call ("setEditorSize", args), "true");
        test::pumpFor (20);
        EXPECT_EQ (page.sizes, c.posted) << juce::JSON::toString (juce::var (args), true);
    }

    // Two quick calls: both answer at once, the resizes follow in order.
    test::ManagerRig rig;
    test::BridgeHost page (*rig.logic);
    std::vector<juce::String> answers;
    page.options.invoke ("setEditorSize", { 600, 700 }, [&] (juce::var v) { answers.push_back (juce::JSON::toString (v)); });
    page.options.invoke ("setEditorSize", { 640, 900 }, [&] (juce::var v) { answers.push_back (juce::JSON::toString (v)); });
    EXPECT_EQ (answers, (std::vector<juce::String> { "true", "true" }));
    EXPECT_TRUE (page.sizes.empty());   // nothing resized inside the calls
    test::pumpFor (20);
    EXPECT_EQ (page.sizes, (std::vector<std::pair<int, int>> { { 600, 700 }, { 640, 900 } }));
}

TEST (NativeFunctions, DismissNoticeWritesTheListAndHidesTheBanner)
{
    test::ManagerRig rig;
    rig.loadCatalog (R"({"products":[{"id":"hissmoth"}],"notices":[{"id":"sale","image":"https://localhost/s.svg"}]})");
    test::writeFile (rig.appData.getChildFile ("banners/sale.svg"), "<svg/>");
    test::BridgeHost page (*rig.logic);

    EXPECT_TRUE (page.call ("getState").contains ("\"id\": \"sale\""));
    EXPECT_EQ (page.call ("dismissNotice", { "sale" }), "true");
    EXPECT_TRUE (page.call ("getState").contains ("\"notice\": null"));
    EXPECT_EQ (juce::JSON::toString (juce::JSON::parse (rig.appData.getChildFile ("dismissed-notices.json")), true),
               "{\"dismissed\": [\"sale\"]}");
}

TEST (NativeFunctions, RefreshCatalogAnswersEachCallAfterItsOwnRefresh)
{
    test::TempFolder served { "fernhall-bridge" };
    test::VendorServer server (served.dir);
    ASSERT_TRUE (server.running());
    test::writeFile (served / "registry/v1/catalog.json", R"({"products":[{"id":"hissmoth","latest":{"stable":"1.0"}}]})");

    test::ManagerRig rig (server.origin());
    test::BridgeHost page (*rig.logic);
    EXPECT_TRUE (page.call ("getState").contains ("\"catalogReady\": false"));

    std::vector<juce::String> answers;
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE (page.options.invoke ("refreshCatalog", {}, [&] (juce::var v) { answers.push_back (test::json (v)); }));
    EXPECT_TRUE (answers.empty());   // answered later, on the message thread
    ASSERT_TRUE (test::pumpUntil ([&] { return answers.size() == 2; }, 30000));
    test::pumpFor (50);
    ASSERT_EQ (answers.size(), 2u);
    for (auto& a : answers)
        EXPECT_EQ (a, oneLine (R"({"ok":true,"fromCache":false,"message":"Catalog updated"})"));
    // One refresh after the other on the registry's one thread.
    EXPECT_EQ (server.requests().joinIntoString (","),
               "/registry/v1/catalog.json,/registry/v1/products/hissmoth.json,"
               "/registry/v1/catalog.json,/registry/v1/products/hissmoth.json");
    EXPECT_TRUE (page.call ("getState").contains ("\"catalogReady\": true"));

    // Server gone: the catalog in hand stays and is reported as such.
    test::ManagerRig offline ("https://localhost:9");
    test::BridgeHost offlinePage (*offline.logic);
    EXPECT_EQ (offlinePage.call ("refreshCatalog"), oneLine (R"({"ok":false,"fromCache":false,"message":"Catalog unavailable"})"));
}

TEST (NativeFunctions, UninstallRemovesUserBundlesAndReportsARefusedPasswordPrompt)
{
    test::ManagerRig rig;
    test::BridgeHost page (*rig.logic);
    const auto user = rig.bundle (rig.userVst3, "Hissmoth", "de.tarvo.hissmoth", "1.0");
    const auto plan = juce::JSON::parse (page.call ("uninstallPlan", { "hissmoth" }));
    EXPECT_EQ ((int) plan["count"], 1);
    EXPECT_FALSE ((bool) plan["needsPassword"]);

    const auto removed = juce::JSON::parse (page.call ("uninstallProduct", { "hissmoth" }));
    EXPECT_TRUE ((bool) removed["ok"]) << test::json (removed);
    EXPECT_FALSE (user.exists());
    EXPECT_EQ (rig.admin->calls, 0);

    // A system bundle needs the password prompt; a refused prompt removes nothing.
    const auto system = rig.bundle (rig.systemAu, "Grumbot", "de.tarvo.grumbot2", "2.0");
    EXPECT_TRUE ((bool) juce::JSON::parse (page.call ("uninstallPlan", { "grumbot-2" }))["needsPassword"]);
    const auto cancelled = juce::JSON::parse (page.call ("uninstallProduct", { "grumbot-2" }));
    EXPECT_FALSE ((bool) cancelled["ok"]) << test::json (cancelled);
    EXPECT_TRUE ((bool) cancelled["cancelled"]) << test::json (cancelled);
    EXPECT_TRUE (system.isDirectory());
    EXPECT_EQ (rig.admin->calls, 1);
}
