#pragma once

#include <juce_core/juce_core.h>

namespace test
{
    // A fresh folder under the system's temporary folder, removed again at the end.
    struct TempFolder
    {
        juce::File dir;

        explicit TempFolder (const juce::String& prefix = "fernhall-test")
            : dir (juce::File::getSpecialLocation (juce::File::tempDirectory)
                       .getNonexistentChildFile (prefix, {}, false))
        {
            dir.createDirectory();
        }
        ~TempFolder() { dir.deleteRecursively(); }

        juce::File operator/ (const juce::String& rel) const { return dir.getChildFile (rel); }

        TempFolder (const TempFolder&) = delete;
        TempFolder& operator= (const TempFolder&) = delete;
    };

    // Writes text to a file, creating its folders.
    inline juce::File writeFile (const juce::File& f, const juce::String& text)
    {
        f.getParentDirectory().createDirectory();
        f.replaceWithText (text, false, false, "\n");
        return f;
    }

    // An XML Info.plist with the given keys and string values.
    inline juce::String plist (std::initializer_list<std::pair<const char*, const char*>> entries)
    {
        juce::String s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n<dict>\n";
        for (auto& e : entries)
            s << "  <key>" << e.first << "</key>\n  <string>" << e.second << "</string>\n";
        return s + "</dict>\n</plist>\n";
    }

    // A plug-in bundle folder with an Info.plist naming the id and version (both
    // optional) and optionally a moduleinfo.json.
    inline juce::File makeBundle (const juce::File& folder, const juce::String& name, const juce::String& bundleId,
                                  const juce::String& version, const juce::String& moduleInfo = {})
    {
        auto bundle = folder.getChildFile (name);
        std::initializer_list<std::pair<const char*, const char*>> none {};
        juce::String p = plist (none);
        if (bundleId.isNotEmpty() || version.isNotEmpty())
        {
            p = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>";
            if (bundleId.isNotEmpty()) p << "<key>CFBundleIdentifier</key><string>" << bundleId << "</string>";
            if (version.isNotEmpty())  p << "<key>CFBundleShortVersionString</key><string>" << version << "</string>";
            p << "</dict></plist>\n";
        }
        writeFile (bundle.getChildFile ("Contents/Info.plist"), p);
        if (moduleInfo.isNotEmpty())
            writeFile (bundle.getChildFile ("Contents/Resources/moduleinfo.json"), moduleInfo);
        return bundle;
    }
}
