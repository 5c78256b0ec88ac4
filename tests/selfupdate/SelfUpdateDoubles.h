#pragma once

// Stand-ins for the install job and the platform operations of the self-updater.

#include "selfupdate/SelfUpdater.h"
#include "support/TempFolder.h"

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace juce
{
    // The framework's own message dispatch step (Linux); modal loops are compiled out,
    // so posted calls and timers are pumped with it.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace test
{
    inline bool pumpMessagesUntil (const std::function<bool()>& until, int ms)
    {
        auto end = juce::Time::getMillisecondCounter() + (juce::uint32) ms;
        while (! until())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (5);
        }
        return true;
    }

    // An install job whose progress record the test writes.
    struct ReplayedJob : hub::SelfUpdater::Job
    {
        bool accept = true;
        juce::String refusal = "Another installation is already running";
        std::vector<hub::Installer::Request> started;
        hub::InstallProgress record;

        bool start (const hub::Installer::Request& request, juce::String& error) override
        {
            if (! accept)
            {
                error = refusal;
                return false;
            }
            started.push_back (request);
            record = {};
            record.product = request.product;
            record.version = request.version;
            record.stage = hub::InstallProgress::downloading;
            return true;
        }

        hub::InstallProgress state() const override { return record; }

        void end (hub::InstallProgress::Stage stage, const juce::String& delivered = {})
        {
            record.stage = stage;
            record.delivered = delivered;
        }
    };

    struct RecordingSpawner : hub::DetachedProcess
    {
        int answer = 4242;
        std::vector<juce::StringArray> calls;

        int spawn (const juce::StringArray& args) override
        {
            calls.push_back (args);
            return answer;
        }
    };

    // A complete manager entry, as the registry hands it over.
    struct ManagerEntry
    {
        juce::String version = "1.1.0";
        juce::String minSupported;
        juce::String released = "2026-05-02";
        juce::String filename = "TARVO Fernhall 1.1.0.pkg";
        juce::String url = "https://downloads.tarvo.de/manager/TARVO-Fernhall-1.1.0.pkg";
        juce::String sha256 = "ab12";
        juce::int64 size = 1234;
    };

    // A self-updater on a replayed job, with its files in a temporary folder and its
    // spawn and quit recorded.
    struct UpdaterRig
    {
        TempFolder tmp { "fernhall-selfupdate" };
        ReplayedJob job;
        std::shared_ptr<RecordingSpawner> spawner = std::make_shared<RecordingSpawner>();
        int quits = 0;
        std::unique_ptr<hub::SelfUpdater> updater;

        UpdaterRig()
        {
            hub::SelfUpdater::Setup s;
            s.appData = tmp.dir;
            s.processId = [] { return 4711; };
            s.location = [] { return hub::AppLocation::forRunning (juce::File ("/Users/me/Desktop/TARVO Fernhall.app")); };
            s.spawner = spawner;
            s.quit = [this] { ++quits; };
            updater = std::make_unique<hub::SelfUpdater> (job, s);
        }

        juce::File updateFolder() const { return tmp.dir.getChildFile ("update"); }

        // A package delivered into the update folder.
        juce::File deliver (const juce::String& name = "TARVO Fernhall 1.1.0.pkg")
        {
            auto f = updateFolder().getChildFile (name);
            writeFile (f, "package");
            return f;
        }

        // Starts a download and lets it end with the given stage and delivered path.
        void runTo (hub::InstallProgress::Stage stage, const juce::String& delivered = {})
        {
            auto r = updater->startAppUpdate (ManagerEntry {});
            ASSERT_TRUE (r.ok) << r.error;
            job.end (stage, delivered);
            updater->sync();
        }
    };
}
