#pragma once

#include <juce_core/juce_core.h>

namespace hub
{
    // The progress record of the one install job: what the page polls and what the
    // manager's self-update follows.
    struct InstallProgress
    {
        enum Stage
        {
            idle = 0,
            downloading = 1,
            verifying = 2,
            checking = 3,
            installing = 4,
            done = 5,
            failed = 6,
            cancelled = 7
        };

        Stage stage = idle;
        juce::String product;       // product key of the current or last job
        juce::String version;       // release version of the current or last job
        juce::String file;          // the cleaned file name
        juce::int64 received = 0;   // bytes received in the current attempt
        juce::int64 total = 0;      // bytes expected; -1 when the server sends no length
        int attempt = 0;            // current download attempt, 1 to 3
        juce::String message;       // what is happening, for the user
        juce::String error;         // failure text of a failed job; empty otherwise
        juce::String delivered;     // full path of the copy (modes download and appUpdate)
        int exitCode = -1;          // exit code of the system installer launch; -1 until known

        // "idle", "downloading", ... "cancelled"; anything out of range is "idle".
        static juce::String stageName (int stage);

        // True for downloading, verifying, checking and installing.
        static bool isRunning (int stage);

        // 1 when done; received / total (clamped to 0..1) while downloading with a known
        // total of at least 1; -1 otherwise.
        double fraction() const;

        // The install-state document: "stage", "running", "product", "version", "file",
        // "received", "total", "fraction", "attempt", "message", "error", "delivered",
        // "exitCode", in this order.
        juce::var toVar() const;
    };
}
