#include "routerosengine.h"

#include "configmodel.h"
#include "menuschema.h"
#include "scenario.h"
#include "scriptinterpreter.h"
#include "scriptparser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QVersionNumber>

#include <optional>

#ifndef ROUTEROS_SIM_SCHEMA_DIR
#define ROUTEROS_SIM_SCHEMA_DIR ""
#endif

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
    bool loaded = false;
    std::function<void()> pathChanged;

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

    [[nodiscard]] bool hasPathModel() const
    {
        return !scenario.sessionAddress.isEmpty() && !scenario.sessionIgnoresPath;
    }

    void notifyPathChanged(QMutexLocker<QMutex> &lock)
    {
        const std::function<void()> callback = pathChanged;
        lock.unlock();
        if (callback)
            callback();
    }

    // Runs one script; the text of the first error it hit lands in *error.
    ScriptInterpreter::Result run(const QString &script, bool exportMode, QString *error,
                                  const std::function<void(int)> &afterCommand = {})
    {
        ScriptParser parser(schema, parserOptions(exportMode));
        ScriptBlockPtr block;
        QString parseError;
        model.setExportMode(exportMode);
        ScriptInterpreter::Result result;
        if (!parser.parse(script, &block, &parseError)) {
            result.failed = true;
            result.lines << parseError;
            if (error)
                *error = parseError;
            model.setExportMode(false);
            return result;
        }
        ScriptInterpreter interpreter(model, schema, scenario, globals);
        interpreter.setAfterCommand(afterCommand);
        result = interpreter.run(*block);
        model.setExportMode(false);
        if (result.failed && error && !result.lines.isEmpty())
            *error = result.lines.last();
        return result;
    }
};

namespace {

// How far a session's output got before its path went away, followed command by command. A path
// that comes back before the script ends loses nothing (TCP sends it again); a reset is final.
class SessionWatch
{
public:
    // A session that came through a listener had its path when it was let in; if another
    // session's script has taken it since, this one hears nothing from the start. A request
    // that names no address (a test calling the engine directly) is followed only from a path
    // it has.
    SessionWatch(ConfigModel &model, const OperatorPlace &place, const QString &address,
                 bool cameThroughListener)
        : m_path(model, place)
        , m_address(address)
    {
        m_tracked = cameThroughListener || m_path.runningSession(m_address) == PathState::Open;
        note(0);
    }

    void note(int lines)
    {
        if (!m_tracked || m_resetAt >= 0)
            return;
        switch (m_path.runningSession(m_address)) {
        case PathState::Open:
            m_lostAt = -1;
            break;
        case PathState::Silent:
            if (m_lostAt < 0)
                m_lostAt = lines;
            break;
        case PathState::Reset:
            m_resetAt = m_lostAt >= 0 ? m_lostAt : lines;
            break;
        }
    }

