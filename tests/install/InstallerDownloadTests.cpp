// The install job against the loopback HTTPS server: downloads, retries, damaged
// files, missing lengths, cancels, reuse and the address checks.
#include "install/Installer.h"
#include "support/TempFolder.h"
#include "support/VendorServer.h"
#include "InstallTestDoubles.h"

#include <gtest/gtest.h>

using hub::Installer;
using hub::InstallProgress;

namespace
{
    struct ServedJob
    {
        test::TempFolder served { "fernhall-served" };
        test::TempFolder appData { "fernhall-appdata" };
        std::unique_ptr<test::VendorServer> server;
        std::shared_ptr<test::RecordedChecker> checker = std::make_shared<test::RecordedChecker> (test::signedReport());
        std::shared_ptr<test::ScriptedInstaller> system = std::make_shared<test::ScriptedInstaller>();
        std::shared_ptr<test::RecordingReveal> reveal = std::make_shared<test::RecordingReveal>();
        std::unique_ptr<Installer> installer;
        juce::MemoryBlock content;
        juce::String digest;

        explicit ServedJob (std::array<int, 2> pauses = { 20, 50 }, size_t bytes = 300000,
                            test::VendorServer::Mode mode = test::VendorServer::Mode::trusted)
        {
            content.setSize (bytes);
            juce::Random (7).fillBitsRandomly (content.getData(), content.getSize());
            auto file = served / "files/Grumbot-2.0.pkg";
            file.getParentDirectory().createDirectory();
            file.replaceWithData (content.getData(), content.getSize());
            digest = Installer::sha256OfFile (file);

            server = std::make_unique<test::VendorServer> (served.dir, mode);

            Installer::Setup s;
            s.appData = appData.dir;
            s.downloadHost = "localhost";
            s.signatureChecker = checker;
            s.systemInstaller = system;
            s.fileReveal = reveal;
            s.pausesMs = pauses;
            installer = std::make_unique<Installer> (s);
        }

        ~ServedJob()
        {
            installer.reset();   // before the server goes away
        }

        Installer::Request request (const juce::String& path = "/files/Grumbot-2.0.pkg") const
        {
            Installer::Request r;
            r.product = "grumbot";
            r.version = "2.0";
            r.url = server->origin() + path;
            r.sha256 = digest;
            r.fileName = "Grumbot-2.0.pkg";
            r.size = (juce::int64) content.getSize();
            r.mode = Installer::download;
            r.saveFolder = (appData / "home/Downloads").getFullPathName();
            return r;
        }

        juce::File target() const { return installer->downloadFolder().getChildFile ("Grumbot-2.0.pkg"); }
        juce::File part() const { return installer->downloadFolder().getChildFile ("Grumbot-2.0.pkg.part"); }

        InstallProgress runToEnd (const Installer::Request& r, int ms = 30000)
        {
            juce::String error;
            EXPECT_TRUE (installer->start (r, error)) << error;
            EXPECT_TRUE (installer->waitForThreadToExit (ms));
            return installer->state();
        }

        bool waitFor (const std::function<bool (const InstallProgress&)>& condition, int ms = 10000)
        {
            return test::pumpUntil ([&] { return condition (installer->state()); }, ms);
        }
    };

    juce::MemoryBlock contentOf (const juce::File& f)
    {
        juce::MemoryBlock mb;
        f.loadFileAsData (mb);
        return mb;
    }
}

TEST (InstallDownload, DownloadsVerifiesAndSavesIntoANewFolder)
{
    ServedJob job;
    ASSERT_TRUE (job.server->running());
    test::LogCapture log;

    auto r = job.request();
    r.reveal = true;
    auto st = job.runToEnd (r);

    EXPECT_EQ (st.stage, InstallProgress::done) << st.error;
    EXPECT_EQ (st.message, "Saved to Downloads");
    EXPECT_EQ (st.error, "");
    EXPECT_EQ (st.attempt, 1);
    EXPECT_EQ (st.total, (juce::int64) job.content.getSize());
    EXPECT_EQ (st.exitCode, -1);
    const auto saved = juce::File (r.saveFolder).getChildFile ("Grumbot-2.0.pkg");
    EXPECT_EQ (st.delivered, saved.getFullPathName());
    EXPECT_EQ (contentOf (saved), job.content);
    EXPECT_EQ (contentOf (job.target()), job.content) << "the verified file stays in the download folder";
    EXPECT_FALSE (job.part().exists());
    EXPECT_EQ (job.checker->calls.load(), 1);
    EXPECT_EQ (job.server->requests(), juce::StringArray { "/files/Grumbot-2.0.pkg" });

    EXPECT_EQ (log.installLines().joinIntoString ("|"),
               "[install] grumbot 2.0 downloading: Downloading Grumbot-2.0.pkg|"
               "[install] grumbot 2.0 verifying: Checking the download|"
               "[install] grumbot 2.0 checking: Checking the signature|"
               "[install] grumbot 2.0 done: Saved to Downloads");

    ASSERT_TRUE (test::pumpUntil ([&] { return ! job.reveal->shown.empty(); }, 5000));
    EXPECT_EQ (job.reveal->shown.front(), saved);
}

