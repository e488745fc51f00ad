#pragma once

#include "rosvalue.h"
#include "scenario.h"
#include "scriptast.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

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
    };

    ScriptInterpreter(ConfigModel &model, const MenuSchema &schema, Scenario &scenario,
                      QHash<QString, RosValue> &globals);

    [[nodiscard]] Result run(const ScriptBlock &block);
    // Called after every command that ran, with the number of output lines printed so far.
    void setAfterCommand(std::function<void(int lines)> hook) { m_afterCommand = std::move(hook); }

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
    RosValue exec(const ScriptStatement &st);
    RosValue runCommand(const ScriptStatement &st);
    RosValue runGlobal(const ScriptStatement &st);
    RosValue dispatch(const ScriptStatement &st, const QList<QPair<QString, QString>> &named,
                      const QList<RosValue> &positional, const QStringList &flags);
    RosValue ping(const QList<QPair<QString, QString>> &named, const QList<RosValue> &positional);
    RosValue fetch(const QList<QPair<QString, QString>> &named, const QStringList &flags);
    RosValue eval(const ScriptExpr &e);
    RosValue binary(const QString &op, const RosValue &a, const RosValue &b);
    void runValueBlock(const ScriptExprPtr &e);
    [[nodiscard]] QList<ModelItem *> targets(const QString &menu, const RosValue &ref);
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
    ModelItem *m_whereItem = nullptr;
    QString m_whereMenu;
    int m_substitution = 0;
    std::function<void(int lines)> m_afterCommand;
    Result m_result;
};
