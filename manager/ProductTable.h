#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace hub
{
    // One of the maker's products: the registry's key, the bundle identifier its
    // plug-ins carry, and its display name.
    struct ProductEntry
    {
        juce::String key;
        juce::String bundleId;
        juce::String name;
    };

    // The built-in product list, fixed at build time.
    class ProductTable
    {
    public:
        // The table; the same vector on every call.
        static const std::vector<ProductEntry>& all();

        // The three rows, in table order.
        static std::vector<ProductEntry> build();

        // The row whose key equals `key` exactly, or null.
        static const ProductEntry* byKey (const juce::String& key);

        // Every row's bundle identifier, in table order.
        static juce::StringArray bundleIds();
    };
}
