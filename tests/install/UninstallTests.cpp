#include "install/Uninstall.h"
#include "support/TempFolder.h"
#include "InstallTestDoubles.h"

#include <gtest/gtest.h>

#include <unistd.h>

using hub::InstallScan;
using hub::InstalledArtifact;
using hub::Uninstall;

namespace
{
    const juce::String grumbotId = "de.tarvo.grumbot";

    // Four plug-in folders under a temporary root, laid out like the real ones.
    struct PluginFolders
    {
        test::TempFolder tmp { "fernhall-uninstall" };
        juce::File sysVst3 = tmp / "Library/Audio/Plug-Ins/VST3";
        juce::File sysAu = tmp / "Library/Audio/Plug-Ins/Components";
        juce::File userVst3 = tmp / "home/Library/Audio/Plug-Ins/VST3";
        juce::File userAu = tmp / "home/Library/Audio/Plug-Ins/Components";

        PluginFolders()
        {
            for (auto& f : { sysVst3, sysAu, userVst3, userAu })
                f.createDirectory();
        }

        std::vector<InstallScan::SearchPath> paths() const
        {
            return { { sysVst3, InstalledArtifact::VST3, InstalledArtifact::System },
                     { sysAu, InstalledArtifact::AU, InstalledArtifact::System },
                     { userVst3, InstalledArtifact::VST3, InstalledArtifact::User },
                     { userAu, InstalledArtifact::AU, InstalledArtifact::User } };
        }

        juce::File bundle (const juce::File& folder, const juce::String& name, const juce::String& id = grumbotId)
        {
            return test::makeBundle (folder, name, id, "1.0.0");
        }

        // Every file and folder under the root, as relative paths.
        juce::StringArray everything() const
        {
            juce::StringArray all;
            for (auto& e : juce::RangedDirectoryIterator (tmp.dir, true, "*", juce::File::findFilesAndDirectories))
                all.add (e.getFile().getRelativePathFrom (tmp.dir));
            all.sort (false);
            return all;
        }
    };

    juce::StringArray without (juce::StringArray all, const juce::File& root, const juce::File& removedBundle)
    {
        auto rel = removedBundle.getRelativePathFrom (root);
        juce::StringArray kept;
        for (auto& s : all)
            if (s != rel && ! s.startsWith (rel + "/"))
                kept.add (s);
        return kept;
    }
}

TEST (RemovalPlan, SortsCandidatesAndSkipsWhatMustNotBeDeleted)
{
    PluginFolders f;
    auto sys = f.bundle (f.sysVst3, "Grumbot.vst3");
    auto user = f.bundle (f.userAu, "Grumbot.component");
    auto elsewhere = f.bundle (f.tmp / "elsewhere", "Real.vst3");
    ASSERT_TRUE (elsewhere.createSymbolicLink (f.userVst3.getChildFile ("Linked.vst3"), true));
    f.bundle (f.userVst3.getChildFile ("TARVO"), "Nested.vst3");   // vendor subfolder: never a candidate
    f.bundle (f.userVst3, "Other.vst3", "de.tarvo.other");          // another product

    auto plan = Uninstall::plan (grumbotId, f.paths());
    EXPECT_EQ (plan.systemScope, juce::Array<juce::File> { sys });
    EXPECT_EQ (plan.userScope, juce::Array<juce::File> { user });
    EXPECT_EQ (plan.skipped, juce::StringArray { f.userVst3.getChildFile ("Linked.vst3").getFullPathName() + " (is a link, not a plug-in)" });

    auto doc = plan.toVar();
    juce::StringArray keys;
    for (auto& p : doc.getDynamicObject()->getProperties())
        keys.add (p.name.toString());
    EXPECT_EQ (keys.joinIntoString (","), "count,needsPassword,paths,skipped");
    EXPECT_EQ ((int) doc["count"], 2);
    EXPECT_TRUE ((bool) doc["needsPassword"]);
    ASSERT_EQ (doc["paths"].size(), 2);
    EXPECT_EQ (doc["paths"][0].toString(), user.getFullPathName()) << "user paths come first";
    EXPECT_EQ (doc["paths"][1].toString(), sys.getFullPathName());
    EXPECT_EQ (doc["skipped"].size(), 1);

    EXPECT_EQ (juce::JSON::toString (hub::RemovalPlan::unknownProductDocument(), true), "{\"count\": 0}");
}

