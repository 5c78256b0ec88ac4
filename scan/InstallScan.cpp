#include "scan/InstallScan.h"

#include <climits>

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
        // or oversized files. Bytes that are not valid UTF-8 become "?".
        juce::String readSmallText (const juce::File& f)
        {
            if (! f.existsAsFile())
                return {};
            const auto size = f.getSize();
            if (size <= 0 || size > InstallScan::maxReadBytes)
                return {};

            juce::MemoryBlock data;
            if (! f.loadFileAsData (data))
                return {};

            auto* bytes = static_cast<const char*> (data.getData());
            const auto n = data.getSize();
            if (juce::CharPointer_UTF8::isValidString (bytes, (int) n))
                return juce::String::fromUTF8 (bytes, (int) n);

            juce::String cleaned;
            cleaned.preallocateBytes (n);
            for (size_t i = 0; i < n; ++i)
            {
                const auto b = (unsigned char) bytes[i];
                cleaned << (b < 0x80 ? (juce::juce_wchar) b : (juce::juce_wchar) '?');
            }
            return cleaned;
        }

        // A cheap upper bound of the element nesting of an XML text, so that hostile
        // files never reach the parser's recursion.
        bool xmlTooDeep (const juce::String& text, int limit)
        {
            int depth = 0;
            for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
            {
                if (*p != '<')
                    continue;
                const auto next = *(p + 1);
                if (next == '/')
                    --depth;
                else if (next != '?' && next != '!')
                    if (++depth > limit)
                        return true;
            }
            return false;
        }

        bool jsonTooDeep (const juce::String& text, int limit)
        {
            int depth = 0;
            bool inString = false;
            for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
            {
                const auto c = *p;
                if (inString)
                {
                    if (c == '\\') { ++p; if (p.isEmpty()) break; }
                    else if (c == '"') inString = false;
                    continue;
                }
                if (c == '"') inString = true;
                else if (c == '[' || c == '{') { if (++depth > limit) return true; }
                else if (c == ']' || c == '}') --depth;
            }
            return false;
        }

        juce::String textOf (const juce::var& v)
        {
            if (v.isString() || v.isInt() || v.isInt64() || v.isDouble())
                return v.toString();
            return {};
        }

        constexpr int maxNesting = 256;
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

    juce::String InstallScan::readPlistStringFromText (const juce::String& text, const juce::String& key)
    {
        // Without the key's text (or an entity that could spell it) there is nothing to
        // find; this skips the parse for the many foreign bundles a scan opens.
        if (key.isEmpty() || (! text.contains (key) && ! text.containsChar ('&')))
            return {};
        if (xmlTooDeep (text, maxNesting))
            return {};

        juce::XmlDocument doc (text);
        auto root = doc.getDocumentElement();
        if (root == nullptr)
            return {};

        const juce::XmlElement* dict = nullptr;
        for (auto* child : root->getChildIterator())
            if (child->getTagName().equalsIgnoreCase ("dict")) { dict = child; break; }
        if (dict == nullptr)
            return {};

        for (auto* child : dict->getChildIterator())
        {
            if (! child->isTextElement() && child->getTagName().equalsIgnoreCase ("key")
                && child->getAllSubText().trim() == key)
            {
                // The next element sibling (text between elements is skipped).
                for (auto* next = child->getNextElement(); next != nullptr; next = next->getNextElement())
                    if (! next->isTextElement())
                        return next->getAllSubText().trim();
                return {};
            }
        }
        return {};
    }

    juce::String InstallScan::readPlistString (const juce::File& plist, const juce::String& key)
    {
        return readPlistStringFromText (readSmallText (plist), key);
    }

    InstallScan::ModuleInfo InstallScan::readModuleInfoText (const juce::String& text)
    {
        ModuleInfo info;
        if (text.isEmpty() || jsonTooDeep (text, maxNesting))
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
