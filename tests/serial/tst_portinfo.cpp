#include "pocketsim.h"
#include "portinfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using kibro::describeDevice;
using kibro::DeviceReport;

namespace {

// Where the device's node points to in the fake sysfs, and where the USB strings sit.
enum class Tree { None, UsbAdapter, NoUsbParent, StringsAboveDevices };

const QString kTtyDir = QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/"
                                       "ttyUSB0/tty/ttyUSB0");
const QString kUsbDir = QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-2");

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool writeStrings(const QString& dir)
{
    // As the kernel gives them: one line each, padded by some adapters.
    return writeFile(dir + QStringLiteral("/idVendor"), "0403\n") &&
           writeFile(dir + QStringLiteral("/product"), "FT232R  USB UART \n") &&
           writeFile(dir + QStringLiteral("/manufacturer"), "FTDI\n") &&
           writeFile(dir + QStringLiteral("/serial"), "A1234567\n");
}

// A sysfs of its own whose node for the pty's device number leads where the row says.
bool buildTree(const QString& root, Tree tree, dev_t device)
{
    const QDir sys(root);
    if (!sys.mkpath(kTtyDir) || !sys.mkpath(QStringLiteral("dev/char")))
        return false;
    if (tree == Tree::None)
        return true;
    const QString node =
        sys.filePath(QStringLiteral("dev/char/%1:%2").arg(major(device)).arg(minor(device)));
    if (!QFile::link(QStringLiteral("../../") + kTtyDir, node))
        return false;
    switch (tree) {
    case Tree::UsbAdapter:
        return writeStrings(sys.filePath(kUsbDir));
    case Tree::StringsAboveDevices:
        return writeStrings(root);
    case Tree::None:
    case Tree::NoUsbParent:
        break;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Tree)

// Each report is checked against a pseudo-terminal, a real character device, whose number a
// fake sysfs maps to a USB adapter or to nothing. No device is opened.
class TestPortInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void presentDevice_data();
    void presentDevice();
    void absentDevice_data();
    void absentDevice();

private:
    PocketSim m_sim;
    QTemporaryDir m_dir;
    dev_t m_device = 0;
};

void TestPortInfo::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_sim.start({}), qPrintable(m_sim.errorString()));
    struct stat status
    {
    };
    QCOMPARE(::stat(QFile::encodeName(m_sim.devicePath()).constData(), &status), 0);
    QVERIFY(S_ISCHR(status.st_mode));
    m_device = status.st_rdev;
}

void TestPortInfo::presentDevice_data()
{
    QTest::addColumn<Tree>("tree");
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<bool>("refused");

    QTest::newRow("USB adapter") << Tree::UsbAdapter << false << "FT232R USB UART"
                                 << "FTDI"
                                 << "A1234567" << false;
    QTest::newRow("USB adapter the user may not open")
        << Tree::UsbAdapter << false << "FT232R USB UART"
        << "FTDI"
        << "A1234567" << true;
    QTest::newRow("USB adapter through a link") << Tree::UsbAdapter << true << "FT232R USB UART"
                                                << "FTDI"
                                                << "A1234567" << false;
    QTest::newRow("no USB parent") << Tree::NoUsbParent << false << ""
                                   << ""
                                   << "" << false;
    QTest::newRow("not in sysfs") << Tree::None << false << ""
                                  << ""
                                  << "" << false;
    QTest::newRow("strings outside the devices") << Tree::StringsAboveDevices << false << ""
                                                 << ""
                                                 << "" << false;
}

void TestPortInfo::presentDevice()
{
    QFETCH(Tree, tree);
    QFETCH(bool, throughLink);
    QFETCH(QString, description);
    QFETCH(QString, manufacturer);
    QFETCH(QString, serialNumber);
    QFETCH(bool, refused);

    QTemporaryDir sys;
    QVERIFY(sys.isValid());
    QVERIFY(buildTree(sys.path(), tree, m_device));
    const QString device = throughLink ? m_sim.linkPath() : m_sim.devicePath();

    std::optional<RefusedAccess> refusal;
    if (refused) {
        // The fake sysfs stays readable to the user, as the real one is.
        QVERIFY(::chmod(QFile::encodeName(sys.path()).constData(), 0755) == 0);
        refusal.emplace(m_sim.devicePath());
    }
    const DeviceReport report = describeDevice(device, sys.path());
    refusal.reset();

    QCOMPARE(report.device, device);
    QCOMPARE(report.resolved, m_sim.devicePath());
    QVERIFY(report.present);
    QCOMPARE(report.accessible, !refused);
    QCOMPARE(report.description, description);
    QCOMPARE(report.manufacturer, manufacturer);
    QCOMPARE(report.serialNumber, serialNumber);
}

void TestPortInfo::absentDevice_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("no such path") << "missing";
    QTest::newRow("link to nothing") << "dangling";
    QTest::newRow("no device named") << "empty";
}

// Nothing there: not present, and no strings even where sysfs has some for the number.
void TestPortInfo::absentDevice()
{
    QFETCH(QString, kind);

    QTemporaryDir sys;
    QVERIFY(sys.isValid());
    QVERIFY(buildTree(sys.path(), Tree::UsbAdapter, m_device));
    QString device;
    if (kind == QLatin1String("missing")) {
        device = m_dir.filePath(QStringLiteral("no-device"));
    } else if (kind == QLatin1String("dangling")) {
        device = m_dir.filePath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("gone")), device));
    }

    const DeviceReport report = describeDevice(device, sys.path());

    QCOMPARE(report.device, device);
    QVERIFY(!report.present);
    QVERIFY(report.resolved.isEmpty());
    QVERIFY(report.description.isEmpty());
    QVERIFY(report.manufacturer.isEmpty());
    QVERIFY(report.serialNumber.isEmpty());
}

QTEST_GUILESS_MAIN(TestPortInfo)
#include "tst_portinfo.moc"
