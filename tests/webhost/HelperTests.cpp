// The real helper program (fernhall-webhost) on a private Xvfb display, driven over
// its socket by the test: it must survive malformed and hostile lines from the
// application, hand over page files and calls, settle the page's promises with
// whatever comes back (bad answers reject), and quit when the socket closes.
#include "platform/WebHostProtocol.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using tarvo::WebHostProtocol;

namespace
{
    std::string b64 (const std::string& s) { return WebHostProtocol::encodeBase64 (s.data(), s.size()); }
    std::string unb64 (const std::string& s) { return WebHostProtocol::decodeBase64 (s).value_or ("<bad base64>"); }

    // A private X display for the helper, for the whole program.
    class XvfbDisplay : public testing::Environment
    {
    public:
        void SetUp() override
        {
            for (int n = 300; n < 400; ++n)
            {
                if (juce::File ("/tmp/.X11-unix/X" + juce::String (n)).exists() || juce::File ("/tmp/.X" + juce::String (n) + "-lock").exists())
                    continue;
                const auto display = ":" + std::to_string (n);
                std::vector<std::string> args { "/usr/bin/Xvfb", display, "-screen", "0", "800x600x24", "-nolisten", "tcp" };
                std::vector<char*> argv;
                for (auto& a : args) argv.push_back (a.data());
                argv.push_back (nullptr);
                posix_spawn_file_actions_t actions;
                posix_spawn_file_actions_init (&actions);
                posix_spawn_file_actions_addopen (&actions, 2, "/dev/null", O_WRONLY, 0);
                ::posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), environ);
                posix_spawn_file_actions_destroy (&actions);
                for (int i = 0; i < 100 && ! juce::File ("/tmp/.X11-unix/X" + juce::String (n)).exists(); ++i)
                    juce::Thread::sleep (50);
                ::setenv ("DISPLAY", display.c_str(), 1);
                ::setenv ("GDK_BACKEND", "x11", 1);
                ::setenv ("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
                ::unsetenv ("WAYLAND_DISPLAY");
                return;
            }
        }

        void TearDown() override
        {
            if (pid > 0)
            {
                ::kill (pid, SIGTERM);
                ::waitpid (pid, nullptr, 0);
            }
        }

