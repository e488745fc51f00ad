#include "fuzzcheck.h"
#include "router/inspectjob.h"
#include "router/routeros.h"

#include <cstddef>
#include <cstdint>

// Whatever a router adds to its report (an identity or comment with line ends in it), it can
// neither change a marker the report already gave nor go unnoticed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString added = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString report = QStringLiteral("QM_VERSION=7.14.3 (stable)\r\n") + added +
                           QStringLiteral("\r\nQM_DONE=1\r\n");
    const MarkerMap markers = parseMarkers(report);
    const bool untouched =
        markers.text(QStringLiteral("QM_VERSION")) == QLatin1String("7.14.3 (stable)");
    fuzzCheck(untouched || !repeatedMarker(report).isEmpty(),
              "a forged marker replaced the router's own without being noticed", report);
    fuzzCheck(markers.text(QStringLiteral("QM_DONE")) == QLatin1String("1") ||
                  !repeatedMarker(report).isEmpty(),
              "a forged end marker went unnoticed", report);

    // A report that is judged sound is read into facts without surprises.
    if (repeatedMarker(added).isEmpty()) {
        const QVariantMap facts = factsFromMarkers(parseMarkers(added));
        const QString ifName = facts.value(QStringLiteral("ifName")).toString();
        for (const QChar c : ifName)
            fuzzCheck(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'),
                      "an interface name from the report holds a character scripts split at",
                      ifName);
    }
    return 0;
}
