#pragma once

#include <juce_core/juce_core.h>

#include <deque>
#include <functional>

namespace tarvo
{
    // How a job pool is set up: its thread name and number of threads.
    struct ThreadPoolOptions
    {
        juce::String threadName { "Pool" };
        int numberOfThreads = 1;

        [[nodiscard]] ThreadPoolOptions withThreadName (const juce::String& name) const { auto o = *this; o.threadName = name; return o; }
        [[nodiscard]] ThreadPoolOptions withNumberOfThreads (int n) const               { auto o = *this; o.numberOfThreads = n; return o; }
    };

    // A pool of named worker threads running queued jobs in order. A job gets a
    // function it can ask whether it should stop early.
    class ThreadPool
    {
    public:
        using ShouldExit = std::function<bool()>;
        using Job = std::function<void (const ShouldExit&)>;

        explicit ThreadPool (const ThreadPoolOptions& options);

        // Drops queued jobs, asks running ones to stop and waits up to the given time.
        ~ThreadPool();

        void addJob (Job job);

        // Drops every queued job; with `interrupt`, asks running jobs to stop; waits at
        // most timeoutMs for the running ones. True when none is running any more.
        bool removeAllJobs (bool interrupt, int timeoutMs);

        int getNumJobs() const;

    private:
        class Worker;
        friend class Worker;

        bool takeJob (Job& job);

        mutable juce::CriticalSection lock;
        juce::WaitableEvent jobAdded;
        std::deque<Job> queue;
        int running = 0;
        std::atomic<bool> interruptRunning { false };
        juce::OwnedArray<Worker> workers;
    };
}
