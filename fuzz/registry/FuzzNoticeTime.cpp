// Notice times: a reading either fails and leaves the time alone, or gives a time
// that is not the start of 1970.
#include "registry/Notices.h"
#include "scan/InstallScan.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto text = hub::InstallScan::textFromBytes (reinterpret_cast<const char*> (data), size);
    juce::Time t (42);
    if (hub::notices::parseTime (text, t))
    {
        if (t.toMilliseconds() == 0)
            std::abort();
    }
    else if (t.toMilliseconds() != 42)
        std::abort();
    return 0;
}
