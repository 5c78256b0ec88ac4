#include "platform/WebBrowserComponent.h"

#if JUCE_LINUX || JUCE_BSD

#include "platform/WebHostLink.h"
#include "platform/WebHostProtocol.h"

#include <atomic>
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
        const juce::Colour viewBackground (227, 229, 232);

        // The fd number the helper finds its end of the socket on.
        constexpr int helperSocketFd = 3;
    }

    //==============================================================================
    // The helper process and the link to it.
    //
    // Threads: the link's reader thread takes lines off the socket. Page files are
    // served right there through the resource provider (which keeps no state), so a
    // busy message thread never holds up the page's loading; native calls, the plug
    // id and the helper's end are posted to the message thread, where every native
    // function runs. Everything sent to the helper goes through the link's writer
    // thread, so nothing here ever waits on the helper except the bounded stop.
    class WebBrowserComponent::Impl
    {
    public:
        Impl (WebBrowserComponent& ownerIn, const Options& optionsIn, const juce::File& helperIn)
            : owner (ownerIn), options (optionsIn), helper (helperIn)
        {
            startHelper();
        }

        ~Impl()
        {
            *alive = false;
            stopHelper();
        }

        void load (const juce::String& url)
        {
            lastUrl = url;
            if (link != nullptr)
                link->send (WebHostProtocol::loadLine (url));
        }

        juce::XEmbedComponent* getEmbed() const { return embed.get(); }
        const juce::String& getProblem() const { return problem; }

    private:
        using Link = std::shared_ptr<WebHostLink>;

        bool startHelper()
        {
            if (! helper.existsAsFile())
                return fail ("The page view helper is missing: " + helper.getFullPathName());

            int fds[2];
            if (::socketpair (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
                return fail ("The page view could not be started.");

            // The child gets its end as fd 3 through dup2 in the child alone, so no
            // other process started meanwhile inherits it (a stray copy would keep the
            // socket open after the helper dies).
            if (fds[1] == helperSocketFd)
            {
                const int moved = ::fcntl (fds[1], F_DUPFD_CLOEXEC, 10);
                ::close (fds[1]);
                fds[1] = moved;
                if (moved < 0)
                {
                    ::close (fds[0]);
                    return fail ("The page view could not be started.");
                }
            }

            std::vector<std::string> envStore;
            for (char** e = environ; *e != nullptr; ++e)
            {
                const std::string entry (*e);
                if (entry.rfind ("GDK_BACKEND=", 0) != 0 && entry.rfind ("WAYLAND_DISPLAY=", 0) != 0
                    && entry.rfind ("WEBKIT_DISABLE_COMPOSITING_MODE=", 0) != 0)
                    envStore.push_back (entry);
            }
            envStore.push_back ("GDK_BACKEND=x11");
            envStore.push_back ("WEBKIT_DISABLE_COMPOSITING_MODE=1");

            std::vector<std::string> argStore { helper.getFullPathName().toStdString(),
                                                std::to_string (helperSocketFd),
                                                std::to_string ((long) ::getpid()),
                                                options.getNativeIntegrationEnabled() ? "1" : "0" };
            std::vector<char*> envp, argv;
            for (auto& s : envStore) envp.push_back (s.data());
            envp.push_back (nullptr);
            for (auto& s : argStore) argv.push_back (s.data());
            argv.push_back (nullptr);

            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_adddup2 (&actions, fds[1], helperSocketFd);

            pid_t pid = -1;
            const int rc = ::posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
            posix_spawn_file_actions_destroy (&actions);
            ::close (fds[1]);
            if (rc != 0)
            {
                ::close (fds[0]);
                return fail ("The page view could not be started.");
            }

            child = pid;
            ++starts;

            auto self = std::make_shared<std::weak_ptr<WebHostLink>>();
            auto flag = alive;
            link = std::make_shared<WebHostLink> (fds[0], WebHostProtocol::maxIncomingLine,
                                                  [this, self] (std::string_view line) { handleLine (line, *self); },
                                                  [this, self, flag]
                                                  {
                                                      auto weak = *self;
                                                      juce::MessageManager::callAsync ([this, weak, flag]
                                                      {
                                                          if (*flag)
                                                              helperEnded (weak.lock());
                                                      });
                                                  });
            *self = link;
            link->start();
            return true;
        }

        void stopHelper()
        {
            if (link != nullptr)
            {
                link->close (2000);
                link.reset();
            }
            if (child > 0)
            {
                // The helper quits when its socket closes; give it two seconds.
                for (int i = 0; i < 100; ++i)
                {
                    if (::waitpid (child, nullptr, WNOHANG) != 0) { child = -1; break; }
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

        // Reader thread.
        void handleLine (std::string_view line, const std::weak_ptr<WebHostLink>& weakLink)
        {
            auto m = WebHostProtocol::parseHelperLine (line);
            using Kind = WebHostProtocol::HelperMessage::Kind;

            if (m.kind == Kind::get)
            {
                if (auto l = weakLink.lock())
                    l->send (WebHostProtocol::resourceLine (m.request, options.serve (m.path)));
            }
            else if (m.kind == Kind::call)
            {
                postToMessageThread (weakLink, [page = std::move (m.page), json = m.json] (Impl& self, const Link& l)
                                     {
                                         self.handleCall (l, page, json);
                                     });
            }
            else if (m.kind == Kind::plug)
            {
                postToMessageThread (weakLink, [xid = m.xid] (Impl& self, const Link&) { self.attach (xid); });
            }
        }

        // Runs `fn` on the message thread if this view and that link are both still current.
        template <typename Fn>
        void postToMessageThread (const std::weak_ptr<WebHostLink>& weakLink, Fn fn)
        {
            auto flag = alive;
            juce::MessageManager::callAsync ([this, flag, weakLink, fn = std::move (fn)]
                                             {
                                                 if (! *flag)
                                                     return;
                                                 auto l = weakLink.lock();
                                                 if (l != nullptr && l == link)
                                                     fn (*this, l);
                                             });
        }

        void attach (unsigned long xid)
        {
            embed = std::make_unique<juce::XEmbedComponent> (xid, true, false);
            owner.addAndMakeVisible (*embed);
            embed->setBounds (owner.getLocalBounds());
            problem = {};
            owner.repaint();
        }

        void handleCall (const Link& l, const std::string& page, const juce::String& json)
        {
            // A document without a usable id cannot be answered at all: dropped.
            const auto call = WebHostProtocol::parseCall (json);
            if (! call.has_value())
                return;

            if (! options.getNativeIntegrationEnabled())
            {
                l->send (WebHostProtocol::rejectLine (page, call->id, "Native functions are not available"));
                return;
            }

            // The completion may be kept and called later, from any thread; after this
            // view or this helper is gone it does nothing. Only the first call counts.
            std::weak_ptr<WebHostLink> weak = l;
            auto answered = std::make_shared<std::atomic<bool>> (false);
            auto completion = [weak, page, id = call->id, answered] (juce::var result)
            {
                if (answered->exchange (true))
                    return;
                if (auto target = weak.lock())
                    target->send (WebHostProtocol::resolveLine (page, id, result));
            };

            if (! options.invoke (call->name, call->args, std::move (completion)))
                l->send (WebHostProtocol::rejectLine (page, call->id, "No native function named " + call->name));
        }

        void helperEnded (const Link& ended)
        {
            if (ended == nullptr || ended != link)
                return;

            embed.reset();
            stopHelper();

            // One restart; a helper that dies again means something is broken for good.
            if (starts < 2)
            {
                if (startHelper() && lastUrl.isNotEmpty())
                    load (lastUrl);
                return;
            }
            fail ("The page view stopped unexpectedly. Please restart TARVO Fernhall.");
        }

        WebBrowserComponent& owner;
        const Options options;
        const juce::File helper;
        std::shared_ptr<bool> alive = std::make_shared<bool> (true);
        Link link;
        pid_t child = -1;
        int starts = 0;
        juce::String lastUrl, problem;
        std::unique_ptr<juce::XEmbedComponent> embed;
    };

    //==============================================================================
    WebBrowserComponent::WebBrowserComponent (const Options& options)
        : WebBrowserComponent (options, getDefaultHelperProgram())
    {
    }

    WebBrowserComponent::WebBrowserComponent (const Options& options, const juce::File& helperProgram)
    {
        setOpaque (true);
        impl = std::make_unique<Impl> (*this, options, helperProgram);
    }

    WebBrowserComponent::~WebBrowserComponent()
    {
        impl.reset();
    }

    juce::File WebBrowserComponent::getDefaultHelperProgram()
    {
        return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("fernhall-webhost");
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
        g.fillAll (viewBackground);
        if (impl != nullptr && impl->getProblem().isNotEmpty())
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

    juce::String WebBrowserComponent::getProblemText() const
    {
        return impl != nullptr ? impl->getProblem() : juce::String();
    }
}

#endif
