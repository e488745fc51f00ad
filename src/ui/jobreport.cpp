#include "jobreport.h"

#include "router/backupjob.h"
#include "router/routeros.h"

namespace {

const char kNotKnown[] = "not known";

QString orNotKnown(const QString &value)
{
    return value.trimmed().isEmpty() ? QString::fromLatin1(kNotKnown) : value;
}

} // namespace

QString reportText(const JobReport &r, const QStringList &secrets)
{
    QStringList lines;
    lines << QStringLiteral("%1 %2").arg(r.product, r.version);
    lines << QStringLiteral("Report time: %1").arg(r.when.toString(Qt::ISODate));
    lines << QStringLiteral("Account: %1 %2")
                 .arg(orNotKnown(r.accountNumber), r.accountName)
                 .trimmed();
    lines << QStringLiteral("Router identity: %1").arg(orNotKnown(r.identity));
    lines << QStringLiteral("Router model: %1").arg(orNotKnown(r.model));
    lines << QStringLiteral("RouterOS version: %1").arg(orNotKnown(r.routerOsVersion));
    lines << QStringLiteral("Router address: %1 port %2").arg(orNotKnown(r.address)).arg(r.port);
    lines << QStringLiteral("Run: %1").arg(orNotKnown(r.runChoice));
    lines << QStringLiteral("Backup file: %1")
                 .arg(r.backupFile.isEmpty() ? QStringLiteral("none") : r.backupFile);
    lines << QString() << QStringLiteral("Activity log:");
    lines << r.logLines;
    lines << QString();
    if (!r.finished) {
        lines << QStringLiteral("Result: %1")
                     .arg(r.status.isEmpty() ? QStringLiteral("still running") : r.status);
    } else if (r.ok) {
        lines << QStringLiteral("Result: done");
        if (!r.tunnelAddress.isEmpty())
            lines << QStringLiteral("Tunnel address: %1").arg(r.tunnelAddress);
        if (!r.endpoint.isEmpty())
            lines << QStringLiteral("Quillmor endpoint: %1").arg(r.endpoint);
        if (!r.confirmation.isEmpty())
            lines << QStringLiteral("Quillmor says: %1").arg(r.confirmation);
    } else {
        lines << QStringLiteral("Result: failed");
        lines << QStringLiteral("Error: %1").arg(orNotKnown(r.error));
    }

    return maskSecrets(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'), secrets);
}

QString maskSecrets(const QString &text, const QStringList &secrets)
{
    QString masked = redactSecrets(text);
    for (const QString &secret : secrets) {
        // A secret of one or two characters would mask those letters everywhere; such a value is
        // no usable password, and the whole-literal masking above still applies to it.
        if (secret.size() >= 3)
            masked.replace(secret, QStringLiteral("***"));
    }
    return masked;
}

QString reportFileName(const QString &identity, const QDateTime &when)
{
    // The same safe form of the identity as the backups use.
    const QString safe = backupFileName(identity, when).section(QLatin1Char('-'), 0, -5);
    return QStringLiteral("Quillmor report %1 %2.txt")
        .arg(safe, when.toString(QStringLiteral("yyyy-MM-dd HHmm")));
}
