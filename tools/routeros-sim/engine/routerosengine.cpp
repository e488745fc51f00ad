#include "routerosengine.h"

#include "configmodel.h"
#include "menuschema.h"
#include "scenario.h"
#include "scriptinterpreter.h"
#include "scriptparser.h"

#include <algorithm>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QVersionNumber>

#ifndef ROUTEROS_SIM_SCHEMA_DIR
#define ROUTEROS_SIM_SCHEMA_DIR ""
#endif

namespace {

// A real export is read line by line on the router; a line this parser cannot read is blanked
// (with the physical lines a trailing backslash joins to it) so that the rest still loads. The
// line numbers of the others stay as they were.
bool dropExportLine(QString *text, const QString &parseError)
{
    static const QRegularExpression where(QStringLiteral("\\(line (\\d+) column \\d+\\)$"));
    const QRegularExpressionMatch m = where.match(parseError);
    if (!m.hasMatch())
        return false;
    QStringList lines = text->split(QLatin1Char('\n'));
    int first = m.captured(1).toInt() - 1;
    if (first < 0 || first >= lines.size())
        return false;
    auto continued = [&](int i) {
        QString l = lines.at(i);
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
        return l.endsWith(QLatin1Char('\\'));
    };
    while (first > 0 && continued(first - 1))
        --first;
    int last = first;
    while (last + 1 < lines.size() && continued(last))
        ++last;
    bool changed = false;
    for (int i = first; i <= last; ++i) {
        changed = changed || !lines.at(i).trimmed().isEmpty();
        lines[i].clear();
    }
    *text = lines.join(QLatin1Char('\n'));
    return changed;
}

} // namespace

class RouterOsEnginePrivate
{
public:
    mutable QMutex mutex;
    Scenario scenario;
    MenuSchema schema;
    ConfigModel model;
    QHash<QString, RosValue> globals;
    QJsonArray log;
    QString logPath;
    QStringList skippedExportLines;
    bool loaded = false;

    [[nodiscard]] ScriptParser::Options parserOptions(bool exportMode) const
    {
        ScriptParser::Options o;
        o.exportMode = exportMode;
        const QVersionNumber v = QVersionNumber::fromString(scenario.version);
        o.unknownArgumentAtRun = v >= QVersionNumber(7, 23);
        static const QStringList menus = {
                QStringLiteral("interface"),           QStringLiteral("interface/ethernet"),
                QStringLiteral("interface/wireguard"), QStringLiteral("interface/wireguard/peers"),
                QStringLiteral("interface/pppoe-client"), QStringLiteral("interface/bridge/port"),
                QStringLiteral("ip/route"),            QStringLiteral("ip/address"),
                QStringLiteral("ip/dhcp-client"),      QStringLiteral("ip/service"),
                QStringLiteral("user"),                QStringLiteral("ip/hotspot/profile"),
                QStringLiteral("ppp/profile")};
        for (const QString &m : menus)
            o.readOnly.insert(m, ConfigModel::readOnlyProperties(m));
        return o;
    }

    void appendLog(const QJsonArray &entries)
    {
        for (const QJsonValue &e : entries)
            log.append(e);
        if (logPath.isEmpty() || entries.isEmpty())
            return;
        QFile f(logPath);
        if (!f.open(QIODevice::Append | QIODevice::Text))
            return;
        for (const QJsonValue &e : entries)
            f.write(QJsonDocument(e.toObject()).toJson(QJsonDocument::Compact) + '\n');
    }

    // Runs one script; the text of the first error it hit lands in *error.
    ScriptInterpreter::Result run(const QString &script, bool exportMode, QString *error)
    {
        ScriptParser parser(schema, parserOptions(exportMode));
        ScriptBlockPtr block;
        QString parseError;
        model.setExportMode(exportMode);
        ScriptInterpreter::Result result;
        QString text = script;
        QStringList unparsed;
        while (!parser.parse(text, &block, &parseError)) {
            if (!exportMode || !dropExportLine(&text, parseError) || unparsed.size() >= 100) {
                result.failed = true;
                result.lines << parseError;
                if (error)
                    *error = parseError;
                model.setExportMode(false);
                return result;
            }
            unparsed << parseError;
        }
        ScriptInterpreter interpreter(model, schema, scenario, globals);
        result = interpreter.run(*block);
        result.skipped = unparsed + result.skipped;
        model.setExportMode(false);
        if (result.failed && error && !result.lines.isEmpty())
            *error = result.lines.last();
        return result;
    }
};

