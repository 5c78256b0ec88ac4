#include "scan/InstallScan.h"

#include <climits>
#include <limits>

namespace hub
{
    void splitComponent (const juce::String& component, int& number, juce::String& suffix)
    {
        auto p = component.getCharPointer();
        int n = 0;
        juce::int64 value = 0;
        for (auto c = p; ! c.isEmpty(); ++c)
        {
            const auto ch = *c;
            if (ch < '0' || ch > '9')
                break;
            value = juce::jmin ((juce::int64) INT_MAX, value * 10 + (ch - '0'));
            ++n;
        }
        number = (int) value;
        suffix = n > 0 ? component.substring (n) : component;
    }

    namespace
    {
        // Cuts at every ".", keeping empty components; the empty text has none.
        juce::StringArray components (const juce::String& text)
        {
            juce::StringArray parts;
            if (text.isEmpty())
                return parts;
            int start = 0;
            for (;;)
            {
                const int dot = text.indexOfChar (start, '.');
                if (dot < 0)
                {
                    parts.add (text.substring (start));
                    return parts;
                }
                parts.add (text.substring (start, dot));
                start = dot + 1;
            }
        }

        int compareCodePoints (const juce::String& a, const juce::String& b)
        {
            auto pa = a.getCharPointer();
            auto pb = b.getCharPointer();
            for (;;)
            {
                const auto ca = pa.getAndAdvance();
                const auto cb = pb.getAndAdvance();
                if (ca != cb)
                    return ca < cb ? -1 : 1;   // the end (0) sorts before any character
                if (ca == 0)
                    return 0;
            }
        }

        // Reads a small file whole, as text; empty for missing, folders, unreadable
        // or oversized files (nothing past the limit is read, also when the file grows
        // while it is read). UTF-16 files with a byte-order mark are decoded; other
        // bytes that are not valid UTF-8 become "?".
        juce::String readSmallText (const juce::File& f)
        {
            if (! f.existsAsFile())
                return {};
            const auto size = f.getSize();
            if (size <= 0 || size > InstallScan::maxReadBytes)
                return {};

            juce::FileInputStream in (f);
            if (! in.openedOk())
                return {};

            juce::MemoryBlock data;
            if (in.readIntoMemoryBlock (data, InstallScan::maxReadBytes + 1) > (size_t) InstallScan::maxReadBytes)
                return {};

            const auto* bytes = static_cast<const unsigned char*> (data.getData());
            if (data.getSize() >= 2 && ((bytes[0] == 0xff && bytes[1] == 0xfe) || (bytes[0] == 0xfe && bytes[1] == 0xff)))
                return juce::String::createStringFromData (data.getData(), (int) data.getSize());

            return InstallScan::textFromBytes (static_cast<const char*> (data.getData()), data.getSize());
        }

        juce::String textOf (const juce::var& v)
        {
            if (v.isString() || v.isInt() || v.isInt64() || v.isDouble())
                return v.toString();
            return {};
        }

        constexpr int maxNesting = 256;
    }

    namespace
    {
        // Length of the well-formed UTF-8 sequence at s, or 0. Overlong forms, stray
        // continuation bytes, surrogates and values above U+10FFFF are not well-formed;
        // the framework's own check lets some of them through, and its string functions
        // then step past the end of the text.
        size_t sequenceLength (const unsigned char* s, size_t left)
        {
            const auto b = s[0];
            const auto cont = [&] (size_t k, unsigned char lo = 0x80, unsigned char hi = 0xbf) {
                return k < left && s[k] >= lo && s[k] <= hi;
            };
            if (b < 0x80)                          return 1;
            if (b >= 0xc2 && b <= 0xdf)            return cont (1) ? 2 : 0;
            if (b == 0xe0)                         return cont (1, 0xa0) && cont (2) ? 3 : 0;
            if (b == 0xed)                         return cont (1, 0x80, 0x9f) && cont (2) ? 3 : 0;
            if (b >= 0xe1 && b <= 0xef)            return cont (1) && cont (2) ? 3 : 0;
            if (b == 0xf0)                         return cont (1, 0x90) && cont (2) && cont (3) ? 4 : 0;
            if (b >= 0xf1 && b <= 0xf3)            return cont (1) && cont (2) && cont (3) ? 4 : 0;
            if (b == 0xf4)                         return cont (1, 0x80, 0x8f) && cont (2) && cont (3) ? 4 : 0;
            return 0;
        }
    }

