// The relaunch script: quoting, its text, and a real run under /bin/sh with the
// commands it calls replaced by recording stubs. Also the start-up clean-up of the
// update folder and the update state of a manager entry.
#include "SelfUpdateDoubles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <mutex>
#include <thread>

using hub::SelfUpdater;

namespace
{
    const juce::String nasty = "Fern hall $HOME `id` \"q\" back\\slash it's $(touch x).pkg";

    juce::String sh (const juce::String& script, const juce::StringArray& extraEnv = {})
    {
        juce::StringArray args { "/usr/bin/env" };
        args.addArray (extraEnv);
        args.addArray ({ "/bin/sh", "-c", script });
        juce::ChildProcess p;
        if (! p.start (args, juce::ChildProcess::wantStdOut))
            return "<not started>";
        auto out = p.readAllProcessOutput();
        p.waitForProcessToFinish (60000);
        return out;
    }

    SelfUpdater::ScriptCommands macCommands()
    {
        SelfUpdater::ScriptCommands c;
        c.openPackage = { "/usr/bin/open", "-W" };
        c.appPresent = "-d";
        c.startApp = { "/usr/bin/open" };
        c.removeFile = { "/bin/rm", "-f" };
        return c;
    }

    // A process of our own that the script waits for; reaped as soon as it ends so
    // that it does not linger as a zombie that still answers kill -0.
    struct WatchedProcess
    {
        pid_t pid = 0;
        std::mutex m;
        bool reaped = false;
        std::thread reaper;

        explicit WatchedProcess (const char* seconds)
        {
            const char* argv[] = { "/bin/sleep", seconds, nullptr };
            if (::posix_spawn (&pid, "/bin/sleep", nullptr, nullptr, const_cast<char**> (argv), nullptr) != 0)
                pid = 0;
            else
                reaper = std::thread ([this] {
                    siginfo_t info {};
                    ::waitid (P_PID, (id_t) pid, &info, WEXITED | WNOWAIT);
                    std::lock_guard<std::mutex> g (m);
                    ::waitpid (pid, nullptr, 0);
                    reaped = true;
                });
        }
        ~WatchedProcess()
        {
            {
                // Only a process that has not been collected yet is ours to signal.
                std::lock_guard<std::mutex> g (m);
                if (pid > 0 && ! reaped)
                    ::kill (pid, SIGKILL);
            }
            if (reaper.joinable())
                reaper.join();
        }
    };
}

TEST (RelaunchScript, ShellQuote)
{
    struct Case { juce::String in, out; };
    const std::vector<Case> cases {
        { "", "\"\"" },
        { "/Applications/TARVO Fernhall.app", "\"/Applications/TARVO Fernhall.app\"" },
        { "a$b", "\"a\\$b\"" },
        { "a`b`", "\"a\\`b\\`\"" },
        { "say \"hi\"", "\"say \\\"hi\\\"\"" },
        { "back\\slash", "\"back\\\\slash\"" },
        { "it's", "\"it's\"" },
        { "two\nlines", "\"two\nlines\"" },
        { juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f $x"), juce::String::fromUTF8 ("\"Gr\xc3\xbc\xc3\x9f \\$x\"") },
    };
    for (auto& c : cases)
        EXPECT_EQ (SelfUpdater::shellQuote (c.in), c.out) << c.in;
}

TEST (RelaunchScript, ShellReadsQuotedValuesBackUnchanged)
{
    for (auto text : { nasty, juce::String ("a\nb\\\n$"), juce::String ("!*?[x] ~ #; & | > <"),
                       juce::String::fromUTF8 ("\xe2\x82\xac \\\\ \\\" \\$") })
    {
        auto out = sh ("V=" + SelfUpdater::shellQuote (text) + "\nprintf '%s' \"$V\"");
        EXPECT_EQ (out, text);
    }
}

