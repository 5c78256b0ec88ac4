#pragma once

#include "registry/CatalogSnapshot.h"

namespace hub
{
    // Reading the registry's two documents into records. Stateless.
    class CatalogReader
    {
    public:
        // Catalog text into `out`: products, manager and notices are replaced and true
        // is returned; on refusal (not an object, no product with an id) `out` is left
        // exactly as it was and false is returned. fetchedAt is never touched.
        static bool parseCatalog (const juce::String& text, CatalogSnapshot& out);

        // The accepted releases of a product release document, in document order;
        // empty for text that is not a JSON object.
        static std::vector<Release> parseReleases (const juce::String& text);

        // An array's elements as text, in order; any other value gives an empty list.
        static juce::StringArray toStringArray (const juce::var& value);

        // Whether a notice id may be used as a file name and dismissal key.
        static bool isValidNoticeId (const juce::String& id);

        // Whether a product id can name files in the mascot folder: no separators, no
        // parent steps, no control characters, not hidden, no leading "~".
        static bool isSafeFileStem (const juce::String& id);

        // JSON text parsed, refusing documents nested deeper than the parser can take.
        static juce::var parseJson (const juce::String& text);

        // The deepest nesting parseJson accepts.
        static constexpr int maxJsonDepth = 200;
    };
}
