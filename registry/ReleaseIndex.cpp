#include "registry/ReleaseIndex.h"

#include "registry/CatalogReader.h"
#include "scan/InstallScan.h"

namespace hub
{
    namespace
    {
        // dir / name, or an invalid file when the framework would read the name as a
        // path that leaves dir (separators, parent steps, a leading "~").
        juce::File childInside (const juce::File& dir, const juce::String& name)
        {
            const auto f = dir.getChildFile (name);
            return f.getParentDirectory() == dir && f.getFileName() == name ? f : juce::File();
        }
    }

    ReleaseIndex::ReleaseIndex (juce::File appDataIn, juce::String registryOrigin)
        : appData (std::move (appDataIn)),
          origin (std::move (registryOrigin)),
          pool (std::make_unique<tarvo::ThreadPool> (tarvo::ThreadPoolOptions {}
                                                         .withThreadName ("tarvo-registry")
                                                         .withNumberOfThreads (1)))
    {
    }

    ReleaseIndex::~ReleaseIndex()
    {
        pool->removeAllJobs (true, 5000);
        pool.reset();
    }

    CatalogSnapshot ReleaseIndex::snapshot() const
    {
        const juce::ScopedLock sl (lock);
        return current;
    }

    juce::File ReleaseIndex::mascotDir()
    {
        auto d = hub::appDataDir().getChildFile ("mascots");
        (void) d.createDirectory();
        return d;
    }

    juce::File ReleaseIndex::bannerDir()
    {
        auto d = hub::appDataDir().getChildFile ("banners");
        (void) d.createDirectory();
        return d;
    }

    juce::File ReleaseIndex::getMascotDir() const
    {
        auto d = appData.getChildFile ("mascots");
        (void) d.createDirectory();
        return d;
    }

    juce::File ReleaseIndex::getBannerDir() const
    {
        auto d = appData.getChildFile ("banners");
        (void) d.createDirectory();
        return d;
    }

    bool ReleaseIndex::parseCatalog (const juce::String& text, CatalogSnapshot& out)
    {
        return CatalogReader::parseCatalog (text, out);
    }

    juce::String ReleaseIndex::fetch (const juce::String& url, int timeoutMs, int maxBytes, const StopRequest& shouldStop)
    {
        // Only HTTPS: the framework would read a "file:" address from the local disk, and
        // a mascot module fetched in the clear is script anyone on the way could replace.
        if (! url.startsWithIgnoreCase ("https://"))
            return {};

        auto stream = juce::URL (url).createInputStream (
            juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                .withConnectionTimeoutMs (timeoutMs)
                .withNumRedirectsToFollow (3));
        if (stream == nullptr)
            return {};

        // Read in small pieces: a server that trickles its body (fast enough for the
        // client's low-speed limit) must not keep a stop request waiting for long.
        juce::MemoryOutputStream body;
        char piece[256];
        while (body.getDataSize() < (size_t) juce::jmax (0, maxBytes))
        {
            if (shouldStop && shouldStop())
                return {};
            const auto want = juce::jmin ((int) sizeof (piece), maxBytes - (int) body.getDataSize());
            const auto got = stream->read (piece, want);
            if (got <= 0)
                break;
            body.write (piece, (size_t) got);
        }
        // A UTF-8 byte-order mark is not part of the text (the JSON reader would stop at
        // it, and cached files are kept without one). Bytes that are not valid UTF-8 must
        // not reach the framework's string type as such.
        auto* bytes = static_cast<const char*> (body.getData());
        auto size = body.getDataSize();
        if (size >= 3 && (juce::uint8) bytes[0] == 0xEF && (juce::uint8) bytes[1] == 0xBB && (juce::uint8) bytes[2] == 0xBF)
        {
            bytes += 3;
            size -= 3;
        }
        return InstallScan::textFromBytes (bytes, size);
    }

    void ReleaseIndex::cacheRemoteFile (const juce::String& url, const juce::File& target, int maxBytes, const StopRequest& shouldStop)
    {
        if (url.isEmpty())
            return;
        const auto text = fetch (url, fileTimeoutMs, maxBytes, shouldStop);
        if (shouldStop && shouldStop())
            return;
        if (text.length() > 200 && text.getNumBytesAsUTF8() < (size_t) maxBytes)
            (void) target.replaceWithText (text, false, false, nullptr);
    }

    void ReleaseIndex::refreshAsync (std::function<void (Result)> callback)
    {
        pool->addJob ([this, callback = std::move (callback)] (const tarvo::ThreadPool::ShouldExit& shouldExit)
        {
            auto result = refresh (shouldExit);
            if (shouldExit())
                return;   // the index is going away; the page gets no answer during shutdown
            juce::MessageManager::callAsync ([callback, result] { if (callback) callback (result); });
        });
    }