    juce::String InstallScan::textFromBytes (const char* bytes, size_t size)
    {
        if (size > (size_t) std::numeric_limits<int>::max())
            return {};

        const auto* s = reinterpret_cast<const unsigned char*> (bytes);
        std::string clean;
        clean.reserve (size);
        for (size_t i = 0; i < size;)
        {
            const auto len = s[i] == 0 ? 0 : sequenceLength (s + i, size - i);
            if (len == 0)
            {
                clean += '?';
                ++i;
            }
            else
            {
                clean.append (bytes + i, len);
                i += len;
            }
        }
        return juce::String::fromUTF8 (clean.data(), (int) clean.size());
    }

    bool InstallScan::jsonTooDeep (const juce::String& text, int limit)
    {
        // Strings may be quoted with either quote mark; the other one inside a string
        // is plain text and must not hide the brackets that follow it.
        int depth = 0;
        juce::juce_wchar quote = 0;
        for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
        {
            const auto c = *p;
            if (quote != 0)
            {
                if (c == '\\') { ++p; if (p.isEmpty()) break; }
                else if (c == quote) quote = 0;
                continue;
            }
            if (c == '"' || c == '\'') quote = c;
            else if (c == '[' || c == '{') { if (++depth > limit) return true; }
            else if ((c == ']' || c == '}') && depth > 0) --depth;
        }
        return false;
    }

    int InstallScan::compareVersions (const juce::String& a, const juce::String& b)
    {
        const auto ca = components (a);
        const auto cb = components (b);
        const int m = juce::jmax (ca.size(), cb.size());

        for (int i = 0; i < m; ++i)
        {
            int na = 0, nb = 0;
            juce::String sa, sb;
            splitComponent (i < ca.size() ? ca[i] : juce::String(), na, sa);
            splitComponent (i < cb.size() ? cb[i] : juce::String(), nb, sb);

            if (na != nb)
                return na < nb ? -1 : 1;

            if (sa != sb)
            {
                if (sa.isEmpty()) return 1;
                if (sb.isEmpty()) return -1;
                return compareCodePoints (sa, sb);
            }
        }
        return 0;
    }

    juce::String InstallScan::highestOf (const juce::StringArray& versions)
    {
        juce::String best;
        for (auto& v : versions)
            if (best.isEmpty() || compareVersions (v, best) > 0)
                if (v.isNotEmpty() || best.isEmpty())
                    best = v;
        return best;
    }

    namespace
    {
        // A small XML reader for property lists. It walks the text once, with no
        // recursion, and answers the value after the first matching key of the root's
        // first "dict" child. A document that is not complete (unclosed elements,
        // broken markup) gives nothing. The framework's general XML parser is not used
        // here: some malformed property lists made it loop forever, and it recurses once
        // per nesting level. Its reading of well-formed files is kept: the same elements,
        // entities, comments, CDATA sections and white-space handling.
        class PlistScanner
        {
        public:
            PlistScanner (const juce::String& textIn, const juce::String& keyIn)
                : text (textIn.toStdString()), key (keyIn) {}

