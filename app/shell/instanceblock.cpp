// SPDX-License-Identifier: GPL-3.0-or-later
#include "instanceblock.h"

#include <QCryptographicHash>

#include <cstring>

quint16 instanceChecksum(const char *data, qsizetype length)
{
    // The same ISO 3309 checksum: Qt 5.15 takes only a pointer and length, Qt 6 a byte view.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return qChecksum(QByteArrayView(data, length));
#else
    return qChecksum(data, uint(length));
#endif
}

InstanceBlock InstanceBlock::load(const void *memory)
{
    InstanceBlock block;
    std::memcpy(&block, memory, sizeof(block));
    return block;
}

void InstanceBlock::store(void *memory) const
{
    std::memcpy(memory, this, offsetof(InstanceBlock, reserved2));
}

quint16 InstanceBlock::computeChecksum() const
{
    return instanceChecksum(reinterpret_cast<const char *>(this), ChecksummedBytes);
}

bool InstanceBlock::isConsistent() const
{
    return checksum == computeChecksum();
}

void InstanceBlock::updateChecksum()
{
    checksum = computeChecksum();
}

void InstanceBlock::reset()
{
    hasPrimary = 0;
    secondaryCount = 0;
    primaryProcessId = -1;
    primaryUserName[0] = '\0';
    updateChecksum();
}

void InstanceBlock::registerPrimary(qint64 processId, const QByteArray &userNameUtf8)
{
    hasPrimary = 1;
    primaryProcessId = processId;
    // Cut to 127 bytes without splitting a UTF-8 sequence, then terminate.
    qsizetype length = qMin<qsizetype>(userNameUtf8.size(), UserNameCapacity - 1);
    if (length < userNameUtf8.size()) {
        while (length > 0 && (quint8(userNameUtf8.at(length)) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(primaryUserName, userNameUtf8.constData(), size_t(length));
    primaryUserName[length] = '\0';
    updateChecksum();
}

void InstanceBlock::clearPrimary()
{
    hasPrimary = 0;
    primaryProcessId = -1;
    primaryUserName[0] = '\0';
    updateChecksum();
}

quint32 InstanceBlock::registerSecondary()
{
    secondaryCount += 1;
    updateChecksum();
    return secondaryCount;
}

QByteArray InstanceBlock::userName() const
{
    return QByteArray(primaryUserName, int(qstrnlen(primaryUserName, UserNameCapacity)));
}

QString deriveInstanceKey(const InstanceKeyInputs &inputs)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("SingleApplication"));
    hash.addData(inputs.applicationName.toUtf8());
    hash.addData(inputs.organizationName.toUtf8());
    hash.addData(inputs.organizationDomain.toUtf8());
    if (!inputs.userData.isEmpty())
        hash.addData(inputs.userData.join(QString()).toUtf8());
    if (inputs.includeVersion)
        hash.addData(inputs.applicationVersion.toUtf8());
    if (inputs.includePath)
        hash.addData(inputs.applicationFilePath.toLower().toUtf8());
    if (inputs.includeUser)
        hash.addData(inputs.userName.toUtf8());

    QByteArray key = hash.result().toBase64();
    key.replace('/', '_');
    return QString::fromLatin1(key);
}
