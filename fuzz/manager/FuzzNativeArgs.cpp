// Arguments as the page may send them (any JSON array) to every native function that
// answers at once. Each must answer exactly once, on the spot; sizes stay in range;
// only "https://" addresses reach the browser; nothing is opened for real.
#include "app/NativeFunctions.h"
#include "manager/ManagerLogic.h"

#include <juce_events/juce_events.h>

#include <cstdlib>
#include <memory>

namespace
{
    struct Host : NativeHost
    {
        std::unique_ptr<ManagerLogic> logic;
        int lastWidth = 0, lastHeight = 0, resizes = 0;
        ManagerLogic& getLogic() override { return *logic; }
        void postContentSize (int w, int h) override { lastWidth = w; lastHeight = h; ++resizes; }
    };

    struct Setup
    {
        juce::ScopedJuceInitialiser_GUI framework;
        juce::File root = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("fernhall-fuzz-bridge", {}, false);
        Host host;
        juce::StringArray opened;
        tarvo::WebBrowserComponent::Options options;

        Setup()
        {
            ManagerLogic::Config c;
            c.appData = root.getChildFile ("app");
            c.registryOrigin = "https://localhost:9";
            c.searchPaths = std::vector<hub::InstallScan::SearchPath> { { root.getChildFile ("vst3") } };
            c.downloadsFolder = root.getChildFile ("Downloads");
            c.quit = [] {};
            c.openInBrowser = [this] (const juce::String& a) { opened.add (a); return true; };
            c.openDocument = [] (const juce::String&) { return false; };
            host.logic = std::make_unique<ManagerLogic> (c);
            options = NativeFunctions::addAll ({}, host);
        }

        ~Setup()
        {
            options = {};
            host.logic.reset();
            root.deleteRecursively();
        }
    };

    Setup& setup()
    {
        static Setup s;
        return s;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& s = setup();
    const auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size);
    juce::var parsed;
    if (size > 4096 || juce::JSON::parse (text, parsed).failed() || ! parsed.isArray())
        return 0;
    const auto args = *parsed.getArray();

    for (auto name : { "openUrl", "dismissNotice", "startInstall", "startDownload", "cancelInstall", "getInstallState",
                       "uninstallPlan", "getPluginVersion", "getUiSettings", "setEditorSize", "skipAppUpdate",
                       "applyAppUpdate", "startAppUpdate", "contactSupport" })
    {
        int answers = 0;
        juce::var answer;
        const int resizesBefore = s.host.resizes;
        const int openedBefore = s.opened.size();
        if (! s.options.invoke (name, args, [&] (juce::var v) { ++answers; answer = v; }))
            std::abort();
        if (answers != 1)
            std::abort();

        const juce::String n (name);
        if (n == "setEditorSize")
        {
            if (answer != juce::var (true) || s.host.resizes != resizesBefore + (args.size() >= 2 ? 1 : 0))
                std::abort();
            if (s.host.lastWidth < 320 || s.host.lastWidth > 2400 || s.host.lastHeight < 320 || s.host.lastHeight > 2400)
                if (s.host.resizes > 0)
                    std::abort();
        }
        if (n == "openUrl")
        {
            const bool https = ! args.isEmpty() && args[0].toString().startsWith ("https://");
            if (answer != juce::var (https) || s.opened.size() != openedBefore + (https ? 1 : 0))
                std::abort();
        }
        if ((n == "startInstall" || n == "startDownload") && (args.isEmpty() ? ! answer.isVoid() : (bool) answer["ok"]))
            std::abort();   // the catalog is empty: nothing can start
    }
    s.opened.clear();
    return 0;
}
