// The web view component against a stand-in helper (fake_webhost.c) that hands its
// end of the socket to the test: the test speaks the helper's side of the protocol
// and checks what the component serves, answers, restarts and stops.
#include "platform/WebBrowserComponent.h"
#include "platform/WebHostProtocol.h"
#include "support/MessagePump.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using tarvo::WebBrowserComponent;
using tarvo::WebHostProtocol;

namespace
{
    std::string b64 (const juce::String& s) { return WebHostProtocol::encodeBase64 (s.toRawUTF8(), s.getNumBytesAsUTF8()); }
    juce::String unb64 (const juce::String& s)
    {
        auto raw = WebHostProtocol::decodeBase64 (s.toStdString());
        return raw ? juce::String::fromUTF8 (raw->data(), (int) raw->size()) : juce::String ("<bad base64>");
    }

    // One started stand-in helper, seen from the test.
    struct Helper
    {
        int peer = -1;      // the helper's end of the component's socket
        int control = -1;   // closing it lets the stand-in exit
        pid_t pid = -1;
        juce::String nativeFlag;
        std::string buffered;

        ~Helper() { end(); }

        void end()
        {
            if (peer >= 0) ::close (peer);
            if (control >= 0) ::close (control);
            peer = control = -1;
        }

        void send (const std::string& line)
        {
            ASSERT_EQ (::send (peer, line.data(), line.size(), MSG_NOSIGNAL), (ssize_t) line.size());
        }

        // The next line from the component, running the message loop meanwhile unless
        // `pump` is false. Empty on time-out or a closed socket.
        std::optional<juce::String> readLine (int timeoutMs = 5000, bool pump = true)
        {
            const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
            for (;;)
            {
                const auto nl = buffered.find ('\n');
                if (nl != std::string::npos)
                {
                    auto line = juce::String::fromUTF8 (buffered.data(), (int) nl);
                    buffered.erase (0, nl + 1);
                    return line;
                }
                if (juce::Time::getMillisecondCounter() > end)
                    return std::nullopt;
                pollfd p { peer, POLLIN, 0 };
                if (::poll (&p, 1, pump ? 2 : 50) > 0)
                {
                    char chunk[65536];
                    const auto n = ::recv (peer, chunk, sizeof chunk, 0);
                    if (n <= 0)
                        return std::nullopt;
                    buffered.append (chunk, (size_t) n);
                }
                else if (pump)
                {
                    test::pumpFor (5);
                }
            }
        }

        // The next answer line, skipping LOAD lines.
        std::optional<juce::String> readAnswer (int timeoutMs = 5000)
        {
            for (;;)
            {
                auto line = readLine (timeoutMs);
                if (! line || ! line->startsWith ("LOAD "))
                    return line;
            }
        }
    };

    // Listens where the stand-in helpers call in; one per test.
    struct HelperLauncher
    {
        test::TempFolder folder { "fernhall-webhost" };
        int listener = -1;

        explicit HelperLauncher (const char* mode = "normal")
        {
            const auto path = (folder / "helpers").getFullPathName();
            listener = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr {};
            addr.sun_family = AF_UNIX;
            std::strncpy (addr.sun_path, path.toRawUTF8(), sizeof addr.sun_path - 1);
            EXPECT_EQ (::bind (listener, (sockaddr*) &addr, sizeof addr), 0);
            EXPECT_EQ (::listen (listener, 4), 0);
            ::setenv ("FERNHALL_FAKE_WEBHOST_SOCKET", path.toRawUTF8(), 1);
            ::setenv ("FERNHALL_FAKE_WEBHOST_MODE", mode, 1);
        }

        ~HelperLauncher() { ::close (listener); }

        static juce::File program() { return juce::File (FERNHALL_FAKE_WEBHOST); }

        // The next stand-in that calls in, or null after the time-out. Runs the
        // message loop meanwhile (a restart is started from it).
        std::unique_ptr<Helper> accept (int timeoutMs = 5000)
        {
            const bool calledIn = test::pumpUntil ([this]
            {
                pollfd p { listener, POLLIN, 0 };
                return ::poll (&p, 1, 2) > 0;
            }, timeoutMs);
            if (! calledIn)
                return nullptr;
            auto h = std::make_unique<Helper>();
            h->control = ::accept (listener, nullptr, nullptr);

            char hello[64] = {};
            iovec iov { hello, sizeof hello - 1 };
            char space[CMSG_SPACE (sizeof (int))] = {};
            msghdr msg {};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = space;
            msg.msg_controllen = sizeof space;
            if (::recvmsg (h->control, &msg, 0) <= 0)
                return nullptr;
            auto* c = CMSG_FIRSTHDR (&msg);
            if (c == nullptr || c->cmsg_type != SCM_RIGHTS)
                return nullptr;
            std::memcpy (&h->peer, CMSG_DATA (c), sizeof (int));
            const auto words = juce::StringArray::fromTokens (hello, " ", "");
            h->pid = (pid_t) words[0].getIntValue();
            h->nativeFlag = words[1];
            return h;
        }
    };

