// Shows the real web view (the helper process, embedded) with a page from a resource
// provider. The page calls native functions with plain and awkward arguments, a
// missing function, one answered later and one whose arguments are too large, loads
// an image and a missing file, and then calls "finish" with what it saw; the program
// checks those answers and exits with 0 when everything worked, 1 otherwise, 2 on
// time-out.
//
//   webview_probe                  the check above
//   webview_probe --hold <ms>      the same, but the window stays up <ms> longer
//                                  after the check (for a screenshot)
//   webview_probe --typing         a page with a text field; prints "shown" once it is
//                                  up and exits 0 when "fern" has been typed into it
//   webview_probe --ready          a page that makes one native call at once; prints
//                                  "ready" when it arrives and quits 3 s later (the
//                                  benchmark times this and measures memory meanwhile)
#include "platform/WebBrowserComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>

namespace
{
    const char* checkPage = R"(<!doctype html><html><head><meta charset="utf-8"><script src="bridge.js"></script>
<style>body{margin:0;font:20px sans-serif;background:#2f6f4f;color:#fff} #t{padding:24px}</style></head>
<body><div id="t">probe running</div><img id="img" src="dot.svg?v=2" width="64" height="64"><script>
(async () => {
  const seen = {};
  const tricky = 'quote " backslash \\ line\u2028sep <' + '/script> \u00e9\u4e2d';
  try { seen.echo = await getNativeFunction('echo')(1, 'two', {three: [3]}, tricky); } catch (e) { seen.echo = 'error ' + e.message; }
  seen.trickyBack = Array.isArray(seen.echo) && seen.echo[3] === tricky;
  try { await getNativeFunction('missing')(); seen.missing = 'resolved'; } catch (e) { seen.missing = 'rejected'; }
  seen.nothing = await getNativeFunction('nothing')();
  seen.nothingIsUndefined = seen.nothing === undefined;
  seen.later = await getNativeFunction('later')();
  try { await getNativeFunction('echo')('x'.repeat(2000000)); seen.huge = 'resolved'; } catch (e) { seen.huge = 'rejected'; }
  const r = await fetch('absent.txt'); seen.absent = r.status;
  await new Promise(res => { const i = document.getElementById('img'); if (i.complete) res(); else { i.onload = res; i.onerror = res; } });
  seen.image = document.getElementById('img').naturalWidth;
  document.getElementById('t').textContent = 'probe done: ' + JSON.stringify(seen);
  getNativeFunction('finish')(seen);
})();
</script></body></html>)";

    const char* readyPage = R"(<!doctype html><html><head><meta charset="utf-8"><script src="bridge.js"></script></head>
<body><h1>ready</h1><script>getNativeFunction('ready')();</script></body></html>)";

    const char* typingPage = R"(<!doctype html><html><head><meta charset="utf-8"><script src="bridge.js"></script></head>
