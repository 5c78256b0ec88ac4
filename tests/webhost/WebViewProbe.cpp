// Shows the web view with a page from a resource provider. The page calls the native
// function "echo" with some arguments, a missing function, and then "finish" with
// what it saw; the program checks those answers and exits with 0 when the round
// trips worked, 1 otherwise, 2 on time-out.
#include "platform/WebBrowserComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    const char* page = R"(<!doctype html><html><head><script src="bridge.js"></script></head>
<body style="background:#fff"><h1 id="t">probe</h1><script>
(async () => {
  const seen = {};
  try { seen.echo = await getNativeFunction('echo')(1, 'two', {three: [3]}); } catch (e) { seen.echo = 'error ' + e.message; }
  try { await getNativeFunction('missing')(); seen.missing = 'resolved'; } catch (e) { seen.missing = 'rejected'; }
  seen.nothing = await getNativeFunction('nothing')();
  seen.later = await getNativeFunction('later')();
  const r = await fetch('absent.txt'); seen.absent = r.status;
  document.getElementById('t').textContent = 'done';
  getNativeFunction('finish')(seen);
})();
</script></body></html>)";

    class ProbeApp : public juce::JUCEApplication
    {
    public:
        const juce::String getApplicationName() override    { return "webview probe"; }
        const juce::String getApplicationVersion() override { return "1"; }
        bool moreThanOneInstanceAllowed() override          { return true; }

        void initialise (const juce::String&) override
        {
            const auto bridge = juce::File (FERNHALL_BRIDGE_JS).loadFileAsString();
            auto options = tarvo::WebBrowserComponent::Options {}
                .withNativeIntegrationEnabled()
                .withResourceProvider ([bridge] (const juce::String& path) -> std::optional<tarvo::WebBrowserComponent::Resource>
                {
                    auto make = [] (const juce::String& text, const char* mime) {
                        tarvo::WebBrowserComponent::Resource r;
                        auto* p = reinterpret_cast<const std::byte*> (text.toRawUTF8());
                        r.data.assign (p, p + text.getNumBytesAsUTF8());
                        r.mimeType = mime;
                        return r;
                    };
                    if (path == "/" || path == "/index.html") return make (page, "text/html");
                    if (path == "/bridge.js") return make (bridge, "text/javascript");
                    return std::nullopt;
                })
                .withNativeFunction ("echo", [] (const juce::Array<juce::var>& args, auto done) { done (juce::var (args)); })
                .withNativeFunction ("nothing", [] (const juce::Array<juce::var>&, auto done) { done ({}); })
                .withNativeFunction ("later", [] (const juce::Array<juce::var>&, auto done)
                {
                    juce::Timer::callAfterDelay (100, [done] { done ("kept"); });
                })
                .withNativeFunction ("finish", [this] (const juce::Array<juce::var>& args, auto done)
                {
                    done (true);
                    const auto seen = juce::JSON::toString (args[0], true);
                    std::printf ("page saw: %s\n", seen.toRawUTF8());
                    const bool ok = seen == R"({"echo": [1, "two", {"three": [3]}], "missing": "rejected", "later": "kept", "absent": 404})"
                                 || seen == R"({"echo":[1,"two",{"three":[3]}],"missing":"rejected","later":"kept","absent":404})";
                    setApplicationReturnValue (ok ? 0 : 1);
                    quit();
                });

            window = std::make_unique<juce::DocumentWindow> ("probe", juce::Colours::white, juce::DocumentWindow::closeButton);
            view = std::make_unique<tarvo::WebBrowserComponent> (options);
            window->setContentNonOwned (view.get(), false);
            window->centreWithSize (400, 300);
            window->setVisible (true);
            view->goToURL (tarvo::WebBrowserComponent::getResourceProviderRoot());

            juce::Timer::callAfterDelay (60000, [this] { std::printf ("time-out\n"); setApplicationReturnValue (2); quit(); });
        }

        void shutdown() override
        {
            window.reset();
            view.reset();
        }

    private:
        std::unique_ptr<juce::DocumentWindow> window;
        std::unique_ptr<tarvo::WebBrowserComponent> view;
    };
}

START_JUCE_APPLICATION (ProbeApp)
