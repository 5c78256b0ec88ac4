#include "manager/ManagerLogic.h"

#include "manager/ProductTable.h"
#include "registry/CatalogReader.h"
#include "registry/Notices.h"
#include "scan/ProductInstall.h"

using hub::InstallScan;
using hub::InstalledArtifact;

namespace
{
    juce::File appDataOf (const ManagerLogic::Config& c)
    {
        return c.appData == juce::File() ? hub::appDataDir() : c.appData;
    }

    hub::Installer::Setup installerSetup (const ManagerLogic::Config& c)
    {
        hub::Installer::Setup s;
        s.appData = appDataOf (c);
        s.downloadHost = c.downloadHost;
        s.signatureChecker = c.signatureChecker;
        s.systemInstaller = c.systemInstaller;
        s.fileReveal = c.fileReveal;
        return s;
    }

    hub::SelfUpdater::Setup selfUpdaterSetup (const ManagerLogic::Config& c)
    {
        hub::SelfUpdater::Setup s;
        s.appData = appDataOf (c);
        s.quit = c.quit;
        return s;
    }

    juce::var object (std::initializer_list<std::pair<const char*, juce::var>> entries)
    {
        auto* o = new juce::DynamicObject();
        for (auto& e : entries)
            o->setProperty (e.first, e.second);
        return juce::var (o);
    }

    juce::int64 secondsStamp (const juce::File& f)
    {
        return f.existsAsFile() ? f.getLastModificationTime().toMilliseconds() / 1000 : 0;
    }

    struct InstallFacts
    {
        bool duplicate = false, conflict = false;
    };

    InstallFacts factsOf (const std::vector<InstalledArtifact>& bundles)
    {
        InstallFacts f;
        for (size_t i = 0; i < bundles.size(); ++i)
            for (size_t j = i + 1; j < bundles.size(); ++j)
                if (bundles[i].format == bundles[j].format)
                {
                    f.duplicate = true;
                    if (bundles[i].version != bundles[j].version)
                        f.conflict = true;
                }
        return f;
    }

    juce::String highestOfFormat (const std::vector<InstalledArtifact>& bundles, InstalledArtifact::Format format)
    {
        juce::StringArray versions;
        for (auto& b : bundles)
            if (b.format == format)
                versions.add (b.version);
        return InstallScan::highestOf (versions);
    }
}

ManagerLogic::ManagerLogic() : ManagerLogic (Config {}) {}

ManagerLogic::ManagerLogic (Config c)
    : config (std::move (c)),
      releaseIndex (appDataOf (config), config.registryOrigin),
      installer (installerSetup (config)),
      selfUpdater (installer, selfUpdaterSetup (config)),
      uninstall (config.adminCommand ? config.adminCommand : hub::AdminCommand::createSystem(), config.searchPaths),
      dismissedFile (appDataOf (config).getChildFile ("dismissed-notices.json")),
      dismissedNotices (hub::notices::loadDismissed (dismissedFile))
{
}

std::vector<InstallScan::SearchPath> ManagerLogic::searchPaths() const
{
    return config.searchPaths ? *config.searchPaths : InstallScan::defaultSearchPaths();
}

juce::var ManagerLogic::failed (const juce::String& message)
{
    return object ({ { "ok", false }, { "error", message } });
}

juce::var ManagerLogic::startJob (const juce::String& productKey, hub::Installer::Mode mode)
{
    const auto snapshot = releaseIndex.snapshot();

    const auto& m = snapshot.manager;
    if (m.version.isNotEmpty() && m.url.isNotEmpty() && m.sha256.isNotEmpty() && m.minSupported.isNotEmpty()
        && InstallScan::compareVersions (hub::identity::appVersion, m.minSupported) < 0)
        return failed ("This app is too old. Please update it first.");

    const hub::CatalogProduct* product = nullptr;
    for (auto& p : snapshot.products)
        if (p.id == productKey) { product = &p; break; }
    if (product == nullptr)
        return failed ("This product is not in the catalogue");

    const hub::Release* release = nullptr;
    for (auto channel : { "stable", "beta" })
    {
        for (auto& r : product->releases)
            if (! r.yanked && r.channel == channel) { release = &r; break; }
        if (release != nullptr)
            break;
    }
    if (release == nullptr)
        return failed ("There is no released version yet");

    const hub::ReleaseArtifact* artifact = nullptr;
    for (auto& a : release->artifacts)
        if (a.kind == "installer" && a.platform == "macos") { artifact = &a; break; }
    if (artifact == nullptr)
        return failed ("There is no installer for this system");

    hub::Installer::Request request;
    request.product = productKey;
    request.version = release->version;
    request.url = artifact->url;
    request.sha256 = artifact->sha256;
    request.size = artifact->size;
    request.fileName = artifact->filename;
    request.mode = mode;
    if (mode == hub::Installer::download)
    {
        const auto folder = config.downloadsFolder != juce::File()
                                ? config.downloadsFolder
                                : juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("Downloads");
        request.saveFolder = folder.getFullPathName();
        request.reveal = true;
    }

    juce::String error;
    if (! installer.start (request, error))
        return failed (error);
    return object ({ { "ok", true }, { "version", release->version } });
}

