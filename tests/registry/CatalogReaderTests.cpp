#include "registry/CatalogReader.h"
#include "registry/ReleaseIndex.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using hub::CatalogReader;
using hub::CatalogSnapshot;

namespace
{
    CatalogSnapshot parsed (const juce::String& text)
    {
        CatalogSnapshot s;
        EXPECT_TRUE (hub::ReleaseIndex::parseCatalog (text, s)) << text;
        return s;
    }

    juce::String withProduct (const juce::String& productJson, const juce::String& rest = {})
    {
        return "{\"products\":[" + productJson + "]" + rest + "}";
    }
}

TEST (Catalog, RefusedWholeAndOutLeftUnchanged)
{
    CatalogSnapshot out;
    out.fetchedAt = "kept";
    out.products.push_back ({ "old" });
    for (auto text : { "", "[]", "\"x\"", "{}", "{\"products\":[]}", "{\"products\":[{\"id\":\"\"}]}",
                       "{\"products\":[{\"name\":\"x\"}]}", "{\"products\":{\"id\":\"a\"}}", "{\"products\":[\"a\", 1, null]}",
                       "{\"products\":[{\"id\":\"a\"}]", "not json",
                       "{\"products\":[{\"id\":\"a\\u0000b\"}]}" })   // the JSON reader refuses NUL escapes
    {
        EXPECT_FALSE (hub::ReleaseIndex::parseCatalog (text, out)) << text;
        ASSERT_EQ (out.products.size(), 1u);
        EXPECT_EQ (out.products[0].id, "old");
        EXPECT_EQ (out.fetchedAt, "kept");
    }

    // Accepted: fetchedAt stays, products are replaced, releases empty.
    EXPECT_TRUE (hub::ReleaseIndex::parseCatalog (withProduct ("{\"id\":\"a\"},{\"id\":\"a\"},{\"id\":\"\"},7"), out));
    EXPECT_EQ (out.fetchedAt, "kept");
    ASSERT_EQ (out.products.size(), 2u);   // duplicates stay
    EXPECT_TRUE (out.products[0].releases.empty());
}

