#include "install/Installer.h"

#include "install/SignatureCheck.h"
#include "install/Utf8Text.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <clocale>
#include <cwctype>
#include <locale.h>

#if JUCE_MAC
 #include <CommonCrypto/CommonDigest.h>
#else
 #include <openssl/evp.h>
#endif

#if JUCE_MAC
 #include <xlocale.h>
#endif

namespace hub
{
    namespace
    {
        // Letter and digit classification that does not depend on the process's
        // current locale: a UTF-8 locale when the system has one.
        locale_t classificationLocale()
        {
            static locale_t loc = []
            {
                for (auto* name : { "C.UTF-8", "en_US.UTF-8", "C.utf8", "en_US.utf8" })
                    if (auto l = ::newlocale (LC_CTYPE_MASK, name, (locale_t) nullptr))
                        return l;
                return (locale_t) nullptr;
            }();
            return loc;
        }

        bool isLetterOrDigit (juce::juce_wchar c)
        {
            if (c < 128)
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (auto loc = classificationLocale())
                return ::iswalnum_l ((wint_t) c, loc) != 0;
            return std::iswalnum ((wint_t) c) != 0;
        }

        bool isWhite (juce::juce_wchar c)
        {
            return juce::CharacterFunctions::isWhitespace (c);
        }

        void trim (juce::Array<juce::juce_wchar>& chars)
        {
            int start = 0, end = chars.size();
            while (start < end && isWhite (chars.getUnchecked (start))) ++start;
            while (end > start && isWhite (chars.getUnchecked (end - 1))) --end;
            chars.removeRange (end, chars.size() - end);
            chars.removeRange (0, start);
        }

        bool sameDigest (const juce::String& actual, const juce::String& expected)
        {
            return actual.isNotEmpty() && actual.equalsIgnoreCase (expected);
        }
    }

    //==============================================================================
    void Installer::Sink::progress (juce::URL::DownloadTask*, juce::int64 bytesDownloaded, juce::int64 totalLength)
    {
        if (auto* o = owner.load())
            o->onProgress (bytesDownloaded, totalLength);
    }

    void Installer::Sink::finished (juce::URL::DownloadTask*, bool)
    {
        if (auto* o = owner.load())
            o->notify();
    }

    //==============================================================================
    Installer::Installer() : Installer (Setup {}) {}

    Installer::Installer (Setup s)
        : juce::Thread ("tarvo-installer"), setup (std::move (s))
    {
        if (setup.appData == juce::File())
            setup.appData = hub::appDataDir();
        if (setup.signatureChecker == nullptr)
            setup.signatureChecker = SignatureChecker::createSystem();
        if (setup.systemInstaller == nullptr)
            setup.systemInstaller = SystemInstaller::createSystem();
        if (setup.fileReveal == nullptr)
            setup.fileReveal = FileReveal::createSystem();
    }

    Installer::~Installer()
    {
        signalThreadShouldExit();
        notify();
        stopThread (stopWaitMs);
        retired.reset();
    }

    //==============================================================================
    juce::String Installer::hostOf (const juce::String& url)
    {
        if (! url.startsWithIgnoreCase ("https://"))
            return {};
        auto host = url.substring (8).upToFirstOccurrenceOf ("/", false, false);
        host = host.upToFirstOccurrenceOf ("?", false, false);
        return host.upToFirstOccurrenceOf (":", false, false);
    }

    bool Installer::isVendorAddress (const juce::String& url, const juce::String& host)
    {
        if (! url.startsWithIgnoreCase ("https://"))
            return false;

        // The whole authority, up to the path, query or fragment. A user part ("@")
        // would make the client connect to whatever follows it, even when the text
        // before a ":" names the vendor host, so any "@" (and any backslash, which
        // some clients treat as a path separator) refuses the address.
        auto rest = url.substring (8);
        int end = rest.length();
        for (auto sep : { '/', '?', '#' })
        {
            auto at = rest.indexOfChar (sep);
            if (at >= 0)
                end = juce::jmin (end, at);
        }
        auto authority = rest.substring (0, end);
        if (authority.containsChar ('@') || authority.containsChar ('\\'))
            return false;

        auto h = hostOf (url);
        return h.isNotEmpty() && h.equalsIgnoreCase (host);
    }

