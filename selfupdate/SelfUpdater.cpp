#include "selfupdate/SelfUpdater.h"

#include "platform/RunningProcess.h"
#include "scan/InstallScan.h"

namespace hub
{
    struct SelfUpdater::InstallerJob : SelfUpdater::Job
    {
        explicit InstallerJob (Installer& i) : target (i) {}

        bool start (const Installer::Request& request, juce::String& error) override { return target.start (request, error); }
        InstallProgress state() const override { return target.state(); }

        Installer& target;
    };

    bool SelfUpdater::Release::isComplete() const
    {
        return version.isNotEmpty() && url.isNotEmpty() && sha256.isNotEmpty();
    }

    SelfUpdater::ScriptCommands SelfUpdater::ScriptCommands::platform()
    {
        ScriptCommands c;
       #if JUCE_MAC
        c.openPackage = { "/usr/bin/open", "-W" };
        c.appPresent = "-d";
        c.startApp = { "/usr/bin/open" };
       #else
        // No installer application opens these packages here: the package tool runs
        // behind the system's password prompt and, like the installer application,
        // returns with its status once it is done. The application is an executable
        // file, started in a session of its own so that it does not write into the
        // script's log.
        c.openPackage = { "/usr/bin/pkexec", "/usr/bin/dpkg", "-i" };
        c.appPresent = "-f";
        c.startApp = { "/usr/bin/setsid", "-f" };
        c.startAppRedirect = " </dev/null >/dev/null 2>&1";
       #endif
        c.removeFile = { "/bin/rm", "-f" };
        return c;
    }

    //==============================================================================
    SelfUpdater::SelfUpdater (Installer& installerIn)
        : SelfUpdater (installerIn, Setup {})
    {
    }

    SelfUpdater::SelfUpdater (Installer& installerIn, Setup setupIn)
        : adapter (std::make_unique<InstallerJob> (installerIn)),
          installer (*adapter),
          setup (std::move (setupIn))
    {
    }

    SelfUpdater::SelfUpdater (Job& job, Setup setupIn)
        : installer (job),
          setup (std::move (setupIn))
    {
    }

    SelfUpdater::~SelfUpdater()
    {
        stopTimer();
    }

    juce::File SelfUpdater::updateDirIn (const juce::File& appData)
    {
        auto dir = appData.getChildFile ("update");
        dir.createDirectory();
        return dir;
    }

    juce::File SelfUpdater::updateDir()
    {
        return updateDirIn (hub::appDataDir());
    }

    juce::File SelfUpdater::folder() const
    {
        return updateDirIn (setup.appData == juce::File() ? hub::appDataDir() : setup.appData);
    }

    //==============================================================================
    SelfUpdater::Outcome SelfUpdater::startAppUpdate (const Release& m)
    {
        if (busy)
            return Outcome::refused ("The update is already running");
        if (! m.isComplete())
            return Outcome::refused ("No update available");

        Installer::Request request;
        request.product = productKey;
        request.version = m.version;
        request.url = m.url;
        request.sha256 = m.sha256;
        request.fileName = m.filename;
        request.size = m.size;
        request.mode = Installer::appUpdate;
        request.saveFolder = folder().getFullPathName();
        request.reveal = false;

        juce::String error;
        if (! installer.start (request, error))
            return Outcome::refused (error);

        package = {};
        busy = true;
        ready = false;
        startTimer (followIntervalMs);
        return Outcome::accepted (m.version);
    }

    void SelfUpdater::sync()
    {
        if (! busy)
            return;

        auto progress = installer.state();
        if (progress.product != productKey)
        {
            // Only one job runs at a time and ours reset the record when it started,
            // so another product in the record means our download has ended and a
            // new job has begun since. How ours ended is no longer known: stop
            // following it rather than wait for a record that will not come back.
            stopTimer();
            busy = false;
            return;
        }

        if (progress.stage == InstallProgress::done)
        {
            stopTimer();
            busy = false;
            package = progress.delivered;
            ready = package.isNotEmpty()
                 && juce::File::isAbsolutePath (package)
                 && juce::File (package).existsAsFile();
        }
        else if (progress.stage == InstallProgress::failed || progress.stage == InstallProgress::cancelled)
        {
            stopTimer();
            busy = false;
        }
    }

    void SelfUpdater::timerCallback()
    {
        sync();
    }

    void SelfUpdater::skipAppUpdate()
    {
        ready = false;
        package = {};
    }

