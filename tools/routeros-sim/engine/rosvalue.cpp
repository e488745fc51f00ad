#include "rosvalue.h"

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
    return str(text);
}

QString RosValue::toString() const
{
    switch (m_kind) {
    case Kind::Nothing:
        return QString();
    case Kind::Str:
    case Kind::Id:
        return m_text;
    case Kind::Num:
        return QString::number(m_num);
    case Kind::Bool:
        return m_num ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Array: {
        QStringList parts;
        for (const RosValue &item : m_items)
            parts << item.toString();
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
