#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class ManagerWindow;

// The application object: owns the file logger and the one window.
class TarvoFernhallApp : public juce::JUCEApplication
{
public:
    TarvoFernhallApp();
    ~TarvoFernhallApp() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    // The file logger on "logs/manager.log" inside appData, with the welcome line;
    // an existing log longer than 256 KiB is trimmed first, a shorter one appended to.
    static std::unique_ptr<juce::FileLogger> createLogger (const juce::File& appData);

private:
    std::unique_ptr<juce::FileLogger> logger;
    std::unique_ptr<ManagerWindow> window;
};
