#include "platform/SignatureChecker.h"

namespace hub
{
    namespace
    {
       #if JUCE_MAC
        class PkgutilChecker final : public SignatureChecker
        {
        public:
            Output check (const juce::File& package) override
            {
                Output out;
                juce::ChildProcess process;
                if (! process.start (juce::StringArray { "/usr/sbin/pkgutil", "--check-signature", package.getFullPathName() },
                                     juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
                    return out;

                out.started = true;
                out.text = process.readAllProcessOutput();
                process.waitForProcessToFinish (exitWaitMs);
                out.exitCode = (int) process.getExitCode(); // 0 when it has not ended yet
                return out;
            }
        };
       #else
        // No package checker on this system: an empty report, which the verdict refuses.
        class NoChecker final : public SignatureChecker
        {
        public:
            Output check (const juce::File&) override
            {
                Output out;
                out.started = true;
                out.exitCode = 0;
                return out;
            }
        };
       #endif
    }

    std::shared_ptr<SignatureChecker> SignatureChecker::createSystem()
    {
       #if JUCE_MAC
        return std::make_shared<PkgutilChecker>();
       #else
        return std::make_shared<NoChecker>();
       #endif
    }
}
