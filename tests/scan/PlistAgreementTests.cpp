// The property-list reader walks the text itself instead of building a tree with the
// framework's XML parser (which loops forever or overflows its stack on some broken
// files). On well-formed documents both must give the same answer; this checks that
// against the straightforward tree-based reading on many generated documents.
#include "scan/InstallScan.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

using hub::InstallScan;

namespace
{
    // Value after the first matching key of the root's first "dict" child, read from
    // the framework's XML tree.
    juce::String treeReading (const juce::String& text, const juce::String& key)
    {
        juce::XmlDocument doc (text);
        auto root = doc.getDocumentElement();
        if (root == nullptr)
            return {};

        const juce::XmlElement* dict = nullptr;
        for (auto* c : root->getChildIterator())
            if (! c->isTextElement() && c->getTagName().equalsIgnoreCase ("dict")) { dict = c; break; }
        if (dict == nullptr)
            return {};

        for (auto* c : dict->getChildIterator())
        {
            if (c->isTextElement() || ! c->getTagName().equalsIgnoreCase ("key") || c->getAllSubText().trim() != key)
                continue;
            for (auto* v = c->getNextElement(); v != nullptr; v = v->getNextElement())
                if (! v->isTextElement())
                    return v->getAllSubText().trim();
            return {};
        }
        return {};
    }

    struct Generator
    {
        juce::Random rng;
        explicit Generator (juce::int64 seed) : rng (seed) {}

        template <size_t N>
        const char* pick (const char* const (&options)[N]) { return options[rng.nextInt ((int) N)]; }

        juce::String gap()
        {
            static const char* const gaps[] = { "", "", "\n", "\r\n\t", "  ", "<!-- note -->", "\n<!--x-->\n" };
            return pick (gaps);
        }

        juce::String keyElement()
        {
            static const char* const tags[] = { "key", "KEY", "Key" };
            static const char* const texts[] = { "A", "A", "B", "a", " A\n", "&#65;", "<![CDATA[A]]>", "A<!-- x -->",
                                                 "<b>A</b>", "A<b/>", "C", "", "&amp;A", "\r\nB\r\n" };
            const juce::String tag = pick (tags);
            return "<" + tag + ">" + pick (texts) + "</" + tag + ">";
        }

        juce::String valueElement()
        {
            static const char* const texts[] = { "one", "  two  ", "o<b>n</b>e", "a <b/> c", "x &amp; y", "&LT;tag&gt;",
                                                 "<![CDATA[ <raw> ]]>", "line\r\nbreak\rend", "", "a<!--c-->b",
                                                 "a\n<i>x</i>\n<i>y</i>\nb", "&#x263A; smile", "caf\xc3\xa9",
                                                 "<![CDATA[ ]]>x", " <i> </i> " };
            switch (rng.nextInt (6))
            {
                case 0:  return "<true/>";
                case 1:  return "<integer>" + juce::String (rng.nextInt (1000)) + "</integer>";
                case 2:  return "<dict><key>A</key><string>nested</string></dict>";
                case 3:  return "<array><string>1</string><string>2</string></array>";
                default: return juce::String ("<string>") + juce::String::fromUTF8 (pick (texts)) + "</string>";
            }
        }

        juce::String document()
        {
            juce::String doc;
            if (rng.nextBool()) doc << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
            if (rng.nextBool())
                doc << "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
            doc << gap();

            static const char* const roots[] = { "plist version=\"1.0\"", "PLIST", "root a='1' b=\"x>y\"" };
            const juce::String root = pick (roots);
            doc << "<" << root << ">" << gap();

            switch (rng.nextInt (4))
            {
                case 0:  doc << "<array><dict><key>A</key><string>early</string></dict></array>" << gap(); break;
                case 1:  doc << "<string>A</string>" << gap(); break;
                default: break;
            }

            static const char* const dicts[] = { "dict", "dict", "DICT", "Dict" };
            const juce::String dict = pick (dicts);
            doc << "<" << dict << ">";
            for (int n = rng.nextInt (7); --n >= 0;)
            {
                switch (rng.nextInt (5))
                {
                    case 0: case 1: doc << keyElement(); break;
                    case 2: case 3: doc << valueElement(); break;
                    default:        doc << (rng.nextBool() ? "junk" : "<!-- between -->"); break;
                }
                doc << gap();
            }
            doc << "</" << dict << ">" << gap();

            if (rng.nextBool())
                doc << "<dict><key>A</key><string>second</string><key>B</key><string>second</string></dict>";
            doc << "</" << root.upToFirstOccurrenceOf (" ", false, false) << ">" << gap();
            return doc;
        }
    };
}

TEST (PlistAgreement, GeneratedDocumentsReadAsTheXmlTreeReadsThem)
{
    Generator gen (20261211);
    int withValue = 0;
    for (int i = 0; i < 3000; ++i)
    {
        const auto doc = gen.document();
        for (auto key : { "A", "B", "a", "C", "" })
        {
            const auto expected = treeReading (doc, key);
            ASSERT_EQ (InstallScan::readPlistStringFromText (doc, key), expected)
                << "key \"" << key << "\" in document " << i << ":\n" << doc;
            withValue += expected.isNotEmpty() ? 1 : 0;
        }
    }
    // The generator must actually reach values, not only misses.
    EXPECT_GT (withValue, 1000);
}

TEST (PlistAgreement, FileEncodings)
{
    test::TempFolder tmp;
    const char* doc = "<?xml version=\"1.0\"?>\r\n<plist><dict>\r\n<key>CFBundleIdentifier</key>\r\n"
                             "<string>de.tarvo.hissmoth</string>\r\n<key>Name</key><string>Gr\xc3\xbc\xc3\x9f" "e\r\nzwei</string></dict></plist>\r\n";
    const auto text = juce::String::fromUTF8 (doc);

    struct Case { const char* name; bool utf16; bool bigEndian; bool bom; };
    const Case cases[] = { { "UTF-8", false, false, false }, { "UTF-8 with mark", false, false, true },
                           { "UTF-16 LE", true, false, true }, { "UTF-16 BE", true, true, true } };
    for (auto& c : cases)
    {
        juce::MemoryOutputStream bytes;
        if (! c.utf16)
        {
            if (c.bom) bytes.write ("\xef\xbb\xbf", 3);
            bytes << text;
        }
        else
        {
            bytes.write (c.bigEndian ? "\xfe\xff" : "\xff\xfe", 2);
            for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
            {
                const auto unit = (juce::uint16) *p;   // all characters here are in the basic plane
                const char pair[2] = { (char) (c.bigEndian ? unit >> 8 : unit & 0xff), (char) (c.bigEndian ? unit & 0xff : unit >> 8) };
                bytes.write (pair, 2);
            }
        }
        auto f = tmp / "Info.plist";
        ASSERT_TRUE (f.replaceWithData (bytes.getData(), bytes.getDataSize()));
        SCOPED_TRACE (c.name);
        EXPECT_EQ (InstallScan::readPlistString (f, "CFBundleIdentifier"), "de.tarvo.hissmoth");
        EXPECT_EQ (InstallScan::readPlistString (f, "Name"), juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e\nzwei"));
    }
}
