#pragma once

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <vector>

namespace hub
{
    // One downloadable file of a release.
    struct ReleaseArtifact
    {
        juce::String kind;        // "installer" marks an installer package
        juce::String platform;    // e.g. "macos"
        juce::String filename;
        juce::String url;         // never empty
        juce::String sha256;
        juce::int64 size = 0;
        juce::String minOs;
    };

    struct Release
    {
        juce::String version;     // never empty
        juce::String channel;     // "stable", "beta", ...
        juce::String released;
        juce::String buildRef;
        bool yanked = false;
        juce::StringArray changelog;
        std::vector<ReleaseArtifact> artifacts;
    };

    struct CatalogProduct
    {
        juce::String id;          // never empty
        juce::String name;
        juce::String tagline;
        juce::String mascot;
        juce::String mascotModule;
        juce::String mascotMotion;
        juce::String landingUrl;
        juce::String shopUrl;
        juce::String latestStable;
        juce::String latestBeta;
        std::vector<Release> releases;
    };

    // The manager application's own newest release.
    struct ManagerUpdate
    {
        juce::String version;
        juce::String minSupported;
        juce::String released;
        juce::String filename;
        juce::String url;
        juce::String sha256;
        juce::int64 size = 0;
        juce::StringArray changelog;
    };

    struct Notice
    {
        juce::String id;          // a safe file name
        juce::String image;       // begins with "https://"
        juce::String url;
        juce::String from;
        juce::String until;
        int priority = 0;
    };

    // The parsed registry: plain values, always copied whole.
    struct CatalogSnapshot
    {
        std::vector<CatalogProduct> products;
        std::vector<Notice> notices;
        ManagerUpdate manager;
        juce::String fetchedAt;
    };
}