    void apply(QStringList *lines, ExecOutcome *outcome) const
    {
        const int cut = m_resetAt >= 0 ? m_resetAt : m_lostAt;
        if (cut < 0)
            return;
        *lines = lines->mid(0, cut);
        if (m_resetAt >= 0)
            outcome->reset = true;
        else
            outcome->silent = true;
    }

private:
    ManagementPath m_path;
    QString m_address;
    bool m_tracked = false;
    int m_lostAt = -1;
    int m_resetAt = -1;
};

QString versionFromExport(const QString &text)
{
    static const QRegularExpression header(QStringLiteral("by RouterOS (\\d+(?:\\.\\d+)+)"));
    const QRegularExpressionMatch m = header.match(text.left(400));
    return m.hasMatch() ? m.captured(1) : QString();
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
    s.version = json.value(QStringLiteral("version")).toString(exportVersion.isEmpty() ? s.version : exportVersion);
    s.channel = json.value(QStringLiteral("channel")).toString(s.channel);
    s.model = json.contains(QStringLiteral("model")) ? json.value(QStringLiteral("model")).toString()
                                                     : modelFromExport(exportText);
    s.identity = json.value(QStringLiteral("identity")).toString(s.identity);
    s.ethernetPorts = json.value(QStringLiteral("ethernetPorts")).toInt(s.ethernetPorts);
    for (const QJsonValue &v : json.value(QStringLiteral("extraInterfaces")).toArray())
        s.extraInterfaces << v.toString();
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
    const QString onRemoved =
            session.value(QStringLiteral("onAddressRemoved")).toString(QStringLiteral("silent"));
    if (onRemoved != QLatin1String("silent") && onRemoved != QLatin1String("ignore")) {
        if (error)
            *error = QStringLiteral("session.onAddressRemoved is silent or ignore, not %1.")
                             .arg(onRemoved);
        return false;
    }
    s.sessionIgnoresPath = onRemoved == QLatin1String("ignore");
    const QJsonObject computer = json.value(QStringLiteral("operator")).toObject();
    s.operatorPlace.port = computer.value(QStringLiteral("port")).toString(s.operatorPlace.port);
    s.operatorPlace.address =
            computer.value(QStringLiteral("address")).toString(s.operatorPlace.address);
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
    d->scenario = s;
    d->model.reset(d->scenario);
    d->globals.clear();
    d->log = QJsonArray();
    if (!exportText.isEmpty()) {
        QString runError;
        const ScriptInterpreter::Result r = d->run(exportText, true, &runError);
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
    d->notifyPathChanged(lock);
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

QString RouterOsEngine::sessionAddress() const
{
    QMutexLocker lock(&d->mutex);
    return d->scenario.sessionAddress;
}

OperatorPlace RouterOsEngine::operatorPlace() const
{
    QMutexLocker lock(&d->mutex);
    return d->scenario.operatorPlace;
}

void RouterOsEngine::setOperatorPlace(const OperatorPlace &place)
{
    QMutexLocker lock(&d->mutex);
    d->scenario.operatorPlace = place;
    d->notifyPathChanged(lock);
}

Admission RouterOsEngine::admit(const QString &routerAddress) const
{
    QMutexLocker lock(&d->mutex);
    if (!d->hasPathModel())
        return Admission::Answer;
    d->model.refresh();
    switch (ManagementPath(d->model, d->scenario.operatorPlace).newConnection(routerAddress)) {
    case PathState::Open:
        return Admission::Answer;
    case PathState::Silent:
        return Admission::NoAnswer;
    case PathState::Reset:
        break;
    }
    return Admission::Refuse;
}

void RouterOsEngine::setPathChangedCallback(std::function<void()> callback)
{
    QMutexLocker lock(&d->mutex);
    d->pathChanged = std::move(callback);
}

ExecOutcome RouterOsEngine::execute(const ExecRequest &request)
{
    QMutexLocker lock(&d->mutex);
    ExecOutcome outcome;
    std::optional<SessionWatch> watch;
    if (d->hasPathModel()) {
        d->model.refresh();
        watch.emplace(d->model, d->scenario.operatorPlace,
                      request.routerAddress.isEmpty() ? d->scenario.sessionAddress
                                                      : request.routerAddress,
                      !request.routerAddress.isEmpty());
    }
    ScriptInterpreter::Result r = d->run(request.script, false, nullptr, [&watch](int lines) {
        if (watch)
            watch->note(lines);
    });
    if (watch) {
        watch->note(static_cast<int>(r.lines.size()));
        watch->apply(&r.lines, &outcome);
    }
    QByteArray out;
    for (const QString &line : std::as_const(r.lines))
        out += line.toUtf8() + "\r\n";
    outcome.out = out;
    outcome.exitStatus = r.failed ? d->scenario.exitStatusOnError : 0;
    outcome.delayMs = r.delayMs;
    outcome.hang = r.hang;
    outcome.drop = outcome.drop || r.drop;
    d->appendLog(r.log);
    d->notifyPathChanged(lock);
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
