#pragma once

#include <juce_core/juce_core.h>

namespace hub
{
    // Strict reading of UTF-8 text that comes from outside (registry entries, the
    // output of system tools): every byte sequence that is not a well-formed,
    // shortest-form Unicode scalar value becomes U+FFFD, so what follows works on
    // valid text only.
    class Utf8Text
    {
    public:
        static constexpr juce::juce_wchar replacement = 0xfffd;

        // The code points of `size` raw bytes (a NUL byte is kept as code point 0).
        static juce::Array<juce::juce_wchar> decode (const char* data, size_t size);

        // Text made of code points; a 0 among them is dropped.
        static juce::String fromCodePoints (const juce::Array<juce::juce_wchar>& chars);

        // The same text, with anything that was not valid UTF-8 replaced.
        static juce::String sanitise (const juce::String& text);
    };
}
