#include "platform/WebHostLink.h"

#if JUCE_LINUX || JUCE_BSD || JUCE_MAC

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#ifndef MSG_NOSIGNAL
 #define MSG_NOSIGNAL 0
#endif

namespace tarvo
{
    class WebHostLink::Reader : public juce::Thread
    {
    public:
        explicit Reader (WebHostLink& l) : juce::Thread ("tarvo-webview-read"), link (l), lines (l.maxLine) {}

        void run() override
        {
            std::vector<char> chunk (64 * 1024);
            for (;;)
            {
                const auto n = ::recv (link.fd, chunk.data(), chunk.size(), 0);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0 || threadShouldExit())
                    break;
                lines.feed (chunk.data(), (size_t) n, link.onLine);
            }

            bool byUs = false;
            {
                const juce::ScopedLock sl (link.queueLock);
                byUs = link.closed;
                link.closed = true;
                link.queue.clear();
            }
            link.queued.signal();
            if (! byUs && ! threadShouldExit() && link.onClosed)
                link.onClosed();
        }

    private:
        WebHostLink& link;
        WebHostLineReader lines;
    };

    class WebHostLink::Writer : public juce::Thread
    {
    public:
        explicit Writer (WebHostLink& l) : juce::Thread ("tarvo-webview-write"), link (l) {}

        void run() override
        {
            while (! threadShouldExit())
            {
                std::string line;
                {
                    const juce::ScopedLock sl (link.queueLock);
                    if (link.closed)
                        return;
                    if (! link.queue.empty())
                    {
                        line = std::move (link.queue.front());
                        link.queue.pop_front();
                    }
                }
                if (line.empty())
                {
                    link.queued.wait (200);
                    continue;
                }
                if (! writeAll (line))
                {
                    // The helper's end is gone; the reader reports it.
                    ::shutdown (link.fd, SHUT_RDWR);
                    return;
                }
            }
        }

    private:
        bool writeAll (const std::string& line)
        {
            size_t done = 0;
            while (done < line.size())
            {
                const auto n = ::send (link.fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
                if (n < 0)
                {
                    if (errno == EINTR)
                        continue;
                    return false;
                }
                done += (size_t) n;
            }
            return true;
        }

        WebHostLink& link;
    };

    WebHostLink::WebHostLink (int socketFd, size_t maxIncomingLine, LineHandler onLineIn, ClosedHandler onClosedIn)
        : fd (socketFd), maxLine (maxIncomingLine), onLine (std::move (onLineIn)), onClosed (std::move (onClosedIn))
    {
        reader = std::make_unique<Reader> (*this);
        writer = std::make_unique<Writer> (*this);
    }

    WebHostLink::~WebHostLink()
    {
        close();
    }

    void WebHostLink::start()
    {
        reader->startThread();
        writer->startThread();
    }

    void WebHostLink::send (std::string line)
    {
        {
            const juce::ScopedLock sl (queueLock);
            if (closed)
                return;
            queue.push_back (std::move (line));
        }
        queued.signal();
    }

    void WebHostLink::close (int timeoutMs)
    {
        {
            const juce::ScopedLock sl (queueLock);
            closed = true;
            queue.clear();
        }
        if (fd >= 0)
            ::shutdown (fd, SHUT_RDWR);
        queued.signal();

        reader->signalThreadShouldExit();
        writer->signalThreadShouldExit();
        reader->stopThread (timeoutMs);
        writer->stopThread (timeoutMs);

        if (fd >= 0)
        {
            ::close (fd);
            fd = -1;
        }
    }

    bool WebHostLink::isOpen() const
    {
        const juce::ScopedLock sl (queueLock);
        return ! closed;
    }
}

#endif