    juce::String Installer::safeFileName (const juce::String& name)
    {
        auto* raw = name.toRawUTF8();
        return safeFileNameFromBytes (raw, std::strlen (raw));
    }

    juce::String Installer::safeFileNameFromBytes (const char* data, size_t size)
    {
        auto chars = Utf8Text::decode (data, size);

        // Last part of a path, "\" counting as "/".
        int lastSlash = -1;
        for (int i = 0; i < chars.size(); ++i)
            if (chars.getUnchecked (i) == '/' || chars.getUnchecked (i) == '\\')
                lastSlash = i;
        chars.removeRange (0, lastSlash + 1);
        trim (chars);

        juce::Array<juce::juce_wchar> kept;
        for (auto c : chars)
            if (c == ' ' || c == '-' || c == '.' || c == '_' || (c != Utf8Text::replacement && isLetterOrDigit (c)))
                kept.add (c);
        trim (kept);

        // At most 120 characters; trimmed again, since a cut can leave white space at the end.
        kept.removeRange (maxFileNameLength, kept.size());
        trim (kept);
        bool onlyDots = true;
        for (auto c : kept)
            onlyDots = onlyDots && c == '.';
        if (kept.isEmpty() || onlyDots)
            return {};

        return Utf8Text::fromCodePoints (kept);
    }

    juce::File Installer::downloadDirIn (const juce::File& appData)
    {
        auto dir = appData.getChildFile ("downloads");
        (void) dir.createDirectory();
        return dir;
    }

    juce::File Installer::downloadDir()
    {
        return downloadDirIn (hub::appDataDir());
    }

    juce::File Installer::downloadFolder() const
    {
        return downloadDirIn (setup.appData);
    }

    juce::String Installer::sha256OfFile (const juce::File& file)
    {
        if (file.isDirectory())
            return {};
        juce::FileInputStream in (file);
        if (! in.openedOk())
            return {};

        // Large reads through the system digest; the file is never held whole.
        constexpr size_t blockSize = 1 << 20;
        juce::HeapBlock<unsigned char> block (blockSize);
        unsigned char digest[32] = {};

       #if JUCE_MAC
        CC_SHA256_CTX ctx;
        CC_SHA256_Init (&ctx);
        for (;;)
        {
            auto n = in.read (block.get(), (int) blockSize);
            if (n < 0)
                return {};
            if (n == 0)
                break;
            CC_SHA256_Update (&ctx, block.get(), (CC_LONG) n);
        }
        CC_SHA256_Final (digest, &ctx);
       #else
        std::unique_ptr<EVP_MD_CTX, void (*) (EVP_MD_CTX*)> ctx (EVP_MD_CTX_new(), EVP_MD_CTX_free);
        if (ctx == nullptr || EVP_DigestInit_ex (ctx.get(), EVP_sha256(), nullptr) != 1)
            return {};
        for (;;)
        {
            auto n = in.read (block.get(), (int) blockSize);
            if (n < 0)
                return {};
            if (n == 0)
                break;
            if (EVP_DigestUpdate (ctx.get(), block.get(), (size_t) n) != 1)
                return {};
        }
        unsigned int len = 0;
        if (EVP_DigestFinal_ex (ctx.get(), digest, &len) != 1 || len != 32)
            return {};
       #endif

        return juce::String::toHexString (digest, 32, 0).toLowerCase();
    }

    //==============================================================================
    bool Installer::start (const Request& r, juce::String& error)
    {
        if (isThreadRunning())
        {
            error = "Another installation is already running";
            return false;
        }
        if (! isVendorAddress (r.url, setup.downloadHost))
        {
            error = "This download address is not from TARVO";
            return false;
        }
        auto name = safeFileName (r.fileName);
        if (name.isEmpty())
        {
            error = "The registry entry has no usable file name";
            return false;
        }
        if (r.mode != install && r.saveFolder.isEmpty())
        {
            error = "No folder to save the download to";
            return false;
        }

        {
            const juce::ScopedLock sl (lock);
            storedRequest = r;
            progressRecord = InstallProgress();
            progressRecord.stage = InstallProgress::downloading;
            progressRecord.product = r.product;
            progressRecord.version = r.version;
            progressRecord.file = name;
            progressRecord.total = r.size;
            progressRecord.attempt = 1;
            progressRecord.message = "Starting";
        }

        startThread (juce::Thread::Priority::background);
        return true;
    }

