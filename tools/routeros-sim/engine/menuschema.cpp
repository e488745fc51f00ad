#include "menuschema.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVersionNumber>

namespace {

QVersionNumber versionOf(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^(\\d+(?:\\.\\d+)*)"));
    const QRegularExpressionMatch m = number.match(text.trimmed());
    return m.hasMatch() ? QVersionNumber::fromString(m.captured(1)) : QVersionNumber();
}

QStringList genericCommands()
{
    return {QStringLiteral("add"),     QStringLiteral("set"),    QStringLiteral("remove"),
            QStringLiteral("get"),     QStringLiteral("find"),   QStringLiteral("print"),
            QStringLiteral("enable"),  QStringLiteral("disable"), QStringLiteral("export"),
            QStringLiteral("comment"), QStringLiteral("unset"),  QStringLiteral("move")};
}

} // namespace

bool MenuSchema::load(const QString &schemaDir, const QString &version, QString *error)
{
    const QDir dir(schemaDir);
    const QStringList files = dir.entryList({QStringLiteral("menus-*.json")}, QDir::Files);
    const QVersionNumber wanted = versionOf(version);
    QString best;
    QVersionNumber bestVersion;
    QString lowest;
    QVersionNumber lowestVersion;
    for (const QString &file : files) {
        const QString v = file.mid(6, file.size() - 11);
        const QVersionNumber fv = QVersionNumber::fromString(v);
        if (lowest.isEmpty() || fv < lowestVersion) {
            lowest = file;
            lowestVersion = fv;
        }
        if (fv <= wanted && (best.isEmpty() || fv > bestVersion)) {
            best = file;
            bestVersion = fv;
        }
    }
    // Versions older than every schema file (RouterOS 6, early 7.x) take the oldest one.
    if (best.isEmpty())
        best = lowest;
    if (best.isEmpty()) {
        if (error)
            *error = QStringLiteral("No command schema found in %1.").arg(schemaDir);
        return false;
    }
    QFile f(dir.filePath(best));
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read %1.").arg(f.fileName());
        return false;
    }
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    m_schemaVersion = best.mid(6, best.size() - 11);
    m_menus.clear();
    m_dirs.clear();
    m_globals.clear();
    m_openGlobals.clear();
    const QJsonObject globals = root.value(QStringLiteral("global-commands")).toObject();
    for (auto it = globals.begin(); it != globals.end(); ++it) {
        QStringList args;
        for (const QJsonValue &a : it.value().toArray())
            args << a.toString();
        m_globals.insert(it.key(), args);
    }
    const QJsonObject menus = root.value(QStringLiteral("menus")).toObject();
    QSet<QString> absent;
    for (auto it = menus.begin(); it != menus.end(); ++it) {
        if (it.value().isNull()) {
            absent.insert(it.key());
            continue;
        }
        const QJsonObject m = it.value().toObject();
        Menu menu;
        if (m.contains(QStringLiteral("_cmd"))) {
            menu.command = true;
            QStringList args;
            for (const QJsonValue &a : m.value(QStringLiteral("_cmd")).toArray())
                args << a.toString();
            menu.commands.insert(QString(), args);
        }
        const QJsonObject commands = m.value(QStringLiteral("commands")).toObject();
        for (auto c = commands.begin(); c != commands.end(); ++c) {
            QStringList args;
            for (const QJsonValue &a : c.value().toArray())
                args << a.toString();
            menu.commands.insert(c.key(), args);
        }
        m_menus.insert(it.key(), menu);
        addPrefixes(it.key());
        for (const QJsonValue &sub : m.value(QStringLiteral("submenus")).toArray()) {
            const QString path = it.key() + QLatin1Char('/') + sub.toString();
            if (!menus.contains(path))
                addGenericMenu(path);
        }
    }
    QFile others(dir.filePath(QStringLiteral("other-menus.txt")));
    if (others.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray &line : others.readAll().split('\n')) {
            const QString path = QString::fromUtf8(line).trimmed();
            if (path.isEmpty() || path.startsWith(QLatin1Char('#')) || absent.contains(path))
                continue;
            if (path.startsWith(QLatin1Char(':'))) {
                const QStringList words = path.mid(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const bool inVersion = words.size() < 3 || words.at(1) != QLatin1String("since")
                        || QVersionNumber::fromString(words.at(2)) <= wanted;
                if (inVersion && !m_globals.contains(words.first()))
                    m_openGlobals.insert(words.first());
                continue;
            }
            addGenericMenu(path);
        }
    }
    // The schema files list the menus below the root only; the root's /export (the whole
    // configuration) takes the arguments of every menu's export.
    if (!m_menus.contains(QString())) {
        Menu top;
        top.commands.insert(QStringLiteral("export"),
                            {QStringLiteral("compact"), QStringLiteral("file"),
                             QStringLiteral("hide-sensitive"), QStringLiteral("show-sensitive"),
                             QStringLiteral("terse"), QStringLiteral("verbose")});
        m_menus.insert(QString(), top);
    }
    return true;
}

