#include "scan/ProductInstall.h"

#include "scan/InstallScan.h"

namespace hub
{
    juce::String ProductInstall::highestVersion() const
    {
        juce::StringArray versions;
        for (auto& a : artifacts)
            versions.add (a.version);
        return InstallScan::highestOf (versions);
    }

    std::vector<ProductInstall> ProductInstall::group (const std::vector<InstalledArtifact>& scanned)
    {
        std::vector<ProductInstall> products;
        for (auto& a : scanned)
        {
            auto it = std::find_if (products.begin(), products.end(),
                                    [&] (const ProductInstall& p) { return p.bundleId == a.bundleId; });
            if (it == products.end())
                products.push_back ({ a.bundleId, a.name, { a } });
            else
                it->artifacts.push_back (a);
        }
        return products;
    }
}
