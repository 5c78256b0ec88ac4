#include "platform/ThreadPool.h"

namespace tarvo
{
    class ThreadPool::Worker : public juce::Thread
    {
    public:
        Worker (ThreadPool& p, const juce::String& name) : juce::Thread (name), pool (p) {}

        void run() override
        {
            while (! threadShouldExit())
            {
                Job job;
                if (! pool.takeJob (job))
                {
                    pool.jobAdded.wait (100);
                    continue;
                }

                job ([this] { return threadShouldExit() || pool.interruptRunning.load(); });

                const juce::ScopedLock sl (pool.lock);
                --pool.running;
            }
        }

    private:
        ThreadPool& pool;
    };

    ThreadPool::ThreadPool (const ThreadPoolOptions& options)
    {
        for (int i = 0; i < juce::jmax (1, options.numberOfThreads); ++i)
        {
            auto* w = workers.add (new Worker (*this, options.threadName));
            w->startThread();
        }
    }

    ThreadPool::~ThreadPool()
    {
        removeAllJobs (true, 5000);
        for (auto* w : workers)
            w->signalThreadShouldExit();
        jobAdded.signal();
        for (auto* w : workers)
            w->stopThread (5000);
    }

    bool ThreadPool::takeJob (Job& job)
    {
        const juce::ScopedLock sl (lock);
        if (queue.empty())
            return false;
        job = std::move (queue.front());
        queue.pop_front();
        ++running;
        interruptRunning = false;
        return true;
    }

    void ThreadPool::addJob (Job job)
    {
        {
            const juce::ScopedLock sl (lock);
            queue.push_back (std::move (job));
        }
        jobAdded.signal();
    }

    bool ThreadPool::removeAllJobs (bool interrupt, int timeoutMs)
    {
        {
            const juce::ScopedLock sl (lock);
            queue.clear();
            if (interrupt && running > 0)
                interruptRunning = true;
        }

        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, timeoutMs);
        for (;;)
        {
            {
                const juce::ScopedLock sl (lock);
                if (running == 0)
                    return true;
            }
            if (juce::Time::getMillisecondCounter() >= deadline)
                return false;
            juce::Thread::sleep (5);
        }
    }

    int ThreadPool::getNumJobs() const
    {
        const juce::ScopedLock sl (lock);
        return (int) queue.size() + running;
    }
}
