// Checker output is read as untrusted text: any bytes and exit code give a verdict,
// and a pass always means the vendor's team, the notarisation line and exit code 0.
#include "install/SignatureCheck.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int exitCode = (int) (data[0] % 4) - 1;
    auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (data + 1), (int) (size - 1));

    auto v = hub::SignatureCheck::fromOutput (text, exitCode, "T4RV0FH123");

    if (v.message.isEmpty())
        std::abort();
    if (v.ok)
    {
        if (! v.teamMatches || v.team != "T4RV0FH123" || ! v.notarised || ! v.isSigned || exitCode != 0)
            std::abort();
        if (v.message != hub::SignatureCheck::passMessage)
            std::abort();
    }
    if (v.teamMatches && v.team != "T4RV0FH123")
        std::abort();
    return 0;
}
