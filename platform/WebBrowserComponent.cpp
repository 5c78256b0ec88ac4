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
                    && entry.rfind ("WEBKIT_DISABLE_COMPOSITING_MODE=", 0) != 0
                    && entry.rfind ("GSETTINGS_BACKEND=", 0) != 0)
                    envStore.push_back (entry);
            }
            envStore.push_back ("GDK_BACKEND=x11");                    // a Wayland value makes GTK's plug fail
            envStore.push_back ("WEBKIT_DISABLE_COMPOSITING_MODE=1");  // less memory, faster first paint
            envStore.push_back ("GSETTINGS_BACKEND=memory");           // nothing written to the user's dconf

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

#elif JUCE_MAC

#include "platform/WebHostProtocol.h"

#include <atomic>
#include <CoreGraphics/CGGeometry.h>
#include <objc/message.h>
#include <objc/runtime.h>

namespace tarvo
{
    namespace
    {
        const juce::Colour viewBackground (227, 229, 232);

        template <typename Result = id, typename... Args>
        Result message (id receiver, const char* selector, Args... args)
        {
            using Fn = Result (*) (id, SEL, Args...);
            return reinterpret_cast<Fn> (objc_msgSend) (receiver, sel_registerName (selector), args...);
        }

        id classNamed (const char* name) { return reinterpret_cast<id> (objc_getClass (name)); }
        id make (const char* className) { return message (message (classNamed (className), "alloc"), "init"); }
        id nsString (const juce::String& s) { return message (classNamed ("NSString"), "stringWithUTF8String:", s.toRawUTF8()); }
        juce::String fromNSString (id s)
        {
            if (s == nullptr) return {};
            return juce::String::fromUTF8 (message<const char*> (s, "UTF8String"));
        }

        // The owning Impl of a handler object, kept in an ivar named "owner".
        void*& ownerOf (id object)
        {
            auto* ivar = class_getInstanceVariable (object_getClass (object), "owner");
            return *reinterpret_cast<void**> (reinterpret_cast<char*> (object) + ivar_getOffset (ivar));
        }

        Class makeClass (const char* name, const char* protocol, std::initializer_list<std::pair<const char*, IMP>> methods)
        {
            if (auto* existing = objc_getClass (name))
                return existing;
            Class cls = objc_allocateClassPair (objc_getClass ("NSObject"), name, 0);
            if (auto* p = objc_getProtocol (protocol))
                class_addProtocol (cls, p);
            class_addIvar (cls, "owner", sizeof (void*), (uint8_t) 3, "^v");
            for (auto& m : methods)
                class_addMethod (cls, sel_registerName (m.first), m.second, "v@:@@");
            objc_registerClassPair (cls);
            return cls;
        }
    }

    // The system web view (WKWebView) with a URL scheme handler for the page's files
    // and a script message handler for native calls. Everything here runs on the
    // message thread (the main thread), where WebKit calls its delegates.
    class WebBrowserComponent::Impl
    {
    public:
        Impl (WebBrowserComponent& ownerIn, const Options& optionsIn)
            : owner (ownerIn), options (optionsIn)
        {
            static Class schemeClass = makeClass ("TarvoFernhallSchemeHandler", "WKURLSchemeHandler",
                { { "webView:startURLSchemeTask:", reinterpret_cast<IMP> (&startTask) },
                  { "webView:stopURLSchemeTask:", reinterpret_cast<IMP> (&stopTask) } });
            static Class messageClass = makeClass ("TarvoFernhallMessageHandler", "WKScriptMessageHandler",
                { { "userContentController:didReceiveScriptMessage:", reinterpret_cast<IMP> (&receiveMessage) } });

            schemeHandler = message (message (reinterpret_cast<id> (schemeClass), "alloc"), "init");
            messageHandler = message (message (reinterpret_cast<id> (messageClass), "alloc"), "init");
            ownerOf (schemeHandler) = this;
            ownerOf (messageHandler) = this;

            id config = make ("WKWebViewConfiguration");
            message<void> (config, "setURLSchemeHandler:forURLScheme:", schemeHandler, nsString ("tarvo"));
            contentController = message (config, "userContentController");
            if (options.getNativeIntegrationEnabled())
                message<void> (contentController, "addScriptMessageHandler:name:", messageHandler, nsString ("tarvoNative"));

            const CGRect frame = CGRectMake (0, 0, 100, 100);
            webView = message (message (classNamed ("WKWebView"), "alloc"), "initWithFrame:configuration:", frame, config);
            message<void> (config, "release");

            holder.setView (webView);
            owner.addAndMakeVisible (holder);
        }

        ~Impl()
        {
            *alive = false;
            ownerOf (schemeHandler) = nullptr;
            ownerOf (messageHandler) = nullptr;
            if (options.getNativeIntegrationEnabled())
                message<void> (contentController, "removeScriptMessageHandlerForName:", nsString ("tarvoNative"));
            holder.setView (nullptr);
            message<void> (webView, "release");
            message<void> (schemeHandler, "release");
            message<void> (messageHandler, "release");
        }

        void load (const juce::String& url)
        {
            ++page;
            id nsUrl = message (classNamed ("NSURL"), "URLWithString:", nsString (url));
            if (nsUrl != nullptr)
                message (webView, "loadRequest:", message (classNamed ("NSURLRequest"), "requestWithURL:", nsUrl));
        }

