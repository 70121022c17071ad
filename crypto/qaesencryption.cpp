// SPDX-License-Identifier: GPL-3.0-or-later
#include "qaesencryption.h"

#include <algorithm>
#include <cstring>

namespace {

// Doubling in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
inline quint8 xtime(quint8 x)
{
    return quint8((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

// GF(2^8) product by repeated doubling.
quint8 gmul(quint8 a, quint8 b)
{
    quint8 product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

inline quint8 rotl8(quint8 x, int n)
{
    return quint8((x << n) | (x >> (8 - n)));
}

inline quint32 rotl32(quint32 w, int n)
{
    return n == 0 ? w : (w << n) | (w >> (32 - n));
}

// A state column or key word: row 0 in the low byte.
inline quint32 pack(quint8 b0, quint8 b1, quint8 b2, quint8 b3)
{
    return quint32(b0) | (quint32(b1) << 8) | (quint32(b2) << 16) | (quint32(b3) << 24);
}

inline quint32 load(const quint8 *p)
{
    return pack(p[0], p[1], p[2], p[3]);
}

inline void store(quint8 *p, quint32 w)
{
    p[0] = quint8(w);
    p[1] = quint8(w >> 8);
    p[2] = quint8(w >> 16);
    p[3] = quint8(w >> 24);
}

// S-boxes, round constants and the round tables, all computed once from the field.
// te[k][x] is the MixColumns column of SubBytes(x) placed in row k; td[k][x] likewise
// for InvMixColumns of InvSubBytes(x).
struct AesTables
{
    quint8 sbox[256];
    quint8 invSbox[256];
    quint8 rcon[14];
    quint32 te[4][256];
    quint32 td[4][256];

    AesTables()
    {
        // Multiplicative inverses through powers of the generator 0x03.
        quint8 power[255];
        quint8 logarithm[256] = {};
        quint8 p = 1;
        for (int i = 0; i < 255; ++i) {
            power[i] = p;
            logarithm[p] = quint8(i);
            p = gmul(p, 0x03);
        }
        const auto inverse = [&](int x) -> quint8 {
            return x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
        };

        for (int x = 0; x < 256; ++x) {
            const quint8 b = inverse(x);
            const quint8 s = b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63;
            sbox[x] = s;
            invSbox[s] = quint8(x);
        }

        // rcon[i] = x^(i-1); entry 0 (never used) continues the sequence backwards.
        rcon[0] = inverse(0x02);
        rcon[1] = 0x01;
        for (int i = 2; i < 14; ++i)
            rcon[i] = xtime(rcon[i - 1]);

        for (int x = 0; x < 256; ++x) {
            const quint8 s = sbox[x];
            const quint8 v = invSbox[x];
            const quint32 e = pack(gmul(s, 2), s, s, gmul(s, 3));
            const quint32 d = pack(gmul(v, 0x0e), gmul(v, 0x09), gmul(v, 0x0d), gmul(v, 0x0b));
            for (int k = 0; k < 4; ++k) {
                te[k][x] = rotl32(e, 8 * k);
                td[k][x] = rotl32(d, 8 * k);
            }
        }
    }
};

const AesTables &tables()
{
    static const AesTables instance;
    return instance;
}

// Round keys as column words; dec holds InvMixColumns of the inner round keys so that the
// inverse rounds can run in the same table form as the forward ones.
struct RoundKeys
{
    int nr = 0;
    quint32 enc[60];
    quint32 dec[60];

    RoundKeys(const QByteArray &expanded, int rounds) : nr(rounds)
    {
        const quint8 *w = reinterpret_cast<const quint8 *>(expanded.constData());
        const int words = 4 * (nr + 1);
        for (int i = 0; i < words; ++i)
            enc[i] = load(w + 4 * i);
        const AesTables &t = tables();
        for (int i = 0; i < words; ++i) {
            const quint32 k = enc[i];
            if (i < 4 || i >= 4 * nr) {
                dec[i] = k;
                continue;
            }
            // td[k][sbox[b]] is InvMixColumns of the single byte b in row k.
            dec[i] = t.td[0][t.sbox[k & 0xff]] ^ t.td[1][t.sbox[(k >> 8) & 0xff]]
                ^ t.td[2][t.sbox[(k >> 16) & 0xff]] ^ t.td[3][t.sbox[k >> 24]];
        }
    }
};

void cipherFast(const RoundKeys &keys, const quint8 *in, quint8 *out)
{
    const AesTables &t = tables();
    const quint32 *rk = keys.enc;
    quint32 s0 = load(in) ^ rk[0];
    quint32 s1 = load(in + 4) ^ rk[1];
    quint32 s2 = load(in + 8) ^ rk[2];
    quint32 s3 = load(in + 12) ^ rk[3];
    for (int round = 1; round < keys.nr; ++round) {
        rk += 4;
        const quint32 t0 = t.te[0][s0 & 0xff] ^ t.te[1][(s1 >> 8) & 0xff]
            ^ t.te[2][(s2 >> 16) & 0xff] ^ t.te[3][s3 >> 24] ^ rk[0];
        const quint32 t1 = t.te[0][s1 & 0xff] ^ t.te[1][(s2 >> 8) & 0xff]
            ^ t.te[2][(s3 >> 16) & 0xff] ^ t.te[3][s0 >> 24] ^ rk[1];
        const quint32 t2 = t.te[0][s2 & 0xff] ^ t.te[1][(s3 >> 8) & 0xff]
            ^ t.te[2][(s0 >> 16) & 0xff] ^ t.te[3][s1 >> 24] ^ rk[2];
        const quint32 t3 = t.te[0][s3 & 0xff] ^ t.te[1][(s0 >> 8) & 0xff]
            ^ t.te[2][(s1 >> 16) & 0xff] ^ t.te[3][s2 >> 24] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const quint8 *sb = t.sbox;
    store(out,
        pack(sb[s0 & 0xff], sb[(s1 >> 8) & 0xff], sb[(s2 >> 16) & 0xff], sb[s3 >> 24]) ^ rk[0]);
    store(out + 4,
        pack(sb[s1 & 0xff], sb[(s2 >> 8) & 0xff], sb[(s3 >> 16) & 0xff], sb[s0 >> 24]) ^ rk[1]);
    store(out + 8,
        pack(sb[s2 & 0xff], sb[(s3 >> 8) & 0xff], sb[(s0 >> 16) & 0xff], sb[s1 >> 24]) ^ rk[2]);
    store(out + 12,
        pack(sb[s3 & 0xff], sb[(s0 >> 8) & 0xff], sb[(s1 >> 16) & 0xff], sb[s2 >> 24]) ^ rk[3]);
}

// Equivalent inverse cipher: each inner round is InvShiftRows + InvSubBytes + InvMixColumns
// through td, followed by the InvMixColumns-transformed round key.
void invCipherFast(const RoundKeys &keys, const quint8 *in, quint8 *out)
{
    const AesTables &t = tables();
    const quint32 *rk = keys.dec + 4 * keys.nr;
    quint32 s0 = load(in) ^ rk[0];
    quint32 s1 = load(in + 4) ^ rk[1];
    quint32 s2 = load(in + 8) ^ rk[2];
    quint32 s3 = load(in + 12) ^ rk[3];
    for (int round = keys.nr - 1; round > 0; --round) {
        rk -= 4;
        const quint32 t0 = t.td[0][s0 & 0xff] ^ t.td[1][(s3 >> 8) & 0xff]
            ^ t.td[2][(s2 >> 16) & 0xff] ^ t.td[3][s1 >> 24] ^ rk[0];
        const quint32 t1 = t.td[0][s1 & 0xff] ^ t.td[1][(s0 >> 8) & 0xff]
            ^ t.td[2][(s3 >> 16) & 0xff] ^ t.td[3][s2 >> 24] ^ rk[1];
        const quint32 t2 = t.td[0][s2 & 0xff] ^ t.td[1][(s1 >> 8) & 0xff]
            ^ t.td[2][(s0 >> 16) & 0xff] ^ t.td[3][s3 >> 24] ^ rk[2];
        const quint32 t3 = t.td[0][s3 & 0xff] ^ t.td[1][(s2 >> 8) & 0xff]
            ^ t.td[2][(s1 >> 16) & 0xff] ^ t.td[3][s0 >> 24] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk -= 4;
    const quint8 *ib = t.invSbox;
    store(out,
        pack(ib[s0 & 0xff], ib[(s3 >> 8) & 0xff], ib[(s2 >> 16) & 0xff], ib[s1 >> 24]) ^ rk[0]);
    store(out + 4,
        pack(ib[s1 & 0xff], ib[(s0 >> 8) & 0xff], ib[(s3 >> 16) & 0xff], ib[s2 >> 24]) ^ rk[1]);
    store(out + 8,
        pack(ib[s2 & 0xff], ib[(s1 >> 8) & 0xff], ib[(s0 >> 16) & 0xff], ib[s3 >> 24]) ^ rk[2]);
    store(out + 12,
        pack(ib[s3 & 0xff], ib[(s2 >> 8) & 0xff], ib[(s1 >> 16) & 0xff], ib[s0 >> 24]) ^ rk[3]);
}

inline void xorInto(quint8 *target, const quint8 *with, int length)
{
    for (int i = 0; i < length; ++i)
        target[i] ^= with[i];
}

} // namespace

QAESEncryption::QAESEncryption(KeySize keySize, CipherMode mode, PaddingScheme padding)
    : m_mode(mode), m_padding(padding)
{
    switch (keySize) {
    case KeySize_192:
        m_level = KeySize_192;
        m_nk = 6;
        m_nr = 12;
        break;
    case KeySize_256:
        m_level = KeySize_256;
        m_nk = 8;
        m_nr = 14;
        break;
    default:
        m_level = KeySize_128;
        m_nk = 4;
        m_nr = 10;
        break;
    }
    m_keyLen = 4 * m_nk;

    const AesTables &t = tables();
    std::memcpy(m_sbox, t.sbox, sizeof m_sbox);
    std::memcpy(m_invSbox, t.invSbox, sizeof m_invSbox);
    std::memcpy(m_rcon, t.rcon, sizeof m_rcon);
}

QByteArray QAESEncryption::keyExpansion(const QByteArray &key)
{
    if (key.size() != m_keyLen)
        return QByteArray();
    const int words = m_nb * (m_nr + 1);
    QByteArray expanded(4 * words, Qt::Uninitialized);
    quint8 *w = reinterpret_cast<quint8 *>(expanded.data());
    std::memcpy(w, key.constData(), size_t(m_keyLen));

    for (int i = m_nk; i < words; ++i) {
        quint8 temp[4];
        std::memcpy(temp, w + 4 * (i - 1), 4);
        if (i % m_nk == 0) {
            const quint8 first = temp[0];
            temp[0] = m_sbox[temp[1]] ^ m_rcon[i / m_nk];
            temp[1] = m_sbox[temp[2]];
            temp[2] = m_sbox[temp[3]];
            temp[3] = m_sbox[first];
        } else if (m_level == KeySize_256 && i % m_nk == 4) {
            for (quint8 &b : temp)
                b = m_sbox[b];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = w[4 * (i - m_nk) + j] ^ temp[j];
    }
    return expanded;
}

quint8 *QAESEncryption::stateBytes() const
{
    if (!m_state || m_state->size() < m_blocklen)
        return nullptr;
    return reinterpret_cast<quint8 *>(m_state->data());
}

void QAESEncryption::addRoundKey(quint8 round, const QByteArray &expandedKey)
{
    quint8 *s = stateBytes();
    const int offset = m_blocklen * round;
    if (!s || offset + m_blocklen > expandedKey.size())
        return;
    const quint8 *k = reinterpret_cast<const quint8 *>(expandedKey.constData()) + offset;
    xorInto(s, k, m_blocklen);
}

void QAESEncryption::subBytes()
{
    if (quint8 *s = stateBytes()) {
        for (int n = 0; n < m_blocklen; ++n)
            s[n] = m_sbox[s[n]];
    }
}

void QAESEncryption::invSubBytes()
{
    if (quint8 *s = stateBytes()) {
        for (int n = 0; n < m_blocklen; ++n)
            s[n] = m_invSbox[s[n]];
    }
}

// State byte n sits in row n % 4 of column n / 4; row r turns r places left.
void QAESEncryption::shiftRows()
{
    quint8 *s = stateBytes();
    if (!s)
        return;
    quint8 old[16];
    std::memcpy(old, s, 16);
    for (int r = 1; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            s[4 * c + r] = old[4 * ((c + r) % 4) + r];
    }
}

void QAESEncryption::invShiftRows()
{
    quint8 *s = stateBytes();
    if (!s)
        return;
    quint8 old[16];
    std::memcpy(old, s, 16);
    for (int r = 1; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            s[4 * ((c + r) % 4) + r] = old[4 * c + r];
    }
}

// Each column times {03}x^3 + {01}x^2 + {01}x + {02}: b0 = 2a0 ^ 3a1 ^ a2 ^ a3 and so on,
// written as a0 ^ (a0 ^ a1 ^ a2 ^ a3) ^ xtime(a0 ^ a1).
void QAESEncryption::mixColumns()
{
    quint8 *s = stateBytes();
    if (!s)
        return;
    for (int c = 0; c < 4; ++c) {
        quint8 *col = s + 4 * c;
        const quint8 a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        const quint8 all = a0 ^ a1 ^ a2 ^ a3;
        col[0] = a0 ^ all ^ xtime(a0 ^ a1);
        col[1] = a1 ^ all ^ xtime(a1 ^ a2);
        col[2] = a2 ^ all ^ xtime(a2 ^ a3);
        col[3] = a3 ^ all ^ xtime(a3 ^ a0);
    }
}

// Each column times {0b}x^3 + {0d}x^2 + {09}x + {0e}: b0 = 14a0 ^ 11a1 ^ 13a2 ^ 9a3 and so
// on, with the factors built from doublings.
void QAESEncryption::invMixColumns()
{
    quint8 *s = stateBytes();
    if (!s)
        return;
    for (int c = 0; c < 4; ++c) {
        quint8 *col = s + 4 * c;
        quint8 x[4][4]; // x[k][r]: byte r of the column doubled k times
        for (int r = 0; r < 4; ++r) {
            x[0][r] = col[r];
            x[1][r] = xtime(x[0][r]);
            x[2][r] = xtime(x[1][r]);
            x[3][r] = xtime(x[2][r]);
        }
        for (int r = 0; r < 4; ++r) {
            const int r1 = (r + 1) % 4, r2 = (r + 2) % 4, r3 = (r + 3) % 4;
            // 0e = 8 + 4 + 2, 0b = 8 + 2 + 1, 0d = 8 + 4 + 1, 09 = 8 + 1
            col[r] = (x[3][r] ^ x[2][r] ^ x[1][r]) ^ (x[3][r1] ^ x[1][r1] ^ x[0][r1])
                ^ (x[3][r2] ^ x[2][r2] ^ x[0][r2]) ^ (x[3][r3] ^ x[0][r3]);
        }
    }
}

QByteArray QAESEncryption::encryptBlock(const QByteArray &expandedKey, const QByteArray &block)
{
    if (block.size() != m_blocklen || expandedKey.size() != expandedKeyLength())
        return QByteArray();
    QByteArray state(block.constData(), m_blocklen);
    QByteArray *const previous = m_state;
    m_state = &state;

    addRoundKey(0, expandedKey);
    for (int round = 1; round < m_nr; ++round) {
        subBytes();
        shiftRows();
        mixColumns();
        addRoundKey(quint8(round), expandedKey);
    }
    subBytes();
    shiftRows();
    addRoundKey(quint8(m_nr), expandedKey);

    m_state = previous;
    return state;
}

QByteArray QAESEncryption::decryptBlock(const QByteArray &expandedKey, const QByteArray &block)
{
    if (block.size() != m_blocklen || expandedKey.size() != expandedKeyLength())
        return QByteArray();
    QByteArray state(block.constData(), m_blocklen);
    QByteArray *const previous = m_state;
    m_state = &state;

    addRoundKey(quint8(m_nr), expandedKey);
    for (int round = m_nr - 1; round > 0; --round) {
        invShiftRows();
        invSubBytes();
        addRoundKey(quint8(round), expandedKey);
        invMixColumns();
    }
    invShiftRows();
    invSubBytes();
    addRoundKey(0, expandedKey);

    m_state = previous;
    return state;
}

QByteArray QAESEncryption::byteXor(const QByteArray &a, const QByteArray &b)
{
    const int length = std::min(a.size(), b.size());
    QByteArray result(a.constData(), length);
    xorInto(reinterpret_cast<quint8 *>(result.data()),
        reinterpret_cast<const quint8 *>(b.constData()), length);
    return result;
}

bool QAESEncryption::acceptsInput(const QByteArray &key, const QByteArray &iv) const
{
    if (m_mode < CipherMode_ECB || m_mode > CipherMode_OFB)
        return false;
    if (m_mode != CipherMode_ECB && iv.size() != m_blocklen)
        return false;
    // A key of another length would leave round keys undefined: refuse it.
    return key.size() == m_keyLen;
}

int QAESEncryption::outputLength(int inputLength) const
{
    // ECB and CBC decipher whole blocks only: a trailing partial block is left out.
    if (m_mode == CipherMode_ECB || m_mode == CipherMode_CBC)
        return inputLength / m_blocklen * m_blocklen;
    return inputLength;
}

// out may be the same buffer as in: every block is read before its output is written, and
// the chaining values are kept aside.
void QAESEncryption::decipher(
    const QByteArray &key, const QByteArray &iv, const char *input, char *output, int length)
{
    const RoundKeys keys(keyExpansion(key), m_nr);
    const quint8 *in = reinterpret_cast<const quint8 *>(input);
    quint8 *out = reinterpret_cast<quint8 *>(output);
    quint8 chain[16] = {};
    if (m_mode != CipherMode_ECB)
        std::memcpy(chain, iv.constData(), 16);

    if (m_mode == CipherMode_ECB) {
        for (int offset = 0; offset + m_blocklen <= length; offset += m_blocklen)
            invCipherFast(keys, in + offset, out + offset);
        return;
    }
    if (m_mode == CipherMode_CBC) {
        quint8 cipherBlock[16];
        for (int offset = 0; offset + m_blocklen <= length; offset += m_blocklen) {
            std::memcpy(cipherBlock, in + offset, 16);
            invCipherFast(keys, cipherBlock, out + offset);
            xorInto(out + offset, chain, 16);
            std::memcpy(chain, cipherBlock, 16);
        }
        return;
    }
    // CFB and OFB run the cipher forward over the chaining block and XOR the key stream in;
    // the last block may be partial.
    quint8 stream[16];
    for (int offset = 0; offset < length; offset += m_blocklen) {
        const int chunk = std::min(m_blocklen, length - offset);
        cipherFast(keys, chain, stream);
        if (m_mode == CipherMode_OFB)
            std::memcpy(chain, stream, 16);
        else if (chunk == m_blocklen)
            std::memcpy(chain, in + offset, 16);
        for (int j = 0; j < chunk; ++j)
            out[offset + j] = in[offset + j] ^ stream[j];
    }
}

QByteArray QAESEncryption::decrypt(
    const QByteArray &data, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsInput(key, iv))
        return QByteArray();
    const int length = outputLength(data.size());
    QByteArray output(length, Qt::Uninitialized);
    decipher(key, iv, data.constData(), output.data(), length);
    return output;
}

QByteArray QAESEncryption::decrypt(QByteArray &&data, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsInput(key, iv))
        return QByteArray();
    data.truncate(outputLength(data.size()));
    char *buffer = data.data(); // detaches when shared
    decipher(key, iv, buffer, buffer, data.size());
    return std::move(data);
}

QByteArray QAESEncryption::stripPadding(const QByteArray &data, PaddingScheme padding)
{
    return stripPadding(QByteArray(data), padding);
}

QByteArray QAESEncryption::stripPadding(QByteArray &&data, PaddingScheme padding)
{
    const int length = data.size();
    if (length == 0)
        return std::move(data);
    const char *bytes = data.constData();
    int keep = length;

    switch (padding) {
    case PaddingScheme_Zero:
        while (keep > 0 && bytes[keep - 1] == 0)
            --keep;
        break;
    case PaddingScheme_PKCS7: {
        // The pad count is read as a signed byte: 0x80 and above never strip anything.
        const int n = static_cast<qint8>(bytes[length - 1]);
        if (n >= 1 && n <= length)
            keep = length - n;
        break;
    }
    case PaddingScheme_ISO: {
        int last = length - 1;
        while (last >= 0 && bytes[last] == 0)
            --last;
        if (last >= 0 && static_cast<quint8>(bytes[last]) == 0x80)
            keep = last;
        break;
    }
    default:
        break;
    }

    if (keep != length)
        data.truncate(keep);
    return std::move(data);
}
