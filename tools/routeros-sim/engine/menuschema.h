#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// The router's command tree for one RouterOS version: which menus exist, which commands each has
// and which argument names each command accepts. Taken from the per-version schema files.
class MenuSchema final
{
public:
    [[nodiscard]] bool load(const QString &schemaDir, const QString &version, QString *error);

    [[nodiscard]] QString schemaVersion() const { return m_schemaVersion; }
    [[nodiscard]] bool hasMenu(const QString &path) const;
    // A menu that is itself a command (ping, tool/fetch).
    [[nodiscard]] bool isCommandMenu(const QString &path) const;
    [[nodiscard]] bool hasCommand(const QString &path, const QString &command) const;
    // True when the schema does not describe the menu's arguments, so any name is taken.
    [[nodiscard]] bool acceptsAnyArgument(const QString &path) const;
    [[nodiscard]] bool acceptsArgument(const QString &path, const QString &command,
                                       const QString &name) const;
    [[nodiscard]] QStringList arguments(const QString &path, const QString &command) const;
    // The submenus and commands one level below a menu ("" is the root).
    [[nodiscard]] QStringList children(const QString &path) const;
    [[nodiscard]] bool isGlobalCommand(const QString &name) const;
    [[nodiscard]] QStringList globalArguments(const QString &name) const;
    // A global command whose arguments the tree does not describe: any name and value is taken.
    [[nodiscard]] bool acceptsAnyGlobalArgument(const QString &name) const;

    // Adjustments the scenario makes: a router with a routerboard, a router without WireGuard.
    void addMenu(const QString &path, const QHash<QString, QStringList> &commands);
    void removeMenu(const QString &path);
    // Menus an export may touch that the schema does not describe; they keep whatever they get.
    void addGenericMenu(const QString &path);

private:
    struct Menu
    {
        bool command = false;
        bool generic = false;
        QHash<QString, QStringList> commands;
    };
    void addPrefixes(const QString &path);

    QString m_schemaVersion;
    QHash<QString, Menu> m_menus;
    QSet<QString> m_dirs;
    QHash<QString, QStringList> m_globals;
    QSet<QString> m_openGlobals;
};
