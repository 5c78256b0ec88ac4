#include "manager/ProductTable.h"

namespace hub
{
    const std::vector<ProductEntry>& ProductTable::all()
    {
        static const std::vector<ProductEntry> table = build();
        return table;
    }

    std::vector<ProductEntry> ProductTable::build()
    {
        return { { "grumbot-2",    "de.tarvo.grumbot2",    "Grumbot 2" },
                 { "grumbot-lite", "de.tarvo.grumbotlite", "Grumbot Lite" },
                 { "hissmoth",     "de.tarvo.hissmoth",    "Hissmoth" } };
    }

    const ProductEntry* ProductTable::byKey (const juce::String& key)
    {
        for (auto& e : all())
            if (e.key == key)
                return &e;
        return nullptr;
    }

    juce::StringArray ProductTable::bundleIds()
    {
        juce::StringArray ids;
        for (auto& e : all())
            ids.add (e.bundleId);
        return ids;
    }
}
