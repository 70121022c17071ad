// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlock.h"

#include <QString>

#include <windows.h>

namespace {

// The lock is a named file mapping in the session's namespace: creating it takes the lock,
// and it lives until its last handle is closed, which the system does when the holder ends,
// however it ends. Its first bytes hold the holder's process id. Windows spells one device
// path in upper and in lower case, so the name is made from the lower-case path.
std::wstring objectName(const QByteArray &devicePath)
{
    return (QLatin1String("Local\\corvane-x9-") + AdapterLock::baseName(devicePath.toLower()))
        .toStdWString();
}

QString systemError(const QByteArray &path, DWORD error)
{
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(path), qt_error_string(int(error)));
}

qint64 readOwner(HANDLE mapping)
{
    const void *view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(DWORD));
    if (!view)
        return 0;
    const DWORD pid = *static_cast<const volatile DWORD *>(view);
    UnmapViewOfFile(view);
    return qint64(pid);
}

} // namespace

AdapterLock::Result AdapterLock::take(const QByteArray &devicePath, qint64 *owner)
{
    const std::wstring name = objectName(devicePath);
    SetLastError(ERROR_SUCCESS);
    HANDLE mapping = CreateFileMappingW(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), name.c_str());
    const DWORD error = GetLastError();
    if (!mapping) {
        m_error = systemError(devicePath, error);
        return error == ERROR_ACCESS_DENIED ? Held : Failed;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        if (owner)
            *owner = readOwner(mapping);
        CloseHandle(mapping);
        return Held;
    }
    if (void *view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
        *static_cast<volatile DWORD *>(view) = GetCurrentProcessId();
        UnmapViewOfFile(view);
    }
    m_handle = reinterpret_cast<qintptr>(mapping);
    m_devicePath = devicePath;
    return Acquired;
}

AdapterLock::Result AdapterLock::probe(const QByteArray &devicePath)
{
    const std::wstring name = objectName(devicePath);
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping) {
        CloseHandle(mapping);
        return Held;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Acquired : error == ERROR_ACCESS_DENIED ? Held : Failed;
}

void AdapterLock::release()
{
    if (!isHeld())
        return;
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
    m_devicePath.clear();
    m_pidPath.clear();
}
