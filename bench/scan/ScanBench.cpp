// One scan of a plug-in folder holding 1,000 foreign bundles (each with an Info.plist
// and a moduleinfo.json) and our three, next to reading the same files with cat.
#include "manager/ProductTable.h"
#include "scan/InstallScan.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
    using Clock = std::chrono::steady_clock;

    double millisecondsOf (const std::function<void()>& fn, int runs)
    {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
        {
            const auto t0 = Clock::now();
            fn();
            times.push_back (std::chrono::duration<double, std::milli> (Clock::now() - t0).count());
        }
        std::sort (times.begin(), times.end());
        return times[times.size() / 2];
    }

    void makeBundle (const juce::File& folder, const juce::String& name, const juce::String& id, const juce::String& version)
    {
        auto contents = folder.getChildFile (name).getChildFile ("Contents");
        contents.getChildFile ("Resources").createDirectory();
        juce::String plist;
        plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              << "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              << "<plist version=\"1.0\">\n<dict>\n"
              << "\t<key>CFBundleDevelopmentRegion</key>\n\t<string>English</string>\n"
              << "\t<key>CFBundleExecutable</key>\n\t<string>" << name << "</string>\n"
              << "\t<key>CFBundleIdentifier</key>\n\t<string>" << id << "</string>\n"
              << "\t<key>CFBundleInfoDictionaryVersion</key>\n\t<string>6.0</string>\n"
              << "\t<key>CFBundleName</key>\n\t<string>" << name << "</string>\n"
              << "\t<key>CFBundlePackageType</key>\n\t<string>BNDL</string>\n"
              << "\t<key>CFBundleShortVersionString</key>\n\t<string>" << version << "</string>\n"
              << "\t<key>CFBundleSignature</key>\n\t<string>TRVO</string>\n"
              << "\t<key>CFBundleVersion</key>\n\t<string>" << version << "</string>\n"
              << "\t<key>NSHumanReadableCopyright</key>\n\t<string>(c) someone</string>\n"
              << "</dict>\n</plist>\n";
        contents.getChildFile ("Info.plist").replaceWithText (plist);
        contents.getChildFile ("Resources/moduleinfo.json").replaceWithText (
            "{\n  \"Name\": \"" + name + "\",\n  \"Version\": \"" + version + "\",\n  \"Factory Info\": {\"Vendor\": \"Someone\"},\n"
            "  \"Classes\": [\n    {\"CID\": \"0123456789ABCDEF0123456789ABCDEF\", \"Category\": \"Audio Module Class\", \"Name\": \"" + name + "\"}\n  ]\n}\n");
    }
}

int main()
{
    juce::ScopedJuceInitialiser_GUI framework;
    auto root = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("fernhall-scan-bench", {}, false);
    auto folder = root.getChildFile ("VST3");
    folder.createDirectory();

    for (int i = 0; i < 1000; ++i)
        makeBundle (folder, "Foreign " + juce::String (i) + ".vst3", "com.vendor" + juce::String (i % 37) + ".plugin" + juce::String (i), "1." + juce::String (i));
    for (auto& e : hub::ProductTable::all())
        makeBundle (folder, e.name + ".vst3", e.bundleId, "2.0.0");

    const std::vector<hub::InstallScan::SearchPath> paths { { folder, hub::InstalledArtifact::VST3, hub::InstalledArtifact::System } };
    const auto ids = hub::ProductTable::bundleIds();

    size_t found = 0;
    const int runs = 9;
    // Warm the file cache for both.
    found = hub::InstallScan::scan (paths, ids).size();
    const auto catCommand = "find '" + folder.getFullPathName().toStdString() + "' -name Info.plist -o -name moduleinfo.json | xargs -d '\\n' cat > /dev/null";
    (void) std::system (catCommand.c_str());

    const double scanMs = millisecondsOf ([&] { found = hub::InstallScan::scan (paths, ids).size(); }, runs);
    const auto findCat = "find '" + folder.getFullPathName().toStdString() + "' \\( -name Info.plist -o -name moduleinfo.json \\) -exec cat {} + > /dev/null";
    const double catMs = millisecondsOf ([&] { (void) std::system (findCat.c_str()); }, runs);

    std::printf ("scan of 1003 bundles (found %zu): %.2f ms (median of %d)\n", found, scanMs, runs);
    std::printf ("find -exec cat of the same files:  %.2f ms (median of %d)\n", catMs, runs);
    std::printf ("ratio scan / cat: %.2f (goal: at most 2.00)\n", scanMs / catMs);

    root.deleteRecursively();
    return found == 3 ? 0 : 1;
}
