// Speed of the install job's heavy steps, each next to a reference tool run on the
// same input in the same run:
//   digest:   Installer::sha256OfFile on a 512 MiB file vs `openssl dgst -sha256` (goal: ratio <= 1.25)
//   download: the job's download over loopback HTTPS vs `curl`                      (goal: ratio <= 1.2)
// Prints one line per measurement and a ratio line per goal. Not a test; run by hand:
//   bench_install [size in MiB]
#include "install/Installer.h"
#include "support/VendorServer.h"

#include <juce_cryptography/juce_cryptography.h>
#include <juce_events/juce_events.h>

#include <cstdio>
#include <cstdlib>

namespace
{
    double secondsOf (const std::function<void()>& fn)
    {
        auto t0 = juce::Time::getMillisecondCounterHiRes();
        fn();
        return (juce::Time::getMillisecondCounterHiRes() - t0) / 1000.0;
    }

    // Best of n runs: the least disturbed by other work on the machine.
    double bestOf (int n, const std::function<void()>& fn)
    {
        double best = 1e30;
        for (int i = 0; i < n; ++i)
            best = juce::jmin (best, secondsOf (fn));
        return best;
    }

    juce::String runTool (const juce::StringArray& args)
    {
        juce::ChildProcess p;
        if (! p.start (args, juce::ChildProcess::wantStdOut))
            return {};
        auto out = p.readAllProcessOutput();
        p.waitForProcessToFinish (600000);
        return out;
    }

    bool writeTestFile (const juce::File& f, juce::int64 bytes)
    {
        juce::FileOutputStream out (f);
        if (! out.openedOk())
            return false;
        out.truncate();
        juce::HeapBlock<char> block (1 << 20);
        juce::Random rng (1234);
        for (juce::int64 written = 0; written < bytes; written += (1 << 20))
        {
            rng.fillBitsRandomly (block.get(), 1 << 20);
            if (! out.write (block.get(), (size_t) juce::jmin<juce::int64> (1 << 20, bytes - written)))
                return false;
        }
        return true;
    }

    void benchDigest (const juce::File& dir, int mib)
    {
        auto file = dir.getChildFile ("digest.bin");
        const auto bytes = (juce::int64) mib << 20;
        if (! writeTestFile (file, bytes))
        {
            std::printf ("digest: could not write the test file\n");
            return;
        }

        // Warm the page cache so that both read from memory.
        (void) hub::Installer::sha256OfFile (file);

        juce::String ours, theirs;
        auto tOurs = bestOf (3, [&] { ours = hub::Installer::sha256OfFile (file); });
        auto tTool = bestOf (3, [&] { theirs = runTool ({ "openssl", "dgst", "-sha256", "-r", file.getFullPathName() }); });
        theirs = theirs.upToFirstOccurrenceOf (" ", false, false).trim();

        std::printf ("digest: sha256OfFile %d MiB: %.3f s (%.0f MiB/s)\n", mib, tOurs, mib / tOurs);
        if (theirs.isEmpty())
        {
            std::printf ("digest: openssl not available; no ratio\n");
        }
        else
        {
            std::printf ("digest: openssl dgst -sha256 %d MiB: %.3f s (%.0f MiB/s)%s\n", mib, tTool, mib / tTool,
                         theirs == ours ? "" : "  DIGESTS DIFFER");
            std::printf ("ratio digest sha256OfFile/openssl: %.2f (goal <= 1.25)\n", tOurs / tTool);
        }

        // For comparison: the framework's own SHA-256 on a smaller part of the file.
        const int sampleMiB = juce::jmin (mib, 64);
        juce::FileInputStream in (file);
        auto tJuce = secondsOf ([&] { juce::SHA256 (in, (juce::int64) sampleMiB << 20); });
        std::printf ("digest: framework SHA256 %d MiB: %.3f s (%.0f MiB/s)\n", sampleMiB, tJuce, sampleMiB / tJuce);

        file.deleteFile();
    }
}

void benchDownload (const juce::File& dir, int mib);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    const int mib = argc > 1 ? juce::jlimit (1, 4096, juce::String (argv[1]).getIntValue()) : 512;

    auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("fernhall-bench-install", {}, false);
    dir.createDirectory();

    benchDigest (dir, mib);
    benchDownload (dir, juce::jmin (mib, 256));

    dir.deleteRecursively();
    return 0;
}

