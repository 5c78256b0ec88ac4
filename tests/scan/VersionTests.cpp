#include "scan/InstallScan.h"

#include <gtest/gtest.h>

#include <climits>

using hub::InstallScan;

TEST (Versions, OrderTableBothWays)
{
    struct Row { const char* a; const char* b; int result; };
    const Row rows[] = {
        { "1.2", "1.2.0", 0 },          { "1.02", "1.2", 0 },            { "1..2", "1.0.2", 0 },
        { "", "0.0", 0 },               { "", "1.0", -1 },               { "1.10", "1.9", 1 },
        { "2", "1.9.9", 1 },            { "1.2.0-beta", "1.2.0", -1 },   { "1.0.0-beta", "1.0", -1 },
        { "1.2-beta", "1.2.1", -1 },    { "1.2.0-beta", "1.2.0-rc", -1 }, { "1.2.0-RC", "1.2.0-beta", -1 },
        { "1.2.0-beta.2", "1.2.0-beta.10", -1 }, { "1.2a", "1.2b", -1 }, { "1.2", "1.2a", 1 },
        { "v1.2", "1.2", -1 },          { "1.2 ", "1.2", -1 },           { "1.2.0", "1.2.0", 0 },
        { "1.2.0-beta", "1.2.0-betaX", -1 },  // a prefix sorts first
        { "\xd9\xa1.0", "0.0", -1 },   // an Arabic-Indic one is no ASCII digit: a suffix, older than 0
    };
    for (auto& r : rows)
    {
        const auto a = juce::String::fromUTF8 (r.a), b = juce::String::fromUTF8 (r.b);
        SCOPED_TRACE (a + " vs " + b);
        EXPECT_EQ (InstallScan::compareVersions (a, b), r.result);
        EXPECT_EQ (InstallScan::compareVersions (b, a), -r.result);
    }
}

TEST (Versions, ComponentsSaturateAbove32Bits)
{
    int n = 0;
    juce::String suffix;
    hub::splitComponent ("99999999999999999999rc", n, suffix);
    EXPECT_EQ (n, INT_MAX);
    EXPECT_EQ (suffix, "rc");
    hub::splitComponent ("007", n, suffix);
    EXPECT_EQ (n, 7);
    EXPECT_TRUE (suffix.isEmpty());
    hub::splitComponent ("-1", n, suffix);
    EXPECT_EQ (n, 0);
    EXPECT_EQ (suffix, "-1");

    // Consistent: two oversized numbers are equal, and beat every 32-bit number.
    EXPECT_EQ (InstallScan::compareVersions ("1.99999999999", "1.88888888888"), 0);
    EXPECT_EQ (InstallScan::compareVersions ("1.99999999999", "1.2147483646"), 1);
    EXPECT_EQ (InstallScan::compareVersions ("1.2147483646", "1.99999999999"), -1);
}

TEST (Versions, HighestOfAList)
{
    struct Case { juce::StringArray list; const char* highest; };
    const Case cases[] = {
        { { "1.0", "", "1.0.0", "0.9" }, "1.0" },
        { { "", "0.9" }, "0.9" },
        { { "", "" }, "" },
        { {}, "" },
        { { "1.0.0", "1.0" }, "1.0.0" },
        { { "-beta", "" }, "-beta" },   // an empty text never replaces a non-empty one
        { { "1.2.0", "1.10.0", "1.10" }, "1.10.0" },
    };
    for (auto& c : cases)
        EXPECT_EQ (InstallScan::highestOf (c.list), c.highest) << c.list.joinIntoString ("|");
}
