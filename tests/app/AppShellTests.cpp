#include "app/Identity.h"
#include "app/ManagerWindow.h"
#include "app/TarvoFernhallApp.h"

#include <gtest/gtest.h>

namespace
{
    struct TempDir
    {
        juce::File dir = juce::File::createTempFile ("fernhall-app-test");
        TempDir() { dir.createDirectory(); }
        ~TempDir() { dir.deleteRecursively(); }
    };

    juce::String readAll (const juce::File& f)
    {
        return f.loadFileAsString();
    }
}

TEST (AppLog, StartsWithWelcomeLineAndCreatesLogsFolder)
{
    TempDir tmp;
    auto appData = tmp.dir.getChildFile ("TARVO").getChildFile ("Fern Hall");
    appData.createDirectory();

    {
        auto logger = TarvoFernhallApp::createLogger (appData);
        logger->logMessage ("[install] grumbot-2 1.2.0 downloading started");
    }

    auto log = appData.getChildFile ("logs").getChildFile ("manager.log");
    ASSERT_TRUE (log.existsAsFile());
    auto text = readAll (log);
    const auto welcome = "TARVO Fernhall 1.0.0 (" + hub::identity::buildStamp() + ")";
    auto lines = juce::StringArray::fromLines (text);
    lines.removeEmptyStrings();
    ASSERT_GE (lines.size(), 2);
    EXPECT_TRUE (lines[0].containsOnly ("*")) << text;   // the framework's welcome block
    EXPECT_EQ (lines[1], welcome);
    EXPECT_TRUE (text.contains ("[install] grumbot-2 1.2.0 downloading started"));
}

TEST (AppLog, TrimsOnlyLogsLongerThan256KiB)
{
    struct Case { juce::int64 size; bool trimmed; };
    for (auto c : { Case { 262144, false }, Case { 262145, true }, Case { 600000, true }, Case { 1000, false } })
    {
        TempDir tmp;
        auto logs = tmp.dir.getChildFile ("logs");
        logs.createDirectory();
        auto log = logs.getChildFile ("manager.log");

        // Lines of 64 bytes with a marker at the start, so the kept part can be recognised.
        juce::MemoryOutputStream old;
        old << "FIRST-LINE-OF-OLD-LOG\n";
        while (old.getDataSize() < (size_t) c.size)
            old << "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde\n";
        juce::MemoryBlock block (old.getData(), (size_t) c.size);
        ASSERT_TRUE (log.replaceWithData (block.getData(), block.getSize()));

        TarvoFernhallApp::createLogger (tmp.dir).reset();

        auto text = readAll (log);
        SCOPED_TRACE (c.size);
        EXPECT_EQ (c.trimmed, ! text.startsWith ("FIRST-LINE-OF-OLD-LOG"));
        EXPECT_TRUE (text.contains ("TARVO Fernhall 1.0.0 ("));
        if (c.trimmed)
            EXPECT_LE (log.getSize(), 262144 + 512);
        else
            EXPECT_GT (log.getSize(), c.size);
    }
}

TEST (AppStart, CleanUpDeletesPackagesAndDownloadsButKeepsScriptsAndFolders)
{
    TempDir tmp;
    auto update = tmp.dir.getChildFile ("update");
    auto downloads = tmp.dir.getChildFile ("downloads");
    update.createDirectory();
    downloads.createDirectory();

    for (auto name : { "TarvoFernhall-1.1.0.pkg", "OLD.PKG", "Setup.Exe", "relaunch.sh", "relaunch.log", "notes.txt" })
        update.getChildFile (name).replaceWithText ("x");
    update.getChildFile ("kept.pkg").createDirectory();   // a folder named like a package stays
    for (auto name : { "a.pkg.part", "b.pkg", "README" })
        downloads.getChildFile (name).replaceWithText ("x");
    downloads.getChildFile ("sub").createDirectory();
    downloads.getChildFile ("sub").getChildFile ("inner.pkg").replaceWithText ("x");

    ManagerWindow::cleanLeftovers (update, downloads);

    juce::StringArray left;
    for (auto& f : update.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
        left.add ("update/" + f.getFileName());
    for (auto& f : downloads.findChildFiles (juce::File::findFilesAndDirectories, true, "*"))
        left.add ("downloads/" + f.getRelativePathFrom (downloads));
    left.sort (false);

    EXPECT_EQ (left.joinIntoString (","),
               "downloads/sub,downloads/sub/inner.pkg,update/kept.pkg,update/notes.txt,update/relaunch.log,update/relaunch.sh");
}
