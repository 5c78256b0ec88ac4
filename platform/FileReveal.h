#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace hub
{
    // Shows a file in the desktop's file manager. Call on the message thread.
    class FileReveal
    {
    public:
        virtual ~FileReveal() = default;
        virtual void reveal (const juce::File& file) = 0;

        // On macOS the Finder selects the file; on Linux the desktop's file manager
        // opens its folder (xdg-open), where there is one. Without one, nothing happens.
        static std::shared_ptr<FileReveal> createSystem();
    };
}
