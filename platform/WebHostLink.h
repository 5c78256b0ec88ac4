#pragma once

#include "platform/WebHostLineReader.h"

#include <juce_core/juce_core.h>

#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace tarvo
{
    // One connected socket to the web view helper, with a reader thread that hands
    // every received line to `onLine` (on the reader thread) and calls `onClosed`
    // once when the helper's end goes away, and a writer thread that sends queued
    // lines, so that no caller ever blocks on a slow or stuck helper.
    class WebHostLink
    {
    public:
        using LineHandler = std::function<void (std::string_view)>;
        using ClosedHandler = std::function<void()>;

        // Takes ownership of `socketFd`. Nothing runs until start().
        WebHostLink (int socketFd, size_t maxIncomingLine, LineHandler onLine, ClosedHandler onClosed);
        ~WebHostLink();

        void start();

        // Queues one complete line (with its "\n"). Does nothing once closed.
        // Safe from any thread.
        void send (std::string line);

        // Shuts the socket down and stops both threads, waiting at most `timeoutMs`
        // for each. `onClosed` is not called for a close made here.
        void close (int timeoutMs = 2000);

        bool isOpen() const;

    private:
        class Reader;
        class Writer;

        int fd;
        size_t maxLine;
        LineHandler onLine;
        ClosedHandler onClosed;

        juce::CriticalSection queueLock;
        std::deque<std::string> queue;
        bool closed = false;
        juce::WaitableEvent queued;

        std::unique_ptr<Reader> reader;
        std::unique_ptr<Writer> writer;

        JUCE_DECLARE_NON_COPYABLE (WebHostLink)
    };
}
