// Start-up and memory of the web view against headless chromium on the same page.
//
// Both load a page whose script makes one native call at once through the page-side
// bridge: in the web view through the helper to the probe program's native function,
// in chromium through the bridge's HTTP fallback (POST /__native/call) to a tiny
// loopback server here. Measured for each, the same way:
//   - time from starting the process to that call's arrival;
//   - memory of the whole process tree half a second later: sum of RSS and of PSS.
// Prints the medians of a few rounds and the ratios web view / chromium.
// Run it as it is; without a display it starts itself under Xvfb.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{
    using Clock = std::chrono::steady_clock;

    const char* page = R"(<!doctype html><html><head><meta charset="utf-8"><script src="bridge.js"></script></head>
<body><h1>ready</h1><script>getNativeFunction('ready')();</script></body></html>)";

    std::string readFile (const char* path)
    {
        std::ifstream in (path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // ---- process tree memory
    struct Memory { double rssMb = 0, pssMb = 0; int processes = 0; };

    long statusField (const std::string& file, const char* key)
    {
        std::ifstream in (file);
        std::string line;
        const size_t n = std::strlen (key);
        while (std::getline (in, line))
            if (line.compare (0, n, key) == 0)
                return std::atol (line.c_str() + n);
        return 0;
    }

    Memory treeMemory (pid_t root)
    {
        std::map<pid_t, std::vector<pid_t>> children;
        if (DIR* d = ::opendir ("/proc"))
        {
            while (auto* e = ::readdir (d))
            {
                const pid_t pid = std::atoi (e->d_name);
                if (pid <= 0)
                    continue;
                std::ifstream in ("/proc/" + std::string (e->d_name) + "/stat");
                std::string stat;
                std::getline (in, stat);
                const auto close = stat.rfind (')');
                if (close == std::string::npos)
                    continue;
                std::istringstream rest (stat.substr (close + 2));
                char state;
                pid_t ppid = 0;
                rest >> state >> ppid;
                children[ppid].push_back (pid);
            }
            ::closedir (d);
        }

        Memory m;
        std::vector<pid_t> todo { root };
        while (! todo.empty())
        {
            const pid_t pid = todo.back();
            todo.pop_back();
            const std::string base = "/proc/" + std::to_string (pid);
            m.rssMb += (double) statusField (base + "/status", "VmRSS:") / 1024.0;
            m.pssMb += (double) statusField (base + "/smaps_rollup", "Pss:") / 1024.0;
            ++m.processes;
            for (auto c : children[pid])
                todo.push_back (c);
        }
        return m;
    }

    // ---- starting and stopping
    pid_t spawn (const std::vector<std::string>& args, int stdoutFd)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2 (&actions, stdoutFd, 1);
        posix_spawn_file_actions_addopen (&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init (&attr);
        posix_spawnattr_setflags (&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup (&attr, 0);

        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back (const_cast<char*> (a.c_str()));
        argv.push_back (nullptr);
        pid_t pid = -1;
        if (::posix_spawn (&pid, argv[0], &actions, &attr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy (&actions);
        posix_spawnattr_destroy (&attr);
        return pid;
    }

    void stopGroup (pid_t pid, int graceMs)
    {
        const auto end = Clock::now() + std::chrono::milliseconds (graceMs);
        while (Clock::now() < end)
        {
            if (::waitpid (pid, nullptr, WNOHANG) == pid)
            {
                ::kill (-pid, SIGKILL);   // stragglers of the group
                return;
            }
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
        }
        ::kill (-pid, SIGKILL);
        ::waitpid (pid, nullptr, 0);
    }

    struct Sample { double startMs = -1; Memory memory; };

    Sample runWebView()
    {
        int out[2];
        if (::pipe (out) != 0)
            return {};
        const auto t0 = Clock::now();
        const pid_t pid = spawn ({ FERNHALL_WEBVIEW_PROBE, "--ready" }, out[1]);
        ::close (out[1]);
        Sample s;
        std::string got;
        const auto end = t0 + std::chrono::seconds (30);
        while (pid > 0 && got.find ("ready\n") == std::string::npos && Clock::now() < end)
        {
            pollfd p { out[0], POLLIN, 0 };
            if (::poll (&p, 1, 100) > 0)
            {
                char buf[256];
                const auto n = ::read (out[0], buf, sizeof buf);
                if (n <= 0)
                    break;
                got.append (buf, (size_t) n);
            }
        }
        if (got.find ("ready\n") != std::string::npos)
        {
            s.startMs = std::chrono::duration<double, std::milli> (Clock::now() - t0).count();
            std::this_thread::sleep_for (std::chrono::milliseconds (500));
            s.memory = treeMemory (pid);
        }
        ::close (out[0]);
        if (pid > 0)
            stopGroup (pid, 5000);
        return s;
    }

    // A loopback HTTP server for chromium: the page, the bridge, and the native call.
    class PageServer
    {
    public:
        PageServer()
        {
            bridge = readFile (FERNHALL_BRIDGE_JS);
            fd = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
            ::bind (fd, (sockaddr*) &addr, sizeof addr);
            ::listen (fd, 16);
            socklen_t len = sizeof addr;
            ::getsockname (fd, (sockaddr*) &addr, &len);
            port = ntohs (addr.sin_port);
            thread = std::thread ([this] { serve(); });
        }

        ~PageServer()
        {
            stop = true;
            ::shutdown (fd, SHUT_RDWR);
            thread.join();
            ::close (fd);
        }

        int getPort() const { return port; }
        std::atomic<bool> called { false };
        Clock::time_point calledAt;

    private:
        void serve()
        {
            while (! stop)
            {
                pollfd p { fd, POLLIN, 0 };
                if (::poll (&p, 1, 100) <= 0)
                    continue;
                const int c = ::accept (fd, nullptr, nullptr);
                if (c < 0)
                    continue;
                std::string req;
                char buf[4096];
                // Headers, then the body by Content-Length.
                while (req.find ("\r\n\r\n") == std::string::npos)
                {
                    pollfd q { c, POLLIN, 0 };
                    if (::poll (&q, 1, 2000) <= 0) break;
                    const auto n = ::recv (c, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    req.append (buf, (size_t) n);
                }
                std::string body, type = "text/plain";
                int status = 200;
                if (req.rfind ("GET / ", 0) == 0) { body = page; type = "text/html"; }
                else if (req.rfind ("GET /bridge.js ", 0) == 0) { body = bridge; type = "text/javascript"; }
                else if (req.rfind ("POST /__native/call ", 0) == 0)
                {
                    if (! called.exchange (true))
                        calledAt = Clock::now();
                    body = R"({"ok": true, "result": true})";
                    type = "application/json";
                }
                else { status = 404; body = "Not found"; }
                const std::string head = "HTTP/1.1 " + std::to_string (status) + (status == 200 ? " OK" : " Not Found")
                                       + "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string (body.size())
                                       + "\r\nConnection: close\r\n\r\n";
                const std::string all = head + body;
                ::send (c, all.data(), all.size(), MSG_NOSIGNAL);
                ::close (c);
            }
        }

        int fd = -1, port = 0;
        std::string bridge;
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    Sample runChromium (PageServer& server)
    {
        char dir[] = "/tmp/fernhall-bench-chromium-XXXXXX";
        if (::mkdtemp (dir) == nullptr)
            return {};
        server.called = false;
        const int devNull = ::open ("/dev/null", O_WRONLY | O_CLOEXEC);
        const auto t0 = Clock::now();
        const pid_t pid = spawn ({ "/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                   std::string ("--user-data-dir=") + dir,
                                   "http://127.0.0.1:" + std::to_string (server.getPort()) + "/" }, devNull);
        ::close (devNull);
        Sample s;
        const auto end = t0 + std::chrono::seconds (30);
        while (pid > 0 && ! server.called && Clock::now() < end)
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        if (server.called)
        {
            s.startMs = std::chrono::duration<double, std::milli> (server.calledAt - t0).count();
            std::this_thread::sleep_for (std::chrono::milliseconds (500));
            s.memory = treeMemory (pid);
        }
        if (pid > 0)
            stopGroup (pid, 0);
        std::system ((std::string ("rm -rf ") + dir).c_str());
        return s;
    }

    double median (std::vector<double> v)
    {
        if (v.empty()) return -1;
        std::sort (v.begin(), v.end());
        return v[v.size() / 2];
    }
}

int main (int argc, char** argv)
{
    const char* display = std::getenv ("DISPLAY");
    if ((display == nullptr || *display == '\0') && std::getenv ("FERNHALL_BENCH_UNDER_XVFB") == nullptr)
    {
        ::setenv ("FERNHALL_BENCH_UNDER_XVFB", "1", 1);
        std::vector<char*> args { const_cast<char*> ("/bin/bash"), const_cast<char*> (FERNHALL_WITH_XVFB) };
        for (int i = 0; i < argc; ++i)
            args.push_back (argv[i]);
        args.push_back (nullptr);
        ::execv ("/bin/bash", args.data());
        std::perror ("execv");
        return 1;
    }

    const int rounds = argc > 1 ? std::max (1, std::atoi (argv[1])) : 3;
    PageServer server;
    std::vector<double> ourStart, ourRss, ourPss, chrStart, chrRss, chrPss;
    for (int i = 0; i < rounds; ++i)
    {
        const auto a = runWebView();
        const auto b = runChromium (server);
        std::printf ("round %d: web view %.0f ms, %.0f MB RSS / %.0f MB PSS in %d processes; "
                     "chromium %.0f ms, %.0f MB RSS / %.0f MB PSS in %d processes\n",
                     i + 1, a.startMs, a.memory.rssMb, a.memory.pssMb, a.memory.processes,
                     b.startMs, b.memory.rssMb, b.memory.pssMb, b.memory.processes);
        std::fflush (stdout);
        if (a.startMs >= 0) { ourStart.push_back (a.startMs); ourRss.push_back (a.memory.rssMb); ourPss.push_back (a.memory.pssMb); }
        if (b.startMs >= 0) { chrStart.push_back (b.startMs); chrRss.push_back (b.memory.rssMb); chrPss.push_back (b.memory.pssMb); }
    }
    if (ourStart.empty() || chrStart.empty())
    {
        std::printf ("no complete measurement (web view %zu, chromium %zu rounds)\n", ourStart.size(), chrStart.size());
        return 1;
    }

    std::printf ("\nmedians over %d rounds\n", rounds);
    std::printf ("start to first answered native call: web view %.0f ms, chromium %.0f ms, ratio %.2f\n",
                 median (ourStart), median (chrStart), median (ourStart) / median (chrStart));
    std::printf ("process tree RSS sum: web view %.0f MB, chromium %.0f MB, ratio %.2f\n",
                 median (ourRss), median (chrRss), median (ourRss) / median (chrRss));
    std::printf ("process tree PSS sum: web view %.0f MB, chromium %.0f MB, ratio %.2f\n",
                 median (ourPss), median (chrPss), median (ourPss) / median (chrPss));
    return 0;
}
