#pragma once

#include "app/Identity.h"
#include "platform/SignatureChecker.h"

#include <juce_core/juce_core.h>

namespace hub
{
    // The verdict on an installer package's signature: it may be used only when it is
    // signed with the vendor's "Developer ID Installer" certificate and notarised.
    struct SignatureCheck
    {
        bool ok = false;            // the package may be used
        bool isSigned = false;      // the checker reported a signature
        bool notarised = false;     // the output carries the notarisation line
        bool teamMatches = false;   // a "Developer ID Installer:" line named the vendor's team
        juce::String team;          // team identifier of the last certificate line considered
        juce::String status;        // text of the "Status:" line
        juce::String message;       // the verdict for the user

        // Runs the checker on the package and judges its output.
        static SignatureCheck run (const juce::File& package, SignatureChecker& checker,
                                   const juce::String& teamId = identity::vendorTeamId);

        // Judges what a checker printed, with the checker's exit code. Pure.
        static SignatureCheck fromOutput (const juce::String& output, int exitCode,
                                          const juce::String& teamId = identity::vendorTeamId);

        // The result when the checker could not be started.
        static SignatureCheck notStarted();

        static constexpr const char* notarisationLine = "Notarization: trusted by the Apple notary service";
        static constexpr const char* passMessage = "Signed and notarised by TARVO";
        static constexpr const char* notFromVendorMessage = "This file is not from TARVO - installation stopped";
        static constexpr const char* notNotarisedMessage = "Apple has not notarised this file - installation stopped";
        static constexpr const char* checkFailedMessage = "Signature check failed - installation stopped";
        static constexpr const char* notStartedMessage = "Could not run the signature check - installation stopped";
    };
}
