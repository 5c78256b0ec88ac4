#include "manager/ProductTable.h"
#include "scan/InstallScan.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using hub::InstallScan;
using hub::InstalledArtifact;

namespace
{
    struct Folders
    {
        test::TempFolder tmp;
        juce::File sysVst3 = tmp / "sys/VST3", sysAu = tmp / "sys/Components";
        juce::File userVst3 = tmp / "user/VST3", userAu = tmp / "user/Components";

        Folders()
        {
            for (auto f : { sysVst3, sysAu, userVst3, userAu })
                f.createDirectory();
        }

        std::vector<InstallScan::SearchPath> paths() const
        {
            return { { sysVst3, InstalledArtifact::VST3, InstalledArtifact::System },
                     { sysAu, InstalledArtifact::AU, InstalledArtifact::System },
                     { userVst3, InstalledArtifact::VST3, InstalledArtifact::User },
                     { userAu, InstalledArtifact::AU, InstalledArtifact::User } };
        }
    };

    juce::String describe (const std::vector<InstalledArtifact>& found, const juce::File& root)
    {
        juce::StringArray rows;
        for (auto& a : found)
            rows.add (InstalledArtifact::formatText (a.format) + "/" + InstalledArtifact::scopeText (a.scope) + " "
                      + juce::File (a.path).getRelativePathFrom (root) + " " + a.bundleId + " " + a.version);
        return rows.joinIntoString ("\n");
    }
}

TEST (FolderScan, FindsOnlyBundleFoldersDirectlyInsideWithTheRightExtension)
{
    Folders f;
    test::makeBundle (f.sysVst3, "Upper.VST3", "de.tarvo.grumbot2", "2.0.0");
    test::makeBundle (f.sysVst3, ".Hidden.vst3", "de.tarvo.hissmoth", "1.0");
    test::writeFile (f.sysVst3.getChildFile ("File.vst3"), "not a folder");
    test::makeBundle (f.sysVst3, "Wrong.component", "de.tarvo.grumbotlite", "1.0");
    test::makeBundle (f.sysVst3.getChildFile ("TARVO"), "Nested.vst3", "de.tarvo.grumbotlite", "1.0");
    test::makeBundle (f.sysVst3, "NoId.vst3", "", "1.0", R"({"Classes":[{"CID":"AB"}]})");

    auto found = InstallScan::scan (f.paths(), hub::ProductTable::bundleIds());
    juce::StringArray names;
    for (auto& a : found)
        names.add (juce::File (a.path).getFileName());
    names.sort (false);
    EXPECT_EQ (names.joinIntoString (","), ".Hidden.vst3,Upper.VST3");
}

TEST (FolderScan, LinkedBundleIsFoundUnderTheLinkPath)
{
    Folders f;
    auto elsewhere = test::makeBundle (f.tmp / "elsewhere", "Real.vst3", "de.tarvo.hissmoth", "1.2");
    auto link = f.userVst3.getChildFile ("Link.vst3");
    ASSERT_TRUE (elsewhere.createSymbolicLink (link, true));

    auto found = InstallScan::scan (f.paths(), {});
    ASSERT_EQ (found.size(), 1u);
    EXPECT_EQ (found[0].path, link.getFullPathName());
    EXPECT_EQ (found[0].scope, InstalledArtifact::User);
}

TEST (FolderScan, AcceptanceByIdListOrPrefix)
{
    Folders f;
    test::makeBundle (f.sysVst3, "G2.vst3", "de.tarvo.grumbot2", "2.0");
    test::makeBundle (f.sysVst3, "Other.vst3", "de.tarvo.unlisted", "1.0");
    test::makeBundle (f.sysVst3, "Caps.vst3", "DE.TARVO.grumbot2", "1.0");
    test::makeBundle (f.sysVst3, "Foreign.vst3", "com.other.thing", "1.0");

    auto ids = [] (const std::vector<InstalledArtifact>& found) {
        juce::StringArray s;
        for (auto& a : found) s.add (a.bundleId);
        s.sort (false);
        return s.joinIntoString (",");
    };
    EXPECT_EQ (ids (InstallScan::scan (f.paths(), hub::ProductTable::bundleIds())), "de.tarvo.grumbot2");
    EXPECT_EQ (ids (InstallScan::scan (f.paths(), {})), "de.tarvo.grumbot2,de.tarvo.unlisted");
    EXPECT_EQ (ids (InstallScan::scan (f.paths(), { "de.tarvo.unlisted" })), "de.tarvo.unlisted");
}