TEST (RemovalPlan, SkipReasons)
{
    PluginFolders f;
    auto good = f.bundle (f.userVst3, "Good.vst3");
    auto foreign = f.bundle (f.userVst3, "Foreign.vst3", "com.example.foreign");
    auto unreadable = f.userVst3.getChildFile ("Empty.vst3");
    unreadable.createDirectory();
    auto notBundle = f.userVst3.getChildFile ("Thing.bundle");
    notBundle.createDirectory();
    auto nested = f.bundle (f.userVst3.getChildFile ("TARVO"), "Nested.vst3");
    auto link = f.userVst3.getChildFile ("Link.vst3");
    ASSERT_TRUE (good.createSymbolicLink (link, true));

    auto artifact = [] (const juce::File& file)
    {
        InstalledArtifact a;
        a.path = file.getFullPathName();
        a.scope = InstalledArtifact::User;
        return a;
    };

    const std::vector<std::pair<InstalledArtifact, juce::String>> cases {
        { artifact (good), "" },
        { artifact (f.userVst3.getChildFile ("Gone.vst3")), "not there any more" },
        { InstalledArtifact(), "not there any more" },
        { artifact (link), "is a link, not a plug-in" },
        { artifact (notBundle), "not a plug-in bundle" },
        { artifact (nested), "not in a plug-in folder" },
        { artifact (f.tmp.dir.getChildFile ("home/Library/Audio/Plug-Ins/VST3x/Good.vst3")), "not there any more" },
        { artifact (unreadable), "cannot be read" },
        { artifact (foreign), "not a TARVO plug-in" },
    };
    for (auto& [candidate, reason] : cases)
        EXPECT_EQ (Uninstall::skipReason (candidate, f.paths()), reason) << candidate.path;

    // The folder comparison ignores letter case (the macOS file system does too).
    auto upper = f.paths();
    upper[2].directory = juce::File (f.userVst3.getFullPathName().toUpperCase());
    EXPECT_EQ (Uninstall::skipReason (artifact (good), upper), "");

    // A product whose id is not the vendor's is found by the scan but never planned.
    auto plan = Uninstall::plan ("com.example.foreign", f.paths());
    EXPECT_EQ (plan.count(), 0);
    EXPECT_EQ (plan.skipped, juce::StringArray { foreign.getFullPathName() + " (not a TARVO plug-in)" });
}

TEST (Uninstall, UserFolderRemovals)
{
    struct Case { const char* what; int bundles; juce::String message; };
    const std::vector<Case> cases {
        { "one", 1, "Grumbot removed (1 copy)" },
        { "two", 2, "Grumbot removed (2 copies)" },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        PluginFolders f;
        auto admin = std::make_shared<test::FakeAdmin>();
        f.bundle (f.userVst3, "Grumbot.vst3");
        if (c.bundles > 1)
            f.bundle (f.userAu, "Grumbot.component");
        auto keep = f.bundle (f.userVst3, "Other.vst3", "de.tarvo.other");

        Uninstall u (admin, f.paths());
        auto r = u.removeNow (grumbotId, "Grumbot");
        EXPECT_TRUE (r.ok);
        EXPECT_FALSE (r.cancelled);
        EXPECT_EQ (r.removed, c.bundles);
        EXPECT_EQ (r.message, c.message);
        EXPECT_TRUE (r.failed.isEmpty());
        EXPECT_TRUE (admin->commands.empty()) << "no password prompt for user folders";
        EXPECT_TRUE (keep.isDirectory());
        EXPECT_EQ (Uninstall::plan (grumbotId, f.paths()).count(), 0);
    }
}

