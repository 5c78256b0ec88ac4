// Registry file names are untrusted: whatever the bytes, the cleaned name must be a
// single plain path component of at most 120 characters that stays inside its folder.
#include "install/Installer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto name = hub::Installer::safeFileNameFromBytes (reinterpret_cast<const char*> (data), size);

    if (name.length() > hub::Installer::maxFileNameLength)
        std::abort();
    if (name.containsAnyOf ("/\\:\t\r\n") || name != name.trim())
        std::abort();
    if (name.isNotEmpty() && name.containsOnly ("."))
        std::abort();

    if (name.isNotEmpty())
    {
        const juce::File folder ("/tmp/fernhall-downloads");
        if (folder.getChildFile (name).getParentDirectory() != folder)
            std::abort();
        // Cleaning is idempotent.
        if (hub::Installer::safeFileName (name) != name)
            std::abort();
    }

    // The text form goes through the same cleaner.
    auto viaString = hub::Installer::safeFileName (juce::String::fromUTF8 (reinterpret_cast<const char*> (data), (int) size));
    if (viaString.length() > hub::Installer::maxFileNameLength)
        std::abort();
    return 0;
}
