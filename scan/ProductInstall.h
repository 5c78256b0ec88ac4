#pragma once

#include "scan/InstalledArtifact.h"

#include <vector>

namespace hub
{
    // The installed bundles of one bundle identifier, in scan order.
    struct ProductInstall
    {
        juce::String bundleId;
        juce::String name;                          // name of the first artifact found
        std::vector<InstalledArtifact> artifacts;

        // The highest version among the artifacts (earlier wins a tie); empty when
        // there are none or every version is empty.
        juce::String highestVersion() const;

        // Groups a scan result by bundle identifier, in order of first appearance.
        static std::vector<ProductInstall> group (const std::vector<InstalledArtifact>& scanned);
    };
}
