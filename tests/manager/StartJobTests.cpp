// Starting install and download jobs: the refusals in their order, which release and
// artifact are chosen, and the request handed to the install job, with the registry
// and the package served by the loopback HTTPS server.

#include "ManagerRig.h"

#include "support/VendorServer.h"

#include <juce_cryptography/juce_cryptography.h>

namespace
{
    const juce::String packageBytes = "package bytes of a plug-in installer";

    juce::String sha256Of (const juce::String& text)
    {
        return juce::SHA256 (text.toRawUTF8(), text.getNumBytesAsUTF8()).toHexString();
    }

    // One server for a whole test; the catalog can be rewritten and refreshed again.
    struct JobRig
    {
        test::TempFolder served { "fernhall-jobs" };
        test::VendorServer server { served.dir };
        std::unique_ptr<test::ManagerRig> rig;

        JobRig()
        {
            test::writeFile (served / "pkg/p.pkg", packageBytes);
            test::writeFile (served / "pkg/other.pkg", "another package");
            rig = std::make_unique<test::ManagerRig> (server.origin());
        }

        ManagerLogic& logic() { return *rig->logic; }

        juce::String artifact (const char* platform = "macos", const char* kind = "installer", const char* file = "p.pkg")
        {
            const juce::String body = juce::String (file) == "p.pkg" ? packageBytes : juce::String ("another package");
            return R"({"kind":")" + juce::String (kind) + R"(","platform":")" + platform + R"(","url":")" + server.origin()
                   + "/pkg/" + file + R"(","filename":"Grumbot Installer.pkg","sha256":")" + sha256Of (body)
                   + R"(","size":)" + juce::String (body.getNumBytesAsUTF8()) + "}";
        }

        juce::String release (const char* version, const char* channel, const juce::String& artifacts, bool yanked = false)
        {
            return R"({"version":")" + juce::String (version) + R"(","channel":")" + channel + "\""
                   + (yanked ? ",\"yanked\":true" : "") + ",\"artifacts\":[" + artifacts + "]}";
        }

        // Products with these release lists (a product with no list has no release
        // document at all), and the given manager entry; then one refresh.
        void publish (const std::vector<std::pair<juce::String, juce::String>>& products, const juce::String& manager = "{}")
        {
            juce::StringArray entries;
            for (auto& [id, releases] : products)
            {
                entries.add ("{\"id\":\"" + id + "\"}");
                const auto doc = served / ("registry/v1/products/" + id + ".json");
                if (releases.isNotEmpty())
                    test::writeFile (doc, "{\"releases\":[" + releases + "]}");
                else
                    doc.deleteFile();
            }
            test::writeFile (served / "registry/v1/catalog.json",
                             "{\"products\":[" + entries.joinIntoString (",") + "],\"manager\":{\"macos\":" + manager + "}}");

            std::optional<hub::ReleaseIndex::Result> result;
            logic().releaseIndex.refreshAsync ([&] (hub::ReleaseIndex::Result r) { result = r; });
            ASSERT_TRUE (test::pumpUntil ([&] { return result.has_value(); }, 30000));
            ASSERT_TRUE (result->ok && ! result->fromCache) << result->message;
        }

        juce::String start (const juce::String& key, hub::Installer::Mode mode = hub::Installer::install)
        {
            return test::json (logic().startJob (key, mode));
        }

        bool waitForJobEnd()
        {
            return test::pumpUntil ([this] { return ! hub::InstallProgress::isRunning (logic().installer.state().stage); }, 30000);
        }
    };

    juce::String refused (const juce::String& error) { return test::json (ManagerLogic::failed (error)); }
    juce::String accepted (const juce::String& version) { return "{\"ok\": true, \"version\": \"" + version + "\"}"; }
}

