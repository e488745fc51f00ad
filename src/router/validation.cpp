#include "validation.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

// One to three ASCII digits: QString::toInt alone lets blanks, signs and line ends through.
bool isOctetText(const QString &part)
{
    if (part.isEmpty() || part.size() > 3)
        return false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// A "$" alone also matches before a final line feed, which would let "name\n" into a script.
QString wholeText(const QString &pattern)
{
    return QRegularExpression::anchoredPattern(pattern);
}

} // namespace

bool isValidName(const QString &text)
{
    static const QRegularExpression pattern(
        wholeText(QStringLiteral("^[A-Za-z][A-Za-z0-9_-]{0,31}$")));
    return pattern.match(text).hasMatch();
}

bool isValidWireGuardKey(const QString &text)
{
    static const QRegularExpression pattern(wholeText(QStringLiteral("^[A-Za-z0-9+/]{43}=$")));
    return pattern.match(text.trimmed()).hasMatch();
}

bool isValidHostName(const QString &text)
{
    static const QRegularExpression pattern(wholeText(QStringLiteral("^[A-Za-z0-9._-]{1,253}$")));
    return pattern.match(text).hasMatch();
}

bool isValidIpv4Network(const QString &text)
{
    const QStringList halves = text.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    if (halves.size() != 2)
        return false;
    const QStringList octets = halves.at(0).split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (octets.size() != 4)
        return false;
    for (const QString &octet : octets) {
        if (!isOctetText(octet))
            return false;
        bool ok = false;
        const int value = octet.toInt(&ok, 10);
        if (!ok || value < 0 || value > 255)
            return false;
        if (octet.size() > 1 && octet.startsWith(QLatin1Char('0')))
            return false;
    }
    const QString &prefixText = halves.at(1);
    bool ok = false;
    const int prefix = prefixText.toInt(&ok, 10);
    if (!ok || prefix < 0 || prefix > 32)
        return false;
    return prefixText == QString::number(prefix);
}

bool isUsableNetwork(const QString &text)
{
    return isValidIpv4Network(text) && text != QLatin1String("0.0.0.0/0");
}

QString networkOf(const QString &text)
{
    if (!isValidIpv4Network(text))
        return QString();
    const QStringList halves = text.split(QLatin1Char('/'));
    const int prefix = halves.at(1).toInt();
    if (prefix > 30)
        return QString();
    quint32 address = 0;
    for (const QString &octet : halves.at(0).split(QLatin1Char('.')))
        address = (address << 8) | quint32(octet.toUInt());
    const quint32 mask = prefix == 0 ? 0u : ~quint32(0) << (32 - prefix);
    const quint32 network = address & mask;
    return QStringLiteral("%1.%2.%3.%4/%5")
        .arg((network >> 24) & 0xff)
        .arg((network >> 16) & 0xff)
        .arg((network >> 8) & 0xff)
        .arg(network & 0xff)
        .arg(prefix);
}

QStringList jsonStringList(const QJsonValue &value)
{
    QStringList list;
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue &element : array) {
            if (element.isString())
                list.append(element.toString().trimmed());
        }
    } else if (value.isString()) {
        const QStringList parts = value.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            list.append(part.trimmed());
    }
    return list;
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar unit : text) {
        const QChar::Category category = unit.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            return true;
    }
    return false;
}
