// A full registry refresh (catalog, three product documents, mascots, modules, one
// banner) from the loopback HTTPS server, next to curl fetching the same documents one
// after another in the same run. Needs the test certificates (run the test fixture
// "vendor_tls_setup" first) and FERNHALL_TLS_DIR set, as the tests have it.
#include "registry/ReleaseIndex.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"
#include "support/VendorServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

int main()
{
    if (std::getenv ("FERNHALL_TLS_DIR") == nullptr)
        ::setenv ("FERNHALL_TLS_DIR", "/var/tmp/fernhall-test-tls", 1);
    juce::ScopedJuceInitialiser_GUI framework;

    test::TempFolder root, appData;
    test::VendorServer server (root.dir);
    if (! server.running())
    {
        std::printf ("the test server did not start\n");
        return 1;
    }
    const auto o = server.origin();
    juce::StringArray urls { o + "/registry/v1/catalog.json" };
    juce::String products;
    for (auto id : { "grumbot-2", "grumbot-lite", "hissmoth" })
    {
        const juce::String i (id);
        products << (products.isEmpty() ? "" : ",") << R"({"id":")" << i << R"(","mascot":")" << o << "/m/" << i
                 << R"(.svg","mascotModule":")" << o << "/m/" << i << R"(.mjs","latest":{"stable":"2.0.0"}})";
        test::writeFile (root / ("registry/v1/products/" + i + ".json"),
                         R"({"releases":[{"version":"2.0.0","artifacts":[{"platform":"macos","url":"https://x/a.pkg","size":1}]}]})");
        test::writeFile (root / ("m/" + i + ".svg"), "<svg>" + juce::String::repeatedString ("<rect/>", 2000) + "</svg>");
        test::writeFile (root / ("m/" + i + ".mjs"), "export const poseSvg = () => '" + juce::String::repeatedString ("x", 8000) + "';");
        urls.add (o + "/registry/v1/products/" + i + ".json");
        urls.add (o + "/m/" + i + ".svg");
        urls.add (o + "/m/" + i + ".mjs");
    }
    test::writeFile (root / "b/spring.svg", "<svg>" + juce::String::repeatedString ("<circle/>", 3000) + "</svg>");
    test::writeFile (root / "registry/v1/catalog.json", "{\"products\":[" + products + R"(],"notices":[{"id":"spring","image":")" + o + "/b/spring.svg\"}]}");
    urls.add (o + "/b/spring.svg");

    using Clock = std::chrono::steady_clock;
    const int runs = 7;
    std::vector<double> ours, theirs, oneProcess;
    hub::ReleaseIndex index (appData.dir, o);
    for (int i = 0; i < runs; ++i)
    {
        appData.dir.getChildFile ("banners").deleteRecursively();   // so the banner is fetched every time
        const auto t0 = Clock::now();
        bool done = false;
        index.refreshAsync ([&] (hub::ReleaseIndex::Result) { done = true; });
        test::pumpUntil ([&] { return done; }, 60000);
        ours.push_back (std::chrono::duration<double, std::milli> (Clock::now() - t0).count());

        const auto c0 = Clock::now();
        for (auto& u : urls)
        {
            const auto cmd = "curl -s -o /dev/null '" + u.toStdString() + "'";
            (void) std::system (cmd.c_str());
        }
        theirs.push_back (std::chrono::duration<double, std::milli> (Clock::now() - c0).count());

        // One curl process for all addresses, one after another: no process start per
        // file, and the connection is kept open between them.
        std::string all = "curl -s";
        for (auto& u : urls)
            all += " -o /dev/null '" + u.toStdString() + "'";
        const auto k0 = Clock::now();
        (void) std::system (all.c_str());
        oneProcess.push_back (std::chrono::duration<double, std::milli> (Clock::now() - k0).count());
    }
    std::sort (ours.begin(), ours.end());
    std::sort (theirs.begin(), theirs.end());
    std::sort (oneProcess.begin(), oneProcess.end());
    const double a = ours[runs / 2], b = theirs[runs / 2], c = oneProcess[runs / 2];
    std::printf ("full refresh (%d documents and files): %.1f ms (median of %d)\n", urls.size(), a, runs);
    std::printf ("curl, the same addresses one by one:   %.1f ms (median of %d)\n", b, runs);
    std::printf ("curl, all addresses in one process:    %.1f ms (median of %d)\n", c, runs);
    std::printf ("ratio refresh / curl one by one: %.2f\n", a / b);
    std::printf ("ratio refresh / curl one process: %.2f\n", a / c);
    return 0;
}
