// Up to three version texts separated by NUL bytes: the order must be antisymmetric,
// reflexive, transitive and never anything but -1, 0 or +1.
#include "scan/InstallScan.h"

#include <cstdlib>

namespace
{
    juce::String nextText (const char*& p, const char* end)
    {
        auto start = p;
        while (p < end && *p != 0)
            ++p;
        auto text = hub::InstallScan::textFromBytes (start, (size_t) (p - start));
        if (p < end)
            ++p;   // the separator
        return text;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto p = reinterpret_cast<const char*> (data);
    const auto end = p + size;
    const auto a = nextText (p, end);
    const auto b = nextText (p, end);
    const auto c = nextText (p, end);
    using hub::InstallScan;

    const int ab = InstallScan::compareVersions (a, b);
    const int ba = InstallScan::compareVersions (b, a);
    if (ab < -1 || ab > 1 || ab != -ba || InstallScan::compareVersions (a, a) != 0)
        std::abort();

    const int bc = InstallScan::compareVersions (b, c);
    const int ac = InstallScan::compareVersions (a, c);
    if ((ab <= 0 && bc <= 0 && ac > 0) || (ab >= 0 && bc >= 0 && ac < 0))
        std::abort();
    if (ab == 0 && bc == 0 && ac != 0)
        std::abort();
    return 0;
}
