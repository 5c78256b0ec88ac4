#pragma once

namespace hub
{
    // The running application as the operating system sees it.
    class RunningProcess
    {
    public:
        // The process id (getpid).
        static int id();

        // Asks the running application object to quit, as the system's quit command
        // does (JUCEApplicationBase::systemRequestedQuit). The quit itself happens
        // later on the message loop. Without an application object nothing happens.
        static void requestQuit();
    };
}
