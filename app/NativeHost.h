#pragma once

class ManagerLogic;

// What the native functions need from the object that hosts the page: the manager
// logic, and a way to give the window a new content size. The manager window is the
// host in the application; the page test host provides the same for tests.
class NativeHost
{
public:
    virtual ~NativeHost() = default;

    virtual ManagerLogic& getLogic() = 0;

    // Posts a resize of the content area to the message thread; the host may be gone
    // by the time the posted call runs, in which case nothing happens.
    virtual void postContentSize (int width, int height) = 0;
};