        juce::NSViewComponent& getHolder() { return holder; }
        id getWebView() const { return webView; }

    private:
        static void startTask (id self, SEL, id, id task)
        {
            auto* impl = static_cast<Impl*> (ownerOf (self));
            id url = message (message (task, "request"), "URL");
            const auto address = fromNSString (message (url, "absoluteString"));
            const juce::String root = "tarvo://app";

            std::optional<Resource> resource;
            if (impl != nullptr && address.startsWith (root))
            {
                auto path = address.substring (root.length());
                resource = impl->options.serve (path.isEmpty() ? juce::String ("/") : path);
            }

            const int status = resource.has_value() ? 200 : 404;
            const auto mime = resource.has_value() && resource->mimeType.isNotEmpty() ? resource->mimeType : juce::String ("text/plain");
            id headers = message (classNamed ("NSDictionary"), "dictionaryWithObject:forKey:", nsString (mime), nsString ("Content-Type"));
            id response = message (message (classNamed ("NSHTTPURLResponse"), "alloc"), "initWithURL:statusCode:HTTPVersion:headerFields:",
                                   url, (long) status, nsString ("HTTP/1.1"), headers);
            message<void> (task, "didReceiveResponse:", response);
            message<void> (response, "release");
            if (resource.has_value())
                message<void> (task, "didReceiveData:", message (classNamed ("NSData"), "dataWithBytes:length:",
                                                                 (const void*) resource->data.data(), (unsigned long) resource->data.size()));
            message<void> (task, "didFinish");
        }

        static void stopTask (id, SEL, id, id) {}

        static void receiveMessage (id self, SEL, id, id scriptMessage)
        {
            if (auto* impl = static_cast<Impl*> (ownerOf (self)))
            {
                id body = message (scriptMessage, "body");
                if (body != nullptr && message<BOOL> (body, "isKindOfClass:", objc_getClass ("NSString")))
                    impl->handleCall (fromNSString (body));
            }
        }

        void handleCall (const juce::String& json)
        {
            const auto call = WebHostProtocol::parseCall (json);
            if (! call.has_value())
                return;

            auto flag = alive;
            auto answered = std::make_shared<std::atomic<bool>> (false);
            const auto callPage = page;
            auto completion = [this, flag, callPage, id = call->id, answered] (juce::var result)
            {
                if (answered->exchange (true))
                    return;
                juce::MessageManager::callAsync ([this, flag, callPage, id, result]
                {
                    if (*flag && page == callPage)
                        answer (WebHostProtocol::resolveLine ("0", id, result));
                });
            };

            if (! options.invoke (call->name, call->args, std::move (completion)))
                answer (WebHostProtocol::rejectLine ("0", call->id, "No native function named " + call->name));
        }

        // Turns a RET line into the script that settles the page's promise.
        void answer (const std::string& line)
        {
            const auto f = juce::StringArray::fromTokens (juce::String (line).trimEnd(), " ", "");
            auto raw = WebHostProtocol::decodeBase64 (f[4].toStdString());
            const auto json = raw.has_value() ? juce::String::fromUTF8 (raw->data(), (int) raw->size()) : juce::String();
            const auto script = "(function(){var n=window.__tarvoNative;if(!n)return;var t=" + juce::JSON::toString (json)
                              + ",v;if(t!==''){try{v=JSON.parse(t);}catch(e){n.complete(" + f[2]
                              + ",false,'The native answer could not be read');return;}}n.complete(" + f[2] + ","
                              + (f[3] == "1" ? "true" : "false") + ",v);})();";
            message<void> (webView, "evaluateJavaScript:completionHandler:", nsString (script), (id) nullptr);
        }

        WebBrowserComponent& owner;
        const Options options;
        std::shared_ptr<bool> alive = std::make_shared<bool> (true);
        juce::NSViewComponent holder;
        id webView = nullptr, schemeHandler = nullptr, messageHandler = nullptr, contentController = nullptr;
        int page = 0;
    };

    WebBrowserComponent::WebBrowserComponent (const Options& options)
        : WebBrowserComponent (options, getDefaultHelperProgram())
    {
    }

    WebBrowserComponent::WebBrowserComponent (const Options& options, const juce::File&)
    {
        setOpaque (true);
        impl = std::make_unique<Impl> (*this, options);
    }

    WebBrowserComponent::~WebBrowserComponent() { impl.reset(); }

    // The system web view runs in the application itself: no helper program.
    juce::File WebBrowserComponent::getDefaultHelperProgram() { return {}; }

    void WebBrowserComponent::goToURL (const juce::String& url) { impl->load (url); }

    juce::String WebBrowserComponent::getResourceProviderRoot() { return "tarvo://app/"; }

    void WebBrowserComponent::resized() { impl->getHolder().setBounds (getLocalBounds()); }

    void WebBrowserComponent::paint (juce::Graphics& g) { g.fillAll (viewBackground); }

    void* WebBrowserComponent::getEmbeddedViewHandle() const { return impl->getWebView(); }

    juce::String WebBrowserComponent::getProblemText() const { return {}; }
}

#endif
