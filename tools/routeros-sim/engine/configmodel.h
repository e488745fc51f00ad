#pragma once

#include "rosvalue.h"
#include "scenario.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

// One object of a menu: an interface, an address, a rule, or the single record of a settings menu.
struct ModelItem
{
    QString id;
    QString menu;
    QMap<QString, QString> props;
    QStringList given;    // properties set by a command, in the order they were set
    bool dynamic = false;
    bool builtin = false; // exists from the start (default profile, ethernet port, service)
    QString source;       // what a dynamic item stands for
    // How an export addresses a built-in item this router does not model (a `set *0`, a `set 0`,
    // a `set [ find default=yes ]` on a menu of other hardware): the reference as the export wrote
    // it, kept so that /export prints the line back. Empty: by name.
    QString exportRef;
    QDateTime created;
};

// The router's configuration: the menus the product's scripts and real exports touch, the rules
// RouterOS applies on add and set, and what the upstream gives back (leases, default routes).
class ConfigModel final
{
public:
    using Args = QList<QPair<QString, QString>>;

    void reset(const Scenario &scenario);
    void setExportMode(bool on) { m_exportMode = on; }
    [[nodiscard]] bool exportMode() const { return m_exportMode; }

    [[nodiscard]] static bool isSettingsMenu(const QString &menu);
    [[nodiscard]] static bool isInterfaceMenu(const QString &menu);
    [[nodiscard]] static QStringList readOnlyProperties(const QString &menu);
    // A read-only property the menu has, whether or not an item holds it at the moment.
    [[nodiscard]] static bool isKnownReadOnly(const QString &menu, const QString &name);
    [[nodiscard]] static bool isBooleanProperty(const QString &name);
    [[nodiscard]] static bool isListProperty(const QString &menu, const QString &name);
    [[nodiscard]] static QStringList enumValues(const QString &menu, const QString &prop);

    // Items in print order; "interface" lists every interface of every kind.
    [[nodiscard]] QList<ModelItem *> items(const QString &menu);
    [[nodiscard]] ModelItem *itemById(const QString &id);
    [[nodiscard]] ModelItem *settings(const QString &menu);
    // The stand-in for a built-in item an export sets but this router does not hold.
    [[nodiscard]] ModelItem *opaqueItem(const QString &menu, const QString &ref);

    // Item references as a command gives them: *id, print number, name, or a list of those.
    [[nodiscard]] bool resolve(const QString &menu, const QStringList &refs, QList<ModelItem *> *out,
                               QString *error);

    [[nodiscard]] bool add(const QString &menu, const Args &args, QString *newId, QString *error);
    [[nodiscard]] bool set(const QString &menu, const QList<ModelItem *> &targets, const Args &args,
                           QString *error);
    [[nodiscard]] bool remove(const QString &menu, const QList<ModelItem *> &targets, QString *error);
    [[nodiscard]] bool get(const QString &menu, ModelItem *item, const QString &prop, RosValue *out,
                           QString *error) const;
    [[nodiscard]] RosValue typed(const QString &menu, const QString &prop, const QString &text) const;

    // Recomputes what depends on the upstream and the clock: leases, dynamic routes, route
    // activity, PPPoE sessions, WireGuard handshakes.
    void refresh();

    [[nodiscard]] bool hasAddress(const QString &ip) const;
    [[nodiscard]] bool hasActiveDefaultRoute();
    [[nodiscard]] bool authenticate(const QString &user, const QString &password) const;
    [[nodiscard]] QString exportText(const QString &onlyMenu = QString()) const;
    void recordFile(const QString &path, const QString &url);
    [[nodiscard]] QMap<QString, QString> files() const { return m_files; }

private:
    ModelItem &create(const QString &menu, bool builtin);
    [[nodiscard]] bool checkValue(const QString &menu, const QString &prop, const QString &value,
                                  ModelItem *self, QString *error) const;
    [[nodiscard]] bool interfaceExists(const QString &name) const;
    [[nodiscard]] ModelItem *interfaceByName(const QString &name) const;
    [[nodiscard]] QString uniqueName(const QString &menu, const QString &base) const;
    void renameReferences(const QString &from, const QString &to, bool isList);
    void applyDefaults(ModelItem &item);
    void setDynamic(const QString &menu, const QString &source, const QMap<QString, QString> &props);
    void dropDynamic(const QStringList &keep);

    Scenario m_scenario;
    QMap<QString, QList<std::shared_ptr<ModelItem>>> m_tables; // menu → items; lists keep their order
    QStringList m_menuOrder;
    QMap<QString, QString> m_files;
    int m_nextId = 1;
    bool m_exportMode = false;
};
