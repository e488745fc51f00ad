#include "rosvalue.h"

#include <QRegularExpression>
#include <QStringList>

RosValue RosValue::str(const QString &text)
{
    RosValue v;
    v.m_kind = Kind::Str;
    v.m_text = text;
    return v;
}

RosValue RosValue::num(qint64 value)
{
    RosValue v;
    v.m_kind = Kind::Num;
    v.m_num = value;
    return v;
}

RosValue RosValue::boolean(bool value)
{
    RosValue v;
    v.m_kind = Kind::Bool;
    v.m_num = value ? 1 : 0;
    return v;
}

RosValue RosValue::id(const QString &id)
{
    RosValue v;
    v.m_kind = Kind::Id;
    v.m_text = id;
    return v;
}

RosValue RosValue::array(const QList<RosValue> &items)
{
    RosValue v;
    v.m_kind = Kind::Array;
    v.m_items = items;
    return v;
}

RosValue RosValue::keyedArray(const QStringList &keys, const QList<RosValue> &items)
{
    RosValue v = array({});
    for (int i = 0; i < items.size(); ++i)
        v = keys.value(i).isEmpty() ? v.withElement(RosValue(), items.at(i))
                                    : v.withElement(str(keys.value(i)), items.at(i));
    return v;
}

RosValue RosValue::code(std::shared_ptr<ScriptBlock> block)
{
    RosValue v;
    v.m_kind = Kind::Code;
    v.m_block = std::move(block);
    return v;
}

RosValue RosValue::element(const RosValue &key) const
{
    if (m_kind != Kind::Array)
        return RosValue();
    if (key.m_kind == Kind::Num) {
        const qint64 i = key.m_num;
        return i >= 0 && i < m_items.size() ? m_items.at(int(i)) : RosValue();
    }
    const int at = m_keys.indexOf(key.toString());
    return at >= 0 ? m_items.at(at) : RosValue();
}

RosValue RosValue::withElement(const RosValue &key, const RosValue &value) const
{
    RosValue v = m_kind == Kind::Array ? *this : array({});
    while (v.m_keys.size() < v.m_items.size())
        v.m_keys << QString();
    if (key.m_kind == Kind::Num) {
        const qint64 i = key.m_num;
        if (i >= 0 && i < v.m_items.size()) {
            v.m_items[int(i)] = value;
            return v;
        }
    }
    if (key.m_kind == Kind::Nothing || key.m_kind == Kind::Num) {
        // Unnamed elements come before the keyed ones.
        int at = 0;
        while (at < v.m_keys.size() && v.m_keys.at(at).isEmpty())
            ++at;
        v.m_items.insert(at, value);
        v.m_keys.insert(at, QString());
        return v;
    }
    const QString name = key.toString();
    const int existing = v.m_keys.indexOf(name);
    if (existing >= 0) {
        v.m_items[existing] = value;
        return v;
    }
    int at = 0;
    while (at < v.m_keys.size() && (v.m_keys.at(at).isEmpty() || v.m_keys.at(at) < name))
        ++at;
    v.m_items.insert(at, value);
    v.m_keys.insert(at, name);
    return v;
}

RosValue RosValue::word(const QString &text)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (ok && !text.startsWith(QLatin1Char('+')))
        return num(n);
    if (text == QLatin1String("true") || text == QLatin1String("yes"))
        return boolean(true);
    if (text == QLatin1String("false") || text == QLatin1String("no"))
        return boolean(false);
    if (text.startsWith(QLatin1Char('*')) && text.size() > 1) {
        bool hex = false;
        text.mid(1).toULongLong(&hex, 16);
        if (hex)
            return id(text);
    }
    static const QRegularExpression ip(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}(/\\d{1,2})?$"));
    static const QRegularExpression time(
            QStringLiteral("^(?=.)(\\d+w)?(\\d+d)?(\\d+h)?(\\d+m(?!s))?(\\d+s)?(\\d+ms)?$"
                           "|^(\\d+d)?\\d+:\\d\\d:\\d\\d(\\.\\d+)?$"));
    static const QRegularExpression ip6(
            QStringLiteral("^[0-9a-fA-F]*(:[0-9a-fA-F]*){2,7}(/\\d{1,3})?$"));
    RosValue v = str(text);
    if (ip.match(text).hasMatch())
        v.m_kind = text.contains(QLatin1Char('/')) ? Kind::IpPrefix : Kind::Ip;
    else if (time.match(text).hasMatch())
        v.m_kind = Kind::Time;
    else if (ip6.match(text).hasMatch())
        v.m_kind = text.contains(QLatin1Char('/')) ? Kind::Ip6Prefix : Kind::Ip6;
    return v;
}

