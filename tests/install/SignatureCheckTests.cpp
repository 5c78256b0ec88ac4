#include "install/SignatureCheck.h"
#include "InstallTestDoubles.h"

#include <gtest/gtest.h>

namespace
{
    const juce::String vendor = "T4RV0FH123";
    const juce::String notVendor = "This file is not from TARVO - installation stopped";
    const juce::String notNotarised = "Apple has not notarised this file - installation stopped";
    const juce::String checkFailed = "Signature check failed - installation stopped";
    const juce::String pass = "Signed and notarised by TARVO";

    juce::String other (const juce::String& team)
    {
        return "Signed by another developer (" + team + ") - installation stopped";
    }

    struct Row
    {
        const char* what;
        juce::String output;
        int exitCode;
        bool ok, isSigned, notarised, teamMatches;
        juce::String team, message;
    };

    juce::String statusOnlyReport (const juce::String& status, int extraLines = 0)
    {
        juce::String s = "Package \"x.pkg\":\n   Status: " + status + "\n";
        for (int i = 0; i < extraLines; ++i)
            s << "   line " << i << "\n";
        return s;
    }
}

TEST (SignatureVerdict, RecordedCheckerReports)
{
    auto good = test::signedReport();
    auto twoCerts = good.replace ("    1. Developer ID Installer: TARVO Audio GmbH (T4RV0FH123)\n",
                                  "    1. Developer ID Installer: Other Corp (ABCDE12345)\n"
                                  "    1b. Developer ID Installer: TARVO Audio GmbH (T4RV0FH123)\n");
    auto vendorThenOther = good.replace ("    2. Developer ID Certification Authority\n",
                                         "    2. Developer ID Installer: Other Corp (ABCDE12345)\n");
    auto onStatusLine = good.replace ("distribution\n   Notarization: trusted by the Apple notary service\n",
                                      "distribution, Notarization: trusted by the Apple notary service\n");
    auto noCert = good.replace ("    1. Developer ID Installer: TARVO Audio GmbH (T4RV0FH123)\n", "");
    auto noParens = good.replace ("TARVO Audio GmbH (T4RV0FH123)", "TARVO Audio GmbH");
    auto crlf = good.replace ("\n", "\r\n");
    auto crOnly = good.replace ("\n", "\r");
    auto untrusted = good.replace ("signed by a developer certificate issued by Apple for distribution",
                                   "signed by untrusted certificate");
    auto lowerStatusKey = good.replace ("Status:", "status:");
    auto laterStatus = good + "   Status: no signature\n";

    const std::vector<Row> rows {
        { "vendor, notarised, exit 0", good, 0, true, true, true, true, vendor, pass },
        { "no signature", statusOnlyReport ("no signature"), 1, false, false, false, false, "", notVendor },
        { "signed by an untrusted certificate", untrusted, 0, false, false, true, true, vendor, notVendor },
        { "another team", test::signedReport ("ABCDE12345"), 0, false, true, true, false, "ABCDE12345", other ("ABCDE12345") },
        { "vendor team in lower case", test::signedReport ("t4rv0fh123"), 0, false, true, true, false, "t4rv0fh123", other ("t4rv0fh123") },
        { "vendor, not notarised", test::signedReport (vendor, false), 0, false, true, false, true, vendor, notNotarised },
        { "notarisation on the status line", onStatusLine, 0, true, true, true, true, vendor, pass },
        { "other team first, vendor second", twoCerts, 0, true, true, true, true, vendor, pass },
        { "vendor first, later line ignored", vendorThenOther, 0, true, true, true, true, vendor, pass },
        { "everything right but exit 1", good, 1, false, true, true, true, vendor, checkFailed },
        { "vendor, not notarised, exit 1", test::signedReport (vendor, false), 1, false, true, false, true, vendor, notNotarised },
        { "another team, exit 1", test::signedReport ("ABCDE12345"), 1, false, true, true, false, "ABCDE12345", other ("ABCDE12345") },
        { "no certificate line", noCert, 0, false, true, true, false, "", notVendor },
        { "certificate line without team", noParens, 0, false, true, true, false,
          "1. Developer ID Installer: TARVO Audio GmbH", other ("1. Developer ID Installer: TARVO Audio GmbH") },
        { "CRLF line breaks", crlf, 0, true, true, true, true, vendor, pass },
        { "CR line breaks", crOnly, 0, true, true, true, true, vendor, pass },
        { "status key in other case is not a status", lowerStatusKey, 0, false, false, true, true, vendor, notVendor },
        { "a later status line replaces the first", laterStatus, 0, false, false, true, true, vendor, notVendor },
        { "empty output", "", 0, false, false, false, false, "", notVendor },
        { "empty output, exit 1", "", 1, false, false, false, false, "", notVendor },
    };

    for (auto& r : rows)
    {
        SCOPED_TRACE (r.what);
        auto v = hub::SignatureCheck::fromOutput (r.output, r.exitCode, vendor);
        EXPECT_EQ (v.ok, r.ok);
        EXPECT_EQ (v.isSigned, r.isSigned);
        EXPECT_EQ (v.notarised, r.notarised);
        EXPECT_EQ (v.teamMatches, r.teamMatches);
        EXPECT_EQ (v.team, r.team);
        EXPECT_EQ (v.message, r.message);
    }
}

