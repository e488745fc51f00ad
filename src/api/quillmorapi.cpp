#include "quillmorapi.h"

#include "servicedefaults.h"
#include "settingssearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

namespace {

const QString kApiPath = QStringLiteral("/api/v1/desktop");

const QString kNoApiKey = QStringLiteral("This installer has no Quillmor API key yet. Add apiKey "
                                         "to quillmor.ini and open the app again.");
const QString kCancelled = QStringLiteral("Cancelled.");
const QString kTooSlow = QStringLiteral(
    "Quillmor took too long to answer. Check this computer's internet and try again.");
const QString kCannotReach =
    QStringLiteral("Cannot reach Quillmor at %1. Check this computer's internet. %2");
const QString kNotTheApi = QStringLiteral(
    "Quillmor did not return the onboarding API (%1). The server still needs that endpoint.");
const QString kRefusedWithStatus = QStringLiteral("Quillmor refused the request (%1).");
const QString kRefused = QStringLiteral("Quillmor refused the request.");
const QString kNoSessionToken =
    QStringLiteral("Quillmor signed you in, but did not return a session token.");
const QString kBadRouterId =
    QStringLiteral("Quillmor returned a router id this app does not understand.");
const QString kEmptyAssist = QStringLiteral("Quillmor AI returned an empty answer.");
const QString kUnsafeApiKey = QStringLiteral(
    "The Quillmor API key holds a line end or another control character. Correct apiKey in "
    "quillmor.ini, then open this app again.");
const QString kUnsafeToken = QStringLiteral(
    "Quillmor sent a session token with a line end or another control character. Sign in again.");

// A body shown to the user must be short and must not be a web page.
constexpr int kMaxShownBodyLength = 179;
// The loop's own limit, beyond the network layer's inactivity limit: a server that keeps a
// transfer alive with a byte now and then must not hold the caller for ever.
constexpr int kBackstopExtraMs = 2000;
constexpr int kCancelPollMs = 400;

constexpr int kSignInTimeoutMs = 20000;
constexpr int kProvisionTimeoutMs = 30000;
constexpr int kFetchRouterTimeoutMs = 15000;
constexpr int kDefaultTimeoutMs = 20000;
constexpr int kInstallHotspotTimeoutMs = 90000;
constexpr int kAssistTimeoutMs = 30000;

// A line end in a header value would end the header and let the rest of the value add its own.
bool fitsInHeader(const QString &value)
{
    for (const QChar unit : value) {
        if (unit.unicode() < 0x20 || unit.unicode() == 0x7f)
            return false;
    }
    return true;
}

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

bool okRefuses(const QJsonValue &ok)
{
    if (ok.isBool())
        return !ok.toBool();
    if (ok.isString()) {
        const QString text = ok.toString().trimmed().toLower();
        return text == QLatin1String("false") || text == QLatin1String("0");
    }
    return false;
}

// Qt removes "." and ".." segments from a request path, so such an id would address another
// endpoint instead of the router; percent-encoding leaves both unchanged.
bool routerPath(const QString &routerId, const QString &suffix, QString *path, QString *error)
{
    if (routerId == QLatin1String(".") || routerId == QLatin1String("..")) {
        setError(error, kBadRouterId);
        return false;
    }
    *path = kApiPath + QStringLiteral("/routers/") +
            QString::fromLatin1(QUrl::toPercentEncoding(routerId)) + suffix;
    return true;
}

// A provider with its own certificate authority names that authority's certificate (PEM or DER)
// here; the system's own authorities stay trusted beside it.
QList<QSslCertificate> readCaCertificates(const QString &path)
{
    QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty())
        certificates = QSslCertificate::fromPath(path, QSsl::Der);
    return certificates;
}

// The integer rule of the profile counts: only a JSON number with a whole value counts.
int wholeNumber(const QJsonValue &value)
{
    return value.toInt(0);
}

} // namespace

QuillmorApi::QuillmorApi(QObject *parent)
    : QObject(parent)
    , m_baseUrl(defaultServiceBaseUrl())
{
    loadSettings();
}

QuillmorApi::~QuillmorApi() = default;

