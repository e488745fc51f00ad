#include "curve25519.h"

#include <QRandomGenerator>

#include <cstdint>

namespace {

// Field elements of GF(2^255 - 19) in sixteen 16-bit limbs, after TweetNaCl's layout.
using Fe = std::int64_t[16];

void carry(std::int64_t *o)
{
    for (int i = 0; i < 16; ++i) {
        o[i] += std::int64_t(1) << 16;
        const std::int64_t c = o[i] >> 16;
        o[(i + 1) * (i < 15)] += c - 1 + 37 * (c - 1) * (i == 15);
        o[i] -= c * 65536;
    }
}

void select(std::int64_t *p, std::int64_t *q, int b)
{
    const std::int64_t mask = ~(std::int64_t(b) - 1);
    for (int i = 0; i < 16; ++i) {
        const std::int64_t t = mask & (p[i] ^ q[i]);
        p[i] ^= t;
        q[i] ^= t;
    }
}

void pack(unsigned char *o, const std::int64_t *n)
{
    Fe m;
    Fe t;
    for (int i = 0; i < 16; ++i)
        t[i] = n[i];
    carry(t);
    carry(t);
    carry(t);
    for (int j = 0; j < 2; ++j) {
        m[0] = t[0] - 0xffed;
        for (int i = 1; i < 15; ++i) {
            m[i] = t[i] - 0xffff - ((m[i - 1] >> 16) & 1);
            m[i - 1] &= 0xffff;
        }
        m[15] = t[15] - 0x7fff - ((m[14] >> 16) & 1);
        const int b = int((m[15] >> 16) & 1);
        m[14] &= 0xffff;
        select(t, m, 1 - b);
    }
    for (int i = 0; i < 16; ++i) {
        o[2 * i] = static_cast<unsigned char>(t[i] & 0xff);
        o[2 * i + 1] = static_cast<unsigned char>((t[i] >> 8) & 0xff);
    }
}

void unpack(std::int64_t *o, const unsigned char *n)
{
    for (int i = 0; i < 16; ++i)
        o[i] = n[2 * i] + (std::int64_t(n[2 * i + 1]) << 8);
    o[15] &= 0x7fff;
}

void add(std::int64_t *o, const std::int64_t *a, const std::int64_t *b)
{
    for (int i = 0; i < 16; ++i)
        o[i] = a[i] + b[i];
}

void sub(std::int64_t *o, const std::int64_t *a, const std::int64_t *b)
{
    for (int i = 0; i < 16; ++i)
        o[i] = a[i] - b[i];
}

void mul(std::int64_t *o, const std::int64_t *a, const std::int64_t *b)
{
    std::int64_t t[31] = {};
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            t[i + j] += a[i] * b[j];
    for (int i = 0; i < 15; ++i)
        t[i] += 38 * t[i + 16];
    for (int i = 0; i < 16; ++i)
        o[i] = t[i];
    carry(o);
    carry(o);
}

void invert(std::int64_t *o, const std::int64_t *in)
{
    Fe c;
    for (int i = 0; i < 16; ++i)
        c[i] = in[i];
    for (int a = 253; a >= 0; --a) {
        mul(c, c, c);
        if (a != 2 && a != 4)
            mul(c, c, in);
    }
    for (int i = 0; i < 16; ++i)
        o[i] = c[i];
}

} // namespace

namespace Curve25519 {

QByteArray scalarMult(const QByteArray &scalar, const QByteArray &point)
{
    if (scalar.size() != 32 || point.size() != 32)
        return QByteArray();
    static const Fe k121665 = {0xDB41, 1};
    unsigned char z[32];
    for (int i = 0; i < 32; ++i)
        z[i] = static_cast<unsigned char>(scalar.at(i));
    z[31] = static_cast<unsigned char>((z[31] & 127) | 64);
    z[0] &= 248;
    Fe x;
    unpack(x, reinterpret_cast<const unsigned char *>(point.constData()));
    Fe a = {};
    Fe b;
    Fe c = {};
    Fe d = {};
    Fe e;
    Fe f;
    for (int i = 0; i < 16; ++i)
        b[i] = x[i];
    a[0] = d[0] = 1;
    for (int i = 254; i >= 0; --i) {
        const int r = (z[i >> 3] >> (i & 7)) & 1;
        select(a, b, r);
        select(c, d, r);
        add(e, a, c);
        sub(a, a, c);
        add(c, b, d);
        sub(b, b, d);
        mul(d, e, e);
        mul(f, a, a);
        mul(a, c, a);
        mul(c, b, e);
        add(e, a, c);
        sub(a, a, c);
        mul(b, a, a);
        sub(c, d, f);
        mul(a, c, k121665);
        add(a, a, d);
        mul(c, c, a);
        mul(a, d, f);
        mul(d, b, x);
        mul(b, e, e);
        select(a, b, r);
        select(c, d, r);
    }
    invert(c, c);
    mul(a, a, c);
    QByteArray out(32, '\0');
    pack(reinterpret_cast<unsigned char *>(out.data()), a);
    return out;
}

QByteArray generatePrivateKey()
{
    QByteArray key(32, '\0');
    for (int i = 0; i < 32; ++i)
        key[i] = char(QRandomGenerator::system()->bounded(256));
    key[0] = char(key.at(0) & 248);
    key[31] = char((key.at(31) & 127) | 64);
    return key;
}

QByteArray publicKey(const QByteArray &privateKey)
{
    QByteArray base(32, '\0');
    base[0] = 9;
    return scalarMult(privateKey, base);
}

} // namespace Curve25519
