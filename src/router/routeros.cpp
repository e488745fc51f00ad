#include "routeros.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>

int MarkerMap::count(const QString &key) const
{
    bool ok = false;
    const int value = text(key).toInt(&ok, 10);
    return ok ? value : 0;
}

bool hasRouterOsError(const QString &text)
{
    // Exec sessions may exit with 0 after a refused command, so the printed text is the verdict.
    static const char *const phrases[] = {
        "failure:",
        "syntax error",
        "expected end of command",
        "bad command name",
        "no such command",
        "input does not match",
        "no such item",
        "invalid internal item number",
        "invalid value for",
        "missing value(s) of argument(s)",
        "expected command name",
        "missing closing brace",
        "not enough permissions",
        "bad parameter",
    };
    const QString lower = text.toLower();
    for (const char *phrase : phrases) {
        if (lower.contains(QLatin1String(phrase)))
            return true;
    }
    return false;
}

QString redactSecrets(const QString &text)
{
    // The literal may hold \" and \\ as quoteRouterOs writes them; the whole literal is masked so
    // that no tail of the secret survives the first escaped quote. A literal cut off before its
    // closing quote (a shortened message) is masked up to the end of the text. An unquoted value
    // runs up to the next blank, as RouterOS reads it.
    static const QRegularExpression password(
            QStringLiteral(R"(password="(?:[^"\\]|\\[\s\S]?)*"?)"));
    static const QRegularExpression privateKey(
            QStringLiteral(R"(private-key="(?:[^"\\]|\\[\s\S]?)*"?)"));
    static const QRegularExpression barePassword(QStringLiteral(R"(password=(?!")\S+)"));
    static const QRegularExpression barePrivateKey(QStringLiteral(R"(private-key=(?!")\S+)"));
    QString shown = text;
    shown.replace(password, QStringLiteral("password=\"***\""));
    shown.replace(privateKey, QStringLiteral("private-key=\"***\""));
    shown.replace(barePassword, QStringLiteral("password=***"));
    shown.replace(barePrivateKey, QStringLiteral("private-key=***"));
    return shown;
}

QString quoteRouterOs(const QString &value)
{
    QString quoted;
    quoted.reserve(value.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar unit : value) {
        if (unit.unicode() < 0x20)
            continue;
        if (unit == QLatin1Char('"') || unit == QLatin1Char('$') || unit == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += unit;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

namespace {

const QRegularExpression &markerLineBreaks()
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    return lineBreaks;
}

} // namespace

QString repeatedMarker(const QString &text)
{
    static const QSet<QString> listKeys{QStringLiteral("QM_FAIL"), QStringLiteral("QM_PROFILE"),
                                        QStringLiteral("QM_DIR"), QStringLiteral("QM_OVERRIDE"),
                                        QStringLiteral("QM_DNS"), QStringLiteral("QM_SERVER")};
    QSet<QString> seen;
    const QStringList lines = text.split(markerLineBreaks());
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!line.startsWith(QLatin1String("QM_")) || equals < 0)
            continue;
        const QString key = line.left(equals);
        if (listKeys.contains(key))
            continue;
        if (seen.contains(key))
            return key;
        seen.insert(key);
    }
    return {};
}

MarkerMap parseMarkers(const QString &text)
{
    const QRegularExpression &lineBreaks = markerLineBreaks();
    MarkerMap markers;
    const QStringList lines = text.split(lineBreaks);
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (!line.startsWith(QLatin1String("QM_")) || !line.contains(QLatin1Char('=')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals);
        QString value = line.mid(equals + 1).trimmed();
        // "QM_KEY=" . array prints every element with its own prefix, joined by ";".
        const QString repeated = QLatin1Char(';') + key + QLatin1Char('=');
        if (value.contains(repeated)) {
            QStringList entries = value.split(repeated);
            for (QString &entry : entries)
                entry = entry.trimmed();
            value = entries.join(QLatin1Char(','));
        }
        markers.insert(key, value);
    }
    return markers;
}
