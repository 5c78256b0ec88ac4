// The install job after the download: reuse of a verified file, signature verdict,
// system installer, copies, cancels and the start refusals. A file already in the
// download folder with a matching digest is reused, so these need no server.
#include "install/Installer.h"
#include "support/TempFolder.h"
#include "InstallTestDoubles.h"

#include <gtest/gtest.h>

#include <csignal>

using hub::Installer;
using hub::InstallProgress;

namespace
{
    struct LocalJob
    {
        test::TempFolder tmp { "fernhall-install" };
        std::shared_ptr<test::RecordedChecker> checker = std::make_shared<test::RecordedChecker> (test::signedReport());
        std::shared_ptr<test::ScriptedInstaller> system = std::make_shared<test::ScriptedInstaller>();
        std::shared_ptr<test::RecordingReveal> reveal = std::make_shared<test::RecordingReveal>();
        std::unique_ptr<Installer> installer;
        juce::File package;
        juce::String digest;

        LocalJob()
        {
            Installer::Setup s;
            s.appData = tmp.dir;
            s.downloadHost = "localhost";
            s.teamId = "T4RV0FH123";
            s.signatureChecker = checker;
            s.systemInstaller = system;
            s.fileReveal = reveal;
            s.pausesMs = { 20, 50 };
            installer = std::make_unique<Installer> (s);

            package = installer->downloadFolder().getChildFile ("Grumbot-2.0.pkg");
            package.replaceWithText ("package bytes");
            digest = Installer::sha256OfFile (package);
        }

        Installer::Request request (Installer::Mode mode = Installer::install) const
        {
            Installer::Request r;
            r.product = "grumbot";
            r.version = "2.0";
            // Port 9 has nothing listening: any download attempt would fail at once.
            r.url = "https://localhost:9/files/Grumbot-2.0.pkg";
            r.sha256 = digest.toUpperCase();
            r.fileName = "Grumbot-2.0.pkg";
            r.size = package.getSize();
            r.mode = mode;
            return r;
        }

        InstallProgress runToEnd (const Installer::Request& r)
        {
            juce::String error;
            EXPECT_TRUE (installer->start (r, error)) << error;
            EXPECT_TRUE (installer->waitForThreadToExit (10000));
            return installer->state();
        }
    };
}

TEST (InstallJob, ReusedFileIsInstalledAndTheInstallerWaitedFor)
{
    LocalJob job;
    test::LogCapture log;
    auto st = job.runToEnd (job.request());

    EXPECT_EQ (st.stage, InstallProgress::done);
    EXPECT_EQ (st.message, "Installer closed - checking what is on disk");
    EXPECT_EQ (st.error, "");
    EXPECT_EQ (st.exitCode, 0);
    EXPECT_EQ (st.received, job.package.getSize());
    EXPECT_EQ (st.total, job.package.getSize());
    EXPECT_EQ (st.file, "Grumbot-2.0.pkg");
    EXPECT_EQ (job.system->opened, job.package);
    EXPECT_GE (job.system->polls.load(), 3) << "stopped launches are polled again";
    EXPECT_TRUE (job.package.existsAsFile()) << "the verified file stays after the installer";

    auto lines = log.installLines();
    EXPECT_EQ (lines.joinIntoString ("|"),
               "[install] grumbot 2.0 verifying: Already downloaded|"
               "[install] grumbot 2.0 checking: Checking the signature|"
               "[install] grumbot 2.0 installing: The installer is running|"
               "[install] grumbot 2.0 done: Installer closed - checking what is on disk (exit 0)");
}

