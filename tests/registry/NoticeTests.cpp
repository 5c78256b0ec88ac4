#include "registry/Notices.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using namespace hub;

namespace
{
    juce::int64 utc (const char* iso) { return juce::Time::fromISO8601 (iso).toMilliseconds(); }
}

TEST (NoticeTime, Parsing)
{
    struct Case { const char* text; bool ok; const char* utcEquivalent; };
    const Case cases[] = {
        { "2025-03-01", true, "2025-03-01T00:00:00Z" },
        { "  2025-03-01  ", true, "2025-03-01T00:00:00Z" },
        { "2025-03-01T10:00:00+02:00", true, "2025-03-01T08:00:00Z" },
        { "2025-03-01T10:00:00", true, "2025-03-01T10:00:00Z" },
        { "2025-03-01T10:00:00.250Z", true, "2025-03-01T10:00:00.250Z" },
        { "2025-03-01 10:00:00", false, "" },
        { "25-03-01", false, "" },
        { "2025-3-01", false, "" },
        { "2025-03-0", false, "" },
        { "2025-03-01t10:00:00", false, "" },
        { "2025-03-01T10:00", false, "" },
        { "2025-03-01T10:00:00 garbage", false, "" },
        { "1970-01-01", false, "" },      // reads as 0: taken as a failure
        { "", false, "" },
    };
    for (auto& c : cases)
    {
        juce::Time t (123);
        EXPECT_EQ (notices::parseTime (c.text, t), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ (t.toMilliseconds(), utc (c.utcEquivalent)) << c.text;
        else
            EXPECT_EQ (t.toMilliseconds(), 123) << c.text;
    }
}

TEST (NoticeSelection, WindowsPriorityStartAndBanner)
{
    test::TempFolder banners;
    auto banner = [&] (const char* id) { test::writeFile (banners / (juce::String (id) + ".svg"), "<svg/>"); };
    const auto now = utc ("2025-03-10T12:00:00Z");

    auto pick = [&] (std::vector<Notice> list, juce::StringArray dismissed = {}) {
        auto n = notices::select (list, dismissed, now, banners.dir);
        return n ? n->id : juce::String ("-");
    };
    for (auto id : { "a", "b", "c" })
        banner (id);

    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "", 3 }, { "b", "https://x", "", "", "", 5 } }), "b");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "2025-03-01", "", 5 }, { "b", "https://x", "", "2025-03-02", "", 5 } }), "b");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "", 5 }, { "b", "https://x", "", "", "", 5 } }), "a");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "", 5 }, { "b", "https://x", "", "2025-03-01", "", 5 } }), "b");
    // The window's edges at the exact millisecond: from is inclusive, until exclusive.
    EXPECT_EQ (pick ({ { "a", "https://x", "", "2025-03-10T12:00:00Z", "", 0 } }), "a");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "2025-03-10T12:00:00Z", 0 } }), "-");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "2025-03-10T12:00:00.001Z", 0 } }), "a");
    EXPECT_EQ (pick ({ { "a", "https://x", "", "2025-03-10 12:00:00", "", 9 }, { "b", "https://x", "", "", "", 1 } }), "b");
    // Dismissed ones are skipped; the next eligible one shows.
    EXPECT_EQ (pick ({ { "a", "https://x", "", "", "", 5 }, { "b", "https://x", "", "", "", 1 } }, { "a" }), "b");
    // The best notice has no banner yet: nothing is shown, not the next one.
    EXPECT_EQ (pick ({ { "nobanner", "https://x", "", "", "", 9 }, { "a", "https://x", "", "", "", 1 } }), "-");
    EXPECT_EQ (pick ({}), "-");
}

TEST (NoticeDismissal, FileAndLimit)
{
    test::TempFolder tmp;
    auto file = tmp / "sub/dismissed-notices.json";
    juce::StringArray list;

    notices::dismiss (list, "", file);
    EXPECT_FALSE (file.exists());

    for (int i = 0; i < 101; ++i)
        notices::dismiss (list, "n" + juce::String (i), file);
    EXPECT_EQ (list.size(), 100);
    EXPECT_EQ (list[0], "n1");

    notices::dismiss (list, "n5", file);
    EXPECT_EQ (list.size(), 100);
    EXPECT_EQ (list[99], "n5");
    EXPECT_EQ (list.indexOf ("n5"), 99);

    const auto text = file.loadFileAsString();
    EXPECT_TRUE (text.contains ("\r\n"));
    auto loaded = notices::loadDismissed (file);
    EXPECT_EQ (loaded, list);

    // Ids with characters outside the basic plane, which the JSON writer stores as
    // escape pairs, read back unchanged.
    const auto letterId = juce::String::fromUTF8 ("\xF0\x90\x90\x80-sale");
    notices::dismiss (list, letterId, file);
    EXPECT_EQ (notices::loadDismissed (file)[99], letterId);

    test::writeFile (file, R"({"dismissed":["a","",3,"a",{"x":1},"b"],"other":1})");
    EXPECT_EQ (notices::loadDismissed (file).joinIntoString (","), "a,3,b");
    test::writeFile (file, "not json");
    EXPECT_TRUE (notices::loadDismissed (file).isEmpty());
}
