// Catalog text: refused or read, never a crash; a refusal leaves the snapshot alone.
// An accepted catalog also survives the trip through the cache file: written back as
// JSON and read again, it gives the same records.
#include "registry/CatalogReader.h"
#include "scan/InstallScan.h"

#include <cstdlib>

namespace
{
    juce::String describe (const hub::CatalogSnapshot& s)
    {
        juce::StringArray lines;
        for (auto& p : s.products)
            lines.add (juce::StringArray { p.id, p.name, p.tagline, p.mascot, p.mascotModule, p.mascotMotion, p.landingUrl,
                                           p.shopUrl, p.latestStable, p.latestBeta }.joinIntoString ("|"));
        const auto& m = s.manager;
        lines.add (juce::StringArray { m.version, m.minSupported, m.released, m.filename, m.url, m.sha256, juce::String (m.size),
                                       m.changelog.joinIntoString (";") }.joinIntoString ("|"));
        for (auto& n : s.notices)
            lines.add (juce::StringArray { n.id, n.image, n.url, n.from, n.until, juce::String (n.priority) }.joinIntoString ("|"));
        return lines.joinIntoString ("\n");
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto text = hub::InstallScan::textFromBytes (reinterpret_cast<const char*> (data), size);
    hub::CatalogSnapshot out;
    out.fetchedAt = "before";
    const bool ok = hub::CatalogReader::parseCatalog (text, out);
    if (out.fetchedAt != "before" || (! ok && ! out.products.empty()))
        std::abort();
    for (auto& p : out.products)
        if (p.id.isEmpty())
            std::abort();
    for (auto& n : out.notices)
        if (! hub::CatalogReader::isValidNoticeId (n.id) || ! n.image.startsWith ("https://"))
            std::abort();

    if (ok)
    {
        hub::CatalogSnapshot again;
        const auto rewritten = juce::JSON::toString (hub::CatalogReader::parseJson (text));
        if (! hub::CatalogReader::parseCatalog (rewritten, again) || describe (again) != describe (out))
            std::abort();
    }
    return 0;
}
