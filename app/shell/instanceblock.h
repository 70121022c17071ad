// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>

// 16-bit checksum shared by the block and the handshake: the CRC-16 of ISO 3309 / X.25.
quint16 instanceChecksum(const char *data, qsizetype length);

// The block that all instances of one key share, in the host's native byte order.
// A fresh (all-zero) block is not consistent: its creator must reset it first.
struct InstanceBlock
{
    quint8 hasPrimary;
    quint8 reserved1[3];
    quint32 secondaryCount;
    qint64 primaryProcessId;
    char primaryUserName[128];
    quint16 checksum;
    quint8 reserved2[6];

    static constexpr int Size = 152;
    static constexpr int ChecksummedBytes = 144;
    static constexpr int UserNameCapacity = 128;

    // Copies the block out of / into shared memory of at least Size bytes. Only the bytes
    // up to the checksum are written back; the trailing reserved bytes stay untouched.
    static InstanceBlock load(const void *memory);
    void store(void *memory) const;

    quint16 computeChecksum() const;
    bool isConsistent() const;
    void updateChecksum();

    // Each of these leaves the block consistent.
    void reset();
    void registerPrimary(qint64 processId, const QByteArray &userNameUtf8);
    void clearPrimary();
    // Returns the new secondary count, which is the new instance's number.
    quint32 registerSecondary();

    QByteArray userName() const;
};

static_assert(sizeof(InstanceBlock) == InstanceBlock::Size, "shared block must be 152 bytes");
static_assert(offsetof(InstanceBlock, secondaryCount) == 4, "layout");
static_assert(offsetof(InstanceBlock, primaryProcessId) == 8, "layout");
static_assert(offsetof(InstanceBlock, primaryUserName) == 16, "layout");
static_assert(offsetof(InstanceBlock, checksum) == InstanceBlock::ChecksummedBytes, "layout");

// What the instance key is derived from.
struct InstanceKeyInputs
{
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QStringList userData;
    QString applicationVersion;
    QString applicationFilePath;
    QString userName;
    bool includeVersion = true;
    bool includePath = true;
    bool includeUser = false;
};

// SHA-256 over the inputs, Base64 with "/" replaced by "_" (44 characters). The key names
// both the shared block and the local server.
QString deriveInstanceKey(const InstanceKeyInputs &inputs);

// Name of the user running this process (Linux: the password database, then the USER
// variable; Windows: GetUserNameW, then the USERNAME variable).
QString currentUserName();