TEST (FolderScan, SearchPathOrderAndGrouping)
{
    Folders f;
    test::makeBundle (f.userAu, "Hiss.component", "de.tarvo.hissmoth", "1.0");
    test::makeBundle (f.userVst3, "Grumbot 2 (user).vst3", "de.tarvo.grumbot2", "1.10");
    test::makeBundle (f.sysVst3, "Grumbot 2.vst3", "de.tarvo.grumbot2", "1.2.0");
    test::makeBundle (f.sysAu, "Grumbot 2.component", "de.tarvo.grumbot2", "1.10.0");

    auto found = InstallScan::scan (f.paths(), hub::ProductTable::bundleIds());
    EXPECT_EQ (describe (found, f.tmp.dir),
               "VST3/System sys/VST3/Grumbot 2.vst3 de.tarvo.grumbot2 1.2.0\n"
               "AU/System sys/Components/Grumbot 2.component de.tarvo.grumbot2 1.10.0\n"
               "VST3/User user/VST3/Grumbot 2 (user).vst3 de.tarvo.grumbot2 1.10\n"
               "AU/User user/Components/Hiss.component de.tarvo.hissmoth 1.0");

    auto products = hub::ProductInstall::group (found);
    ASSERT_EQ (products.size(), 2u);
    EXPECT_EQ (products[0].bundleId, "de.tarvo.grumbot2");
    EXPECT_EQ (products[0].name, "Grumbot 2");
    EXPECT_EQ (products[0].artifacts.size(), 3u);
    EXPECT_EQ (products[0].highestVersion(), "1.10.0");
    EXPECT_EQ (products[1].bundleId, "de.tarvo.hissmoth");

    // The same folder twice yields its bundles twice; missing folders are skipped.
    auto twice = f.paths();
    twice.push_back (twice[0]);
    twice.push_back ({ f.tmp / "missing", InstalledArtifact::VST3, InstalledArtifact::User });
    twice.push_back ({ juce::File(), InstalledArtifact::VST3, InstalledArtifact::User });
    EXPECT_EQ (InstallScan::scan (twice, hub::ProductTable::bundleIds()).size(), 5u);

    // No folder there at all: nothing, with or without an id list.
    const std::vector<InstallScan::SearchPath> none { { f.tmp / "gone/VST3", InstalledArtifact::VST3, InstalledArtifact::System },
                                                      { f.tmp / "gone/Components", InstalledArtifact::AU, InstalledArtifact::User } };
    EXPECT_TRUE (InstallScan::scan (none, {}).empty());
    EXPECT_TRUE (InstallScan::scan (none, hub::ProductTable::bundleIds()).empty());
}

TEST (FolderScan, DefaultFoldersSystemFirstThenTheUsersHome)
{
    const auto paths = InstallScan::defaultSearchPaths();
    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    ASSERT_FALSE (paths.empty());
    bool userSeen = false;
    for (auto& p : paths)
    {
        SCOPED_TRACE (p.directory.getFullPathName());
        if (p.scope == InstalledArtifact::User)
        {
            userSeen = true;
            EXPECT_TRUE (p.directory.isAChildOf (home));
        }
        else
        {
            EXPECT_FALSE (userSeen);   // every system folder comes before the user's
            EXPECT_FALSE (p.directory.isAChildOf (home));
        }
    }
    EXPECT_TRUE (userSeen);
}

TEST (ProductTableRows, LookupIsExact)
{
    const auto& all = hub::ProductTable::all();
    ASSERT_EQ (all.size(), 3u);
    EXPECT_EQ (&all, &hub::ProductTable::all());
    EXPECT_EQ (all[0].key + "," + all[1].key + "," + all[2].key, "grumbot-2,grumbot-lite,hissmoth");
    EXPECT_EQ (hub::ProductTable::byKey ("grumbot-2"), &all[0]);
    for (auto key : { "Grumbot-2", "grumbot-2 ", "", "de.tarvo.grumbot2" })
        EXPECT_EQ (hub::ProductTable::byKey (key), nullptr) << key;
}
