#include "ManagerFixture.h"

#include "app/NativeFunctions.h"

namespace
{
    struct Host : NativeHost
    {
        test::ManagerFixture f;
        std::vector<std::pair<int, int>> sizes;
        tarvo::WebBrowserComponent::Options options = NativeFunctions::addAll ({}, *this);

        ManagerLogic& getLogic() override { return *f.logic; }
        void postContentSize (int w, int h) override
        {
            juce::MessageManager::callAsync ([this, w, h] { sizes.emplace_back (w, h); });
        }

        // Calls by name; "<no value>" for a void answer, "<missing>" for no function.
        juce::String call (const juce::String& name, juce::Array<juce::var> args = {})
        {
            std::optional<juce::var> answer;
            if (! options.invoke (name, args, [&] (juce::var v) { answer = v; }))
                return "<missing>";
            test::pumpUntil ([&] { return answer.has_value(); }, 20000);
            if (! answer) return "<no answer>";
            return answer->isVoid() ? juce::String ("<no value>") : juce::JSON::toString (*answer, true);
        }
    };
}

TEST (NativeFunctions, RegisteredInOrder)
{
    Host h;
    EXPECT_EQ (h.options.getNativeFunctionNames().joinIntoString (","),
               "getState,openUrl,contactSupport,refreshCatalog,dismissNotice,startInstall,startAppUpdate,"
               "applyAppUpdate,skipAppUpdate,startDownload,cancelInstall,getInstallState,uninstallPlan,"
               "uninstallProduct,getPluginVersion,getUiSettings,setEditorSize");
    EXPECT_EQ (h.call ("setUiSetting", { "theme", "dark" }), "<missing>");
}

TEST (NativeFunctions, AnswersAndMissingArguments)
{
    Host h;
    EXPECT_EQ (h.call ("getPluginVersion", { 1, "x" }), "\"1.0.0\"");
    EXPECT_EQ (h.call ("getUiSettings"), test::oneLine (R"({"uiScale":1,"contrast":"high","theme":"white"})"));
    for (auto name : { "startInstall", "startDownload", "cancelInstall", "uninstallPlan", "uninstallProduct" })
        EXPECT_EQ (h.call (name), "<no value>") << name;
    EXPECT_EQ (h.call ("startInstall", { "grumbot-2" }), test::oneLine (R"({"ok":false,"error":"This product is not in the catalogue"})"));
    EXPECT_TRUE (h.call ("getInstallState").startsWith (R"({"stage": "idle")"));
    EXPECT_EQ (h.call ("cancelInstall", { "tarvo-manager" }), test::oneLine (R"({"ok":true})"));
    EXPECT_EQ (h.call ("dismissNotice"), "true");
    EXPECT_EQ (h.call ("dismissNotice", { "" }), "true");
    EXPECT_FALSE (h.f.appData.getChildFile ("dismissed-notices.json").exists());
    EXPECT_EQ (h.call ("skipAppUpdate"), test::oneLine (R"({"ok":true})"));
    EXPECT_EQ (h.call ("applyAppUpdate"), test::oneLine (R"({"ok":false,"error":"No update ready"})"));
    EXPECT_TRUE (h.call ("getState").startsWith (R"({"products": [], "appUpdate":)"));
}

TEST (NativeFunctions, OpenUrlOnlyHttps)
{
    Host h;
    struct Case { const char* address; const char* answer; };
    const Case cases[] = {
        { "https://www.tarvo.de/x", "true" },
        { "HTTPS://www.tarvo.de/x", "false" },
        { "http://www.tarvo.de/x", "false" },
        { "mailto:a@b.c", "false" },
        { "file:///etc/passwd", "false" },
        { "/relative", "false" },
    };
    for (auto& c : cases)
        EXPECT_EQ (h.call ("openUrl", { juce::var (c.address) }), c.answer) << c.address;
    EXPECT_EQ (h.call ("openUrl"), "false");
    EXPECT_EQ (h.f.opened.joinIntoString ("|"), "browser https://www.tarvo.de/x");

    EXPECT_EQ (NativeFunctions::supportMailAddress ("Linux 6.1 (x86)"),
               "mailto:support@tarvo.de?subject=TARVO%20Fernhall%201.0.0%20(Linux%206.1%20(x86))");
    EXPECT_EQ (h.call ("contactSupport"), "true");
    EXPECT_TRUE (h.f.opened[1].startsWith ("document mailto:support@tarvo.de?subject=TARVO%20Fernhall%201.0.0%20("));
}

TEST (NativeFunctions, EditorSizeIsClampedAndPosted)
{
    Host h;
    EXPECT_EQ (h.call ("setEditorSize", { 100, 5000 }), "true");
    EXPECT_EQ (h.call ("setEditorSize", { 700.9, 800.2 }), "true");
    EXPECT_EQ (h.call ("setEditorSize", { juce::var ("700"), juce::var ("800") }), "true");
    EXPECT_EQ (h.call ("setEditorSize", { juce::var (600) }), "true");
    EXPECT_EQ (h.call ("setEditorSize", { juce::var ("wide"), juce::var() }), "true");
    test::pumpFor (50);
    ASSERT_EQ (h.sizes.size(), 4u);
    EXPECT_EQ (h.sizes[0], std::make_pair (320, 2400));
    EXPECT_EQ (h.sizes[1], std::make_pair (700, 800));
    EXPECT_EQ (h.sizes[2], std::make_pair (700, 800));
    EXPECT_EQ (h.sizes[3], std::make_pair (320, 320));
}

TEST (NativeFunctions, RefreshCallsEachGetTheirOwnAnswer)
{
    Host h;
    std::vector<juce::String> answers;
    for (int i = 0; i < 2; ++i)
        h.options.invoke ("refreshCatalog", {}, [&] (juce::var v) { answers.push_back (juce::JSON::toString (v, true)); });
    ASSERT_TRUE (test::pumpUntil ([&] { return answers.size() == 2; }, 30000));
    for (auto& a : answers)
        EXPECT_EQ (a, test::oneLine (R"({"ok":false,"fromCache":false,"message":"Catalog unavailable"})"));
}

TEST (NativeFunctions, UninstallPlanOfAProduct)
{
    Host h;
    h.f.bundle (h.f.userVst3, "Hissmoth.vst3", "de.tarvo.hissmoth", "1.0");
    const auto plan = juce::JSON::parse (h.call ("uninstallPlan", { "hissmoth" }));
    EXPECT_EQ ((int) plan["count"], 1);
    EXPECT_FALSE ((bool) plan["needsPassword"]);
    const auto result = juce::JSON::parse (h.call ("uninstallProduct", { "hissmoth" }));
    EXPECT_TRUE ((bool) result["ok"]) << juce::JSON::toString (result);
    EXPECT_FALSE (h.f.userVst3.getChildFile ("Hissmoth.vst3").exists());
    EXPECT_FALSE ((bool) juce::JSON::parse (h.call ("uninstallProduct", { "nope" }))["ok"]);
}