            juce::String run()
            {
                size_t i = 0;
                const size_t n = text.size();
                bool rootClosed = false;

                while (i < n && ! rootClosed)
                {
                    if (text[i] != '<')
                    {
                        const auto next = text.find ('<', i);
                        const auto end = next == std::string::npos ? n : next;
                        if (depth == 0)
                        {
                            // Only white space may stand outside the root element.
                            for (size_t k = i; k < end; ++k)
                                if (! isSpace (text[k]) && ! (k < 3 && (unsigned char) text[k] >= 0x80))
                                    return {};
                        }
                        else if (capturing)
                            pending += decodeEntities (normaliseLineEnds (text.substr (i, end - i)));
                        i = end;
                        continue;
                    }

                    if (text.compare (i, 4, "<!--") == 0)
                    {
                        const auto close = text.find ("-->", i + 4);
                        if (close == std::string::npos) return {};
                        i = close + 3;
                    }
                    else if (text.compare (i, 9, "<![CDATA[") == 0)
                    {
                        const auto close = text.find ("]]>", i + 9);
                        if (close == std::string::npos || depth == 0) return {};
                        flushText();
                        addPiece (text.substr (i + 9, close - i - 9));
                        i = close + 3;
                    }
                    else if (text.compare (i, 2, "<?") == 0)
                    {
                        const auto close = text.find ("?>", i + 2);
                        if (close == std::string::npos) return {};
                        i = close + 2;
                    }
                    else if (text.compare (i, 2, "<!") == 0)
                    {
                        // A document type declaration, possibly with an internal subset.
                        // Only looks as far as its own end, so that many of them stay linear.
                        const auto stop = text.find_first_of ("[>", i + 2);
                        if (stop == std::string::npos) return {};
                        if (text[stop] == '[')
                        {
                            const auto close = text.find ("]>", stop);
                            if (close == std::string::npos) return {};
                            i = close + 2;
                        }
                        else
                            i = stop + 1;
                    }
                    else if (text.compare (i, 2, "</") == 0)
                    {
                        const auto gt = text.find ('>', i);
                        if (gt == std::string::npos || depth == 0) return {};
                        flushText();
                        closeElement();
                        i = gt + 1;
                        if (depth == 0)
                            rootClosed = true;
                    }
                    else
                    {
                        // A start tag: its name, then attributes up to ">" or "/>".
                        size_t j = i + 1;
                        while (j < n && ! isSpace (text[j]) && text[j] != '>' && text[j] != '/')
                            ++j;
                        const auto name = text.substr (i + 1, j - i - 1);
                        if (name.empty()) return {};
                        char quote = 0;
                        for (; j < n; ++j)
                        {
                            const char c = text[j];
                            if (quote != 0) { if (c == quote) quote = 0; }
                            else if (c == '"' || c == '\'') quote = c;
                            else if (c == '>') break;
                        }
                        if (j >= n) return {};
                        const bool empty = text[j - 1] == '/';
                        if (depth == 0 && rootSeen) return {};
                        flushText();
                        openElement (name);
                        if (empty)
                            closeElement();
                        i = j + 1;
                        if (depth == 0)
                            rootClosed = true;
                    }

                    if (depth > maxDepth)
                        return {};
                }

                return rootClosed ? answer : juce::String();
            }