TEST (StartJob, RefusalsAndTheReleaseThatIsChosen)
{
    JobRig j;
    ASSERT_TRUE (j.server.running());
    const auto art = j.artifact();
    j.publish ({
        { "stable-after-beta", j.release ("2.1-beta", "beta", art) + "," + j.release ("2.0", "stable", art) + "," + j.release ("2.5", "stable", art) },
        { "betas-only", j.release ("3-beta", "beta", art, true) + "," + j.release ("2-beta", "beta", art) },
        { "odd-channel-first", j.release ("5.0", "nightly", art) + "," + j.release ("1.0", "stable", art) },
        { "installer-for-mac-later", j.release ("1.1", "stable", j.artifact ("windows", "installer", "other.pkg") + ","
                                                                   + j.artifact ("macos", "zip", "other.pkg") + "," + art) },
        { "all-yanked", j.release ("1", "stable", art, true) + "," + j.release ("2-beta", "beta", art, true) },
        { "channels-in-other-case", j.release ("1", "Stable", art) + "," + j.release ("2", "BETA", art) },
        { "no-release-document", {} },
        { "platform-in-other-case", j.release ("1", "stable", j.artifact ("macOS")) },
        { "kind-in-other-case", j.release ("1", "stable", j.artifact ("macos", "Installer")) },
        { "first-stable-has-no-installer", j.release ("1.0", "stable", {}) + "," + j.release ("0.9", "stable", art) },
    });

    struct Case { const char* key; juce::String answer; const char* url; };
    const Case cases[] = {
        { "stable-after-beta", accepted ("2.0"), "/pkg/p.pkg" },   // list order, not the highest version
        { "betas-only", accepted ("2-beta"), "/pkg/p.pkg" },
        { "odd-channel-first", accepted ("1.0"), "/pkg/p.pkg" },
        { "installer-for-mac-later", accepted ("1.1"), "/pkg/p.pkg" },
        { "all-yanked", refused ("There is no released version yet"), nullptr },
        { "channels-in-other-case", refused ("There is no released version yet"), nullptr },
        { "no-release-document", refused ("There is no released version yet"), nullptr },
        { "platform-in-other-case", refused ("There is no installer for this system"), nullptr },
        { "kind-in-other-case", refused ("There is no installer for this system"), nullptr },
        { "first-stable-has-no-installer", refused ("There is no installer for this system"), nullptr },
        { "Betas-Only", refused ("This product is not in the catalogue"), nullptr },
        { "grumbot-2", refused ("This product is not in the catalogue"), nullptr },
        { "", refused ("This product is not in the catalogue"), nullptr },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.key);
        EXPECT_EQ (j.start (c.key), c.answer);
        if (c.url != nullptr)
        {
            const auto request = j.logic().installer.request();
            EXPECT_EQ (request.product, c.key);
            EXPECT_EQ (request.url, j.server.origin() + c.url);
            EXPECT_EQ (request.sha256, sha256Of (packageBytes));
            EXPECT_EQ (request.size, (juce::int64) packageBytes.getNumBytesAsUTF8());
            EXPECT_EQ (request.fileName, "Grumbot Installer.pkg");
            EXPECT_TRUE (j.waitForJobEnd());
            EXPECT_EQ (hub::InstallProgress::stageName (j.logic().installer.state().stage), "done");
        }
    }
}

