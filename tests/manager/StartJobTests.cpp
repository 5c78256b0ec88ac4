#include "ManagerFixture.h"

#include "support/VendorServer.h"

namespace
{
    // A registry whose product "p" has the given releases, refreshed into a manager.
    struct JobFixture
    {
        test::TempFolder served { "fernhall-jobs" };
        test::VendorServer server { served.dir };
        std::unique_ptr<test::ManagerFixture> f;

        JobFixture (const juce::String& releases, const juce::String& manager = "{}")
        {
            test::writeFile (served / "registry/v1/catalog.json",
                             R"({"products":[{"id":"p"},{"id":"empty"}],"manager":{"macos":)" + manager + "}}");
            test::writeFile (served / "registry/v1/products/p.json", R"({"releases":[)" + releases + "]}");
            test::writeFile (served / "pkg/p.pkg", "package bytes");
            f = std::make_unique<test::ManagerFixture> (server.origin());
            std::optional<hub::ReleaseIndex::Result> r;
            f->logic->releaseIndex.refreshAsync ([&] (hub::ReleaseIndex::Result x) { r = x; });
            EXPECT_TRUE (test::pumpUntil ([&] { return r.has_value(); }, 20000));
            EXPECT_TRUE (r && r->ok && ! r->fromCache);
        }

        juce::String start (const juce::String& key, hub::Installer::Mode mode = hub::Installer::install)
        {
            return juce::JSON::toString (f->logic->startJob (key, mode), true);
        }

        juce::String artifact (const char* platform = "macos", const char* kind = "installer")
        {
            return R"({"kind":")" + juce::String (kind) + R"(","platform":")" + platform + R"(","url":")" + server.origin()
                   + R"(/pkg/p.pkg","filename":"p.pkg","size":13})";
        }
    };
}

TEST (StartJob, Refusals)
{
    struct Case { const char* title; juce::String releases; const char* manager; const char* key; const char* error; };
    JobFixture probe ("");   // only for the server origin in artifact()
    const auto art = probe.artifact();
    const Case cases[] = {
        { "unknown key", "", "{}", "nothing", "This product is not in the catalogue" },
        { "key in other case", "", "{}", "P", "This product is not in the catalogue" },
        { "no releases", "", "{}", "empty", "There is no released version yet" },
        { "all yanked", R"({"version":"1","yanked":true,"artifacts":[)" + art + "]}", "{}", "p", "There is no released version yet" },
        { "other channels only", R"({"version":"1","channel":"Stable","artifacts":[)" + art + R"(]},{"version":"2","channel":"nightly","artifacts":[)" + art + "]}",
          "{}", "p", "There is no released version yet" },
        { "platform in other case", R"({"version":"1","artifacts":[)" + probe.artifact ("macOS") + "]}", "{}", "p", "There is no installer for this system" },
        { "kind in other case", R"({"version":"1","artifacts":[)" + probe.artifact ("macos", "Installer") + "]}", "{}", "p", "There is no installer for this system" },
        { "manager too old", R"({"version":"1","artifacts":[)" + art + "]}",
          R"({"version":"2.0","url":"https://x","sha256":"ab","minSupported":"1.1"})", "p", "This app is too old. Please update it first." },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.title);
        JobFixture j (c.releases, c.manager);
        EXPECT_EQ (j.start (c.key), juce::JSON::toString (ManagerLogic::failed (c.error), true));
    }

    // minSupported above the app, but no address: no age refusal.
    JobFixture noUrl (R"({"version":"1","artifacts":[)" + art + "]}", R"({"version":"2.0","url":"","sha256":"ab","minSupported":"1.1"})");
    EXPECT_NE (noUrl.start ("p"), juce::JSON::toString (ManagerLogic::failed ("This app is too old. Please update it first."), true));
}

TEST (StartJob, ChoosesStableThenBetaAndFillsTheRequest)
{
    JobFixture probe ("");
    const auto art = probe.artifact();
    struct Case { juce::String releases; const char* version; };
    const Case cases[] = {
        { R"({"version":"2.1-beta","channel":"beta","artifacts":[)" + art + R"(]},{"version":"2.0","artifacts":[)" + art + "]}", "2.0" },
        { R"({"version":"3-beta","channel":"beta","yanked":true,"artifacts":[)" + art + R"(]},{"version":"2-beta","channel":"beta","artifacts":[)" + art + "]}", "2-beta" },
        { R"({"version":"1.0","artifacts":[]},{"version":"0.9","artifacts":[)" + art + "]}", "" },   // first stable wins, even without installer
    };
    for (auto& c : cases)
    {
        JobFixture j (c.releases);
        const auto answer = j.f->logic->startJob ("p", hub::Installer::download);
        if (juce::String (c.version).isEmpty())
        {
            EXPECT_EQ (answer["error"].toString(), "There is no installer for this system");
            continue;
        }
        EXPECT_TRUE ((bool) answer["ok"]) << juce::JSON::toString (answer);
        EXPECT_EQ (answer["version"].toString(), c.version);
        const auto request = j.f->logic->installer.request();
        EXPECT_EQ (request.product, "p");
        EXPECT_EQ (request.saveFolder, (j.f->root / "Downloads").getFullPathName());
        EXPECT_TRUE (request.reveal);
        EXPECT_EQ (request.size, 13);
        EXPECT_EQ (request.fileName, "p.pkg");

        // A second start while the first runs is refused by the install job.
        const auto second = j.f->logic->startJob ("p", hub::Installer::install);
        if (hub::InstallProgress::isRunning (j.f->logic->installer.state().stage))
        {
            EXPECT_EQ (second["error"].toString(), "Another installation is already running");
        }
        test::pumpUntil ([&] { return ! hub::InstallProgress::isRunning (j.f->logic->installer.state().stage); }, 20000);
    }

    JobFixture install (R"({"version":"2.0","artifacts":[)" + art + "]}");
    EXPECT_TRUE ((bool) install.f->logic->startJob ("p", hub::Installer::install)["ok"]);
    const auto request = install.f->logic->installer.request();
    EXPECT_TRUE (request.saveFolder.isEmpty());
    EXPECT_FALSE (request.reveal);
    test::pumpUntil ([&] { return ! hub::InstallProgress::isRunning (install.f->logic->installer.state().stage); }, 20000);
}