TEST (Uninstall, LinksAreNeverFollowed)
{
    PluginFolders f;
    // A link in place of a bundle, and a real bundle holding a link to precious data.
    auto precious = f.tmp / "precious";
    test::writeFile (precious.getChildFile ("keep.txt"), "data");
    auto elsewhere = f.bundle (f.tmp / "elsewhere", "Grumbot.vst3");
    ASSERT_TRUE (elsewhere.createSymbolicLink (f.userVst3.getChildFile ("Grumbot.vst3"), true));

    Uninstall u (std::make_shared<test::FakeAdmin>(), f.paths());
    auto r = u.removeNow (grumbotId, "Grumbot");
    EXPECT_FALSE (r.ok);
    EXPECT_EQ (r.message, "Nothing to remove");
    EXPECT_EQ (r.failed, juce::StringArray { f.userVst3.getChildFile ("Grumbot.vst3").getFullPathName() + " (is a link, not a plug-in)" });
    EXPECT_TRUE (elsewhere.getChildFile ("Contents/Info.plist").existsAsFile());

    f.userVst3.getChildFile ("Grumbot.vst3").deleteFile();
    auto real = f.bundle (f.userAu, "Grumbot.component");
    real.getChildFile ("Contents/Resources").createDirectory();
    ASSERT_TRUE (precious.createSymbolicLink (real.getChildFile ("Contents/Resources/data"), true));
    auto r2 = u.removeNow (grumbotId, "Grumbot");
    EXPECT_TRUE (r2.ok);
    EXPECT_FALSE (real.exists());
    EXPECT_EQ (precious.getChildFile ("keep.txt").loadFileAsString(), "data");
}

TEST (Uninstall, PermissionOutcomes)
{
    struct Case
    {
        const char* what;
        hub::AdminCommand::Outcome answer;
        bool ok, cancelled;
        int removed;
        juce::String message;
        bool systemPathsFailed;
        bool skippedListed;
    };
    const std::vector<Case> cases {
        { "granted", { true, "", 0 }, true, false, 2, "Grumbot removed (2 copies)", false, true },
        { "refused, AppleScript code", { true, "0:1: execution error: User canceled. (-128)", 1 }, false, true, 1,
          "Cancelled - nothing was removed from the system folder", false, true },
        { "refused, other case", { true, "USER CANCELED", 126 }, false, true, 1,
          "Cancelled - nothing was removed from the system folder", false, true },
        { "command failed", { true, "rm: Operation not permitted", 1 }, true, false, 1,
          "The system folder could not be cleaned up", true, true },
        { "prompt not started", { false, "", 0 }, false, false, 1, "Could not ask for permission", false, false },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        PluginFolders f;
        f.bundle (f.userVst3, "Grumbot.vst3");
        auto sys = f.bundle (f.sysVst3, "Grumbot.vst3");
        auto link = f.sysAu.getChildFile ("Grumbot.component");
        ASSERT_TRUE (f.bundle (f.tmp / "x", "G.component").createSymbolicLink (link, true));

        auto admin = std::make_shared<test::FakeAdmin>();
        admin->answer = c.answer;
        Uninstall u (admin, f.paths());
        auto r = u.removeNow (grumbotId, "Grumbot");

        EXPECT_EQ (r.ok, c.ok);
        EXPECT_EQ (r.cancelled, c.cancelled);
        EXPECT_EQ (r.removed, c.removed);
        EXPECT_EQ (r.message, c.message);
        EXPECT_EQ (r.failed.contains (sys.getFullPathName()), c.systemPathsFailed);
        EXPECT_EQ (r.failed.contains (link.getFullPathName() + " (is a link, not a plug-in)"), c.skippedListed);
        ASSERT_EQ (admin->commands.size(), 1u);
        EXPECT_EQ (admin->commands[0], "/bin/rm -rf -- '" + sys.getFullPathName() + "'");
    }
}