TEST (StartJob, ManagerTooOldRefusesEveryKeyFirst)
{
    JobRig j;
    const auto art = j.artifact();
    const auto product = std::make_pair (juce::String ("p"), j.release ("1.0", "stable", art));
    const juce::String complete = R"("url":"https://localhost/m.pkg","sha256":"ab12")";

    struct Case { const char* title; juce::String manager; bool tooOld; };
    const Case cases[] = {
        { "minimum above this version", R"({"version":"2.0","minSupported":"1.1",)" + complete + "}", true },
        { "minimum equal to this version", R"({"version":"2.0","minSupported":"1.0.0",)" + complete + "}", false },
        { "no minimum", R"({"version":"2.0",)" + complete + "}", false },
        { "minimum above, but no address", R"({"version":"2.0","minSupported":"1.1","url":"","sha256":"ab12"})", false },
        { "minimum above, but no digest", R"({"version":"2.0","minSupported":"1.1","url":"https://localhost/m.pkg"})", false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.title);
        j.publish ({ product }, c.manager);
        const auto tooOld = refused ("This app is too old. Please update it first.");
        if (c.tooOld)
        {
            EXPECT_EQ (j.start ("p"), tooOld);
            EXPECT_EQ (j.start ("not-listed", hub::Installer::download), tooOld);
            EXPECT_EQ (hub::InstallProgress::stageName (j.logic().installer.state().stage), "idle");
        }
        else
        {
            EXPECT_EQ (j.start ("p"), accepted ("1.0"));
            EXPECT_TRUE (j.waitForJobEnd());
        }
    }
}

TEST (StartJob, DownloadSavesIntoDownloadsAndShowsTheFileInstallHandsToTheSystem)
{
    JobRig j;
    j.publish ({ { "p", j.release ("1.0", "stable", j.artifact()) } });

    EXPECT_EQ (j.start ("p", hub::Installer::download), accepted ("1.0"));
    auto request = j.logic().installer.request();
    EXPECT_EQ (request.mode, hub::Installer::download);
    EXPECT_EQ (request.saveFolder, j.rig->downloads.getFullPathName());
    EXPECT_TRUE (request.reveal);
    ASSERT_TRUE (j.waitForJobEnd());
    const auto saved = j.rig->downloads.getChildFile ("Grumbot Installer.pkg");
    EXPECT_EQ (saved.loadFileAsString(), packageBytes);
    EXPECT_TRUE (test::pumpUntil ([&] { return j.rig->reveal->shown.size() == 1; }, 5000));
    EXPECT_EQ (j.rig->reveal->shown[0], saved);
    EXPECT_EQ (j.rig->systemInstaller->opens.load(), 0);

    EXPECT_EQ (j.start ("p", hub::Installer::install), accepted ("1.0"));
    request = j.logic().installer.request();
    EXPECT_EQ (request.mode, hub::Installer::install);
    EXPECT_TRUE (request.saveFolder.isEmpty());
    EXPECT_FALSE (request.reveal);
    ASSERT_TRUE (j.waitForJobEnd());
    EXPECT_EQ (hub::InstallProgress::stageName (j.logic().installer.state().stage), "done");
    EXPECT_EQ (j.rig->systemInstaller->opens.load(), 1);
    EXPECT_EQ (j.rig->reveal->shown.size(), 1u);
}

TEST (StartJob, SecondStartWhileAJobRunsIsRefusedAndChangesNothing)
{
    JobRig j;
    j.publish ({ { "p", j.release ("1.0", "stable", j.artifact()) },
                 { "q", j.release ("7.0", "beta", j.artifact()) } });
    j.rig->systemInstaller->hold = true;   // the system installer stays open

    EXPECT_EQ (j.start ("p"), accepted ("1.0"));
    ASSERT_TRUE (test::pumpUntil ([&] { return j.rig->systemInstaller->opens.load() == 1; }, 20000));

    for (auto mode : { hub::Installer::install, hub::Installer::download })
        EXPECT_EQ (j.start ("q", mode), refused ("Another installation is already running"));
    EXPECT_EQ (j.logic().installer.request().product, "p");
    EXPECT_EQ (j.logic().installer.state().version, "1.0");

    // There is one job: cancelling "the manager's update" stops this product's install.
    test::BridgeHost page (j.logic());
    EXPECT_EQ (page.call ("cancelInstall", { "tarvo-manager" }), "{\"ok\": true}");
    ASSERT_TRUE (j.waitForJobEnd());
    // The system installer stays open; the job only stops waiting for it.
    EXPECT_EQ (hub::InstallProgress::stageName (j.logic().installer.state().stage), "done");
    EXPECT_EQ (j.logic().installer.state().exitCode, -1);
    j.rig->systemInstaller->hold = false;
    EXPECT_EQ (j.start ("q"), accepted ("7.0"));
    EXPECT_TRUE (j.waitForJobEnd());
}
