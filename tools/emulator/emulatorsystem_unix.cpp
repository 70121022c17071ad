// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulatorsystem.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace EmulatorSystem {

void *allocatePages(quint32 size)
{
    void *pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void releasePages(void *pages, quint32 size)
{
    munmap(pages, size);
}

bool clearPages(void *pages, quint32 length)
{
    return madvise(pages, length, MADV_DONTNEED) == 0;
}

int openForWriting(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
}

qint64 writeAt(int fd, const void *data, quint32 length, qint64 offset)
{
    return ::pwrite(fd, data, length, off_t(offset));
}

void close(int fd)
{
    ::close(fd);
}

QByteArray fileSignature(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return QByteArray::number(qulonglong(st.st_ino)) + ':'
        + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':'
        + QByteArray::number(qlonglong(st.st_size));
}

bool makeNodeFile(const QByteArray &path)
{
    const int node
        = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (node < 0)
        return false;
    ::close(node);
    return true;
}

} // namespace EmulatorSystem
