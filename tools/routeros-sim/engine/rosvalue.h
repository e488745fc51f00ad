#pragma once

#include <QList>
#include <QString>

// One value of the console language. Most values travel as text; the kinds that print or
// compare differently (numbers, booleans, item ids, arrays, nothing) carry their kind.
class RosValue final
{
public:
    enum class Kind { Nothing, Str, Num, Bool, Id, Array };

    RosValue() = default;
    static RosValue str(const QString &text);
    static RosValue num(qint64 value);
    static RosValue boolean(bool value);
    static RosValue id(const QString &id);
    static RosValue array(const QList<RosValue> &items);
    // A bare word as the console reads it: numbers become numbers, everything else text.
    static RosValue word(const QString &text);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] bool isArray() const { return m_kind == Kind::Array; }
    [[nodiscard]] const QList<RosValue> &items() const { return m_items; }
    [[nodiscard]] qint64 number() const { return m_num; }
    // What :put prints and what "." concatenates: arrays join with ";", bools are true/false.
    [[nodiscard]] QString toString() const;
    [[nodiscard]] bool truthy() const;
    [[nodiscard]] bool toNumber(qint64 *out) const;
    [[nodiscard]] QString typeName() const;

    [[nodiscard]] bool equals(const RosValue &other) const;
    // -1, 0, 1; numbers compare as numbers, everything else as text.
    [[nodiscard]] int compare(const RosValue &other) const;

private:
    Kind m_kind = Kind::Nothing;
    QString m_text;
    qint64 m_num = 0;
    QList<RosValue> m_items;
};
