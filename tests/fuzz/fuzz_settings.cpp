#include "api/quillmorapi.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Both live until the process ends: Qt's own clean-up at exit expects the application to outlive
// its statics.
QCoreApplication *application = nullptr;
QTemporaryDir *folder = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    application = new QCoreApplication(*argc, *argv);
    folder = new QTemporaryDir;
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
    QDir::setCurrent(folder->path());
    return 0;
}

// Whatever quillmor.ini holds, the client ends with a usable base URL, and an API key that is
// not fit for a header is reported instead of sent.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QFile file(folder->filePath(QStringLiteral("quillmor.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    QuillmorApi api;
    const QString baseUrl = api.baseUrl();
    fuzzCheck(!baseUrl.isEmpty(), "an empty base URL");
    fuzzCheck(!baseUrl.endsWith(QLatin1Char('/')), "a base URL ending in /", baseUrl);
    fuzzCheck(!baseUrl.front().isSpace(), "a base URL starting with a blank", baseUrl);
    if (!api.hasApiKey() || !api.apiKeyProblem().isEmpty()) {
        const ApiReply reply = api.request(QStringLiteral("GET"), QStringLiteral("/x"), nullptr, 1);
        fuzzCheck(!reply.ok && reply.status == 0 && !reply.message.isEmpty(),
                  "a request went out without a usable API key", reply.message);
    }
    return 0;
}
