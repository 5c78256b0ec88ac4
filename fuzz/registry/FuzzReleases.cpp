#include "registry/CatalogReader.h"
#include "scan/InstallScan.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto text = hub::InstallScan::textFromBytes (reinterpret_cast<const char*> (data), size);
    for (auto& r : hub::CatalogReader::parseReleases (text))
    {
        if (r.version.isEmpty())
            std::abort();
        for (auto& a : r.artifacts)
            if (a.url.isEmpty())
                std::abort();
    }
    return 0;
}
