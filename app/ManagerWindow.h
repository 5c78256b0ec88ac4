#pragma once

#include "app/NativeHost.h"
#include "manager/ManagerLogic.h"
#include "platform/WebBrowserComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

// MIME type of a served page file, chosen by how its path ends (case-sensitive).
juce::String mimeForFile (const juce::String& path);

// The application's only window: it owns the manager logic and the web view that
// shows the embedded page. The page does all drawing; the window draws only its
// background colour.
class ManagerWindow : public juce::DocumentWindow,
                      private juce::Timer,
                      public NativeHost
{
public:
    ManagerWindow();
    ~ManagerWindow() override;

    void closeButtonPressed() override;

    // NativeHost
    ManagerLogic& getLogic() override { return logic; }
    void postContentSize (int width, int height) override;

    // The page resource provider: answers one request path ("/", "/bundle.js",
    // "/mascots/x.svg?v=2", ...) from the compiled-in page files or the two cache
    // folders; empty for everything else.
    static std::optional<tarvo::WebBrowserComponent::Resource> serveResource (const juce::String& path,
                                                                             const juce::File& mascotDir,
                                                                             const juce::File& bannerDir);

    // One file of a cache folder, named by the part of relativePath after its first
    // "/"; empty when it is missing, a folder, unreadable or not directly inside folder.
    static std::optional<tarvo::WebBrowserComponent::Resource> fromCacheDir (const juce::File& folder,
                                                                            const juce::String& relativePath);

    // Start-up clean-up: packages (".pkg"/".exe", any case) directly in updateDir and
    // every file directly in downloadDir are deleted; sub-folders and other files stay.
    static void cleanLeftovers (const juce::File& updateDir, const juce::File& downloadDir);

    tarvo::WebBrowserComponent::Options buildOptions();

private:
    void timerCallback() override;

    ManagerLogic logic;
    std::unique_ptr<tarvo::WebBrowserComponent> webView;
    bool lightBackground = false;
    bool backgroundTinted = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ManagerWindow)
};