    bool processGone (pid_t pid)
    {
        return ::kill (pid, 0) != 0;
    }

    WebBrowserComponent::Resource textResource (const juce::String& text, const juce::String& mime)
    {
        WebBrowserComponent::Resource r;
        auto* p = reinterpret_cast<const std::byte*> (text.toRawUTF8());
        r.data.assign (p, p + text.getNumBytesAsUTF8());
        r.mimeType = mime;
        return r;
    }

    std::string callLine (const juce::String& page, const juce::String& json)
    {
        return "CALL " + page.toStdString() + " " + b64 (json) + "\n";
    }

    // The component's answer to a call: RET <page> <id> <ok> and the decoded json.
    struct Answer { juce::String head, json; };

    std::optional<Answer> answerOf (const std::optional<juce::String>& line)
    {
        if (! line || ! line->startsWith ("RET "))
            return std::nullopt;
        return Answer { line->upToLastOccurrenceOf (" ", false, false), unb64 (line->fromLastOccurrenceOf (" ", false, false)) };
    }
}

TEST (WebBrowserComponent, ServesPageFilesOffTheMessageThread)
{
    HelperLauncher launcher;
    std::atomic<int> onMessageThread { 0 };
    juce::StringArray asked;
    juce::CriticalSection askedLock;
    auto options = WebBrowserComponent::Options {}.withResourceProvider ([&] (const juce::String& path)
        -> std::optional<WebBrowserComponent::Resource>
    {
        if (juce::MessageManager::getInstance()->isThisTheMessageThread())
            ++onMessageThread;
        { const juce::ScopedLock sl (askedLock); asked.add (path); }
        if (path == "/" || path == "/index.html?x=1") return textResource ("<p>page</p>", "text/html");
        if (path == "/bin") { WebBrowserComponent::Resource r; r.data = { std::byte { 0 }, std::byte { 0xfe } }; return r; }
        return std::nullopt;
    });

    WebBrowserComponent view (options, HelperLauncher::program());
    auto helper = launcher.accept();
    ASSERT_NE (helper, nullptr);

    struct Case { const char* path; const char* status; const char* mime; std::string body; };
    const Case cases[] {
        { "/", "200", "text/html", "<p>page</p>" },
        { "/index.html?x=1", "200", "text/html", "<p>page</p>" },
        { "/bin", "200", "application/octet-stream", std::string ("\0\xfe", 2) },
        { "/missing.png", "404", "text/plain", "Not found" },
    };
    int req = 100;
    for (auto& c : cases)
    {
        helper->send ("GET " + std::to_string (++req) + " " + b64 (c.path) + "\n");
        // The message loop is not run: files must be served without it.
        const auto line = helper->readLine (5000, false);
        ASSERT_TRUE (line.has_value()) << c.path;
        const auto f = juce::StringArray::fromTokens (*line, " ", "");
        ASSERT_EQ (f.size(), 5) << *line;
        EXPECT_EQ (f[0] + " " + f[1] + " " + f[2], "RES " + juce::String (req) + " " + c.status) << c.path;
        EXPECT_EQ (unb64 (f[3]), c.mime) << c.path;
        EXPECT_EQ (*WebHostProtocol::decodeBase64 (f[4].toStdString()), c.body) << c.path;
    }
    EXPECT_EQ (onMessageThread.load(), 0);

    // Malformed requests are not answered and do not disturb the next one.
    helper->send ("GET 1 %%%\nGET x " + b64 ("/") + "\nGET 2\n");
    helper->send ("GET 3 " + b64 ("/") + "\n");
    const auto next = helper->readLine (5000, false);
    ASSERT_TRUE (next.has_value());
    EXPECT_TRUE (next->startsWith ("RES 3 200 ")) << *next;
    const juce::ScopedLock sl (askedLock);
    EXPECT_EQ (asked.size(), 5);
}