TEST (SignatureVerdict, StatusTextIsCutAndTrimmed)
{
    auto v = hub::SignatureCheck::fromOutput (
        "  Status: signed by a developer certificate issued by Apple for distribution,,  Notarization: trusted by the Apple notary service\n", 0);
    EXPECT_EQ (v.status, "signed by a developer certificate issued by Apple for distribution");
    EXPECT_TRUE (v.notarised);

    auto s = hub::SignatureCheck::fromOutput ("Status: no signature\n", 1);
    EXPECT_EQ (s.status, "no signature");
    EXPECT_FALSE (s.isSigned);
}

TEST (SignatureVerdict, HugeOrUnbrokenOutputIsRefusedWithoutTrouble)
{
    // Several megabytes on one line, and many short lines, from a misbehaving checker.
    juce::String oneLine = juce::String::repeatedString ("Status: signed by x ", 200000);
    auto a = hub::SignatureCheck::fromOutput (oneLine, 0);
    EXPECT_FALSE (a.ok);

    juce::String manyLines = juce::String::repeatedString ("    1. Developer ID Installer: X (\n", 100000);
    auto b = hub::SignatureCheck::fromOutput (manyLines, 0);
    EXPECT_FALSE (b.ok);
    EXPECT_EQ (b.message, notVendor);

    // Bytes that are not UTF-8 (a checker printing raw file names) are read as
    // replacement characters; the rest of the report still counts.
    const char raw[] = "Status: si\xff\xfe gned by x\r\t\xf4\x90\x80\x80\xd1\xd1\xd1\xff\n\xe1tu\xd1";
    auto d = hub::SignatureCheck::fromOutput (juce::String (juce::CharPointer_UTF8 (raw)), 0);
    EXPECT_FALSE (d.ok);
    auto e = hub::SignatureCheck::fromOutput (juce::String (juce::CharPointer_UTF8 ("\xc3")) + test::signedReport(), 0);
    EXPECT_TRUE (e.ok);

    auto c = hub::SignatureCheck::fromOutput (test::signedReport() + juce::String::repeatedString ("x", 4 << 20), 0);
    EXPECT_TRUE (c.ok) << "trailing noise after a good report does not change the verdict";
}

TEST (SignatureVerdict, RunUsesTheCheckerAndItsExitCode)
{
    test::RecordedChecker notStarted ({}, 0, false);
    auto a = hub::SignatureCheck::run (juce::File ("/tmp/x.pkg"), notStarted, vendor);
    EXPECT_FALSE (a.ok);
    EXPECT_EQ (a.message, "Could not run the signature check - installation stopped");

    test::RecordedChecker failing (test::signedReport(), 1);
    EXPECT_EQ (hub::SignatureCheck::run (juce::File ("/tmp/x.pkg"), failing, vendor).message, checkFailed);

    test::RecordedChecker good (test::signedReport());
    EXPECT_TRUE (hub::SignatureCheck::run (juce::File ("/tmp/x.pkg"), good, vendor).ok);
    EXPECT_EQ (good.calls.load(), 1);
}

#if ! JUCE_MAC
TEST (SignatureVerdict, ThisSystemHasNoCheckerSoEveryPackageIsRefused)
{
    auto checker = hub::SignatureChecker::createSystem();
    auto out = checker->check (juce::File ("/tmp/x.pkg"));
    EXPECT_TRUE (out.started);
    EXPECT_EQ (out.exitCode, 0);
    EXPECT_FALSE (hub::SignatureCheck::run (juce::File ("/tmp/x.pkg"), *checker).ok);
}
#endif
