#include "scan/InstallScan.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using hub::InstallScan;
using hub::InstalledArtifact;

namespace
{
    // The start of a binary property list holding CFBundleIdentifier = de.tarvo.grumbot2.
    juce::MemoryBlock binaryPlist()
    {
        const char bytes[] = "bplist00\xd2\x01\x02\x03\x04_\x10\x12" "CFBundleIdentifier_\x10\x11" "de.tarvo.grumbot2"
                             "\x08\x0d\x22\x00\x00\x00\x00\x00\x00\x01\x01";
        return juce::MemoryBlock (bytes, sizeof (bytes) - 1);
    }

    bool read (const juce::File& bundle, InstalledArtifact& out)
    {
        return InstallScan::readBundle (bundle, InstalledArtifact::AU, InstalledArtifact::User, out);
    }
}

TEST (PlistReader, KeysValuesAndTags)
{
    struct Case { const char* name; const char* text; const char* key; const char* expected; };
    const Case cases[] = {
        { "plain", "<plist><dict><key>A</key><string>one</string></dict></plist>", "A", "one" },
        { "blanks around key and value", "<plist><dict><key>\n  A \t</key><string>  one\n</string></dict></plist>", "A", "one" },
        { "key case differs", "<plist><dict><key>a</key><string>one</string></dict></plist>", "A", "" },
        { "capitalised tags", "<PLIST><DICT><KEY>A</KEY><STRING>one</STRING></DICT></PLIST>", "A", "one" },
        { "key is last element", "<plist><dict><key>B</key><string>x</string><key>A</key></dict></plist>", "A", "" },
        { "value of any tag", "<plist><dict><key>A</key><integer>42</integer></dict></plist>", "A", "42" },
        { "empty element", "<plist><dict><key>A</key><true/></dict></plist>", "A", "" },
        { "nested text joined", "<plist><dict><key>A</key><string>o<b>n</b>e</string></dict></plist>", "A", "one" },
        { "nested dict not searched", "<plist><dict><key>X</key><dict><key>A</key><string>in</string></dict></dict></plist>", "A", "" },
        { "first match wins", "<plist><dict><key>A</key><string>1</string><key>A</key><string>2</string></dict></plist>", "A", "1" },
        { "root tag not checked", "<whatever><dict><key>A</key><string>one</string></dict></whatever>", "A", "one" },
        { "no dict", "<plist><array><key>A</key><string>one</string></array></plist>", "A", "" },
        { "entity in key", "<plist><dict><key>&#65;</key><string>one</string></dict></plist>", "A", "one" },
        { "truncated", "<plist><dict><key>A</key><string>on", "A", "" },
        { "not xml", "A = one", "A", "" },
        { "empty", "", "A", "" },
    };
    test::TempFolder tmp;
    for (auto& c : cases)
    {
        auto f = test::writeFile (tmp / "Info.plist", c.text);
        EXPECT_EQ (InstallScan::readPlistString (f, c.key), c.expected) << c.name;
    }
    EXPECT_EQ (InstallScan::readPlistString (tmp / "missing.plist", "A"), "");
    EXPECT_EQ (InstallScan::readPlistString (tmp.dir, "A"), "");
}