TEST (WebBrowserComponent, AnswersNativeCallsOnTheMessageThread)
{
    HelperLauncher launcher;
    WebBrowserComponent::NativeFunctionCompletion kept;
    std::vector<WebBrowserComponent::NativeFunctionCompletion> fromThread;
    bool allOnMessageThread = true;
    auto note = [&] { allOnMessageThread = allOnMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread(); };

    auto options = WebBrowserComponent::Options {}
        .withNativeIntegrationEnabled()
        .withNativeFunction ("echo", [&] (const juce::Array<juce::var>& args, auto done) { note(); done (juce::var (args)); })
        .withNativeFunction ("nothing", [&] (const juce::Array<juce::var>&, auto done) { note(); done ({}); })
        .withNativeFunction ("twice", [&] (const juce::Array<juce::var>&, auto done) { note(); done (1); done (2); })
        .withNativeFunction ("later", [&] (const juce::Array<juce::var>&, auto done) { note(); kept = done; })
        .withNativeFunction ("elsewhere", [&] (const juce::Array<juce::var>&, auto done)
        {
            note();
            std::thread ([done] { done ("from a worker"); }).detach();
        });

    WebBrowserComponent view (options, HelperLauncher::program());
    auto helper = launcher.accept();
    ASSERT_NE (helper, nullptr);
    EXPECT_EQ (helper->nativeFlag, "1");

    struct Case { const char* page; const char* call; const char* head; const char* json; };
    const Case cases[] {
        { "1", R"({"id": 1, "name": "echo", "args": [1, "two", {"three": [3]}, null]})", "RET 1 1 1", R"([1, "two", {"three": [3]}, null])" },
        { "1", R"({"id": 2, "name": "echo"})", "RET 1 2 1", "[]" },
        { "4", R"({"id": 3, "name": "nothing", "args": []})", "RET 4 3 1", "" },
        { "4", R"({"id": 4, "name": "missing", "args": []})", "RET 4 4 0", "\"No native function named missing\"" },
        { "4", R"({"id": 5, "name": "twice", "args": []})", "RET 4 5 1", "1" },
        { "4", R"({"id": 6, "name": "elsewhere", "args": []})", "RET 4 6 1", "\"from a worker\"" },
        { "4", R"({"id": 7, "name": "echo", "args": ["\u2028 \"</script>\" \\"]})", "RET 4 7 1", "[\"\\u2028 \\\"</script>\\\" \\\\\"]" },
    };
    for (auto& c : cases)
    {
        helper->send (callLine (c.page, c.call));
        const auto answer = answerOf (helper->readAnswer());
        ASSERT_TRUE (answer.has_value()) << c.call;
        EXPECT_EQ (answer->head, c.head) << c.call;
        if (juce::String (c.call).contains ("2028"))
        {
            juce::var v;
            ASSERT_TRUE (juce::JSON::parse (answer->json, v).wasOk());
            EXPECT_EQ (v[0].toString(), juce::String (juce::CharPointer_UTF8 ("\xe2\x80\xa8 \"</script>\" \\")));
        }
        else
        {
            EXPECT_EQ (answer->json, c.json) << c.call;
        }
    }

    // A kept completion answers whenever it is called.
    helper->send (callLine ("4", R"({"id": 8, "name": "later"})"));
    test::pumpUntil ([&] { return kept != nullptr; }, 5000);
    ASSERT_NE (kept, nullptr);
    kept ("done at last");
    const auto late = answerOf (helper->readAnswer());
    ASSERT_TRUE (late.has_value());
    EXPECT_EQ (late->head, "RET 4 8 1");
    EXPECT_EQ (late->json, "\"done at last\"");
    EXPECT_TRUE (allOnMessageThread);

    // "twice" answered once: nothing else is waiting on the socket.
    EXPECT_FALSE (helper->readAnswer (300).has_value());
}

TEST (WebBrowserComponent, DropsMalformedCallsAndHugeLines)
{
    HelperLauncher launcher;
    int calls = 0;
    auto options = WebBrowserComponent::Options {}
        .withNativeIntegrationEnabled()
        .withNativeFunction ("count", [&] (const juce::Array<juce::var>&, auto done) { done (++calls); });

    WebBrowserComponent view (options, HelperLauncher::program());
    auto helper = launcher.accept();
    ASSERT_NE (helper, nullptr);

    const std::string bad[] {
        callLine ("1", "not json"),
        callLine ("1", R"({"id": -1, "name": "count"})"),
        callLine ("1", R"({"id": 1.5, "name": "count"})"),
        callLine ("1", R"({"name": "count"})"),
        callLine ("1", R"({"id": 2, "name": "count", "args": 7})"),
        "CALL x " + b64 (R"({"id": 3, "name": "count"})") + "\n",
        "CALL 1 ###\n",
        "RET 1 1 1 e30=\n",
        "WHATEVER\n",
        std::string ("\0\0\0\n", 4),
        // Longer than any line the component accepts; its tail looks like a call.
        "CALL 1 " + std::string (WebHostProtocol::maxIncomingLine, 'A') + " " + callLine ("1", R"({"id": 4, "name": "count"})"),
    };
    for (auto& line : bad)
        helper->send (line);
    helper->send (callLine ("1", R"({"id": 99, "name": "count"})"));

    const auto answer = answerOf (helper->readAnswer (10000));
    ASSERT_TRUE (answer.has_value());
    EXPECT_EQ (answer->head, "RET 1 99 1");
    EXPECT_EQ (calls, 1);
}

