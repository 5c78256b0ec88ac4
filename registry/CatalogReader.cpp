#include "registry/CatalogReader.h"
#include "scan/InstallScan.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace hub
{
    namespace
    {
        const juce::var& member (const juce::var& object, const char* key)
        {
            static const juce::var none;
            if (auto* o = object.getDynamicObject())
                if (! object.isArray())
                    if (auto* v = o->getProperties().getVarPointer (key))
                        return *v;
            return none;
        }

        bool has (const juce::var& object, const char* key)
        {
            if (auto* o = object.getDynamicObject())
                return ! object.isArray() && o->hasProperty (key);
            return false;
        }

        bool isObject (const juce::var& v) { return v.getDynamicObject() != nullptr && ! v.isArray(); }

        // A value's text form; the default only when the key is absent.
        juce::String text (const juce::var& object, const char* key, const juce::String& fallback = {})
        {
            if (! has (object, key))
                return fallback;
            const auto& v = member (object, key);
            if (v.isVoid() || v.isUndefined())
                return {};
            if (v.isObject() || v.isArray())
                return {};
            return v.toString();
        }

        juce::int64 size (const juce::var& object, const char* key)
        {
            if (! has (object, key))
                return 0;
            const auto& v = member (object, key);
            double d = 0;
            if (v.isString())
                d = v.toString().trim().getDoubleValue();
            else if (v.isInt() || v.isInt64() || v.isDouble() || v.isBool())
                d = (double) v;
            if (! std::isfinite (d))
                return 0;
            d = juce::jlimit (-9.0e18, 9.0e18, d);
            return (juce::int64) d;   // truncated toward zero
        }

        int integer (const juce::var& object, const char* key)
        {
            if (! has (object, key))
                return 0;
            const auto& v = member (object, key);
            if (v.isString())
                return v.toString().trim().getIntValue();
            if (v.isInt() || v.isInt64() || v.isDouble() || v.isBool())
            {
                const double d = (double) v;
                if (! std::isfinite (d)) return 0;
                return (int) juce::jlimit ((double) std::numeric_limits<int>::min(), (double) std::numeric_limits<int>::max(), d);
            }
            return 0;
        }

        CatalogProduct readProduct (const juce::var& p)
        {
            CatalogProduct c;
            if (! isObject (p))
                return c;
            c.id = text (p, "id");
            c.name = text (p, "name", c.id);
            c.tagline = text (p, "tagline");
            c.mascot = text (p, "mascot");
            c.mascotModule = text (p, "mascotModule");
            c.mascotMotion = text (p, "mascotMotion", "walk");
            c.landingUrl = text (p, "landingUrl");

            const auto& shop = member (p, "shopUrl");
            if (isObject (shop))
            {
                const auto de = text (shop, "de");
                c.shopUrl = de.isNotEmpty() ? de : text (shop, "en");
            }

            const auto& latest = member (p, "latest");
            if (isObject (latest))
            {
                c.latestStable = text (latest, "stable");
                c.latestBeta = text (latest, "beta");
            }
            return c;
        }

        // Letters and digits of every script, whatever the process locale is.
        bool isLetterOrDigit (juce::juce_wchar c)
        {
            if (c < 128)
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            static const locale_t utf8 = ::newlocale (LC_CTYPE_MASK, "C.UTF-8", (locale_t) 0);
            if (utf8 == (locale_t) 0)
                return juce::CharacterFunctions::isLetterOrDigit (c);
            return ::iswalnum_l ((wint_t) c, utf8) != 0;
        }

        int hex4 (juce::String::CharPointerType p)
        {
            int v = 0;
            for (int i = 0; i < 4; ++i)
            {
                const auto d = juce::CharacterFunctions::getHexDigitValue (p.getAndAdvance());
                if (d < 0)
                    return -1;
                v = v * 16 + d;
            }
            return v;
        }

        // The framework's JSON writer escapes characters outside the basic plane as two
        // UTF-16 escapes, and its parser turns each escape into a character of its own,
        // so emoji and other such characters would come back as broken text. Inside
        // strings, such pairs are replaced by the character itself; a surrogate escape
        // without its partner becomes U+FFFD.
        juce::String joinSurrogateEscapes (const juce::String& text)
        {
            if (! text.containsIgnoreCase ("\\ud"))
                return text;

            juce::MemoryOutputStream out (text.getNumBytesAsUTF8() + 16);
            juce::juce_wchar quote = 0;
            for (auto p = text.getCharPointer(); ! p.isEmpty();)
            {
                const auto c = p.getAndAdvance();
                if (quote == 0 || c != '\\' || p.isEmpty())
                {
                    if (quote == 0 && (c == '"' || c == '\''))
                        quote = c;
                    else if (c == quote)
                        quote = 0;
                    out.appendUTF8Char (c);
                    continue;
                }

                if (*p == 'u')
                {
                    const auto digits = p + 1;
                    const int high = hex4 (digits);
                    if (high >= 0xD800 && high <= 0xDFFF)
                    {
                        const auto next = digits + 4;
                        int low = -1;
                        if (high <= 0xDBFF && *next == '\\' && next[1] == 'u')
                            low = hex4 (next + 2);
                        if (low >= 0xDC00 && low <= 0xDFFF)
                        {
                            out.appendUTF8Char ((juce::juce_wchar) (0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00)));
                            p = next + 6;
                        }
                        else
                        {
                            out.appendUTF8Char ((juce::juce_wchar) 0xFFFD);
                            p = digits + 4;
                        }
                        continue;
                    }
                }
                out.appendUTF8Char (c);
                out.appendUTF8Char (p.getAndAdvance());
            }
            return out.toUTF8();
        }
    }

    juce::var CatalogReader::parseJson (const juce::String& text)
    {
        // The framework's JSON parser recurses once per level of nesting, so documents
        // nested deeper than any real one are refused before it sees them.
        if (InstallScan::jsonTooDeep (text, maxJsonDepth))
            return {};

        juce::var result;
        if (juce::JSON::parse (joinSurrogateEscapes (text), result).failed())
            return {};
        return result;
    }

    juce::StringArray CatalogReader::toStringArray (const juce::var& value)
    {
        juce::StringArray list;
        if (auto* a = value.getArray())
            for (auto& v : *a)
                list.add (v.isObject() || v.isArray() || v.isVoid() ? juce::String() : v.toString());
        return list;
    }

    bool CatalogReader::isValidNoticeId (const juce::String& id)
    {
        if (id.isEmpty() || id.length() > 80 || id[0] == '.')
            return false;
        for (auto p = id.getCharPointer(); ! p.isEmpty(); ++p)
        {
            const auto c = *p;
            if (! (isLetterOrDigit (c) || c == '-' || c == '.' || c == '_'))
                return false;
        }
        return true;
    }

    bool CatalogReader::isSafeFileStem (const juce::String& id)
    {
        // A leading "~" makes the framework read the name as a home-folder path.
        if (id.isEmpty() || id.startsWithChar ('.') || id.startsWithChar ('~') || id.length() > 200)
            return false;
        for (auto p = id.getCharPointer(); ! p.isEmpty(); ++p)
        {
            const auto c = *p;
            if (c < 32 || c == 127 || c == '/' || c == '\\' || c == ':')
                return false;
        }
        return true;
    }

    bool CatalogReader::parseCatalog (const juce::String& catalogText, CatalogSnapshot& out)
    {
        const auto root = parseJson (catalogText);
        if (! isObject (root))
            return false;

        std::vector<CatalogProduct> products;
        if (auto* list = member (root, "products").getArray())
            for (auto& p : *list)
            {
                auto product = readProduct (p);
                if (product.id.isNotEmpty())
                    products.push_back (std::move (product));
            }
        if (products.empty())
            return false;

        ManagerUpdate manager;
        const auto& mac = member (member (root, "manager"), "macos");
        if (isObject (member (root, "manager")) && isObject (mac))
        {
            manager.version = text (mac, "version");
            manager.minSupported = text (mac, "minSupported");
            manager.released = text (mac, "released");
            manager.filename = text (mac, "filename");
            manager.url = text (mac, "url");
            manager.sha256 = text (mac, "sha256");
            manager.size = size (mac, "size");
            manager.changelog = toStringArray (member (mac, "changelog"));
        }

        std::vector<Notice> notices;
        if (auto* list = member (root, "notices").getArray())
            for (auto& n : *list)
            {
                if (! isObject (n))
                    continue;
                Notice notice;
                notice.id = text (n, "id");
                notice.image = text (n, "image");
                notice.url = text (n, "url");
                notice.from = text (n, "from");
                notice.until = text (n, "until");
                notice.priority = integer (n, "priority");
                if (isValidNoticeId (notice.id) && notice.image.startsWith ("https://"))
                    notices.push_back (std::move (notice));
            }

        out.products = std::move (products);
        out.manager = std::move (manager);
        out.notices = std::move (notices);
        return true;
    }

    std::vector<Release> CatalogReader::parseReleases (const juce::String& docText)
    {
        std::vector<Release> releases;
        if (docText.isEmpty())
            return releases;
        const auto root = parseJson (docText);
        if (! isObject (root))
            return releases;

        if (auto* list = member (root, "releases").getArray())
            for (auto& r : *list)
            {
                if (! isObject (r))
                    continue;
                Release release;
                release.version = text (r, "version");
                release.channel = text (r, "channel", "stable");
                release.released = text (r, "released");
                release.buildRef = text (r, "buildRef");
                release.yanked = has (r, "yanked") && (bool) member (r, "yanked");
                const auto& log = member (r, "changelog");
                if (isObject (log))
                    release.changelog = toStringArray (member (log, "en"));

                if (auto* arts = member (r, "artifacts").getArray())
                    for (auto& a : *arts)
                    {
                        if (! isObject (a))
                            continue;
                        ReleaseArtifact art;
                        art.kind = text (a, "kind", "installer");
                        art.platform = text (a, "platform");
                        art.filename = text (a, "filename");
                        art.url = text (a, "url");
                        art.sha256 = text (a, "sha256");
                        art.size = size (a, "size");
                        art.minOs = text (a, "minOs");
                        if (art.url.isNotEmpty())
                            release.artifacts.push_back (std::move (art));
                    }

                if (release.version.isNotEmpty())
                    releases.push_back (std::move (release));
            }
        return releases;
    }
}
