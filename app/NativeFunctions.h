#pragma once

#include "app/NativeHost.h"
#include "platform/WebBrowserComponent.h"

// The named functions the page calls. Every body runs on the message thread, reads
// its arguments by position, and calls its completion exactly once (at once, or when
// its background job has ended for refreshCatalog and uninstallProduct).
class NativeFunctions
{
public:
    // The options with all functions added, in this order: getState, openUrl,
    // contactSupport, refreshCatalog, dismissNotice, startInstall, startAppUpdate,
    // applyAppUpdate, skipAppUpdate, startDownload, cancelInstall, getInstallState,
    // uninstallPlan, uninstallProduct, getPluginVersion, getUiSettings, setEditorSize.
    static tarvo::WebBrowserComponent::Options addAll (tarvo::WebBrowserComponent::Options options, NativeHost& host);

    // The fixed display settings the page applies.
    static juce::var uiSettings();

    // "mailto:" address of the support request, with the system's name in the subject.
    static juce::String supportMailAddress (const juce::String& operatingSystemName);

    // A requested content size, clamped to 320..2400 in each direction.
    static int clampEditorSize (const juce::var& value);
};
