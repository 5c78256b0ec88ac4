#include "app/NativeFunctions.h"

#include "app/Identity.h"
#include "install/RemovalPlan.h"
#include "manager/ManagerLogic.h"
#include "manager/ProductTable.h"

namespace
{
    using Args = juce::Array<juce::var>;
    using Done = tarvo::WebBrowserComponent::NativeFunctionCompletion;

    juce::var acknowledged()
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("ok", true);
        return juce::var (o);
    }

    juce::var accepted (const juce::String& version)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("ok", true);
        o->setProperty ("version", version);
        return juce::var (o);
    }
}

juce::var NativeFunctions::uiSettings()
{
    auto* o = new juce::DynamicObject();
    o->setProperty ("uiScale", 1);
    o->setProperty ("contrast", "high");
    o->setProperty ("theme", "white");
    return juce::var (o);
}

juce::String NativeFunctions::supportMailAddress (const juce::String& operatingSystemName)
{
    return juce::String ("mailto:") + hub::identity::supportMail + "?subject=TARVO%20Fernhall%20"
           + hub::identity::appVersion + "%20(" + operatingSystemName.replace (" ", "%20") + ")";
}

int NativeFunctions::clampEditorSize (const juce::var& value)
{
    int n = 0;
    if (value.isString())
        n = value.toString().getIntValue();
    else if (value.isDouble())
    {
        const double d = (double) value;
        n = std::isfinite (d) ? (int) juce::jlimit (-1.0e9, 1.0e9, d) : 0;
    }
    else if (value.isInt() || value.isInt64() || value.isBool())
        n = (int) juce::jlimit ((juce::int64) -1000000000, (juce::int64) 1000000000, (juce::int64) value);
    return juce::jlimit (320, 2400, n);
}

tarvo::WebBrowserComponent::Options NativeFunctions::addAll (tarvo::WebBrowserComponent::Options options, NativeHost& host)
{
    auto* h = &host;

    return options
        .withNativeFunction ("getState", [h] (const Args&, Done done)
        {
            done (h->getLogic().describeState());
        })
        .withNativeFunction ("openUrl", [h] (const Args& args, Done done)
        {
            const auto address = args.isEmpty() ? juce::String() : args[0].toString();
            if (! address.startsWith ("https://"))
            {
                done (false);
                return;
            }
            (void) h->getLogic().openInBrowser (address);
            done (true);
        })
        .withNativeFunction ("contactSupport", [h] (const Args&, Done done)
        {
            done (h->getLogic().openDocument (supportMailAddress (juce::SystemStats::getOperatingSystemName())));
        })
        .withNativeFunction ("refreshCatalog", [h] (const Args&, Done done)
        {
            h->getLogic().releaseIndex.refreshAsync ([done] (hub::ReleaseIndex::Result r)
            {
                auto* o = new juce::DynamicObject();
                o->setProperty ("ok", r.ok);
                o->setProperty ("fromCache", r.fromCache);
                o->setProperty ("message", r.message);
                done (juce::var (o));
            });
        })
        .withNativeFunction ("dismissNotice", [h] (const Args& args, Done done)
        {
            if (! args.isEmpty())
                h->getLogic().dismissNotice (args[0].toString());
            done (true);
        })
        .withNativeFunction ("startInstall", [h] (const Args& args, Done done)
        {
            if (args.isEmpty()) { done ({}); return; }
            done (h->getLogic().startJob (args[0].toString(), hub::Installer::install));
        })
        .withNativeFunction ("startAppUpdate", [h] (const Args&, Done done)
        {
            auto& logic = h->getLogic();
            const auto r = logic.selfUpdater.startAppUpdate (logic.releaseIndex.snapshot().manager);
            done (r.ok ? accepted (r.version) : ManagerLogic::failed (r.error));
        })
        .withNativeFunction ("applyAppUpdate", [h] (const Args&, Done done)
        {
            const auto r = h->getLogic().selfUpdater.applyAppUpdate();
            done (r.ok ? acknowledged() : ManagerLogic::failed (r.error));
        })
        .withNativeFunction ("skipAppUpdate", [h] (const Args&, Done done)
        {
            h->getLogic().selfUpdater.skipAppUpdate();
            done (acknowledged());
        })
        .withNativeFunction ("startDownload", [h] (const Args& args, Done done)
        {
            if (args.isEmpty()) { done ({}); return; }
            done (h->getLogic().startJob (args[0].toString(), hub::Installer::download));
        })
        .withNativeFunction ("cancelInstall", [h] (const Args& args, Done done)
        {
            if (args.isEmpty()) { done ({}); return; }
            h->getLogic().installer.cancel();
            done (acknowledged());
        })
        .withNativeFunction ("getInstallState", [h] (const Args&, Done done)
        {
            done (h->getLogic().installer.state().toVar());
        })
        .withNativeFunction ("uninstallPlan", [h] (const Args& args, Done done)
        {
            if (args.isEmpty()) { done ({}); return; }
            auto* row = hub::ProductTable::byKey (args[0].toString());
            if (row == nullptr) { done (hub::RemovalPlan::unknownProductDocument()); return; }
            done (h->getLogic().uninstall.planFor (row->bundleId).toVar());
        })
        .withNativeFunction ("uninstallProduct", [h] (const Args& args, Done done)
        {
            if (args.isEmpty()) { done ({}); return; }
            auto* row = hub::ProductTable::byKey (args[0].toString());
            if (row == nullptr) { done (hub::Uninstall::Result::unknownProduct().toVar()); return; }
            h->getLogic().uninstall.runAsync (row->bundleId, row->name,
                                              [done] (hub::Uninstall::Result r) { done (r.toVar()); });
        })
        .withNativeFunction ("getPluginVersion", [] (const Args&, Done done)
        {
            done (juce::String (hub::identity::appVersion));
        })
        .withNativeFunction ("getUiSettings", [] (const Args&, Done done)
        {
            done (uiSettings());
        })
        .withNativeFunction ("setEditorSize", [h] (const Args& args, Done done)
        {
            if (args.size() >= 2)
                h->postContentSize (clampEditorSize (args[0]), clampEditorSize (args[1]));
            done (true);
        });
}
