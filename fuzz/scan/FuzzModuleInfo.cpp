#include "scan/InstallScan.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto text = hub::InstallScan::textFromBytes (reinterpret_cast<const char*> (data), size);
    (void) hub::InstallScan::readModuleInfoText (text);
    return 0;
}
