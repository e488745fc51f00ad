#include "fuzzcheck.h"
#include "router/hotspotjob.h"

#include <cstddef>
#include <cstdint>

#include <QRegularExpression>

// Reading the router's profile listing: one profile per profile line, no field spanning lines, and
// a destination for the login page only inside a plain folder path.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString output = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<HotspotProfile> profiles = parseHotspotProfiles(output);

    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    qsizetype profileLines = 0;
    const QStringList lines = output.split(lineBreaks, Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(QLatin1String("QM_PROFILE=")))
            ++profileLines;
    }
    fuzzCheck(profiles.size() == profileLines, "profiles and profile lines differ in number");
    for (const HotspotProfile &profile : profiles) {
        for (const QString &field : {profile.name, profile.dir, profile.override, profile.dns})
            fuzzCheck(!field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')),
                      "a profile field spans lines", field);
    }

    HotspotProfile chosen;
    if (!chooseHotspotProfile(profiles, parseHotspotServerProfiles(output), &chosen))
        return 0;
    const QString destination = hotspotDestination(chosen);
    if (!destination.isEmpty()) {
        static const QRegularExpression plainPath(
            QRegularExpression::anchoredPattern(QStringLiteral("/[A-Za-z0-9_./-]+")));
        fuzzCheck(plainPath.match(destination).hasMatch(), "a destination outside a plain path",
                  destination);
        fuzzCheck(!destination.contains(QLatin1String("..")), "a destination that climbs up",
                  destination);
        fuzzCheck(destination.endsWith(QLatin1String("login.html")),
                  "a destination that is not the login page", destination);
    }
    return 0;
}