TEST (InstallDownload, NotFoundThreeTimesWithTheRealPauses)
{
    ServedJob job ({ 2000, 5000 });
    test::LogCapture log;
    const auto t0 = juce::Time::getMillisecondCounter();
    auto st = job.runToEnd (job.request ("/status/404/files/Grumbot-2.0.pkg"));
    const auto elapsed = juce::Time::getMillisecondCounter() - t0;

    const juce::String text = "The server did not deliver the file (status 404)";
    EXPECT_EQ (st.stage, InstallProgress::failed);
    EXPECT_EQ (st.message, text);
    EXPECT_EQ (st.error, text);
    EXPECT_EQ (st.attempt, 3);
    EXPECT_GE (elapsed, 7000u);
    EXPECT_LT (elapsed, 12000u);
    EXPECT_EQ (job.server->requests().size(), 3);
    EXPECT_FALSE (job.part().exists());
    EXPECT_FALSE (job.target().exists());

    const juce::String downloading = "[install] grumbot 2.0 downloading: ";
    EXPECT_EQ (log.installLines().joinIntoString ("|"),
               downloading + "Downloading Grumbot-2.0.pkg|" + downloading + text + "|"
             + downloading + "Downloading Grumbot-2.0.pkg|" + downloading + text + "|"
             + downloading + "Downloading Grumbot-2.0.pkg|"
             + "[install] grumbot 2.0 failed: " + text);
}