TEST (Uninstall, ElevatedCommandDeletesExactlyThePlannedPaths)
{
    // Names that a shell or AppleScript would read differently if quoting went wrong;
    // their siblings are what a mis-quoted command would hit instead.
    const juce::StringArray hostile {
        "it's.vst3",
        "say \"hi\".vst3",
        "back\\slash.vst3",
        "$HOME and $(touch pwned).vst3",
        "tick `touch pwned2`.vst3",
        "two  spaces '' x.vst3",
        "'; rm -rf .. ; '.vst3",
        "\\\"'\\''.vst3",
    };

    for (auto kind : { test::FakeAdmin::shell, test::FakeAdmin::appleScriptThenShell })
    {
        SCOPED_TRACE (kind == test::FakeAdmin::shell ? "shell command" : "AppleScript line");
        PluginFolders f;
        juce::Array<juce::File> planned;
        for (auto& name : hostile)
            planned.add (f.bundle (f.sysVst3, name));

        // Decoys: the pieces a broken quoting would split the names into.
        for (auto& decoy : { "it", "s.vst3", "say", "hi", "back", "slash.vst3", "HOME", "and", "tick", "x.vst3", "two", "spaces" })
            test::writeFile (f.sysVst3.getChildFile (decoy), "decoy");
        auto other = f.bundle (f.sysVst3, "Other.vst3", "de.tarvo.other");
        auto userBundle = f.bundle (f.userVst3, "Keep in user.vst3", "de.tarvo.other");

        auto before = f.everything();
        auto admin = std::make_shared<test::FakeAdmin>();
        admin->kind = kind;
        Uninstall u (admin, f.paths());

        // The shell runs in the system plug-in folder, where relative names would land.
        auto previous = juce::File::getCurrentWorkingDirectory();
        f.sysVst3.setAsCurrentWorkingDirectory();
        auto r = u.removeNow (grumbotId, "Grumbot");
        previous.setAsCurrentWorkingDirectory();

        EXPECT_TRUE (r.ok) << r.message;
        EXPECT_EQ (r.removed, hostile.size());
        EXPECT_TRUE (r.failed.isEmpty()) << r.failed.joinIntoString ("\n");

        auto expected = before;
        for (auto& p : planned)
            expected = without (expected, f.tmp.dir, p);
        EXPECT_EQ (f.everything(), expected);
        EXPECT_TRUE (other.isDirectory());
        EXPECT_TRUE (userBundle.isDirectory());
        EXPECT_FALSE (f.sysVst3.getChildFile ("pwned").exists());
        EXPECT_FALSE (f.sysVst3.getChildFile ("pwned2").exists());
    }
}

TEST (Uninstall, AppleScriptEscaping)
{
    EXPECT_EQ (hub::AdminCommand::appleScriptFor ("/bin/rm -rf -- '/a b/it'\\''s \"q\".vst3'"),
               "do shell script \"/bin/rm -rf -- '/a b/it'\\\\''s \\\"q\\\".vst3'\" with administrator privileges");
    EXPECT_EQ (Uninstall::removalCommand ({ juce::File ("/L/it's.vst3"), juce::File ("/L/b.vst3") }),
               "/bin/rm -rf -- '/L/it'\\''s.vst3' '/L/b.vst3'");
}

TEST (Uninstall, ResultDocuments)
{
    auto unknown = Uninstall::Result::unknownProduct().toVar();
    EXPECT_EQ (juce::JSON::toString (unknown, true),
               "{\"ok\": false, \"cancelled\": false, \"removed\": 0, \"message\": \"This product is not known to the app\", \"failed\": []}");
}

TEST (Uninstall, RunAsyncDeliversOnceOnTheMessageThread)
{
    PluginFolders f;
    f.bundle (f.userVst3, "Grumbot.vst3");
    auto admin = std::make_shared<test::FakeAdmin>();
    std::vector<Uninstall::Result> results;
    bool onMessageThread = true;
    {
        Uninstall u (admin, f.paths());
        for (int i = 0; i < 2; ++i)
            u.runAsync (grumbotId, "Grumbot", [&] (Uninstall::Result r)
            {
                onMessageThread = onMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread();
                results.push_back (r);
            });
        ASSERT_TRUE (test::pumpUntil ([&] { return results.size() == 2; }));
    }
    test::pumpUntil ([] { return false; }, 100);
    ASSERT_EQ (results.size(), 2u);
    EXPECT_TRUE (onMessageThread);
    EXPECT_EQ (results[0].message, "Grumbot removed (1 copy)");
    EXPECT_EQ (results[1].message, "Nothing to remove") << "the second removal plans again";
}

#if ! JUCE_MAC
TEST (Uninstall, WithoutPolkitThePermissionRequestCannotStart)
{
    if (juce::File ("/usr/bin/pkexec").existsAsFile())
        GTEST_SKIP() << "polkit is installed here; its prompt needs a desktop session";

    PluginFolders f;
    auto sys = f.bundle (f.sysVst3, "Grumbot.vst3");
    Uninstall u (hub::AdminCommand::createSystem(), f.paths());
    auto r = u.removeNow (grumbotId, "Grumbot");
    EXPECT_EQ (r.message, "Could not ask for permission");
    EXPECT_FALSE (r.ok);
    EXPECT_TRUE (sys.isDirectory());
}
#endif