    InstallProgress Installer::state() const
    {
        const juce::ScopedLock sl (lock);
        return progressRecord;
    }

    Installer::Request Installer::request() const
    {
        const juce::ScopedLock sl (lock);
        return storedRequest;
    }

    void Installer::cancel()
    {
        if (isThreadRunning())
            signalThreadShouldExit();
        notify();
    }

    void Installer::onProgress (juce::int64 bytes, juce::int64 total)
    {
        const juce::ScopedLock sl (lock);
        progressRecord.received = bytes;
        progressRecord.total = total;
    }

    //==============================================================================
    void Installer::writeLogLine (const InstallProgress& p, bool withExitCode)
    {
        juce::String line = "[install] " + p.product + " " + p.version + " "
                          + InstallProgress::stageName (p.stage) + ": " + p.message;
        if (withExitCode && p.exitCode >= 0)
            line << " (exit " << p.exitCode << ")";
        juce::Logger::writeToLog (line);
    }

    void Installer::setStage (InstallProgress::Stage stage, const juce::String& message, int attempt)
    {
        InstallProgress copy;
        {
            const juce::ScopedLock sl (lock);
            progressRecord.stage = stage;
            progressRecord.message = message;
            if (attempt > 0)
                progressRecord.attempt = attempt;
            copy = progressRecord;
        }
        writeLogLine (copy, false);
    }

    void Installer::finish (InstallProgress::Stage stage, const juce::String& message, const juce::String& error)
    {
        InstallProgress copy;
        {
            const juce::ScopedLock sl (lock);
            progressRecord.stage = stage;
            progressRecord.message = message;
            progressRecord.error = error;
            copy = progressRecord;
        }
        writeLogLine (copy, true);
    }

