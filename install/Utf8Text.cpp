#include "install/Utf8Text.h"

#include <cstring>

namespace hub
{
    juce::Array<juce::juce_wchar> Utf8Text::decode (const char* data, size_t size)
    {
        juce::Array<juce::juce_wchar> out;
        out.ensureStorageAllocated ((int) juce::jmin (size, (size_t) 1 << 24));
        auto* s = reinterpret_cast<const unsigned char*> (data);
        size_t i = 0;
        while (i < size)
        {
            const unsigned c = s[i];
            if (c < 0x80)
            {
                out.add ((juce::juce_wchar) c);
                ++i;
                continue;
            }

            size_t extra = 0;
            unsigned value = 0, minimum = 0;
            if ((c & 0xe0) == 0xc0)      { extra = 1; value = c & 0x1f; minimum = 0x80; }
            else if ((c & 0xf0) == 0xe0) { extra = 2; value = c & 0x0f; minimum = 0x800; }
            else if ((c & 0xf8) == 0xf0) { extra = 3; value = c & 0x07; minimum = 0x10000; }

            bool good = extra > 0 && i + extra < size;
            for (size_t k = 1; good && k <= extra; ++k)
            {
                const unsigned cc = s[i + k];
                good = (cc & 0xc0) == 0x80;
                value = (value << 6) | (cc & 0x3f);
            }
            good = good && value >= minimum && value <= 0x10ffff && ! (value >= 0xd800 && value <= 0xdfff);

            if (! good)
            {
                out.add (replacement);
                ++i;
                continue;
            }
            out.add ((juce::juce_wchar) value);
            i += extra + 1;
        }
        return out;
    }

    juce::String Utf8Text::fromCodePoints (const juce::Array<juce::juce_wchar>& chars)
    {
        juce::Array<juce::juce_wchar> z;
        z.ensureStorageAllocated (chars.size() + 1);
        for (auto c : chars)
            if (c != 0)
                z.add (c);
        z.add (0);
        return juce::String (juce::CharPointer_UTF32 (z.getRawDataPointer()));
    }

    juce::String Utf8Text::sanitise (const juce::String& text)
    {
        auto* raw = text.toRawUTF8();
        const auto size = std::strlen (raw);
        auto chars = decode (raw, size);
        if (! chars.contains (replacement))
            return text;
        return fromCodePoints (chars);
    }
}