    private:
        pid_t pid = -1;
    };

    [[maybe_unused]] auto* const display = testing::AddGlobalTestEnvironment (new XvfbDisplay);

    // One running helper with the test holding the application's end of the socket.
    struct RunningHelper
    {
        int sock = -1;
        pid_t pid = -1;
        std::string buffered;

        RunningHelper()
        {
            int fds[2];
            EXPECT_EQ (::socketpair (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
            std::vector<std::string> args { FERNHALL_WEBHOST, "3", std::to_string (::getpid()), "1" };
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back (a.data());
            argv.push_back (nullptr);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_adddup2 (&actions, fds[1], 3);
            posix_spawn_file_actions_addopen (&actions, 2, "/dev/null", O_WRONLY, 0);
            EXPECT_EQ (::posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
            posix_spawn_file_actions_destroy (&actions);
            ::close (fds[1]);
            sock = fds[0];
        }

        ~RunningHelper()
        {
            if (sock >= 0) ::close (sock);
            if (pid > 0)
            {
                ::kill (pid, SIGKILL);
                ::waitpid (pid, nullptr, 0);
            }
        }

        void send (const std::string& line)
        {
            size_t done = 0;
            while (done < line.size())
            {
                const auto n = ::send (sock, line.data() + done, line.size() - done, MSG_NOSIGNAL);
                ASSERT_GT (n, 0);
                done += (size_t) n;
            }
        }

        std::optional<std::string> readLine (int timeoutMs = 15000)
        {
            const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
            for (;;)
            {
                const auto nl = buffered.find ('\n');
                if (nl != std::string::npos)
                {
                    auto line = buffered.substr (0, nl);
                    buffered.erase (0, nl + 1);
                    return line;
                }
                const auto now = juce::Time::getMillisecondCounter();
                if (now > end)
                    return std::nullopt;
                pollfd p { sock, POLLIN, 0 };
                if (::poll (&p, 1, (int) (end - now)) <= 0)
                    return std::nullopt;
                char chunk[65536];
                const auto n = ::recv (sock, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return std::nullopt;
                buffered.append (chunk, (size_t) n);
            }
        }

        // The next line that starts with `verb`, skipping others (LOADED, ...).
        std::optional<std::string> expect (const std::string& verb)
        {
            while (auto line = readLine())
                if (line->rfind (verb, 0) == 0)
                    return line;
            return std::nullopt;
        }

        bool exitsWithin (int ms)
        {
            for (int i = 0; i < ms / 20; ++i)
            {
                if (::waitpid (pid, nullptr, WNOHANG) == pid) { pid = -1; return true; }
                juce::Thread::sleep (20);
            }
            return false;
        }
    };

    std::vector<std::string> fields (const std::string& line)
    {
        std::vector<std::string> out;
        for (auto& t : juce::StringArray::fromTokens (juce::String (line), " ", ""))
            out.push_back (t.toStdString());
        return out;
    }

    // The page: calls "first" and reports what came back, through "report".
    const std::string page = R"(<!doctype html><html><body><script>
const pending = new Map(); let next = 1;
window.__tarvoNative = { complete(id, ok, v) { const p = pending.get(id); if (!p) return; pending.delete(id); ok ? p.res(v) : p.rej(new Error(v)); } };
function call(name, ...args) { return new Promise((res, rej) => { const id = next++; pending.set(id, {res, rej});
  window.webkit.messageHandlers.tarvoNative.postMessage(JSON.stringify({id, name, args})); }); }
(async () => {
  const seen = [];
  for (let i = 0; i < 4; ++i) { try { seen.push(['ok', await call('value', i)]); } catch (e) { seen.push(['rejected', e.message]); } }
  call('report', seen);
})();
</script></body></html>)";
}

TEST (WebHostHelper, SurvivesBadLinesAndSettlesEveryCall)
{
    RunningHelper helper;
    const auto plug = helper.expect ("PLUG ");
    ASSERT_TRUE (plug.has_value());
    EXPECT_EQ (WebHostProtocol::parseHelperLine (*plug).kind, WebHostProtocol::HelperMessage::Kind::plug);

    // Nothing of this may crash the helper or reach the page.
    for (const std::string& bad : {
             std::string ("\n\n"), std::string ("LOAD\n"), std::string ("LOAD %%%\n"), std::string ("RES 1 200\n"),
             "RES 99 200 " + b64 ("text/html") + " " + b64 ("<p>") + "\n",
             "RES x 200 " + b64 ("text/html") + " " + b64 ("<p>") + "\n",
             "RES 1 9999 " + b64 ("text/html") + " " + b64 ("<p>") + "\n",
             std::string ("RET 0 1 1 %%%\n"), "RET 0 1 2 " + b64 ("1") + "\n", "RET 0 1);alert(1);( 1 " + b64 ("1") + "\n",
             std::string ("RET 0 1 1 \0\0\n", 14), std::string (300, '\xff') + "\n",
             std::string (97u * 1024u * 1024u, 'A') + "\n" })
        helper.send (bad);

    helper.send (WebHostProtocol::loadLine ("tarvo://app/"));
    const auto get = helper.expect ("GET ");
    ASSERT_TRUE (get.has_value());
    const auto g = fields (*get);
    ASSERT_EQ (g.size(), 3u);
    EXPECT_EQ (unb64 (g[2]), "/");
    helper.send ("RES " + g[1] + " 200 " + b64 ("text/html") + " " + b64 (page) + "\n");

    // Four calls, answered: a tricky string, a non-JSON answer, a rejection, no value.
    const std::string tricky = "quote \" backslash \\ line\xe2\x80\xa8sep </script> ');alert(1);('";
    const std::string answers[] {
        "1 " + b64 (juce::JSON::toString (juce::String (juce::CharPointer_UTF8 (tricky.c_str()))).toStdString()),
        "1 " + b64 ("{not json"),
        "0 " + b64 ("\"refused\""),
        "1 ",
    };
    std::string pageNumber;
    for (auto& a : answers)
    {
        const auto call = helper.expect ("CALL ");
        ASSERT_TRUE (call.has_value());
        const auto c = fields (*call);
        ASSERT_EQ (c.size(), 3u);
        pageNumber = c[1];
        const auto parsed = WebHostProtocol::parseCall (juce::String::fromUTF8 (unb64 (c[2]).c_str()));
        ASSERT_TRUE (parsed.has_value());
        // An answer for another page is dropped; the right one follows.
        helper.send ("RET " + std::to_string (std::stoll (pageNumber) + 1) + " " + std::to_string (parsed->id) + " 1 " + b64 ("\"wrong page\"") + "\n");
        helper.send ("RET " + pageNumber + " " + std::to_string (parsed->id) + " " + a + "\n");
    }

    const auto report = helper.expect ("CALL ");
    ASSERT_TRUE (report.has_value());
    const auto r = WebHostProtocol::parseCall (juce::String::fromUTF8 (unb64 (fields (*report)[2]).c_str()));
    ASSERT_TRUE (r.has_value());
    EXPECT_EQ (r->name, "report");
    const auto seen = r->args[0];
    ASSERT_EQ (seen.size(), 4);
    EXPECT_EQ (seen[0][0].toString(), "ok");
    EXPECT_EQ (seen[0][1].toString(), juce::String (juce::CharPointer_UTF8 (tricky.c_str())));
    EXPECT_EQ (seen[1][0].toString(), "rejected");
    EXPECT_EQ (seen[2][0].toString(), "rejected");
    EXPECT_EQ (seen[2][1].toString(), "refused");
    EXPECT_EQ (seen[3][0].toString(), "ok");
    EXPECT_TRUE (seen[3][1].isVoid());

    // The socket closes: the helper quits on its own.
    ::close (helper.sock);
    helper.sock = -1;
    EXPECT_TRUE (helper.exitsWithin (5000));
}

TEST (WebHostHelper, KeepsThePageAtTheAppsAddress)
{
    RunningHelper helper;
    ASSERT_TRUE (helper.expect ("PLUG ").has_value());
    helper.send (WebHostProtocol::loadLine ("tarvo://app/"));
    const auto get = helper.expect ("GET ");
    ASSERT_TRUE (get.has_value());
    // The page tries to leave, then calls home.
    const std::string leaving = R"(<!doctype html><script>
location.href = 'about:blank';
setTimeout(() => window.webkit.messageHandlers.tarvoNative.postMessage(JSON.stringify({id: 1, name: 'still', args: [location.href]})), 500);
</script>)";
    helper.send ("RES " + fields (*get)[1] + " 200 " + b64 ("text/html") + " " + b64 (leaving) + "\n");
    const auto call = helper.expect ("CALL ");
    ASSERT_TRUE (call.has_value());
    const auto parsed = WebHostProtocol::parseCall (juce::String::fromUTF8 (unb64 (fields (*call)[2]).c_str()));
    ASSERT_TRUE (parsed.has_value());
    EXPECT_EQ (parsed->name, "still");
    EXPECT_EQ (parsed->args[0].toString(), "tarvo://app/");
}
