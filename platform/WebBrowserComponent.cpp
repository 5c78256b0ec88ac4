#include "platform/WebBrowserComponent.h"

#if JUCE_LINUX || JUCE_BSD

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvo
{
    namespace
    {
        constexpr size_t maxLine = 64u * 1024u * 1024u;

        juce::String toBase64 (const void* data, size_t size)
        {
            return juce::Base64::toBase64 (data, size);
        }

        juce::String toBase64 (const juce::String& text)
        {
            return toBase64 (text.toRawUTF8(), text.getNumBytesAsUTF8());
        }

        juce::String fromBase64Text (const juce::String& b64)
        {
            juce::MemoryOutputStream out;
            if (! juce::Base64::convertFromBase64 (out, b64))
                return {};
            return out.toUTF8();
        }
    }

    //==============================================================================
    // The helper process and the socket to it. The reader thread takes lines off the
    // socket: resource requests are answered right there (the provider keeps no state),
    // native calls and the plug id are posted to the message thread.
    class WebBrowserComponent::Impl : private juce::Thread
    {
    public:
        Impl (WebBrowserComponent& ownerIn, const Options& optionsIn)
            : juce::Thread ("tarvo-webview"), owner (ownerIn), options (optionsIn)
        {
            start();
        }

        ~Impl() override
        {
            *alive = false;
            stopHelper();
        }

        void load (const juce::String& url)
        {
            lastUrl = url;
            send ("LOAD " + toBase64 (url));
        }

        juce::XEmbedComponent* getEmbed() const { return embed.get(); }
        const juce::String& getProblem() const { return problem; }

    private:
        bool start()
        {
            int fds[2];
            if (::socketpair (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
                return fail ("The page view could not be started.");

            const auto helper = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                    .getSiblingFile ("fernhall-webhost");
            if (! helper.existsAsFile())
            {
                ::close (fds[0]);
                ::close (fds[1]);
                return fail ("The page view helper is missing: " + helper.getFullPathName());
            }

            // The child's end must survive exec: duplicate it without close-on-exec.
            const int childFd = ::fcntl (fds[1], F_DUPFD, 3);
            ::close (fds[1]);
            if (childFd < 0)
            {
                ::close (fds[0]);
                return fail ("The page view could not be started.");
            }

            juce::StringArray env;
            for (char** e = environ; *e != nullptr; ++e)
            {
                juce::String entry (*e);
                if (! entry.startsWith ("GDK_BACKEND=") && ! entry.startsWith ("WAYLAND_DISPLAY="))
                    env.add (entry);
            }
            env.add ("GDK_BACKEND=x11");
            env.add ("WEBKIT_DISABLE_COMPOSITING_MODE=1");

            std::vector<std::string> envStore, argStore { helper.getFullPathName().toStdString(), std::to_string (childFd) };
            for (auto& e : env) envStore.push_back (e.toStdString());
            std::vector<char*> envp, argv;
            for (auto& s : envStore) envp.push_back (s.data());
            envp.push_back (nullptr);
            for (auto& s : argStore) argv.push_back (s.data());
            argv.push_back (nullptr);

            pid_t pid = -1;
            const int rc = ::posix_spawn (&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
            ::close (childFd);
            if (rc != 0)
            {
                ::close (fds[0]);
                return fail ("The page view could not be started.");
            }

            sock = fds[0];
            child = pid;
            startThread();
            return true;
        }

        void stopHelper()
        {
            if (sock >= 0)
                ::shutdown (sock, SHUT_RDWR);
            stopThread (2000);
            if (sock >= 0)
            {
                ::close (sock);
                sock = -1;
            }
            if (child > 0)
            {
                for (int i = 0; i < 100; ++i)
                {
                    if (::waitpid (child, nullptr, WNOHANG) == child) { child = -1; break; }
                    juce::Thread::sleep (20);
                }
                if (child > 0)
                {
                    ::kill (child, SIGKILL);
                    ::waitpid (child, nullptr, 0);
                    child = -1;
                }
            }
        }

        bool fail (const juce::String& text)
        {
            problem = text;
            owner.repaint();
            return false;
        }

        void send (const juce::String& line)
        {
            const juce::ScopedLock sl (writeLock);
            if (sock < 0)
                return;
            const std::string bytes = line.toStdString() + "\n";
            size_t done = 0;
            while (done < bytes.size())
            {
                const auto n = ::send (sock, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
                if (n < 0)
                {
                    if (errno == EINTR) continue;
                    return;
                }
                done += (size_t) n;
            }
        }

        void run() override
        {
            std::string buffer;
            char chunk[65536];
            while (! threadShouldExit())
            {
                const auto n = ::recv (sock, chunk, sizeof chunk, 0);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                buffer.append (chunk, (size_t) n);

                size_t start = 0;
                for (;;)
                {
                    const auto nl = buffer.find ('\n', start);
                    if (nl == std::string::npos)
                        break;
                    handleLine (juce::String::fromUTF8 (buffer.data() + start, (int) (nl - start)));
                    start = nl + 1;
                }
                buffer.erase (0, start);
                if (buffer.size() > maxLine)
                    buffer.clear();
            }

            if (! threadShouldExit())
                postToOwner ([] (Impl& self) { self.helperEnded(); });
        }

        template <typename Fn>
        void postToOwner (Fn fn)
        {
            auto flag = alive;
            juce::MessageManager::callAsync ([this, flag, fn]
                                             {
                                                 if (*flag)
                                                     fn (*this);
                                             });
        }

        void handleLine (const juce::String& line)
        {
            const auto verb = line.upToFirstOccurrenceOf (" ", false, false);
            const auto rest = line.fromFirstOccurrenceOf (" ", false, false);

            if (verb == "GET")
            {
                const auto req = rest.upToFirstOccurrenceOf (" ", false, false);
                const auto path = fromBase64Text (rest.fromFirstOccurrenceOf (" ", false, false));
                auto resource = options.serve (path);
                if (resource.has_value())
                    send ("RES " + req + " 200 " + toBase64 (resource->mimeType) + " "
                          + toBase64 (resource->data.data(), resource->data.size()));
                else
                    send ("RES " + req + " 404 " + toBase64 (juce::String ("text/plain")) + " " + toBase64 (juce::String ("Not found")));
            }
            else if (verb == "CALL")
            {
                const auto json = fromBase64Text (rest);
                postToOwner ([json] (Impl& self) { self.handleCall (json); });
            }
            else if (verb == "PLUG")
            {
                const auto xid = (unsigned long) rest.getLargeIntValue();
                postToOwner ([xid] (Impl& self) { self.attach (xid); });
            }
        }

        void attach (unsigned long xid)
        {
            embed = std::make_unique<juce::XEmbedComponent> (xid, true, false);
            owner.addAndMakeVisible (*embed);
            embed->setBounds (owner.getLocalBounds());
            problem = {};
            owner.repaint();
        }

        void handleCall (const juce::String& json)
        {
            juce::var message;
            if (juce::JSON::parse (json, message).failed() || ! message.isObject())
                return;

            const auto idVar = message.getProperty ("id", {});
            if (! (idVar.isInt() || idVar.isInt64() || idVar.isDouble()))
                return;
            const auto id = (juce::int64) idVar;
            const auto name = message.getProperty ("name", {}).toString();

            juce::Array<juce::var> args;
            if (auto* a = message.getProperty ("args", {}).getArray())
                args = *a;

            auto flag = alive;
            auto answered = std::make_shared<bool> (false);
            auto completion = [this, flag, id, answered] (juce::var result)
            {
                if (! *flag || *answered)
                    return;
                *answered = true;
                const auto text = result.isVoid() || result.isUndefined() ? juce::String() : juce::JSON::toString (result, true);
                send ("RET " + juce::String (id) + " 1 " + toBase64 (text));
            };

            if (! options.invoke (name, args, completion))
                send ("RET " + juce::String (id) + " 0 " + toBase64 (juce::JSON::toString ("No native function named " + name)));
        }

        void helperEnded()
        {
            embed.reset();
            ::waitpid (child, nullptr, WNOHANG);
            if (restarts++ < 1)
            {
                stopHelper();
                if (start() && lastUrl.isNotEmpty())
                    load (lastUrl);
                return;
            }
            fail ("The page view stopped unexpectedly. Please restart TARVO Fernhall.");
        }

        WebBrowserComponent& owner;
        Options options;
        std::shared_ptr<bool> alive = std::make_shared<bool> (true);
        juce::CriticalSection writeLock;
        int sock = -1;
        pid_t child = -1;
        int restarts = 0;
        juce::String lastUrl, problem;
        std::unique_ptr<juce::XEmbedComponent> embed;
    };

    //==============================================================================
    WebBrowserComponent::WebBrowserComponent (const Options& options)
        : impl (std::make_unique<Impl> (*this, options))
    {
        setOpaque (true);
    }

    WebBrowserComponent::~WebBrowserComponent()
    {
        impl.reset();
    }

    void WebBrowserComponent::goToURL (const juce::String& url)
    {
        impl->load (url);
    }

    juce::String WebBrowserComponent::getResourceProviderRoot()
    {
        return "tarvo://app/";
    }

    void WebBrowserComponent::resized()
    {
        if (auto* e = impl->getEmbed())
            e->setBounds (getLocalBounds());
    }

    void WebBrowserComponent::paint (juce::Graphics& g)
    {
        g.fillAll (juce::Colour (227, 229, 232));
        if (impl->getProblem().isNotEmpty())
        {
            g.setColour (juce::Colours::black);
            g.setFont (15.0f);
            g.drawFittedText (impl->getProblem(), getLocalBounds().reduced (24), juce::Justification::centred, 4);
        }
    }

    void* WebBrowserComponent::getEmbeddedViewHandle() const
    {
        if (auto* e = impl->getEmbed())
            return (void*) e->getHostWindowID();
        return nullptr;
    }
}

#endif