TEST (RelaunchScript, TextLineByLine)
{
    SelfUpdater::ScriptValues v;
    v.processId = 4711;
    v.package = juce::File ("/Users/me/Library/Application Support/TARVO/Fern Hall/update/" + nasty);
    v.app = juce::File ("/Users/me/Desktop/TARVO Fernhall.app");
    v.installed = juce::File ("/Applications/TARVO Fernhall.app");
    v.log = juce::File ("/Users/me/Library/Application Support/TARVO/Fern Hall/update/relaunch.log");

    auto text = SelfUpdater::relaunchScript (v, macCommands());
    ASSERT_TRUE (text.endsWith ("\n"));
    EXPECT_FALSE (text.contains ("\r"));
    juce::StringArray lines;
    lines.addTokens (text.dropLastCharacters (1), "\n", {});
    ASSERT_EQ (lines.size(), 33);

    const std::map<int, juce::String> fixed {
        { 1, "#!/bin/sh" },
        { 4, "PID=4711" },
        { 5, "PKG=\"/Users/me/Library/Application Support/TARVO/Fern Hall/update/Fern hall \\$HOME \\`id\\` \\\"q\\\" back\\\\slash it's \\$(touch x).pkg\"" },
        { 6, "APP=\"/Users/me/Desktop/TARVO Fernhall.app\"" },
        { 7, "INSTALLED=\"/Applications/TARVO Fernhall.app\"" },
        { 8, "LOG=\"/Users/me/Library/Application Support/TARVO/Fern Hall/update/relaunch.log\"" },
        { 9, "exec >>\"$LOG\" 2>&1" },
        { 10, "echo \"$(date '+%H:%M:%S') start pid $$ ppid $PPID, waiting for $PID\"" },
        { 11, "" },
        { 14, "i=0" },
        { 15, "while kill -0 \"$PID\" 2>/dev/null && [ $i -lt 100 ]; do" },
        { 16, "  sleep 0.2" },
        { 17, "  i=$((i+1))" },
        { 18, "done" },
        { 19, "echo \"$(date '+%H:%M:%S') app gone after $i steps, opening installer\"" },
        { 20, "" },
        { 22, "/usr/bin/open -W \"$PKG\"" },
        { 23, "rc=$?" },
        { 24, "echo \"$(date '+%H:%M:%S') installer closed, rc=$rc, relaunching\"" },
        { 25, "" },
        { 26, "if [ -d \"$INSTALLED\" ]; then" },
        { 27, "  /usr/bin/open \"$INSTALLED\"" },
        { 28, "else" },
        { 29, "  /usr/bin/open \"$APP\"" },
        { 30, "fi" },
        { 31, "" },
        { 32, "/bin/rm -f \"$PKG\"" },
        { 33, "echo \"$(date '+%H:%M:%S') done\"" },
    };
    for (auto& [n, expected] : fixed)
        EXPECT_EQ (lines[n - 1], expected) << "line " << n;
    for (int n : { 2, 3, 12, 13, 21 })
        EXPECT_TRUE (lines[n - 1].startsWith ("#")) << "line " << n << " is a comment";
}

