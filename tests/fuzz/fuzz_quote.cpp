#include "fuzzcheck.h"
#include "router/routeros.h"
#include "routerosengine.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QDir>

namespace {

RouterOsEngine &engine()
{
    static const std::unique_ptr<RouterOsEngine> router = [] {
        auto created = std::make_unique<RouterOsEngine>();
        const QString scenario =
            QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
                .filePath(QStringLiteral("tools/routeros-sim/scenarios/new-router.json"));
        QString error;
        fuzzCheck(created->loadScenarioFile(scenario, &error), "the simulator's scenario loads",
                  error);
        return created;
    }();
    return *router;
}

} // namespace

// What quoteRouterOs writes, the router reads back as the value itself (without the control
// characters it drops), and the literal ends exactly where it was meant to.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString value = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString expected;
    for (const QChar unit : value) {
        if (unit.unicode() >= 0x20)
            expected += unit;
    }

    ExecRequest request;
    request.user = QStringLiteral("admin");
    request.clientAddress = QStringLiteral("192.168.88.254");
    request.script =
        QStringLiteral(":put ") + quoteRouterOs(value) + QStringLiteral("; :put \"QM_END\"");
    const ExecOutcome outcome = engine().execute(request);
    const QByteArray wanted = expected.toUtf8() + "\r\nQM_END\r\n";
    fuzzCheck(outcome.out == wanted, "the router reads back the quoted value exactly",
              request.script + QStringLiteral("\n-> ") + QString::fromUtf8(outcome.out));
    return 0;
}
