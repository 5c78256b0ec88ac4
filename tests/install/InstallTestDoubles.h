#pragma once

// Test doubles for the platform operations of the install job and the uninstaller,
// and a few helpers shared by the install tests.

#include "platform/AdminCommand.h"
#include "platform/FileReveal.h"
#include "platform/SignatureChecker.h"
#include "platform/SystemInstaller.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace juce
{
    // The framework's own message dispatch step (Linux); the tests pump posted calls
    // with it because modal loops are compiled out.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace test
{
    // Runs posted message-thread calls until `until` holds or `ms` have passed.
    inline bool pumpUntil (const std::function<bool()>& until, int ms = 5000)
    {
        auto end = juce::Time::getMillisecondCounter() + (juce::uint32) ms;
        while (! until())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (5);
        }
        return true;
    }

    // Replays a recorded checker report.
    struct RecordedChecker : hub::SignatureChecker
    {
        Output output;
        std::atomic<int> calls { 0 };
        std::function<void()> during;   // runs while the "checker" works

        explicit RecordedChecker (juce::String text = {}, int exitCode = 0, bool started = true)
        {
            output.started = started;
            output.text = std::move (text);
            output.exitCode = exitCode;
        }

        Output check (const juce::File&) override
        {
            ++calls;
            if (during)
                during();
            return output;
        }
    };

    // A checker report of a package signed and notarised by the given team.
    inline juce::String signedReport (const juce::String& team = "T4RV0FH123", bool notarised = true)
    {
        juce::String s;
        s << "Package \"Grumbot.pkg\":\n"
          << "   Status: signed by a developer certificate issued by Apple for distribution\n";
        if (notarised)
            s << "   Notarization: trusted by the Apple notary service\n";
        s << "   Signed with a trusted timestamp on: 2026-05-02 10:11:12 +0000\n"
          << "   Certificate Chain:\n"
          << "    1. Developer ID Installer: TARVO Audio GmbH (" << team << ")\n"
          << "       Expires: 2030-02-01 22:12:15 +0000\n"
          << "       SHA256 Fingerprint:\n"
          << "           1A 2B 3C 4D 5E 6F 70 81 92 A3 B4 C5 D6 E7 F8 09 1A 2B 3C 4D 5E 6F\n"
          << "       ------------------------------------------------------------------------\n"
          << "    2. Developer ID Certification Authority\n"
          << "       Expires: 2031-02-01 22:12:15 +0000\n"
          << "    3. Apple Root CA\n"
          << "       Expires: 2035-02-09 21:40:36 +0000\n";
        return s;
    }

    // A system installer whose launch ends the way the test says.
    struct ScriptedInstaller : hub::SystemInstaller
    {
        bool canOpen = true;
        State endState = State::exited;
        int code = 0;
        int pollsBeforeEnd = 2;         // -1: never ends
        std::atomic<int> opens { 0 };
        std::atomic<int> polls { 0 };
        juce::File opened;

        bool open (const juce::File& package) override
        {
            ++opens;
            opened = package;
            return canOpen;
        }

        State poll() override
        {
            auto n = ++polls;
            if (pollsBeforeEnd < 0 || n <= pollsBeforeEnd)
                return n % 2 == 0 ? State::stopped : State::running;
            return endState;
        }

        int exitCode() const override { return endState == State::exited && pollsBeforeEnd >= 0 ? code : -1; }
    };

    struct RecordingReveal : hub::FileReveal
    {
        std::vector<juce::File> shown;
        std::atomic<bool> onMessageThread { true };
        void reveal (const juce::File& f) override
        {
            onMessageThread = onMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread();
            shown.push_back (f);
        }
    };

    // Runs a shell command with /bin/sh and reports like the elevated runner.
    inline hub::AdminCommand::Outcome runShell (const juce::String& command)
    {
        hub::AdminCommand::Outcome out;
        juce::ChildProcess p;
        if (! p.start (juce::StringArray { "/bin/sh", "-c", command },
                       juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return out;
        out.started = true;
        out.output = p.readAllProcessOutput();
        p.waitForProcessToFinish (30000);
        out.exitCode = (int) p.getExitCode();
        return out;
    }

    // An elevated runner that replays an answer, or runs the command with a real shell.
    struct FakeAdmin : hub::AdminCommand
    {
        enum Kind { replay, shell, appleScriptThenShell } kind = replay;
        Outcome answer;
        std::vector<juce::String> commands;
        std::vector<juce::String> scripts;

        Outcome run (const juce::String& shellCommand) override;
    };

    // Reads an AppleScript "do shell script" line back into the shell command, the way
    // AppleScript reads its string literal; empty when the line has another form.
    inline juce::String decodeAppleScript (const juce::String& script, bool& ok)
    {
        const juce::String head = "do shell script \"", tail = "\" with administrator privileges";
        ok = script.startsWith (head) && script.endsWith (tail);
        if (! ok)
            return {};
        auto body = script.substring (head.length(), script.length() - tail.length());
        juce::String out;
        for (int i = 0; i < body.length(); ++i)
        {
            auto c = body[i];
            if (c == '"')
            {
                ok = false;   // an unescaped quote would end the literal early
                return {};
            }
            if (c == '\\')
            {
                if (i + 1 >= body.length()) { ok = false; return {}; }
                auto n = body[++i];
                if (n != '\\' && n != '"') { ok = false; return {}; }
                out << juce::String::charToString (n);
                continue;
            }
            out << juce::String::charToString (c);
        }
        return out;
    }

    inline hub::AdminCommand::Outcome FakeAdmin::run (const juce::String& shellCommand)
    {
        commands.push_back (shellCommand);
        if (kind == shell)
            return runShell (shellCommand);
        if (kind == appleScriptThenShell)
        {
            auto script = appleScriptFor (shellCommand);
            scripts.push_back (script);
            bool ok = false;
            auto inner = decodeAppleScript (script, ok);
            if (! ok)
                return { true, "bad script", 1 };
            return runShell (inner);
        }
        return answer;
    }

    // Collects the lines written to the current logger while it lives.
    struct LogCapture : juce::Logger
    {
        std::mutex m;
        juce::StringArray lines;
        juce::Logger* previous = nullptr;

        LogCapture() { previous = juce::Logger::getCurrentLogger(); juce::Logger::setCurrentLogger (this); }
        ~LogCapture() override { juce::Logger::setCurrentLogger (previous); }

        void logMessage (const juce::String& message) override
        {
            std::lock_guard<std::mutex> g (m);
            lines.add (message);
        }

        juce::StringArray installLines()
        {
            std::lock_guard<std::mutex> g (m);
            juce::StringArray out;
            for (auto& l : lines)
                if (l.startsWith ("[install] "))
                    out.add (l);
            return out;
        }
    };
}