void MenuSchema::addPrefixes(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 1; i < parts.size(); ++i)
        m_dirs.insert(parts.mid(0, i).join(QLatin1Char('/')));
}

bool MenuSchema::hasMenu(const QString &path) const
{
    return m_menus.contains(path) || m_dirs.contains(path);
}

bool MenuSchema::isCommandMenu(const QString &path) const
{
    const auto it = m_menus.constFind(path);
    return it != m_menus.constEnd() && it->command;
}

bool MenuSchema::hasCommand(const QString &path, const QString &command) const
{
    const auto it = m_menus.constFind(path);
    if (it == m_menus.constEnd())
        return false;
    if (it->generic)
        return genericCommands().contains(command);
    return it->commands.contains(command);
}

bool MenuSchema::acceptsAnyArgument(const QString &path) const
{
    const auto it = m_menus.constFind(path);
    return it != m_menus.constEnd() && it->generic;
}

bool MenuSchema::acceptsArgument(const QString &path, const QString &command,
                                 const QString &name) const
{
    const auto it = m_menus.constFind(path);
    if (it == m_menus.constEnd())
        return false;
    if (it->generic)
        return true;
    return it->commands.value(command).contains(name);
}

QStringList MenuSchema::arguments(const QString &path, const QString &command) const
{
    return m_menus.value(path).commands.value(command);
}

QStringList MenuSchema::children(const QString &path) const
{
    QSet<QString> names;
    const QString prefix = path.isEmpty() ? QString() : path + QLatin1Char('/');
    auto take = [&](const QString &menu) {
        if (!menu.startsWith(prefix) || menu.size() == prefix.size())
            return;
        names.insert(menu.mid(prefix.size()).section(QLatin1Char('/'), 0, 0));
    };
    for (auto it = m_menus.constBegin(); it != m_menus.constEnd(); ++it)
        take(it.key());
    for (const QString &dir : m_dirs)
        take(dir);
    const auto it = m_menus.constFind(path);
    if (it != m_menus.constEnd()) {
        for (auto c = it->commands.constBegin(); c != it->commands.constEnd(); ++c)
            if (!c.key().isEmpty())
                names.insert(c.key());
    }
    return QStringList(names.begin(), names.end());
}

bool MenuSchema::isGlobalCommand(const QString &name) const
{
    return m_globals.contains(name) || m_openGlobals.contains(name);
}

bool MenuSchema::acceptsAnyGlobalArgument(const QString &name) const
{
    return m_openGlobals.contains(name);
}

QStringList MenuSchema::globalArguments(const QString &name) const
{
    return m_globals.value(name);
}

void MenuSchema::addMenu(const QString &path, const QHash<QString, QStringList> &commands)
{
    Menu menu;
    menu.commands = commands;
    m_menus.insert(path, menu);
    addPrefixes(path);
}

void MenuSchema::removeMenu(const QString &path)
{
    const QString prefix = path + QLatin1Char('/');
    for (auto it = m_menus.begin(); it != m_menus.end();) {
        if (it.key() == path || it.key().startsWith(prefix))
            it = m_menus.erase(it);
        else
            ++it;
    }
    m_dirs.remove(path);
}

void MenuSchema::addGenericMenu(const QString &path)
{
    if (m_menus.contains(path))
        return;
    Menu menu;
    menu.generic = true;
    m_menus.insert(path, menu);
    addPrefixes(path);
}
