// Page test host: serves the page exactly as the application's web view gets it (the
// same resource provider and the same native functions over a real ManagerLogic) to a
// browser over loopback HTTP, so that page tests can run against the real native side.
//
//   fernhall_pagehost --root DIR --registry-root DIR
//
// DIR holds the fixture folders: "app" (application data), "sys/VST3",
// "sys/Components", "user/VST3", "user/Components" (the four plug-in folders),
// "Downloads" and "home" (the HOME of this process). The registry documents are served
// from --registry-root by the loopback HTTPS vendor server (tests/support), started
// here. Prints "PORT <http port> REGISTRY <registry origin>" on its first output line
// once both listen, then one line per outside effect ("open <address>", "size <w> <h>").
// Ends when its standard input closes.
//
// HTTP: GET <path> -> the resource provider's answer (404 when it has none);
//       POST /__native/call {"name", "args"} -> {"ok": true, "result": value} or
//       {"ok": false, "error": text}. Native functions run on this program's message
//       thread (the main thread), as in the application.
#include "app/ManagerWindow.h"
#include "app/NativeFunctions.h"
#include "manager/ManagerLogic.h"
#include "support/VendorServer.h"

#include <juce_events/juce_events.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

namespace juce
{
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace
{
    std::mutex outputLock;

    void say (const juce::String& line)
    {
        const std::lock_guard<std::mutex> l (outputLock);
        std::cout << line << std::endl;
    }

    class Host : public NativeHost
    {
    public:
        explicit Host (ManagerLogic::Config config) : logic (std::move (config)) {}

        ManagerLogic& getLogic() override { return logic; }

        void postContentSize (int width, int height) override
        {
            say ("size " + juce::String (width) + " " + juce::String (height));
        }

        ManagerLogic logic;
    };

    // One native call handed to the message thread; the answer comes back through the
    // completion, possibly much later (refreshCatalog, uninstallProduct).
    struct PendingCall
    {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool found = true;
        juce::var value;
    };

    juce::String answerJson (bool ok, const juce::var& valueOrError)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("ok", ok);
        o->setProperty (ok ? "result" : "error", valueOrError);
        return juce::JSON::toString (juce::var (o), true);
    }

    juce::String argValue (int argc, char** argv, const char* name)
    {
        for (int i = 1; i + 1 < argc; ++i)
            if (juce::String (argv[i]) == name)
                return argv[i + 1];
        return {};
    }
}

