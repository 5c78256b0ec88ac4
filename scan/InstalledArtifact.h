#pragma once

#include <juce_core/juce_core.h>

namespace hub
{
    // One plug-in bundle found on disk.
    struct InstalledArtifact
    {
        enum Format { VST3 = 0, AU = 1 };
        enum Scope { System = 0, User = 1 };

        Format format = VST3;      // format of the folder it was found in
        Scope scope = System;      // system-wide or per-user folder
        juce::String path;         // full path of the bundle folder (a link is not resolved)
        juce::String bundleId;     // "CFBundleIdentifier" of Info.plist; may be empty
        juce::String name;         // module name, else the folder name without extension
        juce::String version;      // Info.plist short version, else the module version; may be empty
        juce::String classId;      // "CID" of the first module class; may be empty

        static juce::String formatText (Format f) { return f == AU ? "AU" : "VST3"; }
        static juce::String scopeText (Scope s)   { return s == User ? "User" : "System"; }
    };
}