    ReleaseIndex::Result ReleaseIndex::refresh (const tarvo::ThreadPool::ShouldExit& shouldExit)
    {
        const auto text = fetch (origin + "/registry/v1/catalog.json", documentTimeoutMs, documentMaxBytes, shouldExit);
        if (shouldExit())
            return {};

        CatalogSnapshot fresh;
        if (text.isNotEmpty() && parseCatalog (text, fresh))
        {
            for (auto& product : fresh.products)
            {
                if (shouldExit())
                    return {};
                product.releases = CatalogReader::parseReleases (
                    fetch (origin + "/registry/v1/products/" + product.id + ".json", documentTimeoutMs, documentMaxBytes, shouldExit));
            }

            if (shouldExit())
                return {};   // a release document may have been cut short: keep what we had
            fresh.fetchedAt = juce::Time::getCurrentTime().toISO8601 (true);

            {
                const juce::ScopedLock sl (lock);
                current = fresh;
            }

            const auto mascots = getMascotDir();
            for (auto& product : fresh.products)
            {
                if (shouldExit())
                    return {};
                // A product id names files here; one that could leave the folder is not used.
                if (! CatalogReader::isSafeFileStem (product.id))
                    continue;
                const auto image = childInside (mascots, product.id + ".svg");
                const auto module = childInside (mascots, product.id + ".mjs");
                if (image == juce::File() || module == juce::File())
                    continue;
                cacheRemoteFile (product.mascot, image, mascotMaxBytes, shouldExit);
                cacheRemoteFile (product.mascotModule, module, mascotMaxBytes, shouldExit);
            }

            const auto banners = getBannerDir();
            juce::StringArray wanted;
            for (auto& notice : fresh.notices)
            {
                if (shouldExit())
                    return {};
                const auto f = childInside (banners, notice.id + ".svg");
                if (f == juce::File())
                    continue;   // notice ids were checked when the catalog was read
                wanted.add (f.getFileName());
                const auto ageSeconds = (juce::Time::getCurrentTime() - f.getLastModificationTime()).inSeconds();
                // A file dated in the future (the clock was set back since) counts as old:
                // otherwise it would not be fetched again until that date had passed.
                if (! f.existsAsFile() || ageSeconds < 0 || ageSeconds >= (double) bannerMaxAgeSeconds)
                    cacheRemoteFile (notice.image, f, bannerMaxBytes, shouldExit);
            }
            if (shouldExit())
                return {};
            for (auto& f : banners.findChildFiles (juce::File::findFiles, false, "*.svg"))
                if (! wanted.contains (f.getFileName(), false))
                    (void) f.deleteFile();

            (void) writeCacheFile (getCacheFile(), fresh.fetchedAt, CatalogReader::parseJson (text));

            return { true, false, "Catalog updated" };
        }

        if (snapshot().products.empty())
        {
            if (loadCached())
                return { true, true, "Offline - showing last known state" };
            return { false, false, "Catalog unavailable" };
        }
        return { true, true, "Offline - showing last known state" };
    }

    bool ReleaseIndex::writeCacheFile (const juce::File& target, const juce::String& fetchedAt, const juce::var& catalog)
    {
        auto* cache = new juce::DynamicObject();
        cache->setProperty ("fetchedAt", fetchedAt);
        cache->setProperty ("catalog", catalog);
        // Written to a temporary file next to the target and then moved over it.
        return target.replaceWithText (juce::JSON::toString (juce::var (cache), false), false, false, "\r\n");
    }

    bool ReleaseIndex::loadCached()
    {
        const auto f = getCacheFile();
        if (! f.existsAsFile() || f.getSize() > 8 * 1024 * 1024)
            return false;

        juce::MemoryBlock data;
        if (! f.loadFileAsData (data))
            return false;
        const auto parsed = CatalogReader::parseJson (InstallScan::textFromBytes (static_cast<const char*> (data.getData()), data.getSize()));
        auto* obj = parsed.getDynamicObject();
        if (obj == nullptr || parsed.isArray())
            return false;

        CatalogSnapshot loaded;
        if (! parseCatalog (juce::JSON::toString (obj->getProperty ("catalog")), loaded))
            return false;
        const auto fetched = obj->getProperty ("fetchedAt");
        loaded.fetchedAt = fetched.isVoid() || fetched.isObject() ? juce::String() : fetched.toString();

        const juce::ScopedLock sl (lock);
        current = std::move (loaded);
        return true;
    }
}