TEST (PlistReader, HostileFilesGiveEmptyValues)
{
    test::TempFolder tmp;
    auto f = tmp / "Info.plist";

    // Deep nesting must not reach the parser's recursion.
    std::string deep = "<plist><dict><key>A</key><string>x</string>";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    f.replaceWithData (deep.data(), deep.size());
    EXPECT_EQ (InstallScan::readPlistString (f, "A"), "");

    // Larger than the read limit: not read at all.
    juce::String huge = "<plist><dict><key>A</key><string>x</string></dict></plist><!--";
    huge << juce::String::repeatedString ("z", (int) InstallScan::maxReadBytes) << "-->";
    test::writeFile (f, huge);
    EXPECT_EQ (InstallScan::readPlistString (f, "A"), "");

    // Invalid UTF-8 around the value: the key is still found, nothing crashes.
    const char latin[] = "<plist><dict><key>A</key><string>caf\xe9</string></dict></plist>";
    f.replaceWithData (latin, sizeof (latin) - 1);
    EXPECT_EQ (InstallScan::readPlistString (f, "A"), "caf?");

    auto bin = binaryPlist();
    f.replaceWithData (bin.getData(), bin.getSize());
    EXPECT_EQ (InstallScan::readPlistString (f, "CFBundleIdentifier"), "");

    // A pipe where the file should be: never waited on.
    auto pipe = tmp / "Pipe.vst3/Contents/Info.plist";
    pipe.getParentDirectory().createDirectory();
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (InstallScan::readPlistString (pipe, "CFBundleIdentifier"), "");
    InstalledArtifact untouched;
    EXPECT_FALSE (InstallScan::readBundle (tmp / "Pipe.vst3", InstalledArtifact::VST3, InstalledArtifact::System, untouched));

    // Near the read limit, made of many small pieces: read in one pass, not one pass
    // per piece (each of these took minutes when every piece searched or copied the rest).
    struct Big { const char* name; std::string text; std::string value; };
    const auto times = [] (const std::string& s, int n) { std::string r; for (int i = 0; i < n; ++i) r += s; return r; };
    const Big bigs[] = {
        { "entities", "<plist><dict><key>A</key><string>" + times ("&amp;", 150000) + "</string></dict></plist>", std::string (150000, '&') },
        { "bare ampersands", "<plist><dict><key>A</key><string>" + std::string (900000, '&') + "</string></dict></plist>", std::string (900000, '&') },
        { "nested pieces", "<plist><dict><key>A</key><string>" + times ("<b>x</b>", 100000) + "</string></dict></plist>", std::string (100000, 'x') },
        { "declarations", "<plist>" + times ("<!x>", 200000) + "<dict><key>A</key><string>v</string></dict></plist>", "v" },
    };
    for (auto& b : bigs)
    {
        f.replaceWithData (b.text.data(), b.text.size());
        EXPECT_EQ (InstallScan::readPlistString (f, "A").toStdString(), b.value) << b.name;
    }

    // Broken markup with stray processing instructions: once made the reader loop forever.
    juce::MemoryOutputStream broken;
    ASSERT_TRUE (juce::Base64::convertFromBase64 (broken, "PD95bG0gI2Vyc2lvbj0iMS4wIj8+PHBsaXN0IHZlcnNpb249IjEuMCI+PGRpY3Q+PGtleT5DRjw/eG1yc3N0cmluZz48a2V5PkE8L2s+aXluZWU8dGdlcj4xPC9pbnRlZ2VyPDd4bWwgdmVyc2lvbj0iMS4wIj8+HHBsaXN0IHZlcnNpb249IjEuQnUwIj48L2RpY24="));
    f.replaceWithData (broken.getData(), broken.getDataSize());
    EXPECT_EQ (InstallScan::readPlistString (f, "CFBundleIdentifier"), "");
}

TEST (ModuleInfo, Variants)
{
    struct Case { const char* name; const char* json; const char* modName; const char* version; const char* cid; };
    const Case cases[] = {
        { "full", R"({"Name":"Grumbot 2","Version":"2.1.0","Classes":[{"CID":"ABC"},{"CID":"DEF"}]})", "Grumbot 2", "2.1.0", "ABC" },
        { "empty classes", R"({"Name":"N","Classes":[]})", "N", "", "" },
        { "classes not array", R"({"Classes":{"CID":"ABC"}})", "", "", "" },
        { "first class not object", R"({"Classes":["ABC"]})", "", "", "" },
        { "top level array", R"([{"Name":"N"}])", "", "", "" },
        { "not json", "Name: N", "", "", "" },
        { "wrong types", R"({"Name":{"a":1},"Version":[1],"Classes":[{"CID":null}]})", "", "", "" },
        { "number version", R"({"Version":3})", "", "3", "" },
        { "truncated", R"({"Name":"N","Classes":[{"CID":"A)", "", "", "" },
    };
    for (auto& c : cases)
    {
        auto info = InstallScan::readModuleInfoText (c.json);
        SCOPED_TRACE (c.name);
        EXPECT_EQ (info.name, c.modName);
        EXPECT_EQ (info.version, c.version);
        EXPECT_EQ (info.classId, c.cid);
    }

    // Deep nesting never reaches the parser's recursion, whatever quote marks stand
    // before it; nesting within the limit is read.
    const std::string deep (100000, '[');
    for (auto before : { "\"x\":", "\"x\":'\"',\"y\":", "\"x\":\"'\",\"y\":", "\"x\":\"\\\"\",\"y\":" })
        EXPECT_EQ (InstallScan::readModuleInfoText (juce::String ("{\"Name\":\"N\",") + before + juce::String (deep)).name, "") << before;
    const std::string fine = std::string (100, '[') + std::string (100, ']');
    EXPECT_EQ (InstallScan::readModuleInfoText ("{\"Name\":\"N\",\"x\":" + juce::String (fine) + "}").name, "N");
}

