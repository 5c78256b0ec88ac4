// Two version texts split at the first NUL byte: the order must be antisymmetric,
// reflexive and never anything but -1, 0 or +1.
#include "scan/InstallScan.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto* text = reinterpret_cast<const char*> (data);
    size_t cut = 0;
    while (cut < size && text[cut] != 0)
        ++cut;
    const auto a = hub::InstallScan::textFromBytes (text, cut);
    const auto b = cut < size ? hub::InstallScan::textFromBytes (text + cut + 1, size - cut - 1) : juce::String();

    const int ab = hub::InstallScan::compareVersions (a, b);
    const int ba = hub::InstallScan::compareVersions (b, a);
    if (ab < -1 || ab > 1 || ab != -ba || hub::InstallScan::compareVersions (a, a) != 0)
        std::abort();
    return 0;
}
