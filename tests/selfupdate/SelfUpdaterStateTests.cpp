// The self-updater's flags and native operations, driven by a replayed install job,
// and once end to end with the real install job.
#include "SelfUpdateDoubles.h"
#include "install/InstallTestDoubles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using hub::InstallProgress;
using hub::SelfUpdater;

TEST (SelfUpdater, StartsTheManagerDownloadIntoTheUpdateFolder)
{
    test::UpdaterRig rig;
    EXPECT_FALSE (rig.updater->isBusy());
    EXPECT_FALSE (rig.updater->isReady());

    auto r = rig.updater->startAppUpdate (test::ManagerEntry {});
    EXPECT_TRUE (r.ok);
    EXPECT_EQ (r.version, "1.1.0");
    EXPECT_TRUE (rig.updater->isBusy());
    EXPECT_FALSE (rig.updater->isReady());
    EXPECT_TRUE (rig.updater->isTimerRunning());
    EXPECT_EQ (rig.updater->getTimerInterval(), 200);

    ASSERT_EQ (rig.job.started.size(), 1u);
    auto& req = rig.job.started[0];
    EXPECT_EQ (req.product, "tarvo-manager");
    EXPECT_EQ (req.version, "1.1.0");
    EXPECT_EQ (req.url, "https://downloads.tarvo.de/manager/TARVO-Fernhall-1.1.0.pkg");
    EXPECT_EQ (req.sha256, "ab12");
    EXPECT_EQ (req.fileName, "TARVO Fernhall 1.1.0.pkg");
    EXPECT_EQ (req.size, 1234);
    EXPECT_EQ (req.mode, hub::Installer::appUpdate);
    EXPECT_EQ (req.saveFolder, rig.updateFolder().getFullPathName());
    EXPECT_TRUE (rig.updateFolder().isDirectory());
    EXPECT_FALSE (req.reveal);
}

