// The detached start of the relaunch script: its own session, no terminal, /dev/null
// for its standard streams, no inherited descriptors, and it outlives its starter.
#include "platform/AppLocation.h"
#include "platform/DetachedProcess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    const juce::File probe (FERNHALL_SPAWN_PROBE);

    std::map<juce::String, juce::String> readReport (const juce::File& f)
    {
        std::map<juce::String, juce::String> m;
        juce::StringArray lines;
        lines.addLines (f.loadFileAsString());
        for (auto& l : lines)
            if (l.contains ("="))
                m[l.upToFirstOccurrenceOf ("=", false, false)] = l.fromFirstOccurrenceOf ("=", false, false);
        return m;
    }

    bool waitFor (const juce::File& f, int ms)
    {
        for (int waited = 0; ! f.existsAsFile(); waited += 20)
        {
            if (waited > ms)
                return false;
            juce::Thread::sleep (20);
        }
        return true;
    }

    juce::String run (const juce::StringArray& args)
    {
        juce::ChildProcess p;
        if (! p.start (args, juce::ChildProcess::wantStdOut))
            return {};
        auto out = p.readAllProcessOutput();
        p.waitForProcessToFinish (10000);
        return out;
    }

    void expectDetached (const std::map<juce::String, juce::String>& r, int pid)
    {
        EXPECT_EQ (r.at ("pid").getIntValue(), pid);
        EXPECT_EQ (r.at ("sid").getIntValue(), pid) << "leads a session of its own";
        EXPECT_EQ (r.at ("pgid").getIntValue(), pid) << "and a process group";
        EXPECT_EQ (r.at ("tty"), "0") << "no controlling terminal";
        EXPECT_EQ (r.at ("fds"), "0,1,2") << "nothing inherited beyond the standard streams";
        for (auto* s : { "stdin", "stdout", "stderr" })
            EXPECT_EQ (r.at (s), "/dev/null") << s;
    }
}

TEST (DetachedProcess, ChildOfThisProcessStartsDetached)
{
    test::TempFolder tmp { "fernhall-spawn" };
    // A descriptor this process leaves open across exec; the child must not get it.
    int leaked = ::open ("/dev/null", O_RDONLY);
    ASSERT_GE (leaked, 3);

    auto out = tmp / "report", release = tmp / "release";
    int pid = hub::DetachedProcess::spawnNow ({ probe.getFullPathName(), "report",
                                                out.getFullPathName(), release.getFullPathName() });
    ::close (leaked);
    ASSERT_GT (pid, 0);
    ASSERT_TRUE (waitFor (out, 10000));
    expectDetached (readReport (out), pid);

    release.create();
    int status = 0;
    EXPECT_EQ (::waitpid (pid, &status, 0), pid);
    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
}

TEST (DetachedProcess, OutlivesTheProcessThatStartedIt)
{
    test::TempFolder tmp { "fernhall-spawn" };
    auto out = tmp / "report", release = tmp / "release";

    // The probe starts its detached child and exits; reading its output ends only when
    // every holder of the pipe has gone, so the child must not hold it either.
    auto printed = run ({ probe.getFullPathName(), "spawn", out.getFullPathName(), release.getFullPathName() });
    juce::StringArray ids;
    ids.addTokens (printed.trim(), " ", {});
    ASSERT_EQ (ids.size(), 2) << printed;
    const int pid = ids[0].getIntValue(), starter = ids[1].getIntValue();
    ASSERT_GT (pid, 0) << printed;
    ASSERT_TRUE (waitFor (out, 10000));
    auto r = readReport (out);
    expectDetached (r, pid);

    // Its starter is gone, the child is still there, in a session of its own as the
    // system's process list sees it.
    EXPECT_NE (::kill (starter, 0), 0) << "the starter has exited";
    EXPECT_EQ (::kill (pid, 0), 0) << "the child survives its starter";
    auto ps = run ({ "/bin/ps", "-o", "sid=,tty=", "-p", juce::String (pid) });
    juce::StringArray cols;
    cols.addTokens (ps.trim(), " ", {});
    cols.removeEmptyStrings();
    ASSERT_EQ (cols.size(), 2) << ps;
    EXPECT_EQ (cols[0].getIntValue(), pid);
    EXPECT_EQ (cols[1], "?");

    release.create();
    auto end = out.getSiblingFile ("report.end");
    ASSERT_TRUE (waitFor (end, 10000));
    EXPECT_EQ (end.loadFileAsString().trim(), "released=1") << "it went on working after its starter exited";
}

TEST (DetachedProcess, StartFailures)
{
    for (auto args : { juce::StringArray {}, juce::StringArray { "sh", "-c", "true" },
                       juce::StringArray { "/nonexistent/fernhall/program" } })
        EXPECT_EQ (hub::DetachedProcess::spawnNow (args), 0) << args.joinIntoString (" ");
}

TEST (AppLocation, InstalledCounterpartHasTheRunningName)
{
    auto where = hub::AppLocation::forRunning (juce::File ("/Users/me/Desktop/TARVO Fernhall.app"));
    EXPECT_EQ (where.running.getFullPathName(), "/Users/me/Desktop/TARVO Fernhall.app");
    EXPECT_EQ (where.installed, hub::AppLocation::applicationsFolder().getChildFile ("TARVO Fernhall.app"));

    auto here = hub::AppLocation::current();
    EXPECT_TRUE (here.running.exists());
    EXPECT_EQ (here.installed.getFileName(), here.running.getFileName());
}
