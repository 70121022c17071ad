// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlock.h"

#include "privatefiles.h"

#include <QCryptographicHash>

QString AdapterLock::baseName(const QByteArray &devicePath)
{
    const QByteArray digest
        = QCryptographicHash::hash(devicePath, QCryptographicHash::Sha1).toHex().left(16);
    return QLatin1String("adapter-") + QString::fromLatin1(digest);
}

QString AdapterLock::directory()
{
    return PrivateFiles::runtimeDirectory();
}

QString AdapterLock::pidFileName(const QByteArray &devicePath)
{
    return baseName(devicePath) + QLatin1String(".pid");
}

AdapterLock::~AdapterLock()
{
    release();
}

AdapterLock::Result AdapterLock::acquire(const QByteArray &devicePath, qint64 *owner)
{
    if (owner)
        *owner = 0;
    if (isHeld() && m_devicePath == devicePath)
        return Acquired;
    release();
    m_error.clear();
    return take(devicePath, owner);
}