TEST (WebBrowserComponent, RejectsCallsWhenNativeIntegrationIsOff)
{
    HelperLauncher launcher;
    bool called = false;
    auto options = WebBrowserComponent::Options {}
        .withNativeFunction ("f", [&] (const juce::Array<juce::var>&, auto done) { called = true; done (1); });

    WebBrowserComponent view (options, HelperLauncher::program());
    auto helper = launcher.accept();
    ASSERT_NE (helper, nullptr);
    EXPECT_EQ (helper->nativeFlag, "0");
    helper->send (callLine ("1", R"({"id": 1, "name": "f"})"));
    const auto answer = answerOf (helper->readAnswer());
    ASSERT_TRUE (answer.has_value());
    EXPECT_EQ (answer->head, "RET 1 1 0");
    EXPECT_FALSE (called);
}

TEST (WebBrowserComponent, RestartsADeadHelperOnceThenShowsAnError)
{
    HelperLauncher launcher;
    WebBrowserComponent::NativeFunctionCompletion kept;
    auto options = WebBrowserComponent::Options {}
        .withNativeIntegrationEnabled()
        .withNativeFunction ("later", [&] (const juce::Array<juce::var>&, auto done) { kept = done; });

    WebBrowserComponent view (options, HelperLauncher::program());
    view.goToURL ("tarvo://app/");
    auto first = launcher.accept();
    ASSERT_NE (first, nullptr);
    EXPECT_EQ (first->readLine(), juce::String ("LOAD ") + b64 ("tarvo://app/"));

    first->send (callLine ("1", R"({"id": 1, "name": "later"})"));
    ASSERT_TRUE (test::pumpUntil ([&] { return kept != nullptr; }, 5000));

    // The helper dies: a new one is started and asked for the same page.
    const auto firstPid = first->pid;
    first->end();
    auto second = launcher.accept();
    ASSERT_NE (second, nullptr);
    EXPECT_NE (second->pid, firstPid);
    EXPECT_EQ (second->readLine(), juce::String ("LOAD ") + b64 ("tarvo://app/"));
    EXPECT_TRUE (view.getProblemText().isEmpty());
    EXPECT_TRUE (test::pumpUntil ([&] { return processGone (firstPid); }, 5000)) << "the dead helper is reaped";

    // An answer kept from the first helper's page never reaches the new page, which
    // numbers its calls afresh.
    kept ("stale");
    EXPECT_FALSE (second->readLine (300).has_value());

    // Dying again is final: no third helper, an error text instead of a blank view.
    second->end();
    EXPECT_TRUE (test::pumpUntil ([&] { return view.getProblemText().isNotEmpty(); }, 5000));
    EXPECT_EQ (launcher.accept (500), nullptr);
}

TEST (WebBrowserComponent, StopsWithinBoundsAndCompletionsOutliveIt)
{
    HelperLauncher launcher ("stubborn");
    WebBrowserComponent::NativeFunctionCompletion kept;
    auto options = WebBrowserComponent::Options {}
        .withNativeIntegrationEnabled()
        .withNativeFunction ("later", [&] (const juce::Array<juce::var>&, auto done) { kept = done; });

    auto view = std::make_unique<WebBrowserComponent> (options, HelperLauncher::program());
    auto helper = launcher.accept();
    ASSERT_NE (helper, nullptr);
    helper->send (callLine ("1", R"({"id": 1, "name": "later"})"));
    ASSERT_TRUE (test::pumpUntil ([&] { return kept != nullptr; }, 5000));

    // The stand-in ignores the closed socket and SIGTERM: it is killed after the wait.
    const auto started = juce::Time::getMillisecondCounter();
    view.reset();
    const auto took = juce::Time::getMillisecondCounter() - started;
    EXPECT_LT (took, 6000u);
    EXPECT_TRUE (processGone (helper->pid));

    kept ("too late");   // does nothing, and does not crash
    test::pumpFor (50);
}

TEST (WebBrowserComponent, MissingHelperShowsAnError)
{
    WebBrowserComponent view (WebBrowserComponent::Options {}, juce::File ("/nonexistent/fernhall-webhost"));
    view.goToURL ("tarvo://app/");
    EXPECT_TRUE (view.getProblemText().contains ("missing"));
    EXPECT_EQ (view.getEmbeddedViewHandle(), nullptr);
}