namespace
{
    struct DoneFlag : juce::URL::DownloadTaskListener
    {
        juce::WaitableEvent done;
        void finished (juce::URL::DownloadTask*, bool) override { done.signal(); }
    };

    // One download the way the install job makes it: the framework's download task
    // into a file, with a listener, waited for.
    bool frameworkDownload (const juce::String& url, const juce::File& into)
    {
        DoneFlag flag;
        auto task = juce::URL (url).downloadToFile (into, juce::URL::DownloadTaskOptions().withListener (&flag));
        if (task == nullptr)
            return false;
        while (! task->isFinished())
            flag.done.wait (100);
        if (task->hadError() || task->statusCode() >= 400)
        {
            std::printf ("download: error %d, status %d\n", (int) task->hadError(), task->statusCode());
            return false;
        }
        return true;
    }
}

void benchDownload (const juce::File& dir, int mib)
{
    if (std::getenv ("FERNHALL_TLS_DIR") == nullptr)
        ::setenv ("FERNHALL_TLS_DIR", FERNHALL_BUILD_DIR "/tls", 1);

    auto root = dir.getChildFile ("served");
    auto file = root.getChildFile ("files/package.pkg");
    file.getParentDirectory().createDirectory();
    if (! writeTestFile (file, (juce::int64) mib << 20))
    {
        std::printf ("download: could not write the test file\n");
        return;
    }

    test::VendorServer server (root);
    if (! server.running())
    {
        std::printf ("download: the loopback server did not start (run the vendor_tls test fixture first); no ratio\n");
        return;
    }
    const auto url = server.origin() + "/files/package.pkg";
    auto ours = dir.getChildFile ("ours.pkg");
    auto theirs = dir.getChildFile ("curl.pkg");

    // One round each first: connection set-up, page cache, server warm-up.
    if (! frameworkDownload (url, ours) || ours.getSize() != file.getSize())
    {
        std::printf ("download: the framework download failed (is the test CA trusted?); no ratio\n");
        return;
    }
    runTool ({ "curl", "-s", "-o", theirs.getFullPathName(), url });

    auto tOurs = bestOf (3, [&] { frameworkDownload (url, ours); });
    auto tCurl = bestOf (3, [&] { runTool ({ "curl", "-s", "-o", theirs.getFullPathName(), url }); });
    const bool same = theirs.getSize() == file.getSize() && ours.getSize() == file.getSize();

    std::printf ("download: install job's download task %d MiB: %.3f s (%.0f MiB/s)\n", mib, tOurs, mib / tOurs);
    std::printf ("download: curl %d MiB: %.3f s (%.0f MiB/s)%s\n", mib, tCurl, mib / tCurl, same ? "" : "  SIZES DIFFER");
    std::printf ("ratio download task/curl: %.2f (goal <= 1.2)\n", tOurs / tCurl);

    // The whole job for the same file (download, size check, digest, copy), for reference.
    {
        auto appData = dir.getChildFile ("appdata");
        hub::Installer::Setup setup;
        setup.appData = appData;
        setup.downloadHost = "localhost";
        struct Pass : hub::SignatureChecker
        {
            Output check (const juce::File&) override
            {
                return { true, "Status: signed by x\nNotarization: trusted by the Apple notary service\n"
                               "1. Developer ID Installer: TARVO (T4RV0FH123)\n", 0 };
            }
        };
        setup.signatureChecker = std::make_shared<Pass>();
        setup.teamId = "T4RV0FH123";
        hub::Installer installer (setup);
        hub::Installer::Request r;
        r.product = "bench";
        r.version = "1";
        r.url = url;
        r.fileName = "package.pkg";
        r.size = file.getSize();
        r.sha256 = hub::Installer::sha256OfFile (file);
        r.mode = hub::Installer::appUpdate;
        r.saveFolder = dir.getChildFile ("update").getFullPathName();
        juce::String error;
        auto t = secondsOf ([&]
        {
            if (installer.start (r, error))
                installer.waitForThreadToExit (600000);
        });
        auto st = installer.state();
        std::printf ("download: whole job (download, checks, digest, copy) %d MiB: %.3f s, %s %s\n", mib, t,
                     hub::InstallProgress::stageName (st.stage).toRawUTF8(), st.error.toRawUTF8());
    }
}
