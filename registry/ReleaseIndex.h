#pragma once

#include "app/Identity.h"
#include "platform/ThreadPool.h"
#include "registry/CatalogSnapshot.h"

#include <functional>
#include <memory>

namespace hub
{
    // The application's current view of the vendor's release registry, its background
    // refresh, and the caches it keeps in the application-data folder: the catalog
    // ("registry-cache.json"), mascot images and modules ("mascots"), banners ("banners").
    class ReleaseIndex
    {
    public:
        struct Result
        {
            bool ok = false;          // a usable catalog is available
            bool fromCache = false;   // the catalog in use did not come from this refresh
            juce::String message;     // the outcome in words for the user
        };

        explicit ReleaseIndex (juce::File appData = hub::appDataDir(),
                               juce::String registryOrigin = hub::identity::registryOrigin);

        // Drops queued refreshes, asks a running one to stop and waits at most 5 s.
        ~ReleaseIndex();

        // A copy of the current snapshot. Any thread.
        CatalogSnapshot snapshot() const;

        // Queues one refresh; the callback gets its result on the message thread.
        void refreshAsync (std::function<void (Result)> callback);

        // Loads the cache file into the current snapshot (without releases).
        bool loadCached();

        // The cache folders of the default application-data folder, created if missing.
        static juce::File mascotDir();
        static juce::File bannerDir();

        // The cache folders of this index's application-data folder.
        juce::File getMascotDir() const;
        juce::File getBannerDir() const;
        juce::File getCacheFile() const { return appData.getChildFile ("registry-cache.json"); }

        static bool parseCatalog (const juce::String& text, CatalogSnapshot& out);

        // Asked between reads; true makes a fetch give up with an empty text.
        using StopRequest = std::function<bool()>;

        // The text at an https address (body capped at maxBytes), or empty.
        static juce::String fetch (const juce::String& url, int timeoutMs, int maxBytes,
                                   const StopRequest& shouldStop = {});

        // Replaces target with the text at url when it is plausible: more than 200
        // characters and fewer than maxBytes bytes.
        static void cacheRemoteFile (const juce::String& url, const juce::File& target, int maxBytes,
                                     const StopRequest& shouldStop = {});

        // The cache file's content, {"fetchedAt", "catalog"}, written whole through a
        // temporary file that is moved over target. False when it could not be written.
        static bool writeCacheFile (const juce::File& target, const juce::String& fetchedAt, const juce::var& catalog);

        static constexpr int documentTimeoutMs = 4000;
        static constexpr int documentMaxBytes = 262144;
        static constexpr int fileTimeoutMs = 6000;
        static constexpr int mascotMaxBytes = 262144;
        static constexpr int bannerMaxBytes = 1048576;
        static constexpr juce::int64 bannerMaxAgeSeconds = 21600;

    private:
        Result refresh (const tarvo::ThreadPool::ShouldExit& shouldExit);

        const juce::File appData;
        const juce::String origin;

        juce::CriticalSection lock;
        CatalogSnapshot current;
        std::unique_ptr<tarvo::ThreadPool> pool;
    };
}
