// SPDX-License-Identifier: GPL-3.0-or-later
// The guard's system objects on Windows: a lock file in the user's private folder, a named
// block in the session's own namespace, and a named pipe whose far end must run as the user
// (pipe names are shared by the whole machine, so another user could take one first).
#include "singleapplication_p.h"

#include "privatefiles.h"
#include "processtoken_win.h"

#include <QSharedMemory>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <windows.h>

#include <aclapi.h>
#include <lmcons.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool sameUser(const std::unique_ptr<char[]> &a, const std::unique_ptr<char[]> &b)
{
    return a && b && EqualSid(ProcessToken::userSid(a), ProcessToken::userSid(b));
}

} // namespace

QString currentUserName()
{
    wchar_t name[UNLEN + 1] = {};
    DWORD length = UNLEN + 1;
    if (GetUserNameW(name, &length) && length > 1)
        return QString::fromWCharArray(name, int(length - 1));
    return qEnvironmentVariable("USERNAME");
}

bool SingleApplicationPrivate::peerIsThisUser(qintptr descriptor, bool isServer)
{
    const auto pipe = reinterpret_cast<HANDLE>(descriptor);
    ULONG pid = 0;
    const bool known = isServer ? GetNamedPipeServerProcessId(pipe, &pid)
                                : GetNamedPipeClientProcessId(pipe, &pid);
    if (!known || pid == 0)
        return false;
    HANDLE peer = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!peer)
        return false;
    const bool same = sameUser(ProcessToken::information(peer, TokenUser),
        ProcessToken::information(GetCurrentProcess(), TokenUser));
    CloseHandle(peer);
    return same;
}

QString SingleApplicationPrivate::guardFile(const char *suffix) const
{
    return directory + QLatin1Char('/') + instanceKey.left(16) + QLatin1String(suffix);
}

QString SingleApplicationPrivate::socketName() const
{
    // The key holds the user's name, so two users' pipes never share a name.
    return QLatin1String("corvane-x9-") + instanceKey.left(16);
}

QString SingleApplicationPrivate::openGuard()
{
    directory = PrivateFiles::runtimeDirectory();
    if (directory.isEmpty())
        return QStringLiteral("no private runtime directory");
    const QString lockPath = guardFile(".lock");
    lockFd = PrivateFiles::open(lockPath, O_RDWR | O_CREAT);
    if (lockFd < 0)
        return lockPath + QLatin1String(": ") + systemError();
    if (!lockBlock())
        return lockPath + QLatin1String(": cannot lock: ") + systemError();

    memory = new QSharedMemory();
    // The session's own namespace: no other session, and so no other logged-on user, sees it.
    memory->setNativeKey(QLatin1String("Local\\corvane-x9-") + instanceKey.left(16));
    return foreignBlock();
}

bool SingleApplicationPrivate::prepareKeyFile()
{
    return true; // a named object needs no file
}

QString SingleApplicationPrivate::foreignBlock() const
{
    // A block that a process of another user in this session made first is not trusted.
    const std::wstring name = memory->nativeKey().toStdWString();
    HANDLE mapping = OpenFileMappingW(READ_CONTROL, FALSE, name.c_str());
    if (!mapping)
        return GetLastError() == ERROR_ACCESS_DENIED
            ? QStringLiteral("the shared block belongs to another user")
            : QString();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = GetSecurityInfo(mapping, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
        &owner, nullptr, nullptr, nullptr, &descriptor);
    CloseHandle(mapping);
    if (result != ERROR_SUCCESS)
        return QStringLiteral("the shared block cannot be attached");
    const std::unique_ptr<char[]> user = ProcessToken::information(GetCurrentProcess(), TokenUser);
    // The owner this process gives the objects it makes: the user, or for an elevated
    // administrator the Administrators group.
    const std::unique_ptr<char[]> newOwner
        = ProcessToken::information(GetCurrentProcess(), TokenOwner);
    // Windows gives every object an owner. Wine keeps none for the objects a program names
    // without a descriptor, and only the processes of its one system user see them.
    const bool ours = !owner || (user && EqualSid(owner, ProcessToken::userSid(user)))
        || (newOwner && EqualSid(owner, reinterpret_cast<TOKEN_OWNER *>(newOwner.get())->Owner));
    LocalFree(descriptor);
    return ours ? QString() : QStringLiteral("the shared block belongs to another user");
}