TEST (Catalog, ProductDefaultsAndLocalisation)
{
    struct Case { const char* product; const char* field; const char* expected; };
    const Case cases[] = {
        { R"({"id":"a"})", "name", "a" },
        { R"({"id":"a","name":null})", "name", "" },
        { R"({"id":"a","name":12})", "name", "12" },
        { R"({"id":"a"})", "mascotMotion", "walk" },
        { R"({"id":"a","mascotMotion":"fly"})", "mascotMotion", "fly" },
        { R"({"id":"a","shopUrl":"https://shop"})", "shopUrl", "" },
        { R"({"id":"a","shopUrl":{"de":"","en":"https://en"}})", "shopUrl", "https://en" },
        { R"({"id":"a","shopUrl":{"de":"https://de","en":"https://en"}})", "shopUrl", "https://de" },
        { R"({"id":"a","latest":{"beta":"2.0-beta"}})", "latestStable", "" },
        { R"({"id":"a","latest":{"beta":"2.0-beta"}})", "latestBeta", "2.0-beta" },
        { R"({"id":"a","latest":"1.0"})", "latestStable", "" },
        { R"({"id":"a","tagline":{"x":1}})", "tagline", "" },
    };
    for (auto& c : cases)
    {
        auto s = parsed (withProduct (c.product));
        auto& p = s.products.at (0);
        const juce::String f (c.field);
        const auto value = f == "name" ? p.name : f == "mascotMotion" ? p.mascotMotion : f == "shopUrl" ? p.shopUrl
                         : f == "latestStable" ? p.latestStable : f == "latestBeta" ? p.latestBeta : p.tagline;
        EXPECT_EQ (value, c.expected) << c.product << " " << c.field;
    }
}

TEST (Catalog, NoticeRules)
{
    const auto id80 = juce::String::repeatedString ("a", 80);
    struct Case { juce::String id; juce::String image; bool kept; };
    const Case cases[] = {
        { id80, "https://x/b.svg", true },
        { id80 + "a", "https://x/b.svg", false },
        { ".hidden", "https://x/b.svg", false },
        { "spring-sale_2026.v2", "https://x/b.svg", true },
        { juce::String::fromUTF8 ("gr\xc3\xbc\xc3\x9f" "e"), "https://x/b.svg", true },   // letters outside ASCII
        { "a/b", "https://x/b.svg", false },
        { "a b", "https://x/b.svg", false },
        { "..", "https://x/b.svg", false },
        { "ok", "HTTPS://x/b.svg", false },
        { "ok", "http://x/b.svg", false },
        { "", "https://x/b.svg", false },
    };
    for (auto& c : cases)
    {
        auto* n = new juce::DynamicObject();
        n->setProperty ("id", c.id);
        n->setProperty ("image", c.image);
        juce::Array<juce::var> list { juce::var (n), juce::var ("not an object") };
        auto* root = new juce::DynamicObject();
        juce::Array<juce::var> products;
        auto* p = new juce::DynamicObject();
        p->setProperty ("id", "a");
        products.add (juce::var (p));
        root->setProperty ("products", products);
        root->setProperty ("notices", list);
        auto s = parsed (juce::JSON::toString (juce::var (root)));
        EXPECT_EQ (s.notices.size(), c.kept ? 1u : 0u) << c.id << " " << c.image;
    }

    auto s = parsed (withProduct (R"({"id":"a"})", R"(,"notices":[{"id":"n1","image":"https://x"},{"id":"n2","image":"https://x","priority":"7"},{"id":"n3","image":"https://x","priority":2.9}])"));
    ASSERT_EQ (s.notices.size(), 3u);
    EXPECT_EQ (s.notices[0].priority, 0);
    EXPECT_EQ (s.notices[1].priority, 7);
    EXPECT_EQ (s.notices[2].priority, 2);
}

TEST (Catalog, ManagerEntryAndSizes)
{
    auto s = parsed (withProduct (R"({"id":"a"})", R"(,"manager":{"macos":{"version":"1.1.0","minSupported":"1.0.0","size":1234.9,"changelog":["one","two"],"sha256":"ab"}})"));
    EXPECT_EQ (s.manager.version, "1.1.0");
    EXPECT_EQ (s.manager.size, 1234);
    EXPECT_EQ (s.manager.changelog.joinIntoString ("|"), "one|two");

    EXPECT_EQ (parsed (withProduct (R"({"id":"a"})", R"(,"manager":{"macos":{"size":"5000"}})")).manager.size, 5000);
    EXPECT_EQ (parsed (withProduct (R"({"id":"a"})", R"(,"manager":{"macos":{}}})")).manager.size, 0);
    auto noMac = parsed (withProduct (R"({"id":"a"})", R"(,"manager":{"version":"9"}})"));
    EXPECT_TRUE (noMac.manager.version.isEmpty());
    EXPECT_TRUE (noMac.manager.changelog.isEmpty());
}

TEST (Catalog, ReleaseDocuments)
{
    auto releases = CatalogReader::parseReleases (R"({"releases":[
        {"version":"2.0.0","artifacts":[{"url":"https://d/a.pkg","size":"10"},{"kind":"zip"},{"url":""}],
         "changelog":{"en":["first","second"],"de":["erste"]}},
        {"channel":"beta","artifacts":[{"url":"https://d/b.pkg"}]},
        {"version":"1.9.0","channel":"beta","yanked":true,"changelog":["plain array"]},
        "not an object",
        {"version":"1.0","artifacts":[{"url":"only-dropped","kind":null}],"changelog":{"de":["x"]}}
    ]})");
    ASSERT_EQ (releases.size(), 3u);
    EXPECT_EQ (releases[0].channel, "stable");
    ASSERT_EQ (releases[0].artifacts.size(), 1u);
    EXPECT_EQ (releases[0].artifacts[0].kind, "installer");
    EXPECT_EQ (releases[0].artifacts[0].size, 10);
    EXPECT_EQ (releases[0].changelog.joinIntoString ("|"), "first|second");
    EXPECT_TRUE (releases[1].yanked);
    EXPECT_TRUE (releases[1].changelog.isEmpty());
    EXPECT_EQ (releases[2].artifacts.at (0).kind, "");   // present but null: empty, not the default
    EXPECT_TRUE (releases[2].changelog.isEmpty());

    for (auto bad : { "", "[]", "{\"releases\":{}}", "nonsense" })
        EXPECT_TRUE (CatalogReader::parseReleases (bad).empty()) << bad;
}

TEST (Catalog, HostileDocumentsNeverCrash)
{
    CatalogSnapshot out;
    std::string deep (100000, '[');
    EXPECT_FALSE (hub::ReleaseIndex::parseCatalog ("{\"products\":" + juce::String (deep), out));
    EXPECT_TRUE (CatalogReader::parseReleases ("{\"releases\":" + juce::String (deep)).empty());

    // The parser also takes strings in single quotes: a double quote inside one, or
    // closing brackets inside one, must not hide the deep nesting that follows.
    const juce::String closers = juce::String::repeatedString ("}", 5000);
    for (auto prefix : { juce::String ("{\"products\":['\"', "), "{\"products\":['" + closers + "', ",
                         juce::String ("{\"products\":[\"\\\"\", ") })
    {
        EXPECT_FALSE (hub::ReleaseIndex::parseCatalog (prefix + juce::String (deep), out)) << prefix;
        EXPECT_TRUE (CatalogReader::parseReleases (prefix.replace ("products", "releases") + juce::String (deep)).empty());
    }

    // Brackets inside strings are text, not nesting; a deep but reasonable document reads.
    const auto bracketsInText = withProduct (R"({"id":"a","name":")" + juce::String::repeatedString ("[{", 5000) + R"("})");
    EXPECT_EQ (parsed (bracketsInText).products.at (0).name.length(), 10000);
    const auto nested = juce::String::repeatedString ("[", CatalogReader::maxJsonDepth - 3)
                      + juce::String::repeatedString ("]", CatalogReader::maxJsonDepth - 3);
    EXPECT_EQ (parsed (withProduct (R"({"id":"a","tagline":)" + nested + "}")).products.size(), 1u);
    EXPECT_FALSE (hub::ReleaseIndex::parseCatalog (withProduct (R"({"id":"a","tagline":[)" + nested + "]}"), out));

    std::string many = "{\"products\":[";
    for (int i = 0; i < 20000; ++i)
        many += (i ? "," : "") + std::string ("{\"id\":\"p") + std::to_string (i) + "\",\"name\":[1,2,{\"x\":null}],\"latest\":7}";
    many += "],\"notices\":\"x\",\"manager\":[]}";
    ASSERT_TRUE (hub::ReleaseIndex::parseCatalog (juce::String (many), out));
    EXPECT_EQ (out.products.size(), 20000u);
    EXPECT_TRUE (out.products[0].name.isEmpty());
}

TEST (Catalog, WrongTypesEverywhereReadAsEmpty)
{
    // Every field of every record given as each of the wrong kinds of value: the
    // catalog still reads, texts are empty (no renderings of containers), numbers 0.
    for (auto wrong : { "[]", "{}", "[1,2]", "{\"x\":1}", "null" })
    {
        const juce::String w (wrong);
        juce::String product = R"({"id":"a")";
        for (auto key : { "name", "tagline", "mascot", "mascotModule", "mascotMotion", "landingUrl", "shopUrl", "latest" })
            product << ",\"" << key << "\":" << w;
        product << "}";
        juce::String manager = "{\"version\":" + w;
        for (auto key : { "minSupported", "released", "filename", "url", "sha256", "size", "changelog" })
            manager << ",\"" << key << "\":" << w;
        manager << "}";
        juce::String notice = R"({"id":"n","image":"https://x/n.svg")";
        for (auto key : { "url", "from", "until", "priority" })
            notice << ",\"" << key << "\":" << w;
        notice << "}";

        auto s = parsed (withProduct (product, R"(,"manager":{"macos":)" + manager + R"(},"notices":[)" + notice + "]"));
        auto& p = s.products.at (0);
        for (auto& t : { p.name, p.tagline, p.mascot, p.mascotModule, p.mascotMotion, p.landingUrl, p.shopUrl,
                         p.latestStable, p.latestBeta, s.manager.version, s.manager.url, s.manager.sha256 })
            EXPECT_EQ (t, "") << wrong;
        EXPECT_EQ (s.manager.size, 0) << wrong;
        EXPECT_EQ (s.manager.changelog.size(), w == "[1,2]" ? 2 : 0) << wrong;
        ASSERT_EQ (s.notices.size(), 1u) << wrong;
        EXPECT_EQ (s.notices[0].url + s.notices[0].from + s.notices[0].until, "") << wrong;
        EXPECT_EQ (s.notices[0].priority, 0) << wrong;

        juce::String release = "{\"version\":\"1.0\"";
        for (auto key : { "channel", "released", "buildRef", "yanked", "changelog", "artifacts" })
            release << ",\"" << key << "\":" << w;
        release << "}";
        juce::String artifact = R"({"url":"https://d/a.pkg")";
        for (auto key : { "kind", "platform", "filename", "sha256", "size", "minOs" })
            artifact << ",\"" << key << "\":" << w;
        artifact << "}";
        auto releases = CatalogReader::parseReleases (R"({"releases":[)" + release + R"(,{"version":"2.0","artifacts":[)" + artifact + "]}]}");
        ASSERT_EQ (releases.size(), 2u) << wrong;
        EXPECT_EQ (releases[0].channel + releases[0].released + releases[0].buildRef, "") << wrong;
        EXPECT_TRUE (releases[0].changelog.isEmpty() && releases[0].artifacts.empty()) << wrong;
        auto& a = releases[1].artifacts.at (0);
        EXPECT_EQ (a.kind + a.platform + a.filename + a.sha256 + a.minOs, "") << wrong;
        EXPECT_EQ (a.size, 0) << wrong;
    }
}

TEST (Catalog, ProductIdsThatCannotNameFiles)
{
    for (auto id : { "a/b", "..", ".", "../x", "a\\b", ".hidden", "", "~", "~root", "~/x" })
        EXPECT_FALSE (CatalogReader::isSafeFileStem (id)) << id;
    EXPECT_FALSE (CatalogReader::isSafeFileStem (juce::String::repeatedString ("a", 201)));
    EXPECT_FALSE (CatalogReader::isSafeFileStem (juce::String::charToString (1) + "x"));
    for (auto id : { "grumbot-2", "a.b", "Grumbot 2" })
        EXPECT_TRUE (CatalogReader::isSafeFileStem (id)) << id;
}

TEST (Catalog, CharactersOutsideTheBasicPlaneSurviveReadingAndTheCacheFile)
{
    const auto emoji = juce::String::fromUTF8 ("\xF0\x9F\x8E\x9B");            // U+1F39B, written as a pair of escapes
    const auto letter = juce::String::fromUTF8 ("\xF0\x90\x90\x80");           // U+10400, a letter
    const auto replacement = juce::String::fromUTF8 ("\xEF\xBF\xBD");
    struct Case { const char* json; juce::String tagline; };
    const Case cases[] = {
        { R"("knobs \ud83c\udf9b")", "knobs " + emoji },
        { R"("\uD83C\uDF9B")", emoji },
        { R"('single \ud83c\udf9b')", "single " + emoji },
        { R"("lone \ud800 high")", "lone " + replacement + " high" },
        { R"("lone \udc00")", "lone " + replacement },
        { R"("high then text \ud83cx")", "high then text " + replacement + "x" },
        { R"("escaped backslash \\ud83c")", "escaped backslash \\ud83c" },
        { R"("plain \u00e9")", juce::String::fromUTF8 ("plain \xC3\xA9") },
    };
    for (auto& c : cases)
        EXPECT_EQ (parsed (withProduct (R"({"id":"a","tagline":)" + juce::String (c.json) + "}")).products.at (0).tagline, c.tagline) << c.json;

    // The framework's writer escapes such characters as pairs; the cache file must read
    // back as what was fetched, notice ids (and so banner names) included.
    test::TempFolder dir;
    const auto catalogText = withProduct (R"({"id":"a","tagline":"knobs )" + emoji + R"("})",
                                          R"(,"notices":[{"id":")" + letter + R"(-sale","image":"https://x/b.svg"}])");
    const auto original = parsed (catalogText);
    ASSERT_EQ (original.notices.size(), 1u);
    ASSERT_TRUE (hub::ReleaseIndex::writeCacheFile (dir / "registry-cache.json", "t", CatalogReader::parseJson (catalogText)));
    EXPECT_TRUE ((dir / "registry-cache.json").loadFileAsString().containsIgnoreCase ("\\ud83c\\udf9b"));
    hub::ReleaseIndex index (dir.dir, "https://localhost:1");
    ASSERT_TRUE (index.loadCached());
    const auto back = index.snapshot();
    EXPECT_EQ (back.products.at (0).tagline, "knobs " + emoji);
    ASSERT_EQ (back.notices.size(), 1u);
    EXPECT_EQ (back.notices[0].id, letter + "-sale");
}