void QuillmorApi::loadSettings()
{
    QString caFilePath;
    const QString file =
        findSettingsFile(QCoreApplication::applicationDirPath(), QDir::currentPath());
    if (!file.isEmpty()) {
        const QSettings settings(file, QSettings::IniFormat);
        const QString baseUrl =
            settings.value(QStringLiteral("quillmor/baseUrl")).toString().trimmed();
        const QString apiKey =
            settings.value(QStringLiteral("quillmor/apiKey")).toString().trimmed();
        if (!baseUrl.isEmpty())
            m_baseUrl = baseUrl;
        if (!apiKey.isEmpty())
            m_apiKey = apiKey;
        // A relative name means a file beside quillmor.ini, wherever the program was started.
        const QString caFile =
            settings.value(QStringLiteral("quillmor/caFile")).toString().trimmed();
        if (!caFile.isEmpty())
            caFilePath = QFileInfo(file).absoluteDir().absoluteFilePath(caFile);
    }

    const QByteArray envBaseUrl = qgetenv("QUILLMOR_BASE_URL");
    if (!envBaseUrl.isEmpty())
        m_baseUrl = QString::fromUtf8(envBaseUrl).trimmed();
    const QByteArray envApiKey = qgetenv("QUILLMOR_API_KEY");
    if (!envApiKey.isEmpty())
        m_apiKey = QString::fromUtf8(envApiKey).trimmed();
    const QByteArray envCaFile = qgetenv("QUILLMOR_CA_FILE");
    if (!envCaFile.isEmpty())
        caFilePath = QString::fromUtf8(envCaFile).trimmed();
    loadCaFile(caFilePath);

    while (m_baseUrl.endsWith(QLatin1Char('/')))
        m_baseUrl.chop(1);
    if (m_baseUrl.isEmpty())
        m_baseUrl = defaultServiceBaseUrl();
}

void QuillmorApi::loadCaFile(const QString &path)
{
    if (path.isEmpty())
        return;
    const QList<QSslCertificate> extra = readCaCertificates(path);
    if (extra.isEmpty())
        return;
    // The default list may still be empty when the system's authorities load on first use, and a
    // list of our own would stop that, so they are named here together with the extra ones.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(tls.caCertificates() + QSslConfiguration::systemCaCertificates() + extra);
    m_tls = tls;
}

void QuillmorApi::cancelRequest()
{
    if (!m_pending || m_pending->isFinished())
        return;
    m_cancelled = true;
    // Emits finished at once, which ends the request's wait.
    m_pending->abort();
}

void QuillmorApi::setCancelCheck(std::function<bool()> check)
{
    m_cancelCheck = std::move(check);
}

void QuillmorApi::setToken(const QString &token)
{
    m_token = token;
}

QString QuillmorApi::baseUrl() const
{
    return m_baseUrl;
}

bool QuillmorApi::hasApiKey() const
{
    return !m_apiKey.isEmpty();
}

QString QuillmorApi::apiKeyProblem() const
{
    return fitsInHeader(m_apiKey) ? QString() : kUnsafeApiKey;
}

QString QuillmorApi::firstText(const QJsonObject &object, const QStringList &keys)
{
    for (const QString &key : keys) {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            continue;
        const QString text = value.toString().trimmed();
        if (!text.isEmpty())
            return text;
    }
    return {};
}

