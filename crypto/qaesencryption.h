// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>

// AES block cipher (FIPS-197) for 128, 192 and 256-bit keys, deciphering whole messages in
// the ECB, CBC, CFB (128-bit feedback) and OFB modes, plus removal of three padding schemes.
//
// Usage: construct, decrypt(), then stripPadding() on the result.
//
// decrypt() runs on table-driven rounds; encryptBlock()/decryptBlock() are the step-by-step
// reference built from the per-step functions below. The step functions work on the state
// block bound by bindState(), so an instance serves one thread at a time.
class QAESEncryption : public QObject
{
    Q_OBJECT
public:
    // The enumerations travel as 32-bit integers; any value may be passed.
    enum KeySize : qint32 {
        KeySize_128 = 0,
        KeySize_192 = 1,
        KeySize_256 = 2,
    };
    enum CipherMode : qint32 {
        CipherMode_ECB = 0,
        CipherMode_CBC = 1,
        CipherMode_CFB = 2, // full 128-bit feedback
        CipherMode_OFB = 3,
    };
    enum PaddingScheme : qint32 {
        PaddingScheme_Zero = 0, // trailing zero bytes
        PaddingScheme_PKCS7 = 1, // RFC 5652
        PaddingScheme_ISO = 2, // ISO/IEC 7816-4: 0x80 then zero bytes
    };

    static constexpr int BlockLength = 16;

    // A key size other than the three known values is treated as KeySize_128.
    QAESEncryption(KeySize keySize, CipherMode mode, PaddingScheme padding = PaddingScheme_PKCS7);

    // Deciphers a whole message in the instance's mode. Returns an empty array when the mode
    // is unknown, when a mode other than ECB gets an IV that is not 16 bytes (ECB ignores the
    // IV), or when the key length does not match the key size. ECB and CBC ignore a trailing
    // partial block; CFB and OFB return exactly as many bytes as they are given.
    // The rvalue overload deciphers in the given buffer without copying it.
    QByteArray decrypt(
        const QByteArray &data, const QByteArray &key, const QByteArray &iv = QByteArray());
    QByteArray decrypt(
        QByteArray &&data, const QByteArray &key, const QByteArray &iv = QByteArray());

    // Removes the padding of a deciphered message. Unknown schemes and malformed padding
    // leave the data unchanged. The rvalue overload truncates in place without copying.
    static QByteArray stripPadding(const QByteArray &data, PaddingScheme padding);
    static QByteArray stripPadding(QByteArray &&data, PaddingScheme padding);

    // FIPS-197 key schedule: all round keys in order, 16 x (rounds + 1) bytes.
    // Empty when the key length does not match the key size.
    QByteArray keyExpansion(const QByteArray &key);

    // FIPS-197 Cipher and InvCipher on one 16-byte block with an expanded key.
    // Empty when the block is not 16 bytes or the expanded key has the wrong length.
    QByteArray encryptBlock(const QByteArray &expandedKey, const QByteArray &block);
    QByteArray decryptBlock(const QByteArray &expandedKey, const QByteArray &block);

    // The round steps, applied to the bound state block (nothing happens while no block
    // of at least 16 bytes is bound, or when the round key lies outside expandedKey).
    void bindState(QByteArray *state) { m_state = state; }
    void addRoundKey(quint8 round, const QByteArray &expandedKey);
    void subBytes();
    void invSubBytes();
    void shiftRows();
    void invShiftRows();
    void mixColumns();
    void invMixColumns();

    // Byte-wise XOR; the result is as long as the shorter input.
    static QByteArray byteXor(const QByteArray &a, const QByteArray &b);

    int keyLength() const { return m_keyLen; }
    int rounds() const { return m_nr; }
    int expandedKeyLength() const { return m_blocklen * (m_nr + 1); }

private:
    quint8 *stateBytes() const;
    bool acceptsInput(const QByteArray &key, const QByteArray &iv) const;
    int outputLength(int inputLength) const;
    void decipher(
        const QByteArray &key, const QByteArray &iv, const char *input, char *output, int length);

    qint32 m_nb = 4;
    qint32 m_blocklen = BlockLength;
    qint32 m_level;
    qint32 m_mode;
    qint32 m_nk;
    qint32 m_keyLen;
    qint32 m_nr;
    qint32 m_padding;
    QByteArray *m_state = nullptr;

    quint8 m_sbox[256];
    quint8 m_invSbox[256];
    quint8 m_rcon[14];
};