    bool Installer::pause (int ms)
    {
        const auto until = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, ms);
        while (! threadShouldExit())
        {
            const auto now = juce::Time::getMillisecondCounter();
            if (now >= until)
                return true;
            wait ((int) juce::jmin<juce::uint32> (100, until - now));
        }
        return false;
    }

    //==============================================================================
    void Installer::run()
    {
        retired.reset(); // a download dropped by an earlier cancel

        Request req;
        {
            const juce::ScopedLock sl (lock);
            req = storedRequest;
        }

        const auto name = safeFileName (req.fileName);
        const auto folder = downloadFolder();
        const auto target = folder.getChildFile (name);
        const auto part = folder.getChildFile (name + ".part");

        bool ready = false;
        if (target.existsAsFile() && req.sha256.isNotEmpty() && sameDigest (sha256OfFile (target), req.sha256))
        {
            {
                const juce::ScopedLock sl (lock);
                progressRecord.received = progressRecord.total = target.getSize();
            }
            setStage (InstallProgress::verifying, "Already downloaded", 0);
            ready = true;
        }

        juce::String lastError;
        for (int attempt = 1; ! ready && attempt <= maxAttempts && ! threadShouldExit(); ++attempt)
        {
            setStage (InstallProgress::downloading, "Downloading " + name, attempt);
            {
                const juce::ScopedLock sl (lock);
                progressRecord.received = 0;
                progressRecord.total = req.size;
            }
            part.deleteFile();

            juce::String failure;
            bool hadError = false;
            int status = 0;
            {
                auto current = std::make_unique<Download>();
                current->sink = std::make_unique<Sink> (this);
                current->task = juce::URL (req.url).downloadToFile (
                    part, juce::URL::DownloadTaskOptions().withListener (current->sink.get()));

                if (current->task == nullptr)
                {
                    failure = "The download could not be started";
                }
                else
                {
                    while (! current->task->isFinished() && ! threadShouldExit())
                        wait (100);

                    hadError = current->task->hadError();
                    status = current->task->statusCode();

                    if (threadShouldExit() && ! current->task->isFinished())
                    {
                        // A transfer blocked inside the HTTP client can take up to a
                        // second to notice that it is stopped. Keep it aside instead of
                        // waiting here; it is discarded by the next job or on shutdown.
                        current->sink->disconnect();
                        retired = std::move (current);
                    }
                }
            }

            if (threadShouldExit())
                break;

            if (failure.isEmpty())
            {
                if (hadError || status >= 400)
                {
                    failure = "The server did not deliver the file (status " + juce::String (status) + ")";
                }
                else
                {
                    setStage (InstallProgress::verifying, "Checking the download", 0);
                    if (req.size > 0 && part.getSize() != req.size)
                        failure = "Download damaged (wrong size) - trying again";
                    else if (req.sha256.isNotEmpty() && ! sameDigest (sha256OfFile (part), req.sha256))
                        failure = "Download damaged (checksum mismatch) - trying again";
                    else
                    {
                        target.deleteFile();
                        if (! part.moveFileTo (target))
                        {
                            part.deleteFile();
                            finish (InstallProgress::failed, "Could not store the download", "Could not store the download");
                            return;
                        }
                        ready = true;
                        break;
                    }
                }
            }

            lastError = failure;
            part.deleteFile();
            if (attempt == maxAttempts)
                break;

            setStage (InstallProgress::downloading, lastError, attempt);
            pause (attempt == 1 ? setup.pausesMs[0] : setup.pausesMs[1]);
        }

        if (threadShouldExit() && ! ready)
        {
            part.deleteFile();
            finish (InstallProgress::cancelled, "Cancelled", {});
            return;
        }
        if (! ready)
        {
            auto text = lastError.isNotEmpty() ? lastError : juce::String ("Download failed");
            finish (InstallProgress::failed, text, text);
            return;
        }

        setStage (InstallProgress::checking, "Checking the signature", 0);
        auto check = SignatureCheck::run (target, *setup.signatureChecker, setup.teamId);
        if (! check.ok)
        {
            target.deleteFile();
            finish (InstallProgress::failed, check.message, check.message);
            return;
        }

        if (threadShouldExit())
        {
            finish (InstallProgress::cancelled, "Cancelled", {});
            return;
        }

        if (req.mode == install)
            runInstall (target);
        else
            runCopy (req, name, target);
    }

    void Installer::runInstall (const juce::File& target)
    {
        setStage (InstallProgress::installing, "The installer is running", 0);

        auto& launcher = *setup.systemInstaller;
        if (! launcher.open (target))
        {
            finish (InstallProgress::failed, "Could not start the installer", "Could not start the installer");
            return;
        }

        bool ended = false;
        int code = -1;
        for (;;)
        {
            auto st = launcher.poll();
            if (st == SystemInstaller::State::exited)
            {
                ended = true;
                code = launcher.exitCode();
                break;
            }
            if (st == SystemInstaller::State::signalled)
            {
                ended = true;
                break;
            }
            if (threadShouldExit())
                break;
            wait (200);
        }

        if (ended)
        {
            {
                const juce::ScopedLock sl (lock);
                progressRecord.exitCode = code;
            }
            if (code != 0)
            {
                auto t = "The macOS installer could not be opened (code " + juce::String (code)
                       + "). Use Download and run it from your Downloads folder.";
                finish (InstallProgress::failed, t, t);
                return;
            }
        }

        finish (InstallProgress::done, "Installer closed - checking what is on disk", {});
    }

    void Installer::runCopy (const Request& req, const juce::String& name, const juce::File& target)
    {
        const juce::String failText = "Could not save to Downloads";
        if (req.saveFolder.isEmpty() || ! juce::File::isAbsolutePath (req.saveFolder))
        {
            finish (InstallProgress::failed, failText, failText);
            return;
        }

        const juce::File saveFolder (req.saveFolder);
        (void) saveFolder.createDirectory();
        const auto dest = saveFolder.getChildFile (name);

        if (! saveFolder.isDirectory() || dest.isDirectory() || ! target.copyFileTo (dest))
        {
            finish (InstallProgress::failed, failText, failText);
            return;
        }

        {
            const juce::ScopedLock sl (lock);
            progressRecord.delivered = dest.getFullPathName();
        }
        finish (InstallProgress::done, req.mode == appUpdate ? "Update ready" : "Saved to Downloads", {});

        if (req.reveal)
        {
            auto reveal = setup.fileReveal;
            juce::MessageManager::callAsync ([reveal, dest] { reveal->reveal (dest); });
        }
    }
}
