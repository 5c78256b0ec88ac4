#include "app/ManagerWindow.h"

#include "app/Identity.h"
#include "app/NativeFunctions.h"
#include "install/Installer.h"
#include "platform/WebViewTint.h"
#include "registry/ReleaseIndex.h"
#include "selfupdate/SelfUpdater.h"

#include <BinaryData.h>

namespace
{
    const juce::Colour windowBackground (227, 229, 232);

    tarvo::WebBrowserComponent::Resource makeResource (const void* bytes, size_t size, const juce::String& mime)
    {
        tarvo::WebBrowserComponent::Resource r;
        const auto* p = static_cast<const std::byte*> (bytes);
        r.data.assign (p, p + size);
        r.mimeType = mime;
        return r;
    }
}

juce::String mimeForFile (const juce::String& path)
{
    if (path.endsWith (".html"))                          return "text/html";
    if (path.endsWith (".css"))                           return "text/css";
    if (path.endsWith (".js") || path.endsWith (".mjs"))  return "text/javascript";
    if (path.endsWith (".svg"))                           return "image/svg+xml";
    return "application/octet-stream";
}

std::optional<tarvo::WebBrowserComponent::Resource> ManagerWindow::fromCacheDir (const juce::File& folder,
                                                                                const juce::String& relativePath)
{
    const auto name = relativePath.fromFirstOccurrenceOf ("/", false, false);
    if (name.isEmpty())
        return std::nullopt;

    const auto candidate = folder.getChildFile (name);
    if (! candidate.existsAsFile())
        return std::nullopt;

    // Only files directly inside the folder: this refuses further separators and
    // names that climb out with "..".
    if (candidate.getParentDirectory() != folder)
        return std::nullopt;

    juce::MemoryBlock bytes;
    if (! candidate.loadFileAsData (bytes))
        return std::nullopt;

    return makeResource (bytes.getData(), bytes.getSize(), mimeForFile (relativePath));
}

std::optional<tarvo::WebBrowserComponent::Resource> ManagerWindow::serveResource (const juce::String& path,
                                                                                 const juce::File& mascotDir,
                                                                                 const juce::File& bannerDir)
{
    juce::String relative;
    if (path.isEmpty() || path == "/")
        relative = "index.html";
    else
        relative = path.fromFirstOccurrenceOf ("/", false, false).upToFirstOccurrenceOf ("?", false, false);

    if (relative.startsWith ("mascots/"))
        return fromCacheDir (mascotDir, relative);

    if (relative.startsWith ("banners/"))
        return fromCacheDir (bannerDir, relative);

    for (int i = 0; i < BinaryData::namedResourceListSize; ++i)
    {
        if (relative == BinaryData::originalFilenames[i])
        {
            int size = 0;
            if (const auto* bytes = BinaryData::getNamedResource (BinaryData::namedResourceList[i], size))
                return makeResource (bytes, (size_t) size, mimeForFile (relative));
        }
    }

    return std::nullopt;
}

void ManagerWindow::cleanLeftovers (const juce::File& updateDir, const juce::File& downloadDir)
{
    hub::SelfUpdater::cleanUpdateFolder (updateDir);

    for (const auto& f : downloadDir.findChildFiles (juce::File::findFiles, false, "*"))
        (void) f.deleteFile();
}

ManagerWindow::ManagerWindow()
    : juce::DocumentWindow (hub::identity::appName, juce::Colours::black,
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton)
{
    cleanLeftovers (hub::SelfUpdater::updateDir(), hub::Installer::downloadDir());

    logic.releaseIndex.loadCached();

    webView = std::make_unique<tarvo::WebBrowserComponent> (buildOptions());

    setUsingNativeTitleBar (true);
    setContentNonOwned (webView.get(), false);
    setResizable (false, false);
    centreWithSize (560, 640);

    lightBackground = true;
    setBackgroundColour (windowBackground);
    repaint();

    if (auto* peer = getPeer())
        (void) tarvo::tintWebViewBackground (peer->getNativeHandle(), lightBackground);

    setVisible (true);

    webView->goToURL (tarvo::WebBrowserComponent::getResourceProviderRoot());

    startTimer (120);
}

ManagerWindow::~ManagerWindow()
{
    stopTimer();
    clearContentComponent();
    webView.reset();
}

tarvo::WebBrowserComponent::Options ManagerWindow::buildOptions()
{
    auto options = tarvo::WebBrowserComponent::Options {}
                       .withNativeIntegrationEnabled()
                       .withResourceProvider ([] (const juce::String& path)
                                              {
                                                  return serveResource (path,
                                                                        hub::ReleaseIndex::mascotDir(),
                                                                        hub::ReleaseIndex::bannerDir());
                                              });
    return NativeFunctions::addAll (std::move (options), *this);
}

void ManagerWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

void ManagerWindow::postContentSize (int width, int height)
{
    juce::Component::SafePointer<ManagerWindow> safe (this);
    juce::MessageManager::callAsync ([safe, width, height]
                                     {
                                         if (auto* w = safe.getComponent())
                                             w->setContentComponentSize (width, height);
                                     });
}

void ManagerWindow::timerCallback()
{
    if (auto* peer = getPeer())
    {
        backgroundTinted = tarvo::tintWebViewBackground (peer->getNativeHandle(), lightBackground);
        if (backgroundTinted)
            stopTimer();
        return;
    }

    if (backgroundTinted)
        stopTimer();
}