int main (int argc, char** argv)
{
    const juce::String rootArg = argValue (argc, argv, "--root");
    const juce::String registryArg = argValue (argc, argv, "--registry-root");
    if (rootArg.isEmpty() || registryArg.isEmpty() || ! juce::File::isAbsolutePath (rootArg)
        || ! juce::File::isAbsolutePath (registryArg))
    {
        std::cerr << "usage: fernhall_pagehost --root DIR --registry-root DIR (absolute paths)" << std::endl;
        return 2;
    }
    const juce::File root (rootArg);
    const juce::File registryRoot (registryArg);

    // Nothing this process does may reach the real home folder.
    const auto home = root.getChildFile ("home");
    (void) home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    juce::ScopedJuceInitialiser_GUI framework;

    test::VendorServer registry (registryRoot);
    if (! registry.running())
    {
        std::cerr << "the loopback registry server did not start (is FERNHALL_TLS_DIR set?)" << std::endl;
        return 1;
    }

    ManagerLogic::Config config;
    config.appData = root.getChildFile ("app");
    config.registryOrigin = registry.origin();
    config.downloadHost = "localhost";
    config.downloadsFolder = root.getChildFile ("Downloads");
    config.searchPaths = std::vector<hub::InstallScan::SearchPath> {
        { root.getChildFile ("sys/VST3"), hub::InstalledArtifact::VST3, hub::InstalledArtifact::System },
        { root.getChildFile ("sys/Components"), hub::InstalledArtifact::AU, hub::InstalledArtifact::System },
        { root.getChildFile ("user/VST3"), hub::InstalledArtifact::VST3, hub::InstalledArtifact::User },
        { root.getChildFile ("user/Components"), hub::InstalledArtifact::AU, hub::InstalledArtifact::User } };
    config.openInBrowser = [] (const juce::String& a) { say ("open " + a); return true; };
    config.openDocument = [] (const juce::String& a) { say ("document " + a); return true; };
    config.quit = [] { say ("quit"); };
    for (const auto& f : { config.appData, config.downloadsFolder })
        (void) f.createDirectory();
    for (const auto& p : *config.searchPaths)
        (void) p.directory.createDirectory();

    auto host = std::make_unique<Host> (config);
    (void) host->logic.releaseIndex.loadCached();

    const auto mascots = host->logic.releaseIndex.getMascotDir();
    const auto banners = host->logic.releaseIndex.getBannerDir();
    auto options = NativeFunctions::addAll (
        tarvo::WebBrowserComponent::Options {}
            .withNativeIntegrationEnabled()
            .withResourceProvider ([mascots, banners] (const juce::String& path)
                                   { return ManagerWindow::serveResource (path, mascots, banners); }),
        *host);

    std::atomic<bool> stopping { false };
    httplib::Server server;

    server.Get (".*", [&] (const httplib::Request& req, httplib::Response& res)
    {
        // The provider gets the path with its query, as the web view hands it over.
        juce::String path = juce::String::fromUTF8 (req.target.c_str());
        if (path.isEmpty())
            path = "/";
        const auto resource = options.serve (path);
        if (! resource)
        {
            res.status = 404;
            return;
        }
        res.set_header ("Cache-Control", "no-store");
        res.set_content (reinterpret_cast<const char*> (resource->data.data()), resource->data.size(),
                         resource->mimeType.toStdString());
    });

    server.Post ("/__native/call", [&] (const httplib::Request& req, httplib::Response& res)
    {
        const auto request = juce::JSON::parse (juce::String::fromUTF8 (req.body.c_str(), (int) req.body.size()));
        const auto name = request.getProperty ("name", {}).toString();
        juce::Array<juce::var> args;
        if (auto* a = request.getProperty ("args", {}).getArray())
            args = *a;

        auto call = std::make_shared<PendingCall>();
        juce::MessageManager::callAsync ([&options, call, name, args]
        {
            const bool found = options.invoke (name, args, [call] (juce::var value)
            {
                const std::lock_guard<std::mutex> l (call->m);
                call->value = value;
                call->done = true;
                call->cv.notify_all();
            });
            if (! found)
            {
                const std::lock_guard<std::mutex> l (call->m);
                call->found = false;
                call->done = true;
                call->cv.notify_all();
            }
        });

        // Waits in short slices so that a stop is noticed while a job is still running.
        std::unique_lock<std::mutex> l (call->m);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (90);
        while (! call->done && ! stopping.load() && std::chrono::steady_clock::now() < deadline)
            call->cv.wait_for (l, std::chrono::milliseconds (100));
        std::string body;
        if (! call->done)
            body = answerJson (false, "no answer from the native side").toStdString();
        else if (! call->found)
            body = answerJson (false, "no native function named " + name).toStdString();
        else
            body = answerJson (true, call->value).toStdString();
        res.set_content (body, "application/json");
    });

    const int port = server.bind_to_any_port ("127.0.0.1");
    if (port <= 0)
    {
        std::cerr << "could not listen on loopback" << std::endl;
        return 1;
    }
    std::thread serverThread ([&] { server.listen_after_bind(); });

    // Standard input closing is the signal to stop.
    std::thread stdinWatch ([&]
    {
        char buffer[256];
        while (std::fread (buffer, 1, sizeof buffer, stdin) > 0) {}
        stopping = true;
    });

    say ("PORT " + juce::String (port) + " REGISTRY " + registry.origin());

    while (! stopping.load())
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (2);

    server.stop();
    serverThread.join();
    stdinWatch.join();

    // Completions posted by jobs that are still running are dropped with the message
    // queue; the logic stops its workers with its own bounded waits.
    host.reset();
    return 0;
}