<body style="margin:0"><input id="i" style="width:100%;height:640px;font-size:40px">
<script>const i = document.getElementById('i');
i.addEventListener('input', () => { if (i.value === 'fern') getNativeFunction('typed')(i.value); });
getNativeFunction('shown')();</script></body></html>)";

    const char* dotSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><circle cx="32" cy="32" r="30" fill="#f0c020"/></svg>)";

    tarvo::WebBrowserComponent::Resource make (const juce::String& text, const char* mime)
    {
        tarvo::WebBrowserComponent::Resource r;
        auto* p = reinterpret_cast<const std::byte*> (text.toRawUTF8());
        r.data.assign (p, p + text.getNumBytesAsUTF8());
        r.mimeType = mime;
        return r;
    }

    class ProbeApp : public juce::JUCEApplication
    {
    public:
        const juce::String getApplicationName() override    { return "webview probe"; }
        const juce::String getApplicationVersion() override { return "1"; }
        bool moreThanOneInstanceAllowed() override          { return true; }

        void initialise (const juce::String& commandLine) override
        {
            const auto args = juce::StringArray::fromTokens (commandLine, true);
            const bool readyMode = args.contains ("--ready");
            const bool typingMode = args.contains ("--typing");
            const int holdIndex = args.indexOf ("--hold");
            const int hold = holdIndex >= 0 ? args[holdIndex + 1].getIntValue() : 0;

            const auto bridge = juce::File (FERNHALL_BRIDGE_JS).loadFileAsString();
            const juce::String page = readyMode ? readyPage : typingMode ? typingPage : checkPage;
            auto options = tarvo::WebBrowserComponent::Options {}
                .withNativeIntegrationEnabled()
                .withResourceProvider ([bridge, page] (const juce::String& path) -> std::optional<tarvo::WebBrowserComponent::Resource>
                {
                    if (path == "/" || path == "/index.html") return make (page, "text/html");
                    if (path == "/bridge.js") return make (bridge, "text/javascript");
                    if (path == "/dot.svg?v=2") return make (dotSvg, "image/svg+xml");
                    return std::nullopt;
                })
                .withNativeFunction ("echo", [] (const juce::Array<juce::var>& a, auto done) { done (juce::var (a)); })
                .withNativeFunction ("nothing", [] (const juce::Array<juce::var>&, auto done) { done ({}); })
                .withNativeFunction ("later", [] (const juce::Array<juce::var>&, auto done)
                {
                    juce::Timer::callAfterDelay (100, [done] { done ("kept"); });
                })
                .withNativeFunction ("shown", [] (const juce::Array<juce::var>&, auto done)
                {
                    done (true);
                    std::printf ("shown\n");
                    std::fflush (stdout);
                })
                .withNativeFunction ("typed", [this] (const juce::Array<juce::var>& a, auto done)
                {
                    done (true);
                    std::printf ("typed: %s\n", a[0].toString().toRawUTF8());
                    std::fflush (stdout);
                    setApplicationReturnValue (0);
                    quit();
                })
                .withNativeFunction ("ready", [this] (const juce::Array<juce::var>&, auto done)
                {
                    done (true);
                    std::printf ("ready\n");
                    std::fflush (stdout);
                    juce::Timer::callAfterDelay (3000, [this] { quit(); });
                })
                .withNativeFunction ("finish", [this, hold] (const juce::Array<juce::var>& a, auto done)
                {
                    done (true);
                    const auto seen = a[0];
                    std::printf ("page saw: %s\n", juce::JSON::toString (seen, true).toRawUTF8());
                    const bool ok = seen["trickyBack"] == juce::var (true)
                                 && seen["missing"] == juce::var ("rejected")
                                 && seen["nothingIsUndefined"] == juce::var (true)
                                 && seen["later"] == juce::var ("kept")
                                 && seen["huge"] == juce::var ("rejected")
                                 && (int) seen["absent"] == 404
                                 && (int) seen["image"] == 64;
                    std::printf ("%s\n", ok ? "round trips: ok" : "round trips: FAILED");
                    std::fflush (stdout);
                    setApplicationReturnValue (ok ? 0 : 1);
                    juce::Timer::callAfterDelay (juce::jmax (0, hold), [this] { quit(); });
                });

            window = std::make_unique<juce::DocumentWindow> ("probe", juce::Colour (227, 229, 232), juce::DocumentWindow::closeButton);
            view = std::make_unique<tarvo::WebBrowserComponent> (options);
            window->setUsingNativeTitleBar (true);
            window->setContentNonOwned (view.get(), false);
            window->centreWithSize (560, 640);
            window->setVisible (true);
            view->goToURL (tarvo::WebBrowserComponent::getResourceProviderRoot());

            juce::Timer::callAfterDelay (60000 + hold, [this]
            {
                std::printf ("time-out; %s\n", view->getProblemText().toRawUTF8());
                setApplicationReturnValue (2);
                quit();
            });
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
