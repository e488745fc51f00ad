#pragma once

#include <QList>
#include <QString>

#include <memory>

struct ScriptBlock;

// One value of the console language. Most values travel as text; the kinds that print or
// compare differently (numbers, booleans, item ids, arrays, nothing) carry their kind.
class RosValue final
{
public:
    // Addresses and times keep their text; their kind is what :typeof names.
    enum class Kind {
        Nothing, Str, Num, Bool, Id, Array, Ip, IpPrefix, Ip6, Ip6Prefix, Time, Code
    };

    RosValue() = default;
    static RosValue str(const QString &text);
    static RosValue num(qint64 value);
    static RosValue boolean(bool value);
    static RosValue id(const QString &id);
    static RosValue array(const QList<RosValue> &items);
    // An array with keys: keys.at(i) names items.at(i), an empty key leaves it unnamed.
    static RosValue keyedArray(const QStringList &keys, const QList<RosValue> &items);
    // A function: the statements of a do={ } given to :local, :global or :set.
    static RosValue code(std::shared_ptr<ScriptBlock> block);
    // A bare word as the console compiles it: numbers, booleans, item ids, addresses, prefixes
    // and times become values of their kind, everything else text.
    static RosValue word(const QString &text);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] bool isArray() const { return m_kind == Kind::Array; }
    [[nodiscard]] const QList<RosValue> &items() const { return m_items; }
    [[nodiscard]] const QStringList &keys() const { return m_keys; }
    [[nodiscard]] std::shared_ptr<ScriptBlock> block() const { return m_block; }
    // $a->key: a number indexes the elements in order, anything else looks up a key.
    [[nodiscard]] RosValue element(const RosValue &key) const;
    // The array with that element replaced or added (unnamed ones first, keys in order).
    [[nodiscard]] RosValue withElement(const RosValue &key, const RosValue &value) const;
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
    QStringList m_keys; // parallel to m_items; empty when no element has a key
    std::shared_ptr<ScriptBlock> m_block;
};