juce::var ManagerLogic::describeState()
{
    const auto snapshot = releaseIndex.snapshot();
    const auto installs = hub::ProductInstall::group (InstallScan::scan (searchPaths(), hub::ProductTable::bundleIds()));
    const auto mascots = releaseIndex.getMascotDir();

    juce::Array<juce::var> products;
    juce::StringArray catalogIds;

    for (auto& p : snapshot.products)
    {
        auto* e = new juce::DynamicObject();
        e->setProperty ("id", p.id);
        e->setProperty ("name", p.name);
        e->setProperty ("tagline", p.tagline);

        const auto svg = mascots.getChildFile (p.id + ".svg");
        const auto mjs = mascots.getChildFile (p.id + ".mjs");
        const bool safeName = hub::CatalogReader::isSafeFileStem (p.id);
        const auto stamp = juce::String (juce::jmax (secondsStamp (svg), secondsStamp (mjs)));
        e->setProperty ("mascot", safeName && svg.existsAsFile() ? "/mascots/" + p.id + ".svg?v=" + stamp : juce::String());
        e->setProperty ("mascotModule", safeName && mjs.existsAsFile() ? "/mascots/" + p.id + ".mjs?v=" + stamp : juce::String());
        e->setProperty ("mascotMotion", p.mascotMotion);
        e->setProperty ("landingUrl", p.landingUrl);
        e->setProperty ("shopUrl", p.shopUrl);

        const auto latest = p.latestStable.isNotEmpty() ? p.latestStable : p.latestBeta;
        e->setProperty ("latest", latest);
        e->setProperty ("latestChannel", p.latestStable.isEmpty() && p.latestBeta.isNotEmpty() ? "beta" : "stable");
        catalogIds.add (p.id);

        const hub::ProductInstall* install = nullptr;
        if (auto* row = hub::ProductTable::byKey (p.id))
            for (auto& pi : installs)
                if (pi.bundleId == row->bundleId) { install = &pi; break; }

        juce::Array<juce::var> locations;
        if (install == nullptr)
        {
            e->setProperty ("installed", false);
            e->setProperty ("installedVersion", juce::var());
            e->setProperty ("duplicate", false);
            e->setProperty ("conflict", false);
            e->setProperty ("update", false);
        }
        else
        {
            const auto& bundles = install->artifacts;
            juce::String oldest = highestOfFormat (bundles, InstalledArtifact::VST3);
            const auto au = highestOfFormat (bundles, InstalledArtifact::AU);
            if (au.isNotEmpty() && (oldest.isEmpty() || InstallScan::compareVersions (au, oldest) < 0))
                oldest = au;

            const bool update = latest.isNotEmpty() && InstallScan::compareVersions (oldest, latest) < 0;
            const auto facts = factsOf (bundles);

            e->setProperty ("installed", true);
            e->setProperty ("installedVersion", update ? oldest : install->highestVersion());
            e->setProperty ("duplicate", facts.duplicate);
            e->setProperty ("conflict", facts.conflict);
            e->setProperty ("update", update);

            for (auto& b : bundles)
                locations.add (object ({ { "format", InstalledArtifact::formatText (b.format) },
                                         { "scope", InstalledArtifact::scopeText (b.scope) },
                                         { "version", b.version },
                                         { "path", b.path } }));
        }
        e->setProperty ("locations", locations);
        products.add (juce::var (e));
    }

    for (auto& pi : installs)
    {
        const hub::ProductEntry* row = nullptr;
        for (auto& r : hub::ProductTable::all())
            if (r.bundleId == pi.bundleId) { row = &r; break; }
        const auto key = row != nullptr ? row->key : pi.bundleId;
        if (catalogIds.contains (key, false))
            continue;
        const auto facts = factsOf (pi.artifacts);
        products.add (object ({ { "id", key },
                                { "name", row != nullptr ? row->name : pi.name },
                                { "tagline", juce::String() },
                                { "installed", true },
                                { "installedVersion", pi.highestVersion() },
                                { "duplicate", facts.duplicate },
                                { "conflict", facts.conflict },
                                { "update", false },
                                { "orphan", true } }));
    }

    const auto& m = snapshot.manager;
    juce::Array<juce::var> changelog;
    for (auto& line : m.changelog)
        changelog.add (line);
    const auto state = hub::SelfUpdater::updateState (m);
    selfUpdater.sync();
    const bool busy = selfUpdater.isBusy();
    selfUpdater.sync();
    const bool ready = selfUpdater.isReady();
    const auto appUpdate = object ({ { "state", state },
                                     { "version", m.version },
                                     { "released", m.released },
                                     { "size", m.size },
                                     { "busy", busy },
                                     { "ready", ready },
                                     { "changelog", changelog } });

    juce::var notice;
    const auto now = config.now ? config.now() : juce::Time::currentTimeMillis();
    const auto banners = releaseIndex.getBannerDir();
    if (auto chosen = hub::notices::select (snapshot.notices, dismissedNotices, now, banners))
    {
        const auto banner = banners.getChildFile (chosen->id + ".svg");
        notice = object ({ { "id", chosen->id },
                           { "image", "/banners/" + chosen->id + ".svg?v=" + juce::String (secondsStamp (banner)) },
                           { "url", chosen->url.startsWith ("https://") ? chosen->url : juce::String() } });
    }

    return object ({ { "products", products },
                     { "appUpdate", appUpdate },
                     { "notice", notice },
                     { "catalogReady", ! snapshot.products.empty() },
                     { "fetchedAt", snapshot.fetchedAt },
                     { "appVersion", hub::identity::appVersion },
                     { "buildStamp", hub::identity::buildStamp() },
                     { "downloadsUrl", hub::identity::downloadsUrl },
                     { "supportMail", hub::identity::supportMail } });
}

void ManagerLogic::dismissNotice (const juce::String& id)
{
    hub::notices::dismiss (dismissedNotices, id, dismissedFile);
}

bool ManagerLogic::openInBrowser (const juce::String& address) const
{
    if (config.openInBrowser)
        return config.openInBrowser (address);
    return juce::URL (address).launchInDefaultBrowser();
}

bool ManagerLogic::openDocument (const juce::String& document) const
{
    if (config.openDocument)
        return config.openDocument (document);
    return juce::Process::openDocument (document, {});
}
