#include "curve25519.h"

#include <sodium.h>

namespace {

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

// libsodium must be set up once before its first use; it is safe to call again and from any thread.
bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

} // namespace

namespace Curve25519 {

QByteArray scalarMult(const QByteArray &scalar, const QByteArray &point)
{
    if (scalar.size() != crypto_scalarmult_SCALARBYTES || point.size() != crypto_scalarmult_BYTES ||
        !sodiumReady())
        return QByteArray();
    QByteArray out(crypto_scalarmult_BYTES, '\0');
    // libsodium refuses a point of small order (an all-zero result); a router would not get such
    // a key from a peer it can talk to, so the caller sees it as an unusable input.
    if (crypto_scalarmult_curve25519(reinterpret_cast<unsigned char *>(out.data()), bytes(scalar),
                                     bytes(point)) != 0)
        return QByteArray();
    return out;
}

QByteArray generatePrivateKey()
{
    if (!sodiumReady())
        return QByteArray();
    QByteArray key(crypto_scalarmult_SCALARBYTES, '\0');
    randombytes_buf(key.data(), static_cast<size_t>(key.size()));
    // Clamped as `wg genkey` prints it, so the key reads back as RouterOS shows a generated one.
    key[0] = char(key.at(0) & 248);
    key[31] = char((key.at(31) & 127) | 64);
    return key;
}

QByteArray publicKey(const QByteArray &privateKey)
{
    if (privateKey.size() != crypto_scalarmult_SCALARBYTES || !sodiumReady())
        return QByteArray();
    QByteArray out(crypto_scalarmult_BYTES, '\0');
    if (crypto_scalarmult_curve25519_base(reinterpret_cast<unsigned char *>(out.data()),
                                          bytes(privateKey)) != 0)
        return QByteArray();
    return out;
}

} // namespace Curve25519
