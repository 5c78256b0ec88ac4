#include "install/SignatureCheck.h"
#include "install/Utf8Text.h"

namespace hub
{
    namespace
    {
        juce::String anotherDeveloper (const juce::String& team)
        {
            if (team.isEmpty())
                return SignatureCheck::notFromVendorMessage;
            return "Signed by another developer (" + team + ") - installation stopped";
        }

        // Calls `use` for every line of `text`, whatever its line breaks are.
        template <typename Fn>
        void forEachLine (const juce::String& text, Fn&& use)
        {
            auto p = text.getCharPointer();
            auto lineStart = p;
            for (;;)
            {
                auto c = *p;
                if (c == 0 || c == '\n' || c == '\r')
                {
                    use (juce::String (lineStart, p));
                    if (c == 0)
                        return;
                    ++p;
                    lineStart = p;
                    continue;
                }
                ++p;
            }
        }
    }

    SignatureCheck SignatureCheck::notStarted()
    {
        SignatureCheck r;
        r.message = notStartedMessage;
        return r;
    }

    SignatureCheck SignatureCheck::run (const juce::File& package, SignatureChecker& checker, const juce::String& teamId)
    {
        auto out = checker.check (package);
        if (! out.started)
            return notStarted();
        return fromOutput (out.text, out.exitCode, teamId);
    }

    SignatureCheck SignatureCheck::fromOutput (const juce::String& rawOutput, int exitCode, const juce::String& teamId)
    {
        SignatureCheck r;
        const auto output = Utf8Text::sanitise (rawOutput);

        forEachLine (output, [&] (const juce::String& raw)
        {
            auto line = raw.trim();
            if (line.startsWith ("Status:"))
            {
                auto s = line.fromFirstOccurrenceOf (":", false, false);
                auto cut = s.indexOf ("Notarization:");
                if (cut >= 0)
                    s = s.substring (0, cut);
                s = s.trim();
                while (s.endsWithChar (','))
                    s = s.dropLastCharacters (1);
                r.status = s.trimEnd();
            }
            else if (! r.teamMatches && line.contains ("Developer ID Installer:"))
            {
                auto open = line.lastIndexOfChar ('(');
                auto t = open >= 0 ? line.substring (open + 1) : line;
                auto close = t.indexOfChar (')');
                if (close >= 0)
                    t = t.substring (0, close);
                t = t.trim();
                if (t.isNotEmpty())
                {
                    r.team = t;
                    r.teamMatches = (t == teamId);
                }
            }
        });

        r.notarised = output.contains (notarisationLine);

        if (! r.status.containsIgnoreCase ("signed by") || r.status.containsIgnoreCase ("untrusted"))
        {
            r.ok = r.isSigned = false;
            r.message = notFromVendorMessage;
            return r;
        }

        const bool noSignature = r.status.containsIgnoreCase ("no signature");
        r.isSigned = ! noSignature;
        r.ok = false;

        if (noSignature)
            r.message = notFromVendorMessage;
        else if (exitCode != 0)
            r.message = ! r.teamMatches ? anotherDeveloper (r.team)
                                        : (r.notarised ? juce::String (checkFailedMessage) : juce::String (notNotarisedMessage));
        else if (! r.notarised)
            r.message = ! r.teamMatches ? anotherDeveloper (r.team) : juce::String (notNotarisedMessage);
        else
        {
            r.ok = r.teamMatches;
            r.message = r.ok ? juce::String (passMessage) : anotherDeveloper (r.team);
        }
        return r;
    }
}
