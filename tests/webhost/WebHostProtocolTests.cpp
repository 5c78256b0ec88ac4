// The line protocol with the web view helper: framing, base64, the helper's
// messages and the page's call documents, and the lines sent back.
#include "platform/WebHostLineReader.h"
#include "platform/WebHostProtocol.h"

#include <gtest/gtest.h>

using tarvo::WebHostLineReader;
using tarvo::WebHostProtocol;
using Kind = WebHostProtocol::HelperMessage::Kind;

namespace
{
    std::vector<std::string> readAll (WebHostLineReader& reader, const std::string& bytes, size_t chunk)
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < bytes.size(); i += chunk)
            reader.feed (bytes.data() + i, std::min (chunk, bytes.size() - i),
                         [&] (std::string_view l) { lines.emplace_back (l); });
        return lines;
    }

    std::string b64 (const std::string& s) { return WebHostProtocol::encodeBase64 (s.data(), s.size()); }
}

TEST (WebHostLineReader, SplitsTheSameWayWhateverTheChunking)
{
    const std::string stream = "PLUG 12\nGET 1 Lw==\n\nCALL 1 e30=\nLOADED\n";
    const std::vector<std::string> expected { "PLUG 12", "GET 1 Lw==", "", "CALL 1 e30=", "LOADED" };
    for (size_t chunk : { (size_t) 1, (size_t) 2, (size_t) 5, (size_t) 7, stream.size() })
    {
        WebHostLineReader reader (100);
        EXPECT_EQ (readAll (reader, stream, chunk), expected) << "chunk " << chunk;
        EXPECT_EQ (reader.getBufferedBytes(), 0u);
    }
}

TEST (WebHostLineReader, DropsAnOverLongLineWholeAndKeepsTheNext)
{
    // The tail of a dropped line must never come out as a line of its own, however
    // the bytes arrive; a line exactly at the limit still passes.
    const std::string longLine (25, 'x');
    const std::string stream = "a\n" + longLine + " GET 1 Lw==\n" + std::string (10, 'y') + "\nb\n";
    for (size_t chunk : { (size_t) 1, (size_t) 3, (size_t) 8, stream.size() })
    {
        WebHostLineReader reader (10);
        EXPECT_EQ (readAll (reader, stream, chunk), (std::vector<std::string> { "a", std::string (10, 'y'), "b" }))
            << "chunk " << chunk;
        EXPECT_EQ (reader.getDroppedLineCount(), 1u);
        EXPECT_LE (reader.getBufferedBytes(), 10u);
    }
}

TEST (WebHostProtocol, Base64RoundTripsEveryLengthAndByte)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += (char) i;
    for (size_t n = 0; n <= all.size(); n += (n < 8 ? 1 : 37))
    {
        const auto part = all.substr (0, n);
        const auto text = b64 (part);
        EXPECT_EQ (text, juce::Base64::toBase64 (part.data(), part.size()).toStdString());
        const auto back = WebHostProtocol::decodeBase64 (text);
        ASSERT_TRUE (back.has_value()) << n;
        EXPECT_EQ (*back, part);
    }
}

TEST (WebHostProtocol, Base64DecodingIsStrict)
{
    for (const char* bad : { "A", "AB=", "A===", "=AAA", "AA=A", "AB==AB==", "AB C", "AB\nC", "AB-_" })
        EXPECT_FALSE (WebHostProtocol::decodeBase64 (bad).has_value()) << bad;
    EXPECT_EQ (WebHostProtocol::decodeBase64 ("QQ=="), std::optional<std::string> ("A"));
    EXPECT_EQ (WebHostProtocol::decodeBase64 (""), std::optional<std::string> (""));
}

TEST (WebHostProtocol, HelperLines)
{
    struct Case { std::string line; Kind kind; };
    const std::vector<Case> cases {
        { "PLUG 4194307", Kind::plug },
        { "LOADED", Kind::loaded },
        { "GET 7 " + b64 ("/bundle.js?v=1"), Kind::get },
        { "CALL 2 " + b64 (R"({"id":1,"name":"getState","args":[]})"), Kind::call },
        // malformed: all dropped
        { "PLUG 0", Kind::invalid },
        { "PLUG 99999999999", Kind::invalid },
        { "PLUG -5", Kind::invalid },
        { "PLUG 12 13", Kind::invalid },
        { "GET 7", Kind::invalid },
        { "GET x " + b64 ("/"), Kind::invalid },
        { "GET 7 not*base64", Kind::invalid },
        { "GET 7  " + b64 ("/"), Kind::invalid },
        { "GET 7 " + b64 ("/") + " extra", Kind::invalid },
        { "GET 99999999999999999999 " + b64 ("/"), Kind::invalid },
        { "CALL " + b64 ("{}"), Kind::invalid },
        { "CALL 1 " + b64 ("{}") + " ", Kind::invalid },
        { "call 1 " + b64 ("{}"), Kind::invalid },
        { "LOADED ", Kind::invalid },
        { "", Kind::invalid },
        { std::string ("GET 1 L\0w==", 11), Kind::invalid },
    };
    for (auto& c : cases)
        EXPECT_EQ (WebHostProtocol::parseHelperLine (c.line).kind, c.kind) << c.line;

    const auto get = WebHostProtocol::parseHelperLine ("GET 7 " + b64 ("/mascots/\xc3\xa9.svg?v=1"));
    EXPECT_EQ (get.request, "7");
    EXPECT_EQ (get.path, juce::String (juce::CharPointer_UTF8 ("/mascots/\xc3\xa9.svg?v=1")));
    EXPECT_EQ (WebHostProtocol::parseHelperLine ("PLUG 4194307").xid, 4194307ul);
    EXPECT_EQ (WebHostProtocol::parseHelperLine ("CALL 12 " + b64 ("{}")).page, "12");
}

