#include "fuzzcheck.h"
#include "router/routeros.h"

#include <cstddef>
#include <cstdint>

namespace {

// Every password= and private-key= in shown text is followed by a mask, nothing else.
bool onlyMasksFollow(const QString &shown, const QString &key)
{
    for (qsizetype at = shown.indexOf(key); at >= 0; at = shown.indexOf(key, at + 1)) {
        const QString rest = shown.mid(at + key.size());
        const bool quotedMask = rest.startsWith(QLatin1String("\"***\""));
        const bool bareMask =
            (rest.isEmpty() || rest.at(0).isSpace() ||
             (rest.startsWith(QLatin1String("***")) && (rest.size() == 3 || rest.at(3).isSpace())));
        if (!quotedMask && !bareMask)
            return false;
    }
    return true;
}

} // namespace

// Input: text, a NUL, then a secret. The text alone must come out with every secret literal
// masked; the secret written by quoteRouterOs after that text must come out as nothing but a mask.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString secret = split < 0 ? QString() : QString::fromUtf8(bytes.mid(split + 1));

    const QString shown = redactSecrets(text);
    fuzzCheck(onlyMasksFollow(shown, QStringLiteral("password=")), "a password literal is left",
              text + QStringLiteral("\n-> ") + shown);
    fuzzCheck(onlyMasksFollow(shown, QStringLiteral("private-key=")),
              "a private-key literal is left", text + QStringLiteral("\n-> ") + shown);
    fuzzCheck(redactSecrets(shown) == shown, "masking twice changes the text again", shown);

    if (!text.contains(QLatin1String("password")) && !text.contains(QLatin1String("private-key"))) {
        const QString line = text + QStringLiteral(" password=") + quoteRouterOs(secret) +
                             QStringLiteral(" disabled=no");
        fuzzCheck(redactSecrets(line) == text + QStringLiteral(" password=\"***\" disabled=no"),
                  "a quoted secret is not masked whole", line);
    }
    return 0;
}
