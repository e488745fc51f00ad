#pragma once

#include "rosvalue.h"
#include "scenario.h"
#include "scriptast.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class ConfigModel;
class MenuSchema;
struct ModelItem;

// Runs parsed statements against the configuration, one exec request at a time: prints what
// :put and the printing commands print, stops at the first uncaught run-time error, and notes
// the faults the scenario injects.
class ScriptInterpreter final
{
public:
    struct Result
    {
        QStringList lines;
        bool failed = false;
        bool drop = false;
        bool hang = false;
        int delayMs = 0;
        QJsonArray log;
        QStringList skipped; // export lines that could not be applied, with their position
    };

    ScriptInterpreter(ConfigModel &model, const MenuSchema &schema, Scenario &scenario,
                      QHash<QString, RosValue> &globals);

    [[nodiscard]] Result run(const ScriptBlock &block);

private:
    struct Error
    {
        QString message;
        bool catchable = true;
    };
    struct Stop
    {
    };
    struct Return
    {
        RosValue value;
    };

    void runBlock(const ScriptBlock &block);
    void runStatements(const ScriptBlock &block);
    RosValue exec(const ScriptStatement &st);
    RosValue runCommand(const ScriptStatement &st);
    RosValue runGlobal(const ScriptStatement &st);
    RosValue argument(const QList<ScriptExprPtr> &positional,
                      const QHash<QString, ScriptExprPtr> &named, int i, const char *name);
    // The global commands beyond the language's core: conversions, :find, :range, :retry.
    RosValue runLibraryCommand(const QString &verb, const QList<ScriptExprPtr> &positional,
                               const QHash<QString, ScriptExprPtr> &named);
    RosValue call(const ScriptStatement &st);
    RosValue dispatch(const ScriptStatement &st, const QList<QPair<QString, QString>> &named,
                      const QList<RosValue> &positional, const QStringList &flags);
    RosValue ping(const QList<QPair<QString, QString>> &named, const QList<RosValue> &positional);
    RosValue fetch(const QList<QPair<QString, QString>> &named, const QStringList &flags);
    RosValue eval(const ScriptExpr &e);
    RosValue binary(const QString &op, const RosValue &a, const RosValue &b);
    void runValueBlock(const ScriptExprPtr &e);
    [[nodiscard]] QList<ModelItem *> targets(const QString &menu, const RosValue &ref);
    [[nodiscard]] QList<ModelItem *> exportTargets(const ScriptStatement &st, const RosValue &ref);
    [[nodiscard]] QList<ModelItem *> filtered(const QString &menu,
                                              const QList<QPair<QString, QString>> &filters,
                                              const ScriptExprPtr &where, const QStringList &flags);
    [[nodiscard]] RosValue lookup(const QString &name) const;
    void assign(const QString &name, const RosValue &value, bool local);
    void out(const QString &line);
    [[noreturn]] void raise(const QString &message) const;
    [[nodiscard]] static QString valueText(const RosValue &v);
    [[nodiscard]] static QString at(const ScriptPos &pos);

    ConfigModel &m_model;
    const MenuSchema &m_schema;
    Scenario &m_scenario;
    QHash<QString, RosValue> &m_globals;
    QList<QHash<QString, RosValue>> m_scopes;
    QSet<QString> m_declaredGlobals; // globals this script declared with :global
    ModelItem *m_whereItem = nullptr;
    QString m_whereMenu;
    int m_substitution = 0;
    int m_depth = 0; // nested function calls
    QList<QPair<QString, QString>> m_patterns; // name~regex filters of the command being run
    int m_cutoff = -1;
    Result m_result;
};