namespace {

QString versionFromExport(const QString &text)
{
    // Pre-release builds carry their suffix: "by RouterOS 7.14rc2".
    static const QRegularExpression header(
            QStringLiteral("by RouterOS (\\d+(?:\\.\\d+)+(?:(?:alpha|beta|rc)\\d+)?)"));
    const QRegularExpressionMatch m = header.match(text.left(400));
    return m.hasMatch() ? m.captured(1) : QString();
}

// Hardware ports an export names: by default name, or as a member of something.
QStringList portsFromExport(const QString &text)
{
    static const QRegularExpression named(
            QStringLiteral("(?:default-name|interface)="
                           "((?:ether|sfp|qsfp|combo|wlan|wifi|lte)[\\w-]*?\\d+)"
                           "(?=[\\s\\]\\\\]|$)"));
    QStringList ports;
    for (auto it = named.globalMatch(text); it.hasNext();) {
        const QString port = it.next().captured(1);
        if (!ports.contains(port))
            ports << port;
    }
    return ports;
}

QString modelFromExport(const QString &text)
{
    static const QRegularExpression line(QStringLiteral("^# model = (.+)$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(text.left(600));
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

} // namespace

RouterOsEngine::RouterOsEngine() : d(std::make_unique<RouterOsEnginePrivate>()) { }

RouterOsEngine::~RouterOsEngine() = default;

bool RouterOsEngine::loadScenarioFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read the scenario %1.").arg(path);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    if (!doc.isObject()) {
        if (error)
            *error = QStringLiteral("The scenario %1 is not a JSON object: %2")
                             .arg(path, parseError.errorString());
        return false;
    }
    return loadScenario(doc.object(), QFileInfo(path).absolutePath(), error);
}

bool RouterOsEngine::loadScenario(const QJsonObject &json, const QString &baseDir, QString *error)
{
    QMutexLocker lock(&d->mutex);
    Scenario s;
    const QDir base(baseDir);
    QString exportText;
    if (json.contains(QStringLiteral("export"))) {
        s.exportFile = base.filePath(json.value(QStringLiteral("export")).toString());
        QFile f(s.exportFile);
        if (!f.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("Cannot read the export %1.").arg(s.exportFile);
            return false;
        }
        exportText = QString::fromUtf8(f.readAll());
    }
    const QString exportVersion = versionFromExport(exportText);
    const QStringList exportPorts = portsFromExport(exportText);
    s.version = json.value(QStringLiteral("version")).toString(exportVersion.isEmpty() ? s.version : exportVersion);
    // Release candidates and betas come from the testing channel, alphas from development.
    static const QRegularExpression preRelease(QStringLiteral("\\d(alpha|beta|rc)\\d+$"));
    const QRegularExpressionMatch pre = preRelease.match(s.version);
    const QString impliedChannel = !pre.hasMatch() ? s.channel
            : pre.captured(1) == QLatin1String("alpha") ? QStringLiteral("development")
                                                        : QStringLiteral("testing");
    s.channel = json.value(QStringLiteral("channel")).toString(impliedChannel);
    s.model = json.contains(QStringLiteral("model")) ? json.value(QStringLiteral("model")).toString()
                                                     : modelFromExport(exportText);
    s.identity = json.value(QStringLiteral("identity")).toString(s.identity);
    s.ethernetPorts = json.value(QStringLiteral("ethernetPorts")).toInt(s.ethernetPorts);
    for (const QJsonValue &v : json.value(QStringLiteral("extraInterfaces")).toArray())
        s.extraInterfaces << v.toString();
    // The export's router had these ports; this one gets them too, so that its lines apply.
    for (const QString &port : exportPorts) {
        static const QRegularExpression ether(QStringLiteral("^ether(\\d+)$"));
        const QRegularExpressionMatch m = ether.match(port);
        const bool present = (m.hasMatch() && m.captured(1).toInt() <= s.ethernetPorts)
                || s.extraInterfaces.contains(port);
        if (present)
            continue;
        s.extraInterfaces << port;
    }
    const QJsonArray users = json.value(QStringLiteral("users")).toArray();
    for (const QJsonValue &v : users) {
        const QJsonObject u = v.toObject();
        s.users << ScenarioUser{u.value(QStringLiteral("name")).toString(),
                                u.value(QStringLiteral("password")).toString(),
                                u.value(QStringLiteral("group")).toString(QStringLiteral("full"))};
    }
    if (users.isEmpty())
        s.users << ScenarioUser{QStringLiteral("admin"), QString(), QStringLiteral("full")};
    const QJsonObject up = json.value(QStringLiteral("upstream")).toObject();
    s.upstreamDhcp = up.value(QStringLiteral("dhcp")).toBool(s.upstreamDhcp);
    s.dhcpAddress = up.value(QStringLiteral("dhcpAddress")).toString(s.dhcpAddress);
    s.dhcpGateway = up.value(QStringLiteral("dhcpGateway")).toString(s.dhcpGateway);
    const QJsonObject pppoe = up.value(QStringLiteral("pppoe")).toObject();
    s.pppoeUser = pppoe.value(QStringLiteral("user")).toString();
    s.pppoePassword = pppoe.value(QStringLiteral("password")).toString();
    s.internet = up.value(QStringLiteral("internet")).toBool(s.internet);
    s.serviceHttps = up.value(QStringLiteral("serviceHttps")).toBool(s.serviceHttps);
    const QJsonObject wg = json.value(QStringLiteral("wireguard")).toObject();
    s.handshake = wg.value(QStringLiteral("handshake")).toBool(s.handshake);
    s.handshakeAfterSeconds = wg.value(QStringLiteral("afterSeconds")).toInt(s.handshakeAfterSeconds);
    s.lastHandshakeBefore = wg.value(QStringLiteral("lastHandshakeBefore")).toString(s.lastHandshakeBefore);
    const QJsonObject session = json.value(QStringLiteral("session")).toObject();
    s.sessionAddress = session.value(QStringLiteral("address")).toString();
    s.onSessionAddressRemoved =
            session.value(QStringLiteral("onAddressRemoved")).toString(s.onSessionAddressRemoved);
    for (const QJsonValue &v : json.value(QStringLiteral("faults")).toArray()) {
        const QJsonObject o = v.toObject();
        ScenarioFault fault;
        fault.pattern = QRegularExpression(o.value(QStringLiteral("command")).toString());
        if (!fault.pattern.isValid()) {
            if (error)
                *error = QStringLiteral("The fault pattern %1 is not a valid regular expression.")
                                 .arg(o.value(QStringLiteral("command")).toString());
            return false;
        }
        fault.error = o.value(QStringLiteral("error")).toString();
        fault.delayMs = o.value(QStringLiteral("delayMs")).toInt();
        fault.hang = o.value(QStringLiteral("hang")).toBool();
        fault.drop = o.value(QStringLiteral("drop")).toBool();
        fault.times = o.value(QStringLiteral("times")).toInt();
        s.faults << fault;
    }
    s.refuseSignIn = json.value(QStringLiteral("refuseSignIn")).toBool();
    s.silentPort = json.value(QStringLiteral("silentPort")).toBool();
    s.exitStatusOnError = json.value(QStringLiteral("exitStatusOnError")).toInt();
    s.badCommandCatchable = json.value(QStringLiteral("badCommandCatchable")).toBool(true);
    s.placeBeforeEmptyAccepted =
            json.value(QStringLiteral("placeBeforeEmpty")).toString() == QLatin1String("accept");
    s.schemaDir = json.contains(QStringLiteral("schemaDir"))
            ? base.filePath(json.value(QStringLiteral("schemaDir")).toString())
            : QStringLiteral(ROUTEROS_SIM_SCHEMA_DIR);
    for (const QJsonValue &v : json.value(QStringLiteral("setup")).toArray())
        s.setupScripts << v.toString();

    if (!d->schema.load(s.schemaDir, s.version, error))
        return false;
    if (!s.model.isEmpty()) {
        d->schema.addMenu(QStringLiteral("system/routerboard"),
                          {{QStringLiteral("get"), {QStringLiteral("value-name"), QStringLiteral("as-string")}},
                           {QStringLiteral("print"), {QStringLiteral("as-value"), QStringLiteral("without-paging")}},
                           {QStringLiteral("export"), {}}});
    }
    if (QVersionNumber::fromString(s.version).majorVersion() < 7)
        d->schema.removeMenu(QStringLiteral("interface/wireguard"));
    // The wireless package comes with wlan ports; a router without them has no such menu.
    const bool wireless = std::any_of(
            s.extraInterfaces.cbegin(), s.extraInterfaces.cend(),
            [](const QString &i) { return i.startsWith(QLatin1String("wlan")); });
    if (wireless) {
        for (const char *menu : {"interface/wireless", "interface/wireless/security-profiles",
                                 "interface/wireless/access-list"})
            d->schema.addGenericMenu(QLatin1String(menu));
    }
    d->scenario = s;
    d->model.reset(d->scenario);
    d->globals.clear();
    d->skippedExportLines.clear();
    d->log = QJsonArray();
    if (!exportText.isEmpty()) {
        QString runError;
        const ScriptInterpreter::Result r = d->run(exportText, true, &runError);
        d->skippedExportLines = r.skipped;
        for (const QString &skipped : r.skipped)
            qInfo().noquote()
                    << QStringLiteral("%1: line not applied: %2").arg(s.exportFile, skipped);
        if (r.failed) {
            if (error)
                *error = QStringLiteral("The export %1 did not load: %2").arg(s.exportFile, runError);
            return false;
        }
    }
    for (const QString &script : std::as_const(d->scenario.setupScripts)) {
        QString runError;
        const ScriptInterpreter::Result r = d->run(script, false, &runError);
        if (r.failed) {
            if (error)
                *error = QStringLiteral("A setup script failed: %1").arg(runError);
            return false;
        }
    }
    for (ScenarioFault &fault : d->scenario.faults)
        fault.fired = 0;
    d->log = QJsonArray();
    d->loaded = true;
    return true;
}

bool RouterOsEngine::authenticate(const QString &user, const QString &password) const
{
    QMutexLocker lock(&d->mutex);
    return !d->scenario.refuseSignIn && d->model.authenticate(user, password);
}

bool RouterOsEngine::refuseSignIn() const
{
    QMutexLocker lock(&d->mutex);
    return d->scenario.refuseSignIn;
}

bool RouterOsEngine::silentPort() const
{
    QMutexLocker lock(&d->mutex);
    return d->scenario.silentPort;
}

ExecOutcome RouterOsEngine::execute(const ExecRequest &request)
{
    QMutexLocker lock(&d->mutex);
    ExecOutcome outcome;
    const ScriptInterpreter::Result r = d->run(request.script, false, nullptr);
    QByteArray out;
    for (const QString &line : r.lines)
        out += line.toUtf8() + "\r\n";
    outcome.out = out;
    outcome.exitStatus = r.failed ? d->scenario.exitStatusOnError : 0;
    outcome.delayMs = r.delayMs;
    outcome.hang = r.hang;
    outcome.drop = r.drop;
    d->appendLog(r.log);
    return outcome;
}

QString RouterOsEngine::exportState() const
{
    QMutexLocker lock(&d->mutex);
    return d->model.exportText();
}

QJsonArray RouterOsEngine::commandLog() const
{
    QMutexLocker lock(&d->mutex);
    return d->log;
}

void RouterOsEngine::setCommandLogPath(const QString &path)
{
    QMutexLocker lock(&d->mutex);
    d->logPath = path;
}

bool RouterOsEngine::hasAddress(const QString &ip) const
{
    QMutexLocker lock(&d->mutex);
    return d->model.hasAddress(ip);
}

QMap<QString, QString> RouterOsEngine::fetchedFiles() const
{
    QMutexLocker lock(&d->mutex);
    return d->model.files();
}

QStringList RouterOsEngine::skippedExportLines() const
{
    QMutexLocker lock(&d->mutex);
    return d->skippedExportLines;
}

NeighbourInfo RouterOsEngine::neighbourInfo() const
{
    QMutexLocker lock(&d->mutex);
    NeighbourInfo info;
    const ModelItem *identity = d->model.settings(QStringLiteral("system/identity"));
    info.identity = identity ? identity->props.value(QStringLiteral("name")) : d->scenario.identity;
    info.version = d->scenario.versionString();
    info.board = d->scenario.model;
    // A router announces on each interface; the one a technician's cable meets is the LAN side.
    const QList<ModelItem *> bridges = d->model.items(QStringLiteral("interface/bridge"));
    info.interfaceName = bridges.isEmpty() ? QStringLiteral("ether1")
                                           : bridges.first()->props.value(QStringLiteral("name"));
    const QList<ModelItem *> ports = d->model.items(QStringLiteral("interface/ethernet"));
    if (!ports.isEmpty())
        info.mac = ports.first()->props.value(QStringLiteral("mac-address"));
    return info;
}
