// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulatorsystem.h"

#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace EmulatorSystem {

namespace {

    std::wstring native(const QString &path)
    {
        return QDir::toNativeSeparators(path).toStdWString();
    }

} // namespace

void *allocatePages(quint32 size)
{
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releasePages(void *pages, quint32)
{
    VirtualFree(pages, 0, MEM_RELEASE);
}

bool clearPages(void *pages, quint32 length)
{
    // Decommitted and committed again, the pages are fresh zero pages.
    return VirtualFree(pages, length, MEM_DECOMMIT)
        && VirtualAlloc(pages, length, MEM_COMMIT, PAGE_READWRITE) == pages;
}

int openForWriting(const QString &path)
{
    return ::_wopen(native(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

qint64 writeAt(int fd, const void *data, quint32 length, qint64 offset)
{
    // A write at an offset of its own, as pwrite(): writers of other threads keep theirs.
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at = {};
    at.Offset = DWORD(offset & 0xFFFFFFFF);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, data, length, &written, &at))
        return -1;
    return qint64(written);
}

void close(int fd)
{
    ::_close(fd);
}

QByteArray fileSignature(const QString &path)
{
    HANDLE file = CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QByteArray();
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known)
        return QByteArray();
    const quint64 id = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const quint64 written
        = (quint64(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    const quint64 size = (quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return QByteArray::number(id) + ':' + QByteArray::number(written) + ':'
        + QByteArray::number(size);
}

bool makeNodeFile(const QByteArray &path)
{
    HANDLE node = CreateFileW(native(QString::fromUtf8(path)).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (node == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(node);
    return true;
}

} // namespace EmulatorSystem
