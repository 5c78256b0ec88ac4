#pragma once

#include <juce_core/juce_core.h>

// The application's identity and the vendor's endpoints. These are fixed when the
// program is built; nothing reads them from files, options or the environment.
// Classes that talk to the vendor take these as constructor defaults so that tests
// can point them at a server on this machine.
namespace hub::identity
{
    inline constexpr const char* appName = "TARVO Fernhall";
    inline constexpr const char* appVersion = "1.0.0";

    // Host of the vendor's download server: registry documents, cached mascot and
    // banner files and installer packages all come from here.
    inline constexpr const char* vendorDownloadHost = "downloads.tarvo.de";

    // Scheme and host of the release registry ("https://" + the download host).
    inline constexpr const char* registryOrigin = "https://downloads.tarvo.de";

    // Team identifier on the vendor's installer-signing certificate.
    inline constexpr const char* vendorTeamId = "T4RV0FH123";

    // The vendor's web site and support address.
    inline constexpr const char* vendorWebHost = "www.tarvo.de";
    inline constexpr const char* downloadsUrl = "https://www.tarvo.de/downloads#installers";
    inline constexpr const char* supportMail = "support@tarvo.de";

    // Compile date and time of this build, e.g. "Sep 21 2026 14:17:20".
    juce::String buildStamp();

    // "TARVO Fernhall 1.0.0 (<build stamp>)": the log's welcome line and the state document's build text.
    juce::String welcomeLine();
}

namespace hub
{
    // The application-data folder: <user application data>/TARVO/Fern Hall.
    // Created (with its parents) on every call; a failure to create it is ignored.
    juce::File appDataDir();
}