TEST (WebHostProtocol, CallDocuments)
{
    struct Case { const char* json; bool valid; };
    const Case cases[] {
        { R"({"id": 1, "name": "getState", "args": []})", true },
        { R"({"id": 0, "name": "x"})", true },
        { R"({"id": 9007199254740992, "name": "x", "args": [1]})", true },
        { R"({"id": 3.0, "name": "x", "args": []})", true },
        { R"({"id": 1.5, "name": "x", "args": []})", false },
        { R"({"id": -1, "name": "x", "args": []})", false },
        { R"({"id": 1e300, "name": "x", "args": []})", false },
        { R"({"id": "1", "name": "x", "args": []})", false },
        { R"({"name": "x", "args": []})", false },
        { R"({"id": 1, "name": "", "args": []})", false },
        { R"({"id": 1, "name": 5, "args": []})", false },
        { R"({"id": 1, "name": "x", "args": {"0": 1}})", false },
        { R"({"id": 1, "name": "x", "args": "a"})", false },
        { R"([1, "x", []])", false },
        { R"({"id": 1, "name": "x", "args": [)", false },
        { "", false },
        { "null", false },
    };
    for (auto& c : cases)
        EXPECT_EQ (WebHostProtocol::parseCall (c.json).has_value(), c.valid) << c.json;

    const auto call = WebHostProtocol::parseCall (R"({"id": 42, "name": "startInstall", "args": ["grumbot", {"a": [1, 2]}, null]})");
    ASSERT_TRUE (call.has_value());
    EXPECT_EQ (call->id, 42);
    EXPECT_EQ (call->name, "startInstall");
    ASSERT_EQ (call->args.size(), 3);
    EXPECT_EQ (call->args[0].toString(), "grumbot");
    EXPECT_EQ (call->args[1]["a"][1], juce::var (2));
}

TEST (WebHostProtocol, AnswerLines)
{
    auto fields = [] (const std::string& line)
    {
        EXPECT_EQ (line.back(), '\n');
        return juce::StringArray::fromTokens (juce::String (line).trimEnd(), " ", "");
    };
    auto text = [] (const juce::String& b)
    {
        const auto raw = WebHostProtocol::decodeBase64 (b.toStdString()).value_or ("<bad base64>");
        return juce::String::fromUTF8 (raw.data(), (int) raw.size());
    };

    auto obj = std::make_unique<juce::DynamicObject>();
    obj->setProperty ("ok", true);
    obj->setProperty ("error", juce::String (juce::CharPointer_UTF8 ("a \"quoted\" \xe2\x80\xa8 line")));
    auto resolved = fields (WebHostProtocol::resolveLine ("3", 17, juce::var (obj.release())));
    ASSERT_EQ (resolved.size(), 5);
    EXPECT_EQ (resolved.joinIntoString (" ", 0, 4), "RET 3 17 1");
    juce::var back;
    ASSERT_TRUE (juce::JSON::parse (text (resolved[4]), back).wasOk());
    EXPECT_EQ (back["error"].toString(), juce::String (juce::CharPointer_UTF8 ("a \"quoted\" \xe2\x80\xa8 line")));

    // No value: an empty json text, which the page sees as undefined.
    EXPECT_EQ (WebHostProtocol::resolveLine ("3", 1, juce::var()), "RET 3 1 1 \n");

    auto rejected = fields (WebHostProtocol::rejectLine ("0", 5, "No native function named x"));
    EXPECT_EQ (rejected.joinIntoString (" ", 0, 4), "RET 0 5 0");
    EXPECT_EQ (text (rejected[4]), "\"No native function named x\"");

    tarvo::WebBrowserComponent::Resource svg;
    svg.data = { std::byte { '<' }, std::byte { 0 }, std::byte { 0xff } };
    svg.mimeType = "image/svg+xml";
    auto served = fields (WebHostProtocol::resourceLine ("9", svg));
    ASSERT_EQ (served.size(), 5);
    EXPECT_EQ (served.joinIntoString (" ", 0, 3), "RES 9 200");
    EXPECT_EQ (text (served[3]), "image/svg+xml");
    EXPECT_EQ (*WebHostProtocol::decodeBase64 (served[4].toStdString()), std::string ("<\0\xff", 3));

    EXPECT_EQ (fields (WebHostProtocol::resourceLine ("9", std::nullopt)).joinIntoString (" ", 0, 3), "RES 9 404");

    EXPECT_EQ (text (fields (WebHostProtocol::loadLine ("tarvo://app/")).joinIntoString ("", 1, 1)), "tarvo://app/");
}