        private:
            static bool isSpace (char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

            static std::string normaliseLineEnds (std::string raw)
            {
                if (raw.find ('\r') == std::string::npos)
                    return raw;
                std::string out;
                out.reserve (raw.size());
                for (size_t k = 0; k < raw.size(); ++k)
                {
                    if (raw[k] != '\r')
                        out += raw[k];
                    else if (k + 1 >= raw.size() || raw[k + 1] != '\n')
                        out += '\n';
                }
                return out;
            }

            // Text is gathered as UTF-8 bytes: appending to the framework's strings
            // copies the whole text each time, which a long value made of many small
            // pieces would turn into a crawl.
            static std::string decodeEntities (const std::string& raw)
            {
                if (raw.find ('&') == std::string::npos)
                    return raw;

                std::string out;
                out.reserve (raw.size());
                size_t i = 0;
                while (i < raw.size())
                {
                    const auto amp = raw.find ('&', i);
                    const auto stop = amp == std::string::npos ? raw.size() : amp;
                    out.append (raw, i, stop - i);
                    if (amp == std::string::npos) break;
                    // An entity name is short: look for its ";" only that far.
                    auto semi = amp + 1;
                    while (semi < raw.size() && semi - amp <= 12 && raw[semi] != ';')
                        ++semi;
                    if (semi >= raw.size() || semi - amp > 12 || raw[semi] != ';')
                    {
                        out += '&';
                        i = amp + 1;
                        continue;
                    }
                    const auto entity = raw.substr (amp + 1, semi - amp - 1);
                    juce::juce_wchar c = 0;
                    const auto named = juce::String (entity).toLowerCase();
                    if (named == "lt") c = '<';
                    else if (named == "gt") c = '>';
                    else if (named == "amp") c = '&';
                    else if (named == "quot") c = '"';
                    else if (named == "apos") c = '\'';
                    else if (entity.size() > 1 && entity[0] == '#')
                    {
                        const bool hex = entity[1] == 'x' || entity[1] == 'X';
                        const auto digits = juce::String (entity.substr (hex ? 2 : 1));
                        const auto value = hex ? digits.getHexValue32() : digits.getIntValue();
                        if (value > 0 && value <= 0x10ffff && ! (value >= 0xd800 && value <= 0xdfff))
                            c = (juce::juce_wchar) value;
                    }
                    if (c != 0) { out += juce::String::charToString (c).toStdString(); i = semi + 1; }
                    else        { out += '&'; i = amp + 1; }
                }
                return out;
            }

            void openElement (const std::string& name)
            {
                ++depth;
                if (depth == 1)
                    rootSeen = true;
                else if (depth == 2 && ! dictSeen && juce::String (name).equalsIgnoreCase ("dict"))
                    dictSeen = inDict = true;
                else if (depth == 3 && inDict && ! done)
                {
                    if (awaitingValue)       { capturing = true; capture.clear(); captureIsValue = true; }
                    else if (juce::String (name).equalsIgnoreCase ("key")) { capturing = true; capture.clear(); captureIsValue = false; }
                }
            }

            void closeElement()
            {
                if (depth == 3 && capturing)
                {
                    capturing = false;
                    const auto captured = juce::String::fromUTF8 (capture.data(), (int) capture.size()).trim();
                    if (captureIsValue)
                    {
                        answer = captured;
                        done = true;
                    }
                    else if (captured == key)
                        awaitingValue = true;
                }
                if (depth == 2 && inDict)
                    inDict = false;
                --depth;
            }

            // Text between two tags is one piece (comments inside it do not cut it);
            // a piece of nothing but white space is dropped. Line ends in text read as
            // "\n" ("\r\n" and a lone "\r" alike).
            void flushText()
            {
                if (! pending.empty() && juce::String::fromUTF8 (pending.data(), (int) pending.size()).containsNonWhitespaceChars())
                    addPiece (pending);
                pending.clear();
            }

            void addPiece (const std::string& t)
            {
                if (capturing)
                    capture += t;
            }

            static constexpr int maxDepth = 256;
            std::string text;
            juce::String key, answer;
            std::string capture, pending;   // UTF-8
            int depth = 0;
            bool rootSeen = false, dictSeen = false, inDict = false;
            bool capturing = false, captureIsValue = false, awaitingValue = false, done = false;
        };
    }

    juce::String InstallScan::readPlistStringFromText (const juce::String& text, const juce::String& key)
    {
        if (text.isEmpty())
            return {};
        return PlistScanner (text, key).run();
    }

    juce::String InstallScan::readPlistString (const juce::File& plist, const juce::String& key)
    {
        return readPlistStringFromText (readSmallText (plist), key);
    }