TEST (InstallJob, SystemInstallerOutcomes)
{
    using State = hub::SystemInstaller::State;
    struct Case { const char* what; bool canOpen; State end; int code; int stage; juce::String message; int exitCode; };
    const std::vector<Case> cases {
        { "cannot start", false, State::exited, 0, InstallProgress::failed, "Could not start the installer", -1 },
        { "exit 1", true, State::exited, 1, InstallProgress::failed,
          "The macOS installer could not be opened (code 1). Use Download and run it from your Downloads folder.", 1 },
        { "killed by a signal", true, State::signalled, 0, InstallProgress::failed,
          "The macOS installer could not be opened (code -1). Use Download and run it from your Downloads folder.", -1 },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        LocalJob job;
        job.system->canOpen = c.canOpen;
        job.system->endState = c.end;
        job.system->code = c.code;
        auto st = job.runToEnd (job.request());
        EXPECT_EQ ((int) st.stage, c.stage);
        EXPECT_EQ (st.message, c.message);
        EXPECT_EQ (st.error, c.message);
        EXPECT_EQ (st.exitCode, c.exitCode);
    }
}

TEST (InstallJob, CancelWhileTheSystemInstallerIsOpenEndsAsDone)
{
    LocalJob job;
    job.system->pollsBeforeEnd = -1;
    juce::String error;
    ASSERT_TRUE (job.installer->start (job.request(), error));
    ASSERT_TRUE (test::pumpUntil ([&] { return job.installer->state().stage == InstallProgress::installing; }));
    job.installer->cancel();
    ASSERT_TRUE (job.installer->waitForThreadToExit (2000));

    auto st = job.installer->state();
    EXPECT_EQ (st.stage, InstallProgress::done);
    EXPECT_EQ (st.message, "Installer closed - checking what is on disk");
    EXPECT_EQ (st.exitCode, -1);
}