TEST (InstallDownload, DamagedDownloadsFailAfterThreeAttempts)
{
    struct Case { const char* what; std::function<void (Installer::Request&)> change; juce::String text; };
    const std::vector<Case> cases {
        { "one byte short", [] (auto& r) { r.size += 1; }, "Download damaged (wrong size) - trying again" },
        { "wrong digest", [] (auto& r) { r.sha256 = juce::String::repeatedString ("ab", 32); }, "Download damaged (checksum mismatch) - trying again" },
        { "digest with white space", [] (auto& r) { r.sha256 = " " + r.sha256; }, "Download damaged (checksum mismatch) - trying again" },
        { "digest too short", [] (auto& r) { r.sha256 = r.sha256.substring (0, 63); }, "Download damaged (checksum mismatch) - trying again" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ServedJob job;
        auto r = job.request();
        c.change (r);
        auto st = job.runToEnd (r);
        EXPECT_EQ (st.stage, InstallProgress::failed);
        EXPECT_EQ (st.error, c.text);
        EXPECT_EQ (st.message, c.text);
        EXPECT_EQ (st.attempt, 3);
        EXPECT_EQ (job.server->requests().size(), 3);
        EXPECT_FALSE (job.part().exists());
        EXPECT_FALSE (job.target().exists());
        EXPECT_EQ (job.checker->calls.load(), 0);
    }
}

TEST (InstallDownload, NoLengthFromTheServer)
{
    ServedJob job ({ 20, 50 }, 4 << 20);
    auto r = job.request ("/nolength/files/Grumbot-2.0.pkg");
    juce::String error;
    ASSERT_TRUE (job.installer->start (r, error));

    // While it downloads the total is unknown, and so is the fraction.
    bool sawUnknown = job.waitFor ([] (const InstallProgress& p)
    {
        return p.stage == InstallProgress::downloading && p.total == -1;
    });
    if (sawUnknown)
    {
        auto doc = job.installer->state().toVar();
        if (doc["stage"].toString() == "downloading")
        {
            EXPECT_EQ ((double) doc["fraction"], -1.0);
        }
    }
    ASSERT_TRUE (job.installer->waitForThreadToExit (30000));
    auto st = job.installer->state();
    EXPECT_TRUE (sawUnknown);
    EXPECT_EQ (st.stage, InstallProgress::done) << st.error;
    EXPECT_EQ (st.total, -1);
    EXPECT_EQ (contentOf (job.target()), job.content);
}

TEST (InstallDownload, CancelInTheSecondAttempt)
{
    ServedJob job ({ 300, 300 });
    auto file = job.served / "files/Grumbot-2.0.pkg";
    file.moveFileTo (job.served / "held.pkg");   // the first attempt finds nothing

    juce::String error;
    ASSERT_TRUE (job.installer->start (job.request ("/slow/40000/files/Grumbot-2.0.pkg"), error));
    ASSERT_TRUE (job.waitFor ([] (const InstallProgress& p) { return p.message.contains ("status 404"); }));
    (job.served / "held.pkg").moveFileTo (file);

    ASSERT_TRUE (job.waitFor ([] (const InstallProgress& p) { return p.attempt == 2 && p.received > 0; }));
    EXPECT_TRUE (job.part().existsAsFile());
    job.installer->cancel();
    ASSERT_TRUE (job.installer->waitForThreadToExit (2000));

    auto doc = job.installer->state().toVar();
    EXPECT_EQ (doc["stage"].toString(), "cancelled");
    EXPECT_EQ (doc["message"].toString(), "Cancelled");
    EXPECT_EQ (doc["error"].toString(), "");
    EXPECT_FALSE ((bool) doc["running"]);
    EXPECT_EQ ((int) doc["attempt"], 2);
    EXPECT_FALSE (job.part().exists());
    EXPECT_FALSE (job.target().exists());
    EXPECT_EQ (job.checker->calls.load(), 0);
}

TEST (InstallDownload, StalledBodyIsCancelledWithin200ms)
{
    ServedJob job;
    juce::String error;
    ASSERT_TRUE (job.installer->start (job.request ("/stall/1000/files/Grumbot-2.0.pkg"), error));
    // The server has answered with a length and sent the first bytes; the transfer
    // then waits for bytes that never come.
    ASSERT_TRUE (job.waitFor ([] (const InstallProgress& p) { return p.stage == InstallProgress::downloading && p.total > 0; }));
    juce::Thread::sleep (500);
    EXPECT_TRUE (job.part().existsAsFile());

    const auto t0 = juce::Time::getMillisecondCounterHiRes();
    job.installer->cancel();
    ASSERT_TRUE (job.installer->waitForThreadToExit (5000));
    const auto ms = juce::Time::getMillisecondCounterHiRes() - t0;

    // The job lets go at once (about 200 ms is the goal; bench_install has no figure for
    // it). A waiting download client would hold it for a second or more, so the bound
    // here leaves room for a busy machine and still tells the two apart.
    EXPECT_LT (ms, 750.0);
    EXPECT_EQ (job.installer->state().stage, InstallProgress::cancelled);
    EXPECT_FALSE (job.part().exists());

    // The next job runs normally.
    auto st = job.runToEnd (job.request());
    EXPECT_EQ (st.stage, InstallProgress::done) << st.error;
}

TEST (InstallDownload, VerifiedFileIsReusedOnlyWithADigest)
{
    ServedJob job;
    test::LogCapture log;
    ASSERT_EQ (job.runToEnd (job.request()).stage, InstallProgress::done);
    auto again = job.runToEnd (job.request());
    EXPECT_EQ (again.stage, InstallProgress::done);
    EXPECT_EQ (job.server->requests().size(), 1) << "second job reused the verified file";
    EXPECT_TRUE (log.installLines().contains ("[install] grumbot 2.0 verifying: Already downloaded"));

    auto noDigest = job.request();
    noDigest.sha256 = {};
    EXPECT_EQ (job.runToEnd (noDigest).stage, InstallProgress::done);
    EXPECT_EQ (job.server->requests().size(), 2) << "without a digest nothing is reused";
}

TEST (InstallDownload, AddressChecksAgainstTheServer)
{
    ServedJob job;
    auto port = juce::String (job.server->port());

    struct Case { juce::String url; bool accepted; };
    const std::vector<Case> cases {
        { "http://localhost:" + port + "/files/Grumbot-2.0.pkg", false },
        { "https://me@localhost:" + port + "/files/Grumbot-2.0.pkg", false },
        { "https://localhost:" + port + "@127.0.0.1:" + port + "/files/Grumbot-2.0.pkg", false },
        { "https://LocalHost:" + port + "/files/Grumbot-2.0.pkg", true },
        { "https://localhost:" + port + "/files/Grumbot-2.0.pkg?from=registry", true },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.url);
        job.target().deleteFile();
        auto r = job.request();
        r.url = c.url;
        juce::String error;
        EXPECT_EQ (job.installer->start (r, error), c.accepted) << error;
        if (c.accepted)
        {
            ASSERT_TRUE (job.installer->waitForThreadToExit (30000));
            EXPECT_EQ (job.installer->state().stage, InstallProgress::done) << job.installer->state().error;
        }
        else
        {
            EXPECT_EQ (error, "This download address is not from TARVO");
        }
    }
    EXPECT_EQ (job.server->requests().size(), 2);
}

TEST (InstallDownload, SecondStartDoesNotDisturbTheRunningJob)
{
    ServedJob job;
    juce::String error;
    ASSERT_TRUE (job.installer->start (job.request ("/slow/300000/files/Grumbot-2.0.pkg"), error));

    auto other = job.request();
    other.product = "other";
    other.fileName = "Other.pkg";
    EXPECT_FALSE (job.installer->start (other, error));
    EXPECT_EQ (error, "Another installation is already running");

    ASSERT_TRUE (job.installer->waitForThreadToExit (30000));
    auto st = job.installer->state();
    EXPECT_EQ (st.stage, InstallProgress::done) << st.error;
    EXPECT_EQ (st.product, "grumbot");
    EXPECT_EQ (job.server->requests().size(), 1);
}

TEST (InstallDownload, UntrustedCertificateDeliversNothing)
{
    ServedJob job ({ 20, 50 }, 1000, test::VendorServer::Mode::untrustedCertificate);
    auto st = job.runToEnd (job.request());
    EXPECT_EQ (st.stage, InstallProgress::failed);
    EXPECT_TRUE (st.error == "The download could not be started" || st.error.startsWith ("The server did not deliver the file (status "))
        << st.error;
    EXPECT_FALSE (job.target().exists());
    EXPECT_FALSE (job.part().exists());
}
