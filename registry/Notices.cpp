#include "registry/Notices.h"

#include "registry/CatalogReader.h"

namespace hub::notices
{
    namespace
    {
        bool isDigit (juce::juce_wchar c) { return c >= '0' && c <= '9'; }

        bool digitsAt (const juce::String& t, std::initializer_list<int> positions)
        {
            for (int i : positions)
                if (! isDigit (t[i]))
                    return false;
            return true;
        }

        // What may follow the seconds: an optional fraction of three digits and an
        // optional zone; nothing else.
        bool validTail (const juce::String& tail)
        {
            int i = 0;
            if (tail.isNotEmpty() && (tail[0] == '.' || tail[0] == ','))
            {
                if (tail.length() < 4 || ! digitsAt (tail, { 1, 2, 3 }))
                    return false;
                i = 4;
            }
            const auto zone = tail.substring (i);
            if (zone.isEmpty() || zone == "Z")
                return true;
            if (zone[0] != '+' && zone[0] != '-')
                return false;
            // +hh:mm or +hhmm
            if (zone.length() == 6)
                return digitsAt (zone, { 1, 2, 4, 5 }) && zone[3] == ':';
            if (zone.length() == 5)
                return digitsAt (zone, { 1, 2, 3, 4 });
            return false;
        }
    }

    bool parseTime (const juce::String& text, juce::Time& out)
    {
        const auto t = text.trim();
        if (t.length() <= 9)
            return false;
        if (! digitsAt (t, { 0, 1, 2, 3, 5, 6, 8, 9 }) || t[4] != '-' || t[7] != '-')
            return false;

        juce::Time time;
        if (t.length() == 10)
            time = juce::Time::fromISO8601 (t);
        else
        {
            if (t[10] != 'T' || t.length() < 19)
                return false;
            if (! digitsAt (t, { 11, 12, 14, 15, 17, 18 }) || t[13] != ':' || t[16] != ':')
                return false;
            if (! validTail (t.substring (19)))
                return false;
            time = juce::Time::fromISO8601 (t);
        }

        if (time.toMilliseconds() == 0)
            return false;
        out = time;
        return true;
    }

    std::optional<Notice> select (const std::vector<Notice>& notices, const juce::StringArray& dismissed,
                                  juce::int64 nowMs, const juce::File& bannerDir)
    {
        const Notice* best = nullptr;
        juce::int64 bestStart = 0;

        for (auto& n : notices)
        {
            if (dismissed.contains (n.id, false))
                continue;

            juce::int64 start = 0;
            if (n.from.isNotEmpty())
            {
                juce::Time t;
                if (! parseTime (n.from, t) || nowMs < t.toMilliseconds())
                    continue;
                start = t.toMilliseconds();
            }
            if (n.until.isNotEmpty())
            {
                juce::Time t;
                if (! parseTime (n.until, t) || nowMs >= t.toMilliseconds())
                    continue;
            }

            if (best == nullptr || n.priority > best->priority
                || (n.priority == best->priority && start > bestStart))
            {
                best = &n;
                bestStart = start;
            }
        }

        if (best == nullptr)
            return std::nullopt;
        if (! bannerDir.getChildFile (best->id + ".svg").existsAsFile())
            return std::nullopt;
        return *best;
    }

    juce::StringArray loadDismissed (const juce::File& file)
    {
        juce::StringArray list;
        if (! file.existsAsFile() || file.getSize() > 4 * 1024 * 1024)
            return list;
        const auto parsed = CatalogReader::parseJson (file.loadFileAsString());
        if (auto* o = parsed.getDynamicObject())
            if (auto* a = o->getProperty ("dismissed").getArray())
                for (auto& v : *a)
                {
                    const auto id = v.isObject() || v.isArray() ? juce::String() : v.toString();
                    if (id.isNotEmpty())
                        list.addIfNotAlreadyThere (id, false);
                }
        return list;
    }

    void dismiss (juce::StringArray& dismissed, const juce::String& id, const juce::File& file)
    {
        if (id.isEmpty())
            return;
        dismissed.removeString (id, false);
        dismissed.add (id);
        while (dismissed.size() > maxDismissed)
            dismissed.remove (0);

        juce::Array<juce::var> ids;
        for (auto& d : dismissed)
            ids.add (d);
        auto* obj = new juce::DynamicObject();
        obj->setProperty ("dismissed", ids);

        (void) file.getParentDirectory().createDirectory();
        (void) file.replaceWithText (juce::JSON::toString (juce::var (obj), false), false, false, "\r\n");
    }
}