    SelfUpdater::Outcome SelfUpdater::applyAppUpdate()
    {
        if (busy)
            return Outcome::refused ("The download is still running");

        if (! ready || package.isEmpty() || ! juce::File::isAbsolutePath (package)
            || ! juce::File (package).existsAsFile())
        {
            ready = false;
            return Outcome::refused ("No update ready");
        }

        ready = false;

        auto where = setup.location ? setup.location() : AppLocation::current();
        ScriptValues values;
        values.processId = setup.processId ? setup.processId() : RunningProcess::id();
        values.package = juce::File (package);
        values.app = where.running;
        values.installed = where.installed;
        values.log = values.package.getParentDirectory().getChildFile (logName);

        auto script = folder().getChildFile (scriptName);
        if (! script.replaceWithText (relaunchScript (values, setup.commands), false, false, "\n"))
        {
            // Starting the shell anyway could run the script of an earlier update,
            // which would quit the application and bring it back unchanged.
            return Outcome::refused ("Could not start the installer");
        }
        script.setExecutePermission (true);

        auto spawner = setup.spawner ? setup.spawner : DetachedProcess::createSystem();
        if (spawner->spawn ({ "/bin/sh", script.getFullPathName() }) <= 0)
            return Outcome::refused ("Could not start the installer");

        if (setup.quit)
            setup.quit();
        else
            RunningProcess::requestQuit();
        return Outcome::accepted();
    }

    //==============================================================================
    juce::String SelfUpdater::shellQuote (const juce::String& text)
    {
        juce::String out ("\"");
        out.preallocateBytes (text.getNumBytesAsUTF8() + 8);
        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            auto c = p.getAndAdvance();
            if (c == '"' || c == '$' || c == '\\' || c == '`')
                out << '\\';
            out << juce::String::charToString (c);
        }
        return out + "\"";
    }

    namespace
    {
        // A command word as written in the script: bare when it holds only characters
        // the shell takes literally, quoted otherwise.
        juce::String word (const juce::String& w)
        {
            if (w.isNotEmpty() && w.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-=:,@%"))
                return w;
            return SelfUpdater::shellQuote (w);
        }

        juce::String command (const juce::StringArray& words)
        {
            juce::StringArray out;
            for (auto& w : words)
                out.add (word (w));
            return out.joinIntoString (" ");
        }
    }

    juce::String SelfUpdater::relaunchScript (const ScriptValues& v, const ScriptCommands& c)
    {
        const juce::String startApp = command (c.startApp);
        juce::StringArray lines {
            "#!/bin/sh",
            "# Written by TARVO Fernhall to install its own update.",
            "# A running application cannot replace itself, so this waits for it to quit first.",
            "PID=" + juce::String (v.processId),
            "PKG=" + shellQuote (v.package.getFullPathName()),
            "APP=" + shellQuote (v.app.getFullPathName()),
            "INSTALLED=" + shellQuote (v.installed.getFullPathName()),
            "LOG=" + shellQuote (v.log.getFullPathName()),
            "exec >>\"$LOG\" 2>&1",
            "echo \"$(date '+%H:%M:%S') start pid $$ ppid $PPID, waiting for $PID\"",
            "",
            "# Wait until the application is really gone, but go on after 20 seconds:",
            "# if it hangs, waiting longer does not help the user.",
            "i=0",
            "while kill -0 \"$PID\" 2>/dev/null && [ $i -lt 100 ]; do",
            "  sleep 0.2",
            "  i=$((i+1))",
            "done",
            "echo \"$(date '+%H:%M:%S') app gone after $i steps, opening installer\"",
            "",
            "# The notarised installer; it returns when the user has gone through it.",
            command (c.openPackage) + " \"$PKG\"",
            "rc=$?",
            "echo \"$(date '+%H:%M:%S') installer closed, rc=$rc, relaunching\"",
            "",
            "if [ " + c.appPresent + " \"$INSTALLED\" ]; then",
            "  " + startApp + " \"$INSTALLED\"" + c.startAppRedirect,
            "else",
            "  " + startApp + " \"$APP\"" + c.startAppRedirect,
            "fi",
            "",
            command (c.removeFile) + " \"$PKG\"",
            "echo \"$(date '+%H:%M:%S') done\"",
        };
        return lines.joinIntoString ("\n") + "\n";
    }

    //==============================================================================
    int SelfUpdater::cleanUpdateFolder (const juce::File& dir)
    {
        int deleted = 0;
        for (auto& f : dir.findChildFiles (juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no))
            if (f.hasFileExtension (".pkg;.exe") && f.deleteFile())
                ++deleted;
        return deleted;
    }

    int SelfUpdater::cleanUpdateDir()
    {
        return cleanUpdateFolder (updateDir());
    }

    juce::String SelfUpdater::updateStateOf (const Release& m, const juce::String& ownVersion)
    {
        if (! m.isComplete())
            return "unknown";
        if (m.minSupported.isNotEmpty() && InstallScan::compareVersions (ownVersion, m.minSupported) < 0)
            return "required";
        if (InstallScan::compareVersions (ownVersion, m.version) < 0)
            return "available";
        return "upToDate";
    }
}
