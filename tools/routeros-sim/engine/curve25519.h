#pragma once

#include <QByteArray>

// X25519 (RFC 7748): the key pairs a WireGuard interface carries.
namespace Curve25519 {
// A fresh 32-byte private key, clamped as WireGuard does.
[[nodiscard]] QByteArray generatePrivateKey();
// The public key of a 32-byte private key; empty when the input is not 32 bytes.
[[nodiscard]] QByteArray publicKey(const QByteArray &privateKey);
// The X25519 function itself, exposed for the RFC test vectors.
[[nodiscard]] QByteArray scalarMult(const QByteArray &scalar, const QByteArray &point);
}
