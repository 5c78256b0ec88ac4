#include "app/TarvoFernhallApp.h"

#include "app/Identity.h"
#include "app/ManagerWindow.h"

namespace
{
    constexpr juce::int64 maxInitialLogSize = 262144;
}

TarvoFernhallApp::TarvoFernhallApp() = default;

TarvoFernhallApp::~TarvoFernhallApp()
{
    window.reset();
    logger.reset();
}

const juce::String TarvoFernhallApp::getApplicationName()    { return hub::identity::appName; }
const juce::String TarvoFernhallApp::getApplicationVersion() { return hub::identity::appVersion; }
bool TarvoFernhallApp::moreThanOneInstanceAllowed()          { return false; }

std::unique_ptr<juce::FileLogger> TarvoFernhallApp::createLogger (const juce::File& appData)
{
    auto logs = appData.getChildFile ("logs");
    (void) logs.createDirectory();
    return std::make_unique<juce::FileLogger> (logs.getChildFile ("manager.log"),
                                               hub::identity::welcomeLine(),
                                               maxInitialLogSize);
}

void TarvoFernhallApp::initialise (const juce::String&)
{
    logger = createLogger (hub::appDataDir());
    juce::Logger::setCurrentLogger (logger.get());
    window = std::make_unique<ManagerWindow>();
}

void TarvoFernhallApp::shutdown()
{
    window.reset();
    juce::Logger::setCurrentLogger (nullptr);
    logger.reset();
}
