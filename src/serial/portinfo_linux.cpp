#include "portinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kibro {

namespace {

// One line of a sysfs attribute; a USB string is at most 126 characters.
QString attribute(const QDir& dir, const QString& name)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(512)).simplified();
}

} // namespace

bool mayOpen(const QString& device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

QString accessAdvice(const QString& device)
{
    // Serial devices belong to a group that may use them (dialout on Debian); root's own
    // group is no advice.
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(device).constData(), &status) == 0 && status.st_gid != 0 &&
        (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        if (const group* owner = ::getgrgid(status.st_gid)) {
            const QString name = QString::fromLocal8Bit(owner->gr_name);
            return QStringLiteral("add yourself to the %1 group (sudo adduser $USER %1), then "
                                  "log in again")
                .arg(name);
        }
    }
    return QStringLiteral("ask the administrator for read and write access to it");
}

DeviceReport describeDevice(const QString& device, const QString& sysfsRoot)
{
    DeviceReport report;
    report.device = device;
    if (device.isEmpty())
        return report;
    report.resolved = QFileInfo(device).canonicalFilePath();
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(device).constData(), &status) != 0)
        return report;
    report.present = true;
    report.accessible = mayOpen(device);
    if (!S_ISCHR(status.st_mode))
        return report;

    // The tty's node in sysfs, then up its parents to the USB device that holds the strings.
    const QString node = QStringLiteral("%1/dev/char/%2:%3")
                             .arg(sysfsRoot)
                             .arg(major(status.st_rdev))
                             .arg(minor(status.st_rdev));
    const QString start = QFileInfo(node).canonicalFilePath();
    const QString devices = QFileInfo(sysfsRoot + QStringLiteral("/devices")).canonicalFilePath();
    if (start.isEmpty() || devices.isEmpty())
        return report;
    QDir dir(start);
    while (dir.path().startsWith(devices + u'/')) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            report.description = attribute(dir, QStringLiteral("product"));
            report.manufacturer = attribute(dir, QStringLiteral("manufacturer"));
            report.serialNumber = attribute(dir, QStringLiteral("serial"));
            break;
        }
        if (!dir.cdUp())
            break;
    }
    return report;
}

} // namespace kibro