ApiReply QuillmorApi::request(const QString &method, const QString &path, const QJsonObject *body,
                              int timeoutMs)
{
    ApiReply result;
    if (m_apiKey.isEmpty()) {
        result.message = kNoApiKey;
        return result;
    }
    if (m_cancelCheck && m_cancelCheck()) {
        result.message = kCancelled;
        return result;
    }
    if (!fitsInHeader(m_apiKey) || !fitsInHeader(m_token)) {
        result.message = fitsInHeader(m_apiKey) ? kUnsafeToken : kUnsafeApiKey;
        return result;
    }

    QNetworkRequest request(QUrl(m_baseUrl + path, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("X-Api-Key", m_apiKey.toUtf8());
    request.setRawHeader("User-Agent", "QuillmorMikroTikSetup/1.0");
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    request.setTransferTimeout(timeoutMs);
    if (m_tls)
        request.setSslConfiguration(*m_tls);

    const QByteArray bytes =
        body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArrayLiteral("{}");
    // Made at the first request, not with the client: the window asks nothing of the service
    // before the operator sends a code, and the network stack's set-up stays out of the start-up.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkReply *reply =
        method == QLatin1String("GET") ? m_network->get(request) : m_network->post(request, bytes);

    QEventLoop loop;
    QTimer backstop;
    backstop.setSingleShot(true);
    backstop.setTimerType(Qt::PreciseTimer);
    connect(&backstop, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    backstop.start(timeoutMs + kBackstopExtraMs);
    QTimer cancelPoll;
    if (m_cancelCheck) {
        connect(&cancelPoll, &QTimer::timeout, this, [this] {
            if (m_cancelCheck())
                cancelRequest();
        });
        cancelPoll.start(kCancelPollMs);
    }
    m_pending = reply;
    m_cancelled = false;
    if (!reply->isFinished())
        loop.exec();
    m_pending = nullptr;

    if (m_cancelled) {
        m_cancelled = false;
        reply->deleteLater();
        result.message = kCancelled;
        return result;
    }
    if (!reply->isFinished()) {
        reply->disconnect(&loop);
        reply->abort();
        reply->deleteLater();
        result.message = kTooSlow;
        return result;
    }

    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString text = QString::fromUtf8(reply->readAll());
    const QString errorText = reply->errorString();
    const QNetworkReply::NetworkError errorCode = reply->error();
    reply->deleteLater();

    if (errorCode != QNetworkReply::NoError && result.status == 0) {
        result.message = kCannotReach.arg(m_baseUrl, errorText);
        return result;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        result.message = kNotTheApi.arg(path);
        const QString shown = text.trimmed();
        if (!shown.isEmpty() && shown.size() <= kMaxShownBodyLength &&
            !shown.startsWith(QLatin1Char('<')))
            result.message += QLatin1Char(' ') + shown;
        return result;
    }
    result.json = document.object();

    if (result.status <= 399 && !okRefuses(result.json.value(QStringLiteral("ok")))) {
        result.ok = true;
        return result;
    }

    result.message = firstText(result.json, {QStringLiteral("message"), QStringLiteral("error"),
                                             QStringLiteral("detail")});
    if (result.message.isEmpty())
        result.message = result.status > 0 ? kRefusedWithStatus.arg(result.status) : kRefused;
    return result;
}

bool QuillmorApi::requestCode(const QString &accountNumber, QString *error)
{
    const QJsonObject body{{QStringLiteral("account_number"), accountNumber.trimmed()}};
    const ApiReply reply =
        request(QStringLiteral("POST"), kApiPath + QStringLiteral("/auth/request-code"), &body,
                kSignInTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    return true;
}

bool QuillmorApi::verifyCode(const QString &accountNumber, const QString &code,
                             AccountProfile *profile, QString *error)
{
    const QJsonObject body{{QStringLiteral("account_number"), accountNumber.trimmed()},
                           {QStringLiteral("code"), code.trimmed()}};
    const ApiReply reply = request(
        QStringLiteral("POST"), kApiPath + QStringLiteral("/auth/verify"), &body, kSignInTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    const QJsonObject &answer = reply.json;
    const QString token =
        firstText(answer, {QStringLiteral("token"), QStringLiteral("access_token")});
    if (token.isEmpty()) {
        setError(error, kNoSessionToken);
        return false;
    }
    if (!fitsInHeader(token)) {
        setError(error, kUnsafeToken);
        return false;
    }

    if (profile) {
        profile->token = token;
        profile->accountNumber = firstText(answer, {QStringLiteral("account_number")});
        if (profile->accountNumber.isEmpty())
            profile->accountNumber = accountNumber.trimmed();
        profile->accountName =
            firstText(answer, {QStringLiteral("isp_name"), QStringLiteral("name"),
                               QStringLiteral("account_name"), QStringLiteral("company")});
        profile->mikrotikUsername = firstText(
            answer, {QStringLiteral("mikrotik_username"), QStringLiteral("mikrotiksUsername")});
        // A password is taken exactly as sent: blanks may be part of it.
        profile->mikrotikPassword = answer.value(QStringLiteral("mikrotik_password")).toString();
        profile->hotspotDns = firstText(answer, {QStringLiteral("hotspot_dns")});
        profile->walledHosts.clear();
        const QJsonArray hosts = answer.value(QStringLiteral("walled_hosts")).toArray();
        for (const QJsonValue &host : hosts) {
            const QString text = host.toString().trimmed();
            if (!text.isEmpty())
                profile->walledHosts.append(text);
        }
        if (answer.contains(QStringLiteral("router_limit")))
            profile->routerLimit = wholeNumber(answer.value(QStringLiteral("router_limit")));
        if (answer.contains(QStringLiteral("routers_used")))
            profile->routersUsed = wholeNumber(answer.value(QStringLiteral("routers_used")));
    }
    m_token = token;
    return true;
}

bool QuillmorApi::provisionRouter(const QJsonObject &body, QJsonObject *result, QString *error)
{
    const ApiReply reply =
        request(QStringLiteral("POST"), kApiPath + QStringLiteral("/routers/provision"), &body,
                kProvisionTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    if (result)
        *result = reply.json;
    return true;
}

bool QuillmorApi::fetchRouter(const QString &routerId, QJsonObject *result, QString *error)
{
    QString path;
    if (!routerPath(routerId, QString(), &path, error))
        return false;
    const ApiReply reply = request(QStringLiteral("GET"), path, nullptr, kFetchRouterTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    if (result)
        *result = reply.json;
    return true;
}

bool QuillmorApi::saveRouterCredentials(const QString &routerId, const QString &apiUsername,
                                        const QString &apiPassword, QString *error)
{
    QString path;
    if (!routerPath(routerId, QStringLiteral("/credentials"), &path, error))
        return false;
    const QJsonObject body{{QStringLiteral("api_username"), apiUsername},
                           {QStringLiteral("api_password"), apiPassword}};
    const ApiReply reply = request(QStringLiteral("POST"), path, &body, kDefaultTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    return true;
}

bool QuillmorApi::listStations(QList<StationInfo> *stations, QString *error)
{
    const ApiReply reply = request(QStringLiteral("GET"), kApiPath + QStringLiteral("/stations"),
                                   nullptr, kDefaultTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    if (!stations)
        return true;
    stations->clear();
    const QJsonArray items = reply.json.value(QStringLiteral("stations")).toArray();
    for (const QJsonValue &item : items) {
        const QJsonObject object = item.toObject();
        StationInfo station;
        station.id = object.value(QStringLiteral("id")).toString();
        station.name = object.value(QStringLiteral("name")).toString();
        station.location = object.value(QStringLiteral("location")).toString();
        if (!station.id.isEmpty())
            stations->append(station);
    }
    return true;
}

bool QuillmorApi::listRouters(QList<SavedRouter> *routers, QString *error)
{
    const ApiReply reply = request(QStringLiteral("GET"), kApiPath + QStringLiteral("/routers"),
                                   nullptr, kDefaultTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    if (!routers)
        return true;
    routers->clear();
    const QJsonArray items = reply.json.value(QStringLiteral("routers")).toArray();
    for (const QJsonValue &item : items) {
        const QJsonObject object = item.toObject();
        SavedRouter router;
        router.id = object.value(QStringLiteral("id")).toString();
        router.name = object.value(QStringLiteral("name")).toString();
        if (!router.id.isEmpty())
            routers->append(router);
    }
    return true;
}

bool QuillmorApi::saveHotspot(const QString &routerId, const QString &stationId,
                              const QString &hotspotPath, QString *error)
{
    QString path;
    if (!routerPath(routerId, QStringLiteral("/hotspot"), &path, error))
        return false;
    const QJsonObject body{{QStringLiteral("station_id"), stationId},
                           {QStringLiteral("hotspot_path"), hotspotPath}};
    const ApiReply reply = request(QStringLiteral("POST"), path, &body, kDefaultTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    return true;
}

bool QuillmorApi::installHotspot(const QString &routerId, const QString &stationId,
                                 QString *hotspotPath, QString *error)
{
    QString path;
    if (!routerPath(routerId, QStringLiteral("/hotspot-install"), &path, error))
        return false;
    const QJsonObject body{{QStringLiteral("station_id"), stationId}};
    const ApiReply reply = request(QStringLiteral("POST"), path, &body, kInstallHotspotTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    if (hotspotPath)
        *hotspotPath = reply.json.value(QStringLiteral("hotspot_path")).toString();
    return true;
}

bool QuillmorApi::askAssist(const QString &step, const QString &question, const QString &context,
                            QString *answer, QString *error)
{
    const QJsonObject body{{QStringLiteral("step"), step},
                           {QStringLiteral("question"), question},
                           {QStringLiteral("context"), context}};
    const ApiReply reply = request(QStringLiteral("POST"), kApiPath + QStringLiteral("/assist"),
                                   &body, kAssistTimeoutMs);
    if (!reply.ok) {
        setError(error, reply.message);
        return false;
    }
    const QString text = firstText(
        reply.json, {QStringLiteral("answer"), QStringLiteral("message"), QStringLiteral("reply")});
    if (text.isEmpty()) {
        setError(error, kEmptyAssist);
        return false;
    }
    if (answer)
        *answer = text;
    return true;
}