TEST (RelaunchScript, RunsUnderShWithRecordingStubs)
{
    struct Case
    {
        const char* what;
        const char* appLives;       // seconds the watched process lives
        bool installedExists;
        bool fastSleep;             // a sleep stub on PATH, so the 100 steps pass quickly
        bool waitsForAll;           // the wait ends only after 100 steps
    };
    const std::vector<Case> cases {
        { "app exits, installed copy present", "0.6", true, false, false },
        { "app exits, no installed copy", "0.6", false, false, false },
        { "app hangs", "60", true, true, true },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        test::TempFolder tmp { "fernhall-relaunch" };
        auto calls = tmp / "calls.log";
        auto stubs = tmp / "stub bin";   // a space: the command words get quoted

        WatchedProcess app (c.appLives);
        ASSERT_GT (app.pid, 0);

        auto stub = [&] (const juce::String& name, const juce::String& body) {
            auto f = test::writeFile (stubs.getChildFile (name),
                                      "#!/bin/sh\nfor a in \"$@\"; do printf '" + name + ":%s\\n' \"$a\"; done >> "
                                          + SelfUpdater::shellQuote (calls.getFullPathName()) + "\n" + body);
            f.setExecutePermission (true);
            return f;
        };
        auto installer = stub ("installer", "if kill -0 " + juce::String (app.pid) + " 2>/dev/null; then echo 'installer:app alive'; "
                                            "else echo 'installer:app gone'; fi >> " + SelfUpdater::shellQuote (calls.getFullPathName())
                                            + "\nexit 3\n");
        auto starter = stub ("start", "echo 'output of the started app'\n");
        auto remover = stub ("rm", "exec /bin/rm \"$@\"\n");
        auto pathDir = tmp / "path";
        if (c.fastSleep)
            test::writeFile (pathDir.getChildFile ("sleep"), "#!/bin/sh\nexit 0\n").setExecutePermission (true);

        SelfUpdater::ScriptCommands cmds;
        cmds.openPackage = { installer.getFullPathName(), "-W" };
        cmds.appPresent = "-d";
        cmds.startApp = { starter.getFullPathName() };
        cmds.startAppRedirect = SelfUpdater::ScriptCommands::platform().startAppRedirect;
        cmds.removeFile = { remover.getFullPathName(), "-f" };

        SelfUpdater::ScriptValues v;
        v.processId = app.pid;
        v.package = test::writeFile (tmp.dir.getChildFile ("update").getChildFile (nasty), "pkg");
        v.app = tmp / "Desktop/TARVO $Fernhall.app";
        v.app.createDirectory();
        v.installed = tmp / "Applications/TARVO $Fernhall.app";
        if (c.installedExists)
            v.installed.createDirectory();
        v.log = v.package.getSiblingFile ("relaunch.log");
        test::writeFile (v.log, "earlier run\n");

        auto script = test::writeFile (tmp.dir.getChildFile ("update/relaunch.sh"), SelfUpdater::relaunchScript (v, cmds));
        auto started = juce::Time::getMillisecondCounter();
        sh ("/bin/sh " + SelfUpdater::shellQuote (script.getFullPathName()),
            { "PATH=" + pathDir.getFullPathName() + ":/usr/bin:/bin" });
        auto took = juce::Time::getMillisecondCounter() - started;

        const auto relaunched = (c.installedExists ? v.installed : v.app).getFullPathName();
        juce::StringArray expected {
            "installer:-W",
            "installer:" + v.package.getFullPathName(),
            c.waitsForAll ? "installer:app alive" : "installer:app gone",
            "start:" + relaunched,
            "rm:-f",
            "rm:" + v.package.getFullPathName(),
        };
        EXPECT_EQ (calls.loadFileAsString(), expected.joinIntoString ("\n") + "\n");
        EXPECT_FALSE (v.package.exists()) << "the package is deleted";

        juce::StringArray log;
        log.addLines (v.log.loadFileAsString().trimEnd());
        // Where the start line sends the started application's output elsewhere,
        // none of it lands in the script's log.
        const int lines = log.size();
        log.removeString ("output of the started app");
        EXPECT_EQ (log.size() == lines, cmds.startAppRedirect.isNotEmpty());
        ASSERT_EQ (log.size(), 5) << log.joinIntoString ("\n");
        EXPECT_EQ (log[0], "earlier run") << "the log is appended to";
        EXPECT_TRUE (log[1].matchesWildcard ("??:??:?? start pid * ppid *, waiting for " + juce::String (app.pid), false)) << log[1];
        auto steps = log[2].fromFirstOccurrenceOf ("after ", false, false).upToFirstOccurrenceOf (" ", false, false).getIntValue();
        EXPECT_TRUE (log[2].endsWith (" steps, opening installer")) << log[2];
        if (c.waitsForAll)
        {
            EXPECT_EQ (steps, 100);
        }
        else
        {
            EXPECT_GE (steps, 1) << "waited for the process";
            EXPECT_LT (steps, 100);
            EXPECT_GE (took, 300u);
        }
        EXPECT_TRUE (log[3].endsWith (" installer closed, rc=3, relaunching")) << log[3];
        EXPECT_TRUE (log[4].endsWith (" done")) << log[4];
    }
}

