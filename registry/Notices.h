#pragma once

#include "registry/CatalogSnapshot.h"

#include <optional>

namespace hub::notices
{
    // Reads a notice time: "YYYY-MM-DD" (midnight UTC) or "YYYY-MM-DDThh:mm:ss" with an
    // optional fraction and zone. True and `out` set, or false and `out` unchanged.
    bool parseTime (const juce::String& text, juce::Time& out);

    // The notice to show: not dismissed, inside its time window at nowMs, highest
    // priority, then latest start, then first listed. Empty when there is none or when
    // the best one's banner ("<id>.svg" in bannerDir) is not cached yet.
    std::optional<Notice> select (const std::vector<Notice>& notices, const juce::StringArray& dismissed,
                                  juce::int64 nowMs, const juce::File& bannerDir);

    // The dismissed ids stored in the file, oldest first, without duplicates.
    juce::StringArray loadDismissed (const juce::File& file);

    // Moves id to the end of the list (keeping at most 100) and writes the file. An
    // empty id changes nothing.
    void dismiss (juce::StringArray& dismissed, const juce::String& id, const juce::File& file);

    constexpr int maxDismissed = 100;
}
