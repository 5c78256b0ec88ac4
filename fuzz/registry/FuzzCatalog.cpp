// Catalog text: refused or read, never a crash; a refusal leaves the snapshot alone.
#include "registry/CatalogReader.h"
#include "scan/InstallScan.h"

#include <cstdlib>

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
    return 0;
}
