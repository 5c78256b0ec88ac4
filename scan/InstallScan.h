#pragma once

#include "scan/InstalledArtifact.h"
#include "scan/ProductInstall.h"

#include <vector>

namespace hub
{
    // Version ordering, the bundle reader and the plug-in folder scan. Stateless;
    // every member may be called from any thread.
    class InstallScan
    {
    public:
        struct SearchPath
        {
            juce::File directory;
            InstalledArtifact::Format format = InstalledArtifact::VST3;
            InstalledArtifact::Scope scope = InstalledArtifact::System;
        };

        // -1 when a is older than b, 0 when equal, +1 when a is newer. Components are
        // cut at "."; each is a leading decimal number plus a suffix that marks a
        // pre-release (sorting before the bare number). Never fails.
        static int compareVersions (const juce::String& a, const juce::String& b);

        // The highest of a list: earlier wins ties, an empty text never replaces a
        // non-empty one.
        static juce::String highestOf (const juce::StringArray& versions);

        // The string value under `key` in the top-level dictionary of an XML property
        // list; empty when there is none (binary lists, malformed files, missing key).
        static juce::String readPlistString (const juce::File& plist, const juce::String& key);

        // Same, from property-list text already in memory.
        static juce::String readPlistStringFromText (const juce::String& text, const juce::String& key);

        // Module name, version and first class id of a moduleinfo.json text; empty
        // values when it is not a JSON object.
        struct ModuleInfo { juce::String name, version, classId; };
        static ModuleInfo readModuleInfoText (const juce::String& text);

        // Reads one bundle folder; true (and `out` filled) when it has a bundle or class
        // identifier, false with `out` untouched otherwise.
        static bool readBundle (const juce::File& bundle, InstalledArtifact::Format format,
                                InstalledArtifact::Scope scope, InstalledArtifact& out);

        // The standard plug-in folders of this platform, system folders first.
        static std::vector<SearchPath> defaultSearchPaths();

        // Accepted bundles of every path in path order, then listing order. With an empty
        // id list a bundle is accepted when its id begins with "de.tarvo."; otherwise
        // when it equals one of the ids.
        static std::vector<InstalledArtifact> scan (const std::vector<SearchPath>& paths,
                                                    const juce::StringArray& bundleIds);

        // Text of bytes read from disk or the network: well-formed UTF-8 sequences as
        // they are; every other byte (and NUL) becomes "?".
        static juce::String textFromBytes (const char* bytes, size_t size);

        // Whether a JSON text nests brackets deeper than `limit`, counted the way the
        // framework's parser reads strings (either quote mark); checked before that
        // recursive parser sees a document.
        static bool jsonTooDeep (const juce::String& text, int limit);

        // Files larger than this are not read; they count as missing.
        static constexpr juce::int64 maxReadBytes = 1024 * 1024;
    };

    // Reads one version component: the value of its leading ASCII digits (saturating at
    // the largest 32-bit value; 0 without digits) and the rest as the suffix.
    void splitComponent (const juce::String& component, int& number, juce::String& suffix);
}