TEST (SelfUpdater, StartRefusals)
{
    struct Case { const char* what; std::function<void (test::ManagerEntry&, test::ReplayedJob&)> change; juce::String error; };
    const std::vector<Case> cases {
        { "no manager entry", [] (auto& m, auto&) { m = {}; m.version = m.url = m.sha256 = m.filename = {}; m.size = 0; }, "No update available" },
        { "no version", [] (auto& m, auto&) { m.version = {}; }, "No update available" },
        { "no address", [] (auto& m, auto&) { m.url = {}; }, "No update available" },
        { "no digest", [] (auto& m, auto&) { m.sha256 = {}; }, "No update available" },
        { "job refuses", [] (auto&, auto& j) { j.accept = false; }, "Another installation is already running" },
        { "address refused", [] (auto&, auto& j) { j.accept = false; j.refusal = "This download address is not from TARVO"; },
          "This download address is not from TARVO" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        test::UpdaterRig rig;
        test::ManagerEntry m;
        c.change (m, rig.job);
        auto r = rig.updater->startAppUpdate (m);
        EXPECT_FALSE (r.ok);
        EXPECT_EQ (r.error, c.error);
        EXPECT_FALSE (rig.updater->isBusy());
        EXPECT_FALSE (rig.updater->isTimerRunning());
    }
}

TEST (SelfUpdater, SecondStartWhileDownloadingIsRefused)
{
    test::UpdaterRig rig;
    ASSERT_TRUE (rig.updater->startAppUpdate (test::ManagerEntry {}).ok);
    auto again = rig.updater->startAppUpdate (test::ManagerEntry {});
    EXPECT_FALSE (again.ok);
    EXPECT_EQ (again.error, "The update is already running");
    EXPECT_EQ (rig.job.started.size(), 1u);
    EXPECT_TRUE (rig.updater->isBusy());
}

TEST (SelfUpdater, HowTheDownloadEnds)
{
    enum Delivered { none, file, folder, missing, relative };
    struct Case
    {
        const char* what;
        InstallProgress::Stage stage;
        Delivered delivered;
        bool busy, ready;
        juce::String applyError;   // empty: apply goes ahead
    };
    const std::vector<Case> cases {
        { "done with the package", InstallProgress::done, file, false, true, {} },
        { "done, no path", InstallProgress::done, none, false, false, "No update ready" },
        { "done, path is a folder", InstallProgress::done, folder, false, false, "No update ready" },
        { "done, file gone", InstallProgress::done, missing, false, false, "No update ready" },
        { "done, relative path", InstallProgress::done, relative, false, false, "No update ready" },
        { "failed", InstallProgress::failed, file, false, false, "No update ready" },
        { "cancelled", InstallProgress::cancelled, file, false, false, "No update ready" },
        { "still downloading", InstallProgress::downloading, none, true, false, "The download is still running" },
        { "verifying", InstallProgress::verifying, none, true, false, "The download is still running" },
        { "checking the signature", InstallProgress::checking, none, true, false, "The download is still running" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        test::UpdaterRig rig;
        juce::String path;
        switch (c.delivered)
        {
            case none: break;
            case file: path = rig.deliver().getFullPathName(); break;
            case folder: { auto d = rig.updateFolder().getChildFile ("pkg"); d.createDirectory(); path = d.getFullPathName(); break; }
            case missing: path = rig.updateFolder().getChildFile ("gone.pkg").getFullPathName(); break;
            case relative: rig.deliver ("rel.pkg"); path = "update/rel.pkg"; break;
        }
        rig.runTo (c.stage, path);

        EXPECT_EQ (rig.updater->isBusy(), c.busy);
        EXPECT_EQ (rig.updater->isReady(), c.ready);
        EXPECT_EQ (rig.updater->isTimerRunning(), c.busy) << "the timer only runs while following a download";
        if (c.stage == InstallProgress::done)
        {
            EXPECT_EQ (rig.updater->packagePath(), path);
        }

        auto r = rig.updater->applyAppUpdate();
        EXPECT_EQ (r.ok, c.applyError.isEmpty());
        EXPECT_EQ (r.error, c.applyError);
        EXPECT_FALSE (rig.updater->isReady()) << "apply always clears ready";
        EXPECT_EQ (rig.quits, r.ok ? 1 : 0);
        EXPECT_EQ (rig.spawner->calls.size(), r.ok ? 1u : 0u);
    }
}

TEST (SelfUpdater, TimerNoticesTheEndWithoutAStateBuild)
{
    test::UpdaterRig rig;
    ASSERT_TRUE (rig.updater->startAppUpdate (test::ManagerEntry {}).ok);
    rig.job.end (InstallProgress::done, rig.deliver().getFullPathName());

    auto t0 = juce::Time::getMillisecondCounter();
    EXPECT_TRUE (test::pumpMessagesUntil ([&] { return rig.updater->isReady(); }, 2000));
    EXPECT_LT (juce::Time::getMillisecondCounter() - t0, 1000u);
    EXPECT_FALSE (rig.updater->isBusy());
    EXPECT_FALSE (rig.updater->isTimerRunning());
}

TEST (SelfUpdater, AnotherJobInTheRecordEndsTheFollowing)
{
    // A product job can only have started after the manager download ended; the
    // updater must not wait for the manager's record forever.
    test::UpdaterRig rig;
    ASSERT_TRUE (rig.updater->startAppUpdate (test::ManagerEntry {}).ok);
    rig.job.record.product = "grumbot";
    rig.job.record.stage = InstallProgress::downloading;
    rig.updater->sync();
    EXPECT_FALSE (rig.updater->isBusy());
    EXPECT_FALSE (rig.updater->isReady());
    EXPECT_FALSE (rig.updater->isTimerRunning());
    EXPECT_TRUE (rig.updater->startAppUpdate (test::ManagerEntry {}).ok) << "the update can be started again";
}

TEST (SelfUpdater, SkipForgetsTheReadyPackageButLeavesTheFile)
{
    test::UpdaterRig rig;
    auto pkg = rig.deliver();
    rig.runTo (InstallProgress::done, pkg.getFullPathName());
    ASSERT_TRUE (rig.updater->isReady());

    rig.updater->skipAppUpdate();
    EXPECT_FALSE (rig.updater->isReady());
    EXPECT_EQ (rig.updater->packagePath(), "");

    auto r = rig.updater->applyAppUpdate();
    EXPECT_FALSE (r.ok);
    EXPECT_EQ (r.error, "No update ready");
    EXPECT_TRUE (pkg.existsAsFile());
    EXPECT_TRUE (rig.spawner->calls.empty());
}

TEST (SelfUpdater, NewStartDropsAReadyPackage)
{
    test::UpdaterRig rig;
    rig.runTo (InstallProgress::done, rig.deliver().getFullPathName());
    ASSERT_TRUE (rig.updater->isReady());
    ASSERT_TRUE (rig.updater->startAppUpdate (test::ManagerEntry {}).ok);
    EXPECT_FALSE (rig.updater->isReady());
    EXPECT_EQ (rig.updater->packagePath(), "");
    EXPECT_EQ (rig.updater->applyAppUpdate().error, "The download is still running");
}

TEST (SelfUpdater, ApplyWritesTheScriptStartsItAndQuits)
{
    test::UpdaterRig rig;
    auto pkg = rig.deliver();
    rig.runTo (InstallProgress::done, pkg.getFullPathName());

    auto script = rig.updateFolder().getChildFile ("relaunch.sh");
    test::writeFile (script, "old script\n");
    const auto mask = ::umask (0);
    ::umask (mask);

    auto r = rig.updater->applyAppUpdate();
    ASSERT_TRUE (r.ok) << r.error;
    EXPECT_EQ (rig.quits, 1);
    EXPECT_FALSE (rig.updater->isReady());

    ASSERT_EQ (rig.spawner->calls.size(), 1u);
    EXPECT_EQ (rig.spawner->calls[0].joinIntoString ("|"), "/bin/sh|" + script.getFullPathName());

    struct stat st {};
    ASSERT_EQ (::stat (script.getFullPathName().toRawUTF8(), &st), 0);
    EXPECT_EQ (st.st_mode & 0777, ((0666u & ~(unsigned) mask) | 0111u)) << "read and write bits kept, execute added for all";

    auto text = script.loadFileAsString();
    EXPECT_TRUE (text.startsWith ("#!/bin/sh\n")) << "the old script is replaced";
    EXPECT_TRUE (text.contains ("\nPID=4711\n"));
    EXPECT_TRUE (text.contains ("\nPKG=" + SelfUpdater::shellQuote (pkg.getFullPathName()) + "\n"));
    EXPECT_TRUE (text.contains ("\nAPP=\"/Users/me/Desktop/TARVO Fernhall.app\"\n"));
    EXPECT_TRUE (text.contains ("\nLOG=" + SelfUpdater::shellQuote (rig.updateFolder().getChildFile ("relaunch.log").getFullPathName()) + "\n"));
    EXPECT_TRUE (pkg.existsAsFile()) << "the script deletes the package, not the application";

    auto again = rig.updater->applyAppUpdate();
    EXPECT_EQ (again.error, "No update ready");
}

TEST (SelfUpdater, ApplyFailuresLeaveThePackageAndDoNotQuit)
{
    struct Case { const char* what; bool spawnFails; bool scriptUnwritable; size_t spawns; };
    const std::vector<Case> cases {
        { "spawn fails", true, false, 1 },
        { "script cannot be written", false, true, 0 },   // no stale script is started
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        test::UpdaterRig rig;
        auto pkg = rig.deliver();
        rig.runTo (InstallProgress::done, pkg.getFullPathName());
        if (c.spawnFails)
            rig.spawner->answer = 0;
        if (c.scriptUnwritable)
            test::writeFile (rig.updateFolder().getChildFile ("relaunch.sh/keep"), "x");   // a folder in the way

        auto r = rig.updater->applyAppUpdate();
        EXPECT_FALSE (r.ok);
        EXPECT_EQ (r.error, "Could not start the installer");
        EXPECT_EQ (rig.spawner->calls.size(), c.spawns);
        EXPECT_EQ (rig.quits, 0);
        EXPECT_FALSE (rig.updater->isReady());
        EXPECT_TRUE (pkg.existsAsFile());
    }
}

TEST (SelfUpdater, ApplyWhenThePackageWentAway)
{
    test::UpdaterRig rig;
    auto pkg = rig.deliver();
    rig.runTo (InstallProgress::done, pkg.getFullPathName());
    ASSERT_TRUE (rig.updater->isReady());
    pkg.deleteFile();

    EXPECT_EQ (rig.updater->applyAppUpdate().error, "No update ready");
    EXPECT_FALSE (rig.updater->isReady());
    EXPECT_TRUE (rig.spawner->calls.empty());
}

TEST (SelfUpdater, RealInstallJobDeliversTheManagerPackage)
{
    // The real install job, with its platform operations replayed: a verified file
    // already in its download folder is copied into the update folder.
    test::TempFolder tmp { "fernhall-selfupdate-real" };
    hub::Installer::Setup is;
    is.appData = tmp.dir;
    is.downloadHost = "localhost";
    is.signatureChecker = std::make_shared<test::RecordedChecker> (test::signedReport());
    is.systemInstaller = std::make_shared<test::ScriptedInstaller>();
    is.fileReveal = std::make_shared<test::RecordingReveal>();
    is.pausesMs = { 20, 50 };
    hub::Installer installer (is);

    auto cached = installer.downloadFolder().getChildFile ("TARVO-Fernhall-1.1.0.pkg");
    cached.replaceWithText ("manager package bytes");

    SelfUpdater::Setup us;
    us.appData = tmp.dir;
    SelfUpdater updater (installer, us);

    test::ManagerEntry m;
    m.filename = "TARVO-Fernhall-1.1.0.pkg";
    m.url = "https://localhost:9/manager/TARVO-Fernhall-1.1.0.pkg";   // nothing listens on port 9
    m.sha256 = hub::Installer::sha256OfFile (cached);
    m.size = cached.getSize();

    auto r = updater.startAppUpdate (m);
    ASSERT_TRUE (r.ok) << r.error;
    EXPECT_TRUE (updater.isBusy());
    EXPECT_EQ (updater.startAppUpdate (m).error, "The update is already running");

    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return ! updater.isBusy(); }, 10000));
    EXPECT_TRUE (updater.isReady()) << installer.state().error;
    auto delivered = tmp.dir.getChildFile ("update/TARVO-Fernhall-1.1.0.pkg");
    EXPECT_EQ (updater.packagePath(), delivered.getFullPathName());
    EXPECT_EQ (delivered.loadFileAsString(), "manager package bytes");
    installer.waitForThreadToExit (5000);
}
