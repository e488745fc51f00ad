#pragma once

#include "../simexec.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

class RouterOsEnginePrivate;

// What the router tells its neighbours about itself (MNDP).
struct NeighbourInfo
{
    QString identity;
    QString version; // "7.14.3 (stable)"
    QString board;   // routerboard model; empty on a CHR
    QString mac;     // of the interface it announces on
    QString interfaceName;
};

// A simulated RouterOS 7 router: its configuration, the users it signs in, and the console script
// interpreter that runs each exec request against that configuration. Thread-safe: the SSH front
// calls it from its session threads.
class RouterOsEngine final
{
public:
    RouterOsEngine();
    ~RouterOsEngine();
    RouterOsEngine(const RouterOsEngine &) = delete;
    RouterOsEngine &operator=(const RouterOsEngine &) = delete;

    // A scenario file (JSON); relative paths inside it are resolved against its folder.
    [[nodiscard]] bool loadScenarioFile(const QString &path, QString *error = nullptr);
    [[nodiscard]] bool loadScenario(const QJsonObject &scenario, const QString &baseDir,
                                    QString *error = nullptr);

    [[nodiscard]] bool authenticate(const QString &user, const QString &password) const;
    // Connection-level faults the SSH front acts on.
    [[nodiscard]] bool refuseSignIn() const;
    [[nodiscard]] bool silentPort() const;

    [[nodiscard]] ExecOutcome execute(const ExecRequest &request);

    // The configuration in export form, and the commands run so far (JSON lines: path, verb,
    // arguments, outcome). A non-empty log path also appends every entry to that file.
    [[nodiscard]] QString exportState() const;
    [[nodiscard]] QJsonArray commandLog() const;
    void setCommandLogPath(const QString &path);

    // What tests look at besides the export: the addresses the router holds and the files that
    // /tool fetch saved (path → URL).
    [[nodiscard]] bool hasAddress(const QString &ip) const;
    [[nodiscard]] QMap<QString, QString> fetchedFiles() const;
    // Lines of the scenario's export that could not be applied, each with its position.
    [[nodiscard]] QStringList skippedExportLines() const;
    // The identity as configured now, so that a renamed router announces its new name.
    [[nodiscard]] NeighbourInfo neighbourInfo() const;

private:
    std::unique_ptr<RouterOsEnginePrivate> d;
};
