#include "api/quillmorapi.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

#include <QJsonDocument>
#include <QJsonObject>

// A service answer read by its first usable text field: the result is one of the fields, trimmed,
// and a field that is no text (a number, an object) is never read as one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonObject answer = QJsonDocument::fromJson(bytes).object();
    const QStringList keys{QStringLiteral("token"), QStringLiteral("access_token"),
                           QStringLiteral("isp_name"), QStringLiteral("name")};
    const QString text = QuillmorApi::firstText(answer, keys);
    fuzzCheck(text == text.trimmed(), "a read text keeps its blanks", text);
    if (text.isEmpty()) {
        for (const QString &key : keys) {
            const QJsonValue value = answer.value(key);
            fuzzCheck(!value.isString() || value.toString().trimmed().isEmpty(),
                      "a usable text field was passed over", key);
        }
        return 0;
    }
    bool fromAField = false;
    for (const QString &key : keys) {
        const QJsonValue value = answer.value(key);
        if (value.isString() && !value.toString().trimmed().isEmpty()) {
            fromAField = value.toString().trimmed() == text;
            break;
        }
    }
    fuzzCheck(fromAField, "the text is not the first usable field", text);
    return 0;
}