QString RosValue::toString() const
{
    switch (m_kind) {
    case Kind::Nothing:
    case Kind::Code:
        return QString();
    case Kind::Str:
    case Kind::Id:
    case Kind::Ip:
    case Kind::IpPrefix:
    case Kind::Ip6:
    case Kind::Ip6Prefix:
    case Kind::Time:
        return m_text;
    case Kind::Num:
        return QString::number(m_num);
    case Kind::Bool:
        return m_num ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Array: {
        QStringList parts;
        for (int i = 0; i < m_items.size(); ++i) {
            const QString key = m_keys.value(i);
            parts << (key.isEmpty() ? m_items.at(i).toString()
                                    : key + QLatin1Char('=') + m_items.at(i).toString());
        }
        return parts.join(QLatin1Char(';'));
    }
    }
    return QString();
}

bool RosValue::truthy() const
{
    switch (m_kind) {
    case Kind::Bool:
    case Kind::Num:
        return m_num != 0;
    case Kind::Str:
        return m_text == QLatin1String("true") || m_text == QLatin1String("yes");
    case Kind::Array:
        return !m_items.isEmpty();
    default:
        return false;
    }
}

bool RosValue::toNumber(qint64 *out) const
{
    if (m_kind == Kind::Num || m_kind == Kind::Bool) {
        *out = m_num;
        return true;
    }
    if (m_kind == Kind::Str) {
        bool ok = false;
        *out = m_text.toLongLong(&ok);
        return ok;
    }
    return false;
}

QString RosValue::typeName() const
{
    switch (m_kind) {
    case Kind::Nothing:
        return QStringLiteral("nothing");
    case Kind::Str:
        return QStringLiteral("str");
    case Kind::Num:
        return QStringLiteral("num");
    case Kind::Bool:
        return QStringLiteral("bool");
    case Kind::Id:
        return QStringLiteral("id");
    case Kind::Array:
        return QStringLiteral("array");
    case Kind::Ip:
        return QStringLiteral("ip");
    case Kind::IpPrefix:
        return QStringLiteral("ip-prefix");
    case Kind::Ip6:
        return QStringLiteral("ip6");
    case Kind::Ip6Prefix:
        return QStringLiteral("ip6-prefix");
    case Kind::Time:
        return QStringLiteral("time");
    case Kind::Code:
        return QStringLiteral("code");
    }
    return QString();
}

bool RosValue::equals(const RosValue &other) const
{
    // An empty find result equals "" (the defconf wait loop relies on this).
    if (m_kind == Kind::Array && m_items.isEmpty() && other.m_kind == Kind::Str)
        return other.m_text.isEmpty();
    if (other.m_kind == Kind::Array && other.m_items.isEmpty() && m_kind == Kind::Str)
        return m_text.isEmpty();
    return compare(other) == 0;
}

int RosValue::compare(const RosValue &other) const
{
    qint64 a = 0;
    qint64 b = 0;
    const bool numeric = (m_kind == Kind::Num || other.m_kind == Kind::Num) && toNumber(&a)
            && other.toNumber(&b);
    if (numeric)
        return a < b ? -1 : (a > b ? 1 : 0);
    const int c = toString().compare(other.toString());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
