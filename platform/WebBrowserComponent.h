#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace tarvo
{
    // The web view that shows the embedded page.
    //
    // The page loads every file through a resource provider (path -> bytes + MIME type)
    // at addresses under getResourceProviderRoot(), and reaches the native side only
    // through named native functions: the page-side bridge script (webhost/bridge.js,
    // part of the page's bundle) gives it getNativeFunction(name), which returns a
    // function whose call returns a promise of the native answer. Arguments and results
    // cross as JSON. The native side never calls into the page on its own; it only
    // answers calls.
    //
    // Threads: native functions are called on the message thread. Their completion may
    // be kept and called later, from any thread; only its first call counts, and once
    // the view (or the page that made the call) is gone it does nothing. The resource
    // provider may be called on a background thread while the message thread is busy,
    // so it must not touch message-thread state.
    //
    // On Linux the view is WebKitGTK running in a helper process ("fernhall-webhost")
    // whose window is embedded into this component through XEmbed; if the helper dies
    // it is started once more with the last address, after that the component shows
    // an error text instead of the page. On macOS it is the system's WKWebView.
    class WebBrowserComponent : public juce::Component
    {
    public:
        struct Resource
        {
            std::vector<std::byte> data;
            juce::String mimeType;
        };

        using ResourceProvider = std::function<std::optional<Resource> (const juce::String& path)>;
        using NativeFunctionCompletion = std::function<void (juce::var)>;
        using NativeFunction = std::function<void (const juce::Array<juce::var>& args, NativeFunctionCompletion completion)>;

        class Options
        {
        public:
            [[nodiscard]] Options withNativeIntegrationEnabled (bool enabled = true) const;
            [[nodiscard]] Options withResourceProvider (ResourceProvider provider,
                                                        std::optional<juce::String> allowedOrigin = std::nullopt) const;
            [[nodiscard]] Options withNativeFunction (const juce::Identifier& name, NativeFunction function) const;

            bool getNativeIntegrationEnabled() const noexcept { return nativeIntegration; }
            const ResourceProvider& getResourceProvider() const noexcept { return provider; }
            const std::optional<juce::String>& getAllowedOrigin() const noexcept { return allowedOrigin; }

            // Names in the order they were added.
            juce::StringArray getNativeFunctionNames() const;

            // Serves one request path ("/", "/bundle.js?x=1", ...) through the provider;
            // empty when there is no provider or it has nothing for the path.
            std::optional<Resource> serve (const juce::String& path) const;

            // Calls the named function on the calling (message) thread. Returns false,
            // without calling anything, when no function of that name was added.
            bool invoke (const juce::String& name, const juce::Array<juce::var>& args,
                         NativeFunctionCompletion completion) const;

        private:
            bool nativeIntegration = false;
            ResourceProvider provider;
            std::optional<juce::String> allowedOrigin;
            std::vector<std::pair<juce::Identifier, NativeFunction>> functions;
        };

        explicit WebBrowserComponent (const Options& options);
        // As above with another helper program in place of the one installed next to
        // the application's executable (tests use this).
        WebBrowserComponent (const Options& options, const juce::File& helperProgram);
        ~WebBrowserComponent() override;

        // The helper program the first constructor starts: "fernhall-webhost" next to
        // the application's executable.
        static juce::File getDefaultHelperProgram();

        // Loads an address (normally getResourceProviderRoot()).
        void goToURL (const juce::String& url);

        // The address under which the resource provider's files appear to the page.
        static juce::String getResourceProviderRoot();

        void resized() override;
        void paint (juce::Graphics&) override;

        // The native handle of the embedded view once it is attached, else null.
        void* getEmbeddedViewHandle() const;

        // The text shown in place of the page when the view could not be started or
        // stopped for good; empty while all is well.
        juce::String getProblemText() const;

    private:
        class Impl;
        std::unique_ptr<Impl> impl;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WebBrowserComponent)
    };
}
