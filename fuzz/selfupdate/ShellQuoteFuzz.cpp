// Any package name, however hostile, must come back out of the relaunch script's
// double-quoted value unchanged: reads the quoted text back the way /bin/sh reads
// a double-quoted word and checks it against the input, and checks that the script
// keeps its shape around the value.
#include "selfupdate/SelfUpdater.h"

#include <cstdint>
#include <cstdlib>

namespace
{
    // POSIX double-quote reading: inside "...", a backslash escapes only $ ` " \ and
    // newline; $ and ` start expansions, an unescaped " ends the word.
    bool readBack (const juce::String& quoted, juce::String& out)
    {
        if (quoted.length() < 2 || quoted[0] != '"' || quoted[quoted.length() - 1] != '"')
            return false;
        auto body = quoted.substring (1, quoted.length() - 1);
        for (int i = 0; i < body.length(); ++i)
        {
            auto c = body[i];
            if (c == '"' || c == '$' || c == '`')
                return false;
            if (c == '\\' && i + 1 < body.length())
            {
                auto n = body[i + 1];
                if (n == '$' || n == '`' || n == '"' || n == '\\')
                {
                    out << juce::String::charToString (n);
                    ++i;
                    continue;
                }
                if (n == '\n')
                    return false;   // would be a line continuation, dropping both
            }
            else if (c == '\\')
                return false;       // a trailing backslash would escape the closing quote
            out << juce::String::charToString (c);
        }
        return true;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // The framework's String wants valid UTF-8; it ends at a NUL.
    auto* chars = reinterpret_cast<const char*> (data);
    if (size > 4096 || ! juce::CharPointer_UTF8::isValidString (chars, (int) size))
        return 0;
    auto text = juce::String::fromUTF8 (chars, (int) size);

    auto quoted = hub::SelfUpdater::shellQuote (text);
    juce::String back;
    if (! readBack (quoted, back) || back != text)
        std::abort();

    if (! text.startsWithChar ('/'))
        return 0;
    hub::SelfUpdater::ScriptValues v;
    v.processId = 4711;
    v.package = juce::File (text);
    v.app = v.installed = v.log = juce::File ("/tmp/x");
    auto script = hub::SelfUpdater::relaunchScript (v);
    const juce::String pkgLine = "PKG=" + hub::SelfUpdater::shellQuote (v.package.getFullPathName()) + "\n";
    if (! script.startsWith ("#!/bin/sh\n") || ! script.contains ("\n" + pkgLine + "APP=") || ! script.endsWith (" done\"\n"))
        std::abort();
    return 0;
}