TEST (BundleReader, Bundles)
{
    test::TempFolder tmp;
    InstalledArtifact out;

    // Info.plist only: name from the folder, no class id.
    auto plain = test::makeBundle (tmp.dir, "Grumbot 2.vst3", "de.tarvo.grumbot2", "2.1.0");
    ASSERT_TRUE (read (plain, out));
    EXPECT_EQ (out.format, InstalledArtifact::AU);
    EXPECT_EQ (out.scope, InstalledArtifact::User);
    EXPECT_EQ (out.path, plain.getFullPathName());
    EXPECT_EQ (out.bundleId, "de.tarvo.grumbot2");
    EXPECT_EQ (out.version, "2.1.0");
    EXPECT_EQ (out.name, "Grumbot 2");
    EXPECT_EQ (out.classId, "");

    // Binary Info.plist alone: no identity.
    auto binary = tmp / "Bin.vst3";
    auto bin = binaryPlist();
    binary.getChildFile ("Contents").createDirectory();
    binary.getChildFile ("Contents/Info.plist").replaceWithData (bin.getData(), bin.getSize());
    InstalledArtifact kept;
    kept.name = "previous";
    EXPECT_FALSE (read (binary, kept));
    EXPECT_EQ (kept.name, "previous");

    // Binary Info.plist plus moduleinfo.json: class id and module version.
    test::writeFile (binary.getChildFile ("Contents/Resources/moduleinfo.json"),
                     R"({"Name":"Bin Mod","Version":"0.9","Classes":[{"CID":"0123ABCD"}]})");
    ASSERT_TRUE (read (binary, out));
    EXPECT_EQ (out.bundleId, "");
    EXPECT_EQ (out.classId, "0123ABCD");
    EXPECT_EQ (out.version, "0.9");
    EXPECT_EQ (out.name, "Bin Mod");

    // Info.plist version wins over the module's; without it the module's is used.
    auto both = test::makeBundle (tmp.dir, "Both.vst3", "de.tarvo.hissmoth", "1.5", R"({"Version":"9.9"})");
    ASSERT_TRUE (read (both, out));
    EXPECT_EQ (out.version, "1.5");
    auto moduleOnly = test::makeBundle (tmp.dir, "ModVer.vst3", "de.tarvo.hissmoth", "", R"({"Version":"9.9"})");
    ASSERT_TRUE (read (moduleOnly, out));
    EXPECT_EQ (out.version, "9.9");

    // Module info that is not an object: the plist decides.
    auto arrayInfo = test::makeBundle (tmp.dir, "Arr.vst3", "de.tarvo.hissmoth", "1.0", R"([{"Version":"9"}])");
    ASSERT_TRUE (read (arrayInfo, out));
    EXPECT_EQ (out.version, "1.0");
    EXPECT_EQ (out.name, "Arr");

    // Not a folder, or nothing there: false, out untouched.
    test::writeFile (tmp / "File.vst3", "x");
    kept.name = "previous";
    EXPECT_FALSE (read (tmp / "File.vst3", kept));
    EXPECT_FALSE (read (tmp / "Missing.vst3", kept));
    EXPECT_FALSE (read (juce::File(), kept));
    EXPECT_EQ (kept.name, "previous");
}

TEST (TextFromBytes, KeepsWellFormedUtf8AndReplacesEveryOtherByte)
{
    struct Case { const char* name; std::string bytes; const char* expectedUtf8; };
    const Case cases[] = {
        { "ascii", "1.2.0", "1.2.0" },
        { "two-byte", "caf\xc3\xa9", "caf\xc3\xa9" },
        { "four-byte", "\xf0\x9f\x98\x80!", "\xf0\x9f\x98\x80!" },
        { "latin-1 byte", "caf\xe9", "caf?" },
        { "overlong digit", "\xc0\xb7.1", "??.1" },
        { "stray continuation", "\xc3\xa9\xbc", "\xc3\xa9?" },
        { "surrogate", "\xed\xa0\x80", "???" },
        { "above the last code point", "\xf4\x90\x80\x80", "????" },
        { "cut at the end", "1\xe2\x82", "1??" },
        { "NUL inside", std::string ("a\0b", 3), "a?b" },
    };
    for (auto& c : cases)
        EXPECT_EQ (InstallScan::textFromBytes (c.bytes.data(), c.bytes.size()), juce::String::fromUTF8 (c.expectedUtf8)) << c.name;

    // Once let through as they were, such bytes made the version order read past the end.
    const std::string broken = "\xc0\xb7\xbc";
    const std::string dots = ".\xc0\xb7\xc0\xb7\xc0\xb7\xc0\xb7";
    EXPECT_EQ (InstallScan::compareVersions (InstallScan::textFromBytes (broken.data(), broken.size()),
                                             InstallScan::textFromBytes (dots.data(), dots.size())), -1);   // "???" against "" first
}