TEST (InstallJob, FailedSignatureDeletesThePackage)
{
    struct Case { const char* what; juce::String report; int exitCode; bool started; juce::String message; };
    const std::vector<Case> cases {
        { "unsigned", "Package \"x\":\n   Status: no signature\n", 1, true, "This file is not from TARVO - installation stopped" },
        { "other team", test::signedReport ("ABCDE12345"), 0, true, "Signed by another developer (ABCDE12345) - installation stopped" },
        { "checker missing", "", 0, false, "Could not run the signature check - installation stopped" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        LocalJob job;
        job.checker->output = { c.started, c.report, c.exitCode };
        auto r = job.request (Installer::download);
        r.saveFolder = (job.tmp / "Downloads").getFullPathName();
        auto st = job.runToEnd (r);
        EXPECT_EQ (st.stage, InstallProgress::failed);
        EXPECT_EQ (st.message, c.message);
        EXPECT_EQ (st.error, c.message);
        EXPECT_FALSE (job.package.exists());
        EXPECT_EQ (job.system->opens.load(), 0);
    }
}

TEST (InstallJob, CancelDuringTheSignatureCheck)
{
    // A package that passes ends as cancelled; one that fails is still reported failed.
    for (bool passes : { true, false })
    {
        SCOPED_TRACE (passes ? "passes" : "fails");
        LocalJob job;
        if (! passes)
            job.checker->output.exitCode = 1;
        auto* inst = job.installer.get();
        job.checker->during = [inst] { inst->cancel(); };
        auto st = job.runToEnd (job.request());
        EXPECT_EQ (st.stage, passes ? InstallProgress::cancelled : InstallProgress::failed);
        EXPECT_EQ (st.message, passes ? juce::String ("Cancelled") : juce::String ("Signature check failed - installation stopped"));
        EXPECT_EQ (job.package.exists(), passes);
        EXPECT_EQ (job.system->opens.load(), 0);
    }
}

TEST (InstallJob, CopiesIntoANewFolderAndRevealsOnTheMessageThread)
{
    LocalJob job;
    auto r = job.request (Installer::download);
    auto saveFolder = job.tmp / "home/Downloads/not yet there";
    r.saveFolder = saveFolder.getFullPathName();
    r.reveal = true;

    auto st = job.runToEnd (r);
    EXPECT_EQ (st.stage, InstallProgress::done);
    EXPECT_EQ (st.message, "Saved to Downloads");
    auto copy = saveFolder.getChildFile ("Grumbot-2.0.pkg");
    EXPECT_EQ (st.delivered, copy.getFullPathName());
    EXPECT_EQ (copy.loadFileAsString(), "package bytes");
    EXPECT_EQ ((double) st.toVar()["fraction"], 1.0);
    EXPECT_TRUE (job.package.existsAsFile());

    ASSERT_TRUE (test::pumpUntil ([&] { return ! job.reveal->shown.empty(); }));
    EXPECT_EQ (job.reveal->shown.front(), copy);
    EXPECT_TRUE (job.reveal->onMessageThread.load());
}

TEST (InstallJob, AppUpdateReplacesAnEarlierCopyWithoutRevealing)
{
    LocalJob job;
    auto r = job.request (Installer::appUpdate);
    auto updateFolder = job.tmp / "update";
    updateFolder.getChildFile ("Grumbot-2.0.pkg").create();
    updateFolder.getChildFile ("Grumbot-2.0.pkg").replaceWithText ("old");
    r.saveFolder = updateFolder.getFullPathName();

    auto st = job.runToEnd (r);
    EXPECT_EQ (st.stage, InstallProgress::done);
    EXPECT_EQ (st.message, "Update ready");
    EXPECT_EQ (updateFolder.getChildFile ("Grumbot-2.0.pkg").loadFileAsString(), "package bytes");
    test::pumpUntil ([] { return false; }, 100);
    EXPECT_TRUE (job.reveal->shown.empty());
}

TEST (InstallJob, CopyFailures)
{
    LocalJob job;
    auto blocker = job.tmp / "a file";
    blocker.replaceWithText ("x");
    auto destIsFolder = job.tmp / "dl";
    destIsFolder.getChildFile ("Grumbot-2.0.pkg").createDirectory();

    for (auto folder : { blocker.getFullPathName(), juce::String ("relative/Downloads"), destIsFolder.getFullPathName() })
    {
        SCOPED_TRACE (folder);
        auto r = job.request (Installer::download);
        r.saveFolder = folder;
        auto st = job.runToEnd (r);
        EXPECT_EQ (st.stage, InstallProgress::failed);
        EXPECT_EQ (st.error, "Could not save to Downloads");
        EXPECT_EQ (st.delivered, "");
    }
    EXPECT_TRUE (destIsFolder.getChildFile ("Grumbot-2.0.pkg").isDirectory());
}

TEST (InstallJob, StartRefusalsChangeNothing)
{
    LocalJob job;
    auto base = job.request (Installer::download);
    base.saveFolder = (job.tmp / "out").getFullPathName();

    struct Case { const char* what; std::function<void (Installer::Request&)> change; juce::String error; };
    const std::vector<Case> cases {
        { "plain http", [] (auto& r) { r.url = "http://localhost:9/x.pkg"; }, "This download address is not from TARVO" },
        { "user part", [] (auto& r) { r.url = "https://me@localhost:9/x.pkg"; }, "This download address is not from TARVO" },
        { "other host", [] (auto& r) { r.url = "https://127.0.0.2/x.pkg"; }, "This download address is not from TARVO" },
        { "name of dots", [] (auto& r) { r.fileName = "../.."; }, "The registry entry has no usable file name" },
        { "name of symbols", [] (auto& r) { r.fileName = "/$%&/()"; }, "The registry entry has no usable file name" },
        { "no save folder", [] (auto& r) { r.saveFolder = ""; }, "No folder to save the download to" },
        { "http and no name", [] (auto& r) { r.url = "http://x"; r.fileName = ""; }, "This download address is not from TARVO" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto r = base;
        c.change (r);
        juce::String error;
        EXPECT_FALSE (job.installer->start (r, error));
        EXPECT_EQ (error, c.error);
        EXPECT_FALSE (job.installer->isThreadRunning());
        EXPECT_EQ (job.installer->state().stage, InstallProgress::idle);
        EXPECT_EQ (job.installer->request().url, "");
    }

    // Install mode needs no save folder; host letter case does not matter.
    auto r = job.request();
    r.url = "https://LOCALHOST:9/files/Grumbot-2.0.pkg";
    juce::String error;
    EXPECT_TRUE (job.installer->start (r, error));
    EXPECT_TRUE (job.installer->waitForThreadToExit (5000));
}

TEST (InstallJob, SecondStartIsRefusedWhileRunning)
{
    LocalJob job;
    job.system->pollsBeforeEnd = -1;
    juce::String error;
    ASSERT_TRUE (job.installer->start (job.request(), error));

    auto other = job.request (Installer::download);
    other.product = "other";
    other.saveFolder = "/tmp";
    EXPECT_FALSE (job.installer->start (other, error));
    EXPECT_EQ (error, "Another installation is already running");
    EXPECT_EQ (job.installer->request().product, "grumbot");
    EXPECT_EQ (job.installer->state().product, "grumbot");

    job.installer->cancel();
    ASSERT_TRUE (job.installer->waitForThreadToExit (2000));
    EXPECT_TRUE (job.installer->start (job.request(), error)) << "a new job is accepted once the thread ended";
    job.installer->cancel();
}

TEST (InstallJob, ReuseNeedsAMatchingDigest)
{
    // Without a digest, or with a different one, the file is downloaded again; with
    // nothing listening every attempt fails (no HTTP status: status 0) and the stale
    // file stays in place.
    for (auto sha : { juce::String(), juce::String::repeatedString ("0", 64), juce::String (" ") })
    {
        SCOPED_TRACE (sha);
        LocalJob job;
        auto r = job.request();
        r.sha256 = sha;
        auto st = job.runToEnd (r);
        EXPECT_EQ (st.stage, InstallProgress::failed);
        EXPECT_TRUE (st.error == "The download could not be started"
                     || st.error == "The server did not deliver the file (status 0)") << st.error;
        EXPECT_EQ (st.attempt, 3);
        EXPECT_EQ (job.checker->calls.load(), 0);
        EXPECT_EQ (job.package.loadFileAsString(), "package bytes");
        EXPECT_FALSE (job.installer->downloadFolder().getChildFile ("Grumbot-2.0.pkg.part").exists());
    }
}

#if ! JUCE_MAC
TEST (InstallJob, ThisSystemCannotOpenPackages)
{
    auto launcher = hub::SystemInstaller::createSystem();
    EXPECT_FALSE (launcher->open (juce::File ("/tmp/x.pkg")));
}
#endif

TEST (OpenAndWait, PollsARealProcessToItsEnd)
{
    using State = hub::SystemInstaller::State;
    test::TempFolder tmp;

    auto pidFile = tmp / "pid";
    struct Case { juce::String script; State end; int code; };
    const std::vector<Case> cases {
        { "exit 0", State::exited, 0 },
        { "exit 3", State::exited, 3 },
        { "kill -TERM $$", State::signalled, -1 },
        { "echo $$ > '" + pidFile.getFullPathName() + "'; kill -STOP $$; exit 4", State::exited, 4 },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.script);
        // The launcher appends the package path; the script ignores its argument.
        auto launcher = hub::SystemInstaller::createLauncher ({ "/bin/sh", "-c", c.script });
        ASSERT_TRUE (launcher->open (tmp / "x.pkg"));
        State st = State::running;
        bool sawStopped = false;
        for (int i = 0; i < 500; ++i)
        {
            st = launcher->poll();
            if (st == State::stopped && ! sawStopped)
            {
                // Resumed from outside, as by a user; polling goes on meanwhile.
                sawStopped = true;
                ::kill ((pid_t) pidFile.loadFileAsString().trim().getIntValue(), SIGCONT);
            }
            if (st == State::exited || st == State::signalled)
                break;
            juce::Thread::sleep (10);
        }
        EXPECT_EQ ((int) st, (int) c.end);
        EXPECT_EQ (launcher->exitCode(), c.code);
        if (c.code == 4)
        {
            EXPECT_TRUE (sawStopped);
        }
    }

    auto missing = hub::SystemInstaller::createLauncher ({ "/nonexistent/open", "-W" });
    EXPECT_FALSE (missing->open (tmp / "x.pkg"));
}