TEST (RelaunchScript, PlatformCommandsAreAbsolute)
{
    auto c = SelfUpdater::ScriptCommands::platform();
    for (auto* list : { &c.openPackage, &c.startApp, &c.removeFile })
    {
        ASSERT_FALSE (list->isEmpty());
        EXPECT_TRUE (juce::File::isAbsolutePath ((*list)[0])) << (*list)[0];
    }
    EXPECT_TRUE (c.appPresent == "-d" || c.appPresent == "-f");
    // The script as this platform writes it is valid shell.
    SelfUpdater::ScriptValues v;
    v.processId = 1;
    v.package = juce::File ("/tmp/" + nasty);
    v.app = v.installed = v.log = juce::File ("/tmp/x");
    test::TempFolder tmp;
    auto f = test::writeFile (tmp / "s.sh", SelfUpdater::relaunchScript (v, c));
    EXPECT_EQ (sh ("/bin/sh -n " + SelfUpdater::shellQuote (f.getFullPathName()) + " && echo ok"), "ok\n");
}

TEST (UpdateFolder, StartUpCleanUpRemovesOnlyPackages)
{
    test::TempFolder tmp;
    auto dir = SelfUpdater::updateDirIn (tmp.dir);
    EXPECT_TRUE (dir.isDirectory());
    EXPECT_EQ (dir, tmp.dir.getChildFile ("update"));

    for (auto* name : { "old.pkg", "OLD2.PKG", "setup.Exe", "relaunch.sh", "relaunch.log", "notes.pkg.txt", "pkg" })
        test::writeFile (dir.getChildFile (name), "x");
    dir.getChildFile ("folder.pkg").createDirectory();
    test::writeFile (dir.getChildFile ("sub/inner.pkg"), "x");

    EXPECT_EQ (SelfUpdater::cleanUpdateFolder (dir), 3);

    juce::StringArray left;
    for (auto& f : dir.findChildFiles (juce::File::findFilesAndDirectories, true))
        left.add (f.getRelativePathFrom (dir));
    left.sort (false);
    EXPECT_EQ (left.joinIntoString (","), "folder.pkg,notes.pkg.txt,pkg,relaunch.log,relaunch.sh,sub,sub/inner.pkg");
}

TEST (UpdateState, ManagerEntryAgainstOwnVersion)
{
    struct Case { juce::String version, minSupported, url, sha256, state; };
    const std::vector<Case> cases {
        { "1.0.1", "", "https://x/y.pkg", "ab", "available" },
        { "1.0.0", "", "https://x/y.pkg", "ab", "upToDate" },
        { "0.9.0", "", "https://x/y.pkg", "ab", "upToDate" },
        { "1.0.0", "1.1.0", "https://x/y.pkg", "ab", "required" },
        { "0.9.0", "1.1.0", "https://x/y.pkg", "ab", "required" },
        { "1.2.0", "1.0.0", "https://x/y.pkg", "ab", "available" },
        { "1.0.10", "", "https://x/y.pkg", "ab", "available" },
        { "1.0.1", "", "", "ab", "unknown" },
        { "1.0.1", "1.1.0", "https://x/y.pkg", "", "unknown" },
        { "", "", "https://x/y.pkg", "ab", "unknown" },
    };
    for (auto& c : cases)
    {
        test::ManagerEntry m;
        m.version = c.version;
        m.minSupported = c.minSupported;
        m.url = c.url;
        m.sha256 = c.sha256;
        EXPECT_EQ (SelfUpdater::updateState (m, "1.0.0"), c.state) << c.version << " / " << c.minSupported;
    }
}