    InstallScan::ModuleInfo InstallScan::readModuleInfoText (const juce::String& text)
    {
        ModuleInfo info;
        if (text.isEmpty() || InstallScan::jsonTooDeep (text, maxNesting))
            return info;

        juce::var parsed;
        if (juce::JSON::parse (text, parsed).failed())
            return info;

        auto* obj = parsed.getDynamicObject();
        if (obj == nullptr || parsed.isArray())
            return info;

        info.name = textOf (obj->getProperty ("Name"));
        info.version = textOf (obj->getProperty ("Version"));
        const auto classes = obj->getProperty ("Classes");
        if (auto* arr = classes.getArray(); arr != nullptr && ! arr->isEmpty())
            if (auto* first = arr->getReference (0).getDynamicObject())
                info.classId = textOf (first->getProperty ("CID"));
        return info;
    }

    bool InstallScan::readBundle (const juce::File& bundle, InstalledArtifact::Format format,
                                  InstalledArtifact::Scope scope, InstalledArtifact& out)
    {
        if (bundle.getFullPathName().isEmpty() || ! bundle.isDirectory())
            return false;

        const auto contents = bundle.getChildFile ("Contents");
        const auto plistText = readSmallText (contents.getChildFile ("Info.plist"));
        const auto bundleId = readPlistStringFromText (plistText, "CFBundleIdentifier");
        const auto bundleVersion = readPlistStringFromText (plistText, "CFBundleShortVersionString");

        const auto module = readModuleInfoText (readSmallText (contents.getChildFile ("Resources")
                                                                       .getChildFile ("moduleinfo.json")));

        if (bundleId.isEmpty() && module.classId.isEmpty())
            return false;

        out.format = format;
        out.scope = scope;
        out.path = bundle.getFullPathName();
        out.bundleId = bundleId;
        out.name = module.name.isNotEmpty() ? module.name : bundle.getFileNameWithoutExtension();
        out.version = bundleVersion.isNotEmpty() ? bundleVersion : module.version;
        out.classId = module.classId;
        return true;
    }

    std::vector<InstallScan::SearchPath> InstallScan::defaultSearchPaths()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
       #if JUCE_MAC
        return { { juce::File ("/Library/Audio/Plug-Ins/VST3"), InstalledArtifact::VST3, InstalledArtifact::System },
                 { juce::File ("/Library/Audio/Plug-Ins/Components"), InstalledArtifact::AU, InstalledArtifact::System },
                 { home.getChildFile ("Library/Audio/Plug-Ins/VST3"), InstalledArtifact::VST3, InstalledArtifact::User },
                 { home.getChildFile ("Library/Audio/Plug-Ins/Components"), InstalledArtifact::AU, InstalledArtifact::User } };
       #else
        // The VST3 locations of Linux; there are no Audio Unit folders here.
        return { { juce::File ("/usr/lib/vst3"), InstalledArtifact::VST3, InstalledArtifact::System },
                 { home.getChildFile (".vst3"), InstalledArtifact::VST3, InstalledArtifact::User } };
       #endif
    }

    std::vector<InstalledArtifact> InstallScan::scan (const std::vector<SearchPath>& paths,
                                                      const juce::StringArray& bundleIds)
    {
        std::vector<InstalledArtifact> result;

        for (const auto& sp : paths)
        {
            if (sp.directory.getFullPathName().isEmpty() || ! sp.directory.isDirectory())
                continue;

            const juce::String pattern = sp.format == InstalledArtifact::AU ? "*.component" : "*.vst3";

            // Listed with "*" and matched here, without regard to case on every platform.
            for (const auto& entry : juce::RangedDirectoryIterator (sp.directory, false, "*",
                                                                    juce::File::findDirectories))
            {
                const auto file = entry.getFile();
                if (! file.getFileName().matchesWildcard (pattern, true))
                    continue;

                InstalledArtifact artifact;
                if (! readBundle (file, sp.format, sp.scope, artifact))
                    continue;

                const bool accepted = bundleIds.isEmpty() ? artifact.bundleId.startsWith ("de.tarvo.")
                                                          : bundleIds.contains (artifact.bundleId, false);
                if (accepted)
                    result.push_back (std::move (artifact));
            }
        }
        return result;
    }
}
