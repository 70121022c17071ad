// SPDX-License-Identifier: GPL-3.0-or-later
#include "privatefiles.h"
#include "processtoken_win.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <aclapi.h>

namespace PrivateFiles {

namespace {

    bool fail(QString *errorString, const QString &text)
    {
        if (errorString)
            *errorString = text;
        return false;
    }

    QString windowsError(DWORD error)
    {
        return qt_error_string(int(error));
    }

    std::wstring native(const QString &path)
    {
        return QDir::toNativeSeparators(path).toStdWString();
    }

    // Whether the symbolic link or junction at path was made by this user or by the system
    // (or an administrator): nobody else could have planted it to turn a write elsewhere.
    bool linkMadeByUserOrSystem(const QString &path)
    {
        HANDLE link = CreateFileW(native(path).c_str(), READ_CONTROL,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (link == INVALID_HANDLE_VALUE)
            return false;
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD result = GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
            &owner, nullptr, nullptr, nullptr, &descriptor);
        CloseHandle(link);
        if (result != ERROR_SUCCESS)
            return false;
        bool trusted = false;
        const std::unique_ptr<char[]> user
            = ProcessToken::information(GetCurrentProcess(), TokenUser);
        if (user && EqualSid(owner, ProcessToken::userSid(user)))
            trusted = true;
        else
            trusted = IsWellKnownSid(owner, WinLocalSystemSid)
                || IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
        LocalFree(descriptor);
        return trusted;
    }

    bool isLink(const QString &path)
    {
        const DWORD attributes = GetFileAttributesW(native(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }

} // namespace

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const int n = ::_write(fd, data, unsigned(qMin(left, qint64(1) << 30)));
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

bool makeDirectory(const QString &path, QString *errorString)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    if (!QDir().mkpath(absolute))
        return fail(errorString, path + QLatin1String(": cannot be made"));
    if (!QFileInfo(absolute).isDir())
        return fail(errorString, path + QLatin1String(" is not a directory"));
    return true;
}

int open(const QString &path, int flags)
{
    return ::_wopen(native(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

void close(int fd)
{
    ::_close(fd);
}

qint64 size(int fd)
{
    return ::_filelengthi64(fd);
}

bool readAt(int fd, qint64 offset, char *data, int length)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at = {};
    at.Offset = DWORD(offset & 0xFFFFFFFF);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD read = 0;
    return file != INVALID_HANDLE_VALUE && ReadFile(file, data, DWORD(length), &read, &at)
        && read == DWORD(length);
}

bool sync(int fd)
{
    return ::_commit(fd) == 0;
}

bool isFileAt(int fd, const QString &path)
{
    const auto open = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    HANDLE named = CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (open == INVALID_HANDLE_VALUE || named == INVALID_HANDLE_VALUE) {
        if (named != INVALID_HANDLE_VALUE)
            CloseHandle(named);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    const bool same = GetFileInformationByHandle(open, &a) && GetFileInformationByHandle(named, &b)
        && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
        && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

QString stateDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

bool restrict(int)
{
    return true;
}

bool restrict(QFileDevice &)
{
    return true;
}

bool restrict(const QString &)
{
    return true;
}

QString runtimeDirectory()
{
    // The user's local application data: not roaming, and the user's own.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return QString();
    const QString directory = cache + QLatin1String("/corvane-x9");
    return makeDirectory(directory) ? directory : QString();
}

QString resolveForWriting(const QString &path, QString *errorString)
{
    if (path.isEmpty()) {
        fail(errorString, QStringLiteral("no file name"));
        return QString();
    }
    // Every folder on the way and the file itself: a link another user made is refused,
    // the others are followed (by the system, when the file is written).
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    QString walked;
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        walked = walked.isEmpty() ? part : walked + QLatin1Char('/') + part;
        if (walked.endsWith(QLatin1Char(':')))
            continue; // the drive
        if (isLink(walked) && !linkMadeByUserOrSystem(walked)) {
            fail(errorString,
                QStringLiteral("refusing to write through the symbolic link %1: another user "
                               "made it")
                    .arg(QDir::toNativeSeparators(walked)));
            return QString();
        }
    }
    const QFileInfo info(absolute);
    return info.exists() ? info.canonicalFilePath() : absolute;
}

bool writeAtomically(
    const QString &path, const QByteArray &bytes, QString *errorString, bool replace)
{
    const QString target = resolveForWriting(path, errorString);
    if (target.isEmpty())
        return false;
    const std::wstring finalName = native(target);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = finalName + L"." + std::to_wstring(GetCurrentProcessId()) + L"-"
            + std::to_wstring(GetTickCount64() + unsigned(attempt));
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return fail(errorString, windowsError(GetLastError()));
    }
    if (file == INVALID_HANDLE_VALUE)
        return fail(errorString, windowsError(GetLastError()));
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    bool ok = true;
    while (ok && left > 0) {
        DWORD written = 0;
        ok = WriteFile(file, data, DWORD(qMin(left, qint64(1) << 30)), &written, nullptr)
            && written > 0;
        data += written;
        left -= written;
    }
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (ok && !FlushFileBuffers(file)) {
        ok = false;
        error = GetLastError();
    }
    CloseHandle(file);
    // Without MOVEFILE_REPLACE_EXISTING a file already there stays and the move fails.
    if (ok
        && MoveFileExW(temporary.c_str(), finalName.c_str(),
            MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
        return true;
    if (ok)
        error = GetLastError();
    DeleteFileW(temporary.c_str());
    errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : EIO;
    return fail(errorString, windowsError(error));
}

} // namespace PrivateFiles
