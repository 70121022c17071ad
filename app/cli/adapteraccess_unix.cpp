// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteraccess.h"

#include "deviceflash.h"
#include "logcategories.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AdapterAccess {

// "crw-rw---- root:plugdev, readable and writable by this user (uid 1000)"
QString nodeText(const QString &node)
{
    const QByteArray path = QFile::encodeName(node);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QString mode = QStringLiteral("----------");
    if (S_ISCHR(info.st_mode))
        mode[0] = QLatin1Char('c');
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (info.st_mode & (0400 >> bit))
            mode[bit + 1] = QLatin1Char(letters[bit]);
    }
    const passwd *ownerEntry = ::getpwuid(info.st_uid);
    const group *groupEntry = ::getgrgid(info.st_gid);
    return QStringLiteral("%1 %2:%3, %4 by this user (uid %5)")
        .arg(mode,
            ownerEntry ? QString::fromLocal8Bit(ownerEntry->pw_name) : QString::number(info.st_uid),
            groupEntry ? QString::fromLocal8Bit(groupEntry->gr_name) : QString::number(info.st_gid),
            ::access(path.constData(), R_OK | W_OK) == 0
                ? QStringLiteral("readable and writable")
                : QStringLiteral("not readable and writable"))
        .arg(::getuid());
}

// Logs (for --verbose) the hidraw nodes that the kernel lists for the adapter's USB ids with
// their permissions, or that it lists none: tells a missing adapter from a missing udev rule
// when the device layer could not name the node itself.
void logNodes()
{
    const QString ids = QStringLiteral(":%1:%2")
                            .arg(DeviceFlash::adapterVendorId, 8, 16, QLatin1Char('0'))
                            .arg(quint32(DeviceFlash::Corvane_Adapter), 8, 16, QLatin1Char('0'));
    const QDir hidraw(QStringLiteral("/sys/class/hidraw"));
    bool found = false;
    const QStringList entries
        = hidraw.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile uevent(hidraw.filePath(entry + QStringLiteral("/device/uevent")));
        if (!uevent.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(uevent.read(4096));
        const auto at = text.indexOf(QLatin1String("HID_ID="));
        if (at < 0
            || !text.mid(at).section(QLatin1Char('\n'), 0, 0).endsWith(ids, Qt::CaseInsensitive))
            continue;
        found = true;
        const QString node = QStringLiteral("/dev/") + entry;
        qCInfo(lcCli).noquote() << "adapter node" << node << nodeText(node);
    }
    if (!found)
        qCInfo(lcCli).noquote() << "no hidraw node of a USB device"
                                << QStringLiteral("%1:%2")
                                       .arg(DeviceFlash::adapterVendorId, 4, 16, QLatin1Char('0'))
                                       .arg(quint32(DeviceFlash::Corvane_Adapter), 4, 16,
                                           QLatin1Char('0'))
                                << "is attached";
}

QString openHint()
{
    return QStringLiteral(
        "install the udev rule: sudo cp resources/udev/70-corvane-x9.rules /etc/udev/rules.d/ "
        "&& sudo udevadm control --reload && sudo udevadm trigger");
}

QString notFoundHint()
{
    return QStringLiteral("plug the adapter in; if it is plugged in, check its udev rule "
                          "(70-corvane-x9.rules): corvane-cli info --verbose names the "
                          "adapter's node and its permissions");
}

} // namespace AdapterAccess
