#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace hub
{
    // Runs the operating system's package checker on an installer package and hands
    // back what it printed. The verdict is made elsewhere (install/SignatureCheck.h);
    // this only starts the checker and collects its output and exit code.
    class SignatureChecker
    {
    public:
        struct Output
        {
            bool started = false;   // false: the checker could not be started
            juce::String text;      // standard output and standard error together
            int exitCode = 0;       // 0 also when the checker did not end within the wait
        };

        virtual ~SignatureChecker() = default;

        // Blocks until the checker has closed its output, then waits at most
        // exitWaitMs for it to end.
        virtual Output check (const juce::File& package) = 0;

        // How long the checker may take to end once its output is closed.
        static constexpr int exitWaitMs = 20000;

        // The checker of this platform. On macOS /usr/sbin/pkgutil --check-signature;
        // elsewhere there is no package checker: it answers an empty output with exit
        // code 0, which the verdict refuses.
        static std::shared_ptr<SignatureChecker> createSystem();
    };
}
