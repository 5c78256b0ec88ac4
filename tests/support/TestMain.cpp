// Entry point of every C++ test program: a private home folder (so nothing a test
// does can reach the real application-data folder), the framework's message
// manager on this thread, then GoogleTest.
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <cstdlib>

int main (int argc, char** argv)
{
    char pattern[] = "/tmp/fernhall-test-home-XXXXXX";
    const char* home = ::mkdtemp (pattern);
    if (home != nullptr)
        ::setenv ("HOME", home, 1);

    testing::InitGoogleTest (&argc, argv);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI framework;
        result = RUN_ALL_TESTS();
    }

    if (home != nullptr)
        juce::File (home).deleteRecursively();
    return result;
}
