#include "fuzzcheck.h"
#include "router/validation.h"

#include <cstddef>
#include <cstdint>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Characters at which RouterOS ends a word, a command or a literal, or starts a substitution.
bool splitsCommand(const QString &value)
{
    static const QString splitters = QStringLiteral(" ;\"$[]{}()\\`'");
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || splitters.contains(c))
            return true;
    }
    return false;
}

void checkAccepted(bool accepted, const QString &value, const char *validator)
{
    if (accepted)
        fuzzCheck(!splitsCommand(value), validator, value);
}

} // namespace

// No value a validator accepts holds a character that splits a command.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);

    checkAccepted(isValidName(text), text, "isValidName accepted a splitting character");
    checkAccepted(isValidHostName(text), text, "isValidHostName accepted a splitting character");
    checkAccepted(isValidIpv4Network(text), text,
                  "isValidIpv4Network accepted a splitting character");
    // The key is checked, and used, without its surrounding blanks.
    checkAccepted(isValidWireGuardKey(text), text.trimmed(),
                  "isValidWireGuardKey accepted a splitting character");
    if (isUsableNetwork(text))
        fuzzCheck(isValidIpv4Network(text), "a usable network that is no network", text);
    const QString network = networkOf(text);
    if (!network.isEmpty())
        fuzzCheck(isValidIpv4Network(network), "networkOf gave no network", text);

    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonValue value = document.isArray() ? QJsonValue(document.array())
                                                : document.object().value(QStringLiteral("v"));
    const QStringList list = jsonStringList(value);
    for (const QString &entry : list)
        fuzzCheck(entry == entry.trimmed(), "a list entry keeps its blanks", entry);
    return 0;
}
