#pragma once

#include "router/routertask.h"
#include "routersim.h"
#include "ssh/sshclient.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// The admin password every bundled scenario gives the simulated router.
inline constexpr char kRouterPassword[] = "fieldpass";

// The object with the given keys replaced; a null change removes its key.
inline QJsonObject with(QJsonObject object, const QJsonObject &changes)
{
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it.value().isNull())
            object.remove(it.key());
        else
            object.insert(it.key(), it.value());
    }
    return object;
}

// The lines that contain every one of the parts.
inline QStringList matching(const QStringList &lines, const QStringList &parts)
{
    QStringList found;
    for (const QString &line : lines) {
        bool all = true;
        for (const QString &part : parts)
            all = all && line.contains(part);
        if (all)
            found << line;
    }
    return found;
}

inline bool hasEntry(const QStringList &lines, const QStringList &parts)
{
    return !matching(lines, parts).isEmpty();
}

// The index of the first command ("path/verb") that changes the router, or -1.
inline int firstChange(const QStringList &commands)
{
    for (int i = 0; i < commands.size(); ++i) {
        const QString &c = commands.at(i);
        if (c.endsWith(QLatin1String("/add")) || c.endsWith(QLatin1String("/set"))
            || c.endsWith(QLatin1String("/remove")))
            return i;
    }
    return -1;
}

// An export without its first line, which carries the time it was taken, with LF line ends.
inline QString exportBody(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.section(QLatin1Char('\n'), 1).trimmed();
}

// One simulated router per test, started from a bundled scenario, for the job tests that talk to
// it through the real OpenSSH client. Call initTestCase() and cleanup() from the test's own slots.
class RouterSimFixture
{
public:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The simulated router gets a new host key each run, and a port of an earlier run may come
        // back: a known_hosts left from then would make ssh refuse the key.
        QFile::remove(sshKnownHostsPath());
        m_scenarioDir = QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
                            .filePath(QStringLiteral("tools/routeros-sim/scenarios"));
        QVERIFY2(QDir(m_scenarioDir).exists(), qPrintable(m_scenarioDir));
    }

    void cleanup()
    {
        if (m_sim)
            m_sim->stop();
        m_sim.reset();
    }

    // Starts the scenario; with changes, a variant of it: its own keys replaced (a null change
    // removes the key), its files still found next to it.
    [[nodiscard]] bool start(const QString &scenario, const QJsonObject &changes = {})
    {
        const QString path = QDir(m_scenarioDir).filePath(scenario + QStringLiteral(".json"));
        m_sim = std::make_unique<RouterSim>();
        QString error;
        if (!m_sim->start(path, m_dir.filePath(QStringLiteral("host_key")), 0, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        if (changes.isEmpty())
            return true;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QJsonObject variant = with(QJsonDocument::fromJson(file.readAll()).object(), changes);
        if (!m_sim->engine()->loadScenario(variant, m_scenarioDir, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    }

    [[nodiscard]] RouterOsEngine *engine() const { return m_sim->engine(); }

    // Another port on 127.0.0.1 that stands for that router address (start()'s port stands for
    // 192.168.88.1); 0 on failure.
    [[nodiscard]] quint16 listen(const QString &routerAddress) const
    {
        QString error;
        const quint16 port = m_sim->listen(routerAddress, 0, &error);
        if (port == 0)
            qWarning("%s", qPrintable(error));
        return port;
    }

    [[nodiscard]] RouterLogin login() const
    {
        RouterLogin login;
        login.host = QStringLiteral("127.0.0.1");
        login.port = m_sim->port();
        login.user = QStringLiteral("admin");
        login.password = QString::fromLatin1(kRouterPassword);
        return login;
    }

    // What the router prints for the script, asked over a session of its own.
    [[nodiscard]] QString routerSays(const QString &script) const
    {
        SshClient client;
        QString error;
        if (!client.connectToRouter(QStringLiteral("127.0.0.1"), m_sim->port(),
                                    QStringLiteral("admin"), QString::fromLatin1(kRouterPassword),
                                    &error))
            return QStringLiteral("sign-in failed: ") + error;
        QString out;
        if (!client.execute(script, &out, &error, 20000))
            return QStringLiteral("failed: ") + error;
        return out.trimmed();
    }

    // Every command the router ran, as "path/verb".
    [[nodiscard]] QStringList commandsRun() const
    {
        QStringList commands;
        const QJsonArray log = m_sim->engine()->commandLog();
        for (const QJsonValue &entry : log) {
            const QJsonObject o = entry.toObject();
            commands << o.value(QStringLiteral("path")).toString() + QLatin1Char('/') +
                            o.value(QStringLiteral("verb")).toString();
        }
        return commands;
    }

    // The export with its continuation lines joined, one command per line.
    [[nodiscard]] QStringList exportLines() const
    {
        QString text = m_sim->engine()->exportState();
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QStringLiteral("\\\n    "), QString());
        return text.split(QLatin1Char('\n'));
    }

    // The export lines of one menu ("/ip dhcp-client"), without the menu line itself.
    [[nodiscard]] QStringList menuLines(const QString &menu) const
    {
        QStringList lines;
        bool inMenu = false;
        for (const QString &line : exportLines()) {
            if (line.startsWith(QLatin1Char('/')))
                inMenu = line == menu;
            else if (inMenu && !line.trimmed().isEmpty())
                lines << line.trimmed();
        }
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QString m_scenarioDir;
    std::unique_ptr<RouterSim> m_sim;
};
