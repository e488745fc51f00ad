#include "hotspotjob.h"

#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"

#include <QRegularExpression>

namespace {

const char kListingScript[] = R"rsc(
:foreach p in=[/ip hotspot profile find] do={ :put ("QM_PROFILE=" . [/ip hotspot profile get $p name]); :put ("QM_DIR=" . [/ip hotspot profile get $p html-directory]); :put ("QM_OVERRIDE=" . [/ip hotspot profile get $p html-directory-override]); :put ("QM_DNS=" . [/ip hotspot profile get $p dns-name]) }; :foreach s in=[/ip hotspot find] do={ :put ("QM_SERVER=" . [/ip hotspot get $s profile]) }; :put "QM_DONE=1"
)rsc";
const char kFetchScript[] = R"rsc(:do { /tool fetch url=%1 dst-path=%2 mode=https check-certificate=no; :put "QM_FETCHED=1" } on-error={ :put "QM_FAIL=fetch" }; :put "QM_DONE=1")rsc";

const char kListingLabel[] = "Reading the hotspot folder...";
const char kFetchLabel[] = "Downloading the login page...";
const char kInstallingAt[] = "Installing login.html at %1";

const char kNoProfile[] = "This router has no hotspot profile yet. Finish the router setup first.";
const char kNoServer[] = "This router has no hotspot profile yet.";
const char kFolderRefused[] =
    "The hotspot folder on this router is not a path this app can replace.";
const char kDownloadFailed[] = "The router could not download the login page. It needs internet, "
                               "and the hotspot folder must be writable.";

const char kOurProfile[] = "quillmor-server";
const char kDefaultFolder[] = "hotspot";
const char kPageName[] = "login.html";

constexpr int kListingTimeoutMs = 30000;
constexpr int kFetchTimeoutMs = 60000;

const QLatin1String kProfileKey("QM_PROFILE=");
const QLatin1String kDirKey("QM_DIR=");
const QLatin1String kOverrideKey("QM_OVERRIDE=");
const QLatin1String kDnsKey("QM_DNS=");
const QLatin1String kServerKey("QM_SERVER=");

const QRegularExpression &lineBreaks()
{
    static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
    return breaks;
}

QString stripSlashes(QString folder)
{
    qsizetype start = 0;
    while (start < folder.size() && folder.at(start) == QLatin1Char('/'))
        ++start;
    qsizetype end = folder.size();
    while (end > start && folder.at(end - 1) == QLatin1Char('/'))
        --end;
    return folder.mid(start, end - start);
}

} // namespace

QString hotspotListingScript()
{
    return QString::fromUtf8(kListingScript).trimmed();
}

QList<HotspotProfile> parseHotspotProfiles(const QString &output)
{
    QList<HotspotProfile> profiles;
    HotspotProfile current;
    bool open = false;
    const QStringList pieces = output.split(lineBreaks(), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QString line = piece.trimmed();
        if (line.startsWith(kProfileKey)) {
            if (open)
                profiles << current;
            current = HotspotProfile();
            current.name = line.mid(kProfileKey.size());
            open = true;
        } else if (!open) {
            continue;
        } else if (line.startsWith(kDirKey)) {
            current.dir = line.mid(kDirKey.size());
        } else if (line.startsWith(kOverrideKey)) {
            current.override = line.mid(kOverrideKey.size());
        } else if (line.startsWith(kDnsKey)) {
            current.dns = line.mid(kDnsKey.size());
        }
    }
    if (open)
        profiles << current;
    return profiles;
}

QStringList parseHotspotServerProfiles(const QString &output)
{
    QStringList used;
    const QStringList pieces = output.split(lineBreaks(), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QString line = piece.trimmed();
        if (line.startsWith(kServerKey))
            used << line.mid(kServerKey.size());
    }
    return used;
}

bool chooseHotspotProfile(const QList<HotspotProfile> &profiles, const QStringList &serverProfiles,
                          HotspotProfile *chosen)
{
    // RouterOS always keeps its "default" profile, so only a profile that a server uses says
    // where customers are served from.
    QList<HotspotProfile> served;
    for (const HotspotProfile &profile : profiles) {
        if (serverProfiles.contains(profile.name))
            served << profile;
    }
    if (served.isEmpty())
        return false;
    for (const HotspotProfile &profile : std::as_const(served)) {
        if (profile.name == QLatin1String(kOurProfile)) {
            *chosen = profile;
            return true;
        }
    }
    for (const HotspotProfile &profile : std::as_const(served)) {
        if (!profile.dns.trimmed().isEmpty()) {
            *chosen = profile;
            return true;
        }
    }
    *chosen = served.constFirst();
    return true;
}

QString hotspotFolder(const HotspotProfile &profile)
{
    QString folder = profile.override.trimmed();
    if (folder.isEmpty())
        folder = profile.dir.trimmed();
    if (folder.isEmpty())
        folder = QString::fromLatin1(kDefaultFolder);
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return stripSlashes(folder);
}

bool isReplaceableHotspotFolder(const QString &folder)
{
    static const QRegularExpression pathRule(QStringLiteral("^[A-Za-z0-9_./-]{1,80}$"));
    if (folder.contains(QLatin1String("..")))
        return false;
    if (folder.contains(QLatin1Char(' ')) || folder.contains(QLatin1Char('"'))
        || folder.contains(QLatin1Char(';')))
        return false;
    return pathRule.match(folder).hasMatch();
}

QString hotspotDestination(const HotspotProfile &profile, QString *folderOut)
{
    const QString folder = hotspotFolder(profile);
    if (folderOut)
        *folderOut = folder;
    if (!isReplaceableHotspotFolder(folder))
        return QString();
    if (folder.endsWith(QLatin1String(kPageName)))
        return QLatin1Char('/') + folder;
    return QLatin1Char('/') + folder + QLatin1Char('/') + QLatin1String(kPageName);
}

QString hotspotFetchScript(const QString &loginPageUrl, const QString &destination)
{
    // One substitution for both: a "%2" inside the URL must stay text, not become the path.
    return QString::fromUtf8(kFetchScript).arg(quoteRouterOs(loginPageUrl),
                                               quoteRouterOs(destination));
}

void RouterTask::installHotspotPage(SshClient &client)
{
    QString output;
    if (!runScript(client, hotspotListingScript(), QString::fromUtf8(kListingLabel), &output,
                   kListingTimeoutMs)) {
        emit hotspotReady(false, m_lastError, QString());
        return;
    }

    const QList<HotspotProfile> profiles = parseHotspotProfiles(output);
    if (profiles.isEmpty()) {
        emit hotspotReady(false, QString::fromUtf8(kNoProfile), QString());
        return;
    }

    HotspotProfile chosen;
    if (!chooseHotspotProfile(profiles, parseHotspotServerProfiles(output), &chosen)) {
        emit hotspotReady(false, QString::fromUtf8(kNoServer), QString());
        return;
    }

    const QString destination = hotspotDestination(chosen);
    if (destination.isEmpty()) {
        emit hotspotReady(false, QString::fromUtf8(kFolderRefused), QString());
        return;
    }

    emit logLine(QString::fromUtf8(kInstallingAt).arg(destination));
    if (!runScript(client, hotspotFetchScript(m_loginPageUrl, destination),
                   QString::fromUtf8(kFetchLabel), nullptr, kFetchTimeoutMs)) {
        emit hotspotReady(false, QString::fromUtf8(kDownloadFailed), QString());
        return;
    }
    emit hotspotReady(true, QString(), destination);
}
