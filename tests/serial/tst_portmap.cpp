#include "portmap.h"
#include "teststore.h"

#include <QTest>

using kibro::PortMap;

// Only names are checked here: no device is ever opened.
class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void builtInNames_data();
    void builtInNames();
    void storeMappingWins_data();
    void storeMappingWins();
    void emptyMappingFallsBack();
};

void TestPortMap::builtInNames_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");

    // Names compared as text: nothing in this test opens a device.
#if defined(Q_OS_LINUX)
    QTest::newRow("COM0") << 0 << "/dev/ttyS0";
    QTest::newRow("COM1") << 1 << "/dev/ttyUSB0";
    QTest::newRow("COM2") << 2 << "/dev/ttyUSB1";
    QTest::newRow("COM3") << 3 << "/dev/ttyACM0";
    QTest::newRow("COM4") << 4 << "";
    QTest::newRow("COM99") << 99 << "";
    QTest::newRow("COM-1") << -1 << "";
    QTest::newRow("COM32767") << 32767 << "";
#elif defined(Q_OS_WIN)
    QTest::newRow("COM0") << 0 << "";
    QTest::newRow("COM1") << 1 << "COM1";
    QTest::newRow("COM3") << 3 << "COM3";
    QTest::newRow("COM-1") << -1 << "";
#endif
}

void TestPortMap::builtInNames()
{
    QFETCH(int, port);
    QFETCH(QString, device);

    TestStore testStore;
    QCOMPARE(PortMap::builtInDevice(static_cast<qint16>(port)), device);
    // With nothing in the store, the map gives the built-in name.
    QCOMPARE(PortMap().device(static_cast<qint16>(port)), device);
}

void TestPortMap::storeMappingWins_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("device");

    QTest::newRow("over a built-in") << 1 << "/tmp/kibro-pty"
                                     << "/tmp/kibro-pty";
    QTest::newRow("over the console") << 0 << "/tmp/kibro-pty0"
                                      << "/tmp/kibro-pty0";
    QTest::newRow("number without a built-in") << 7 << "/tmp/seven"
                                               << "/tmp/seven";
    QTest::newRow("negative number") << -1 << "/tmp/minus"
                                     << "/tmp/minus";
    QTest::newRow("blanks trimmed") << 2 << "  /tmp/spaced  "
                                    << "/tmp/spaced";
    QTest::newRow("comma in path") << 3 << "/tmp/a,b"
                                   << "/tmp/a,b";
#if !defined(Q_OS_WIN)
    // What the port would open anyway, made explicit so that messages name it.
    QTest::newRow("bare name") << 1 << "ttyUSB0"
                               << "/dev/ttyUSB0";
    QTest::newRow("bare name, trimmed") << 1 << " small.txt "
                                        << "/dev/small.txt";
    QTest::newRow("relative path") << 2 << "serial/by-id/usb-FTDI"
                                   << "/dev/serial/by-id/usb-FTDI";
#endif
}

void TestPortMap::storeMappingWins()
{
    QFETCH(int, port);
    QFETCH(QString, stored);
    QFETCH(QString, device);

    TestStore testStore;
    testStore.mapPort(port, stored);
    QCOMPARE(PortMap().device(static_cast<qint16>(port)), device);
    // Only that number is mapped.
    QCOMPARE(PortMap().device(static_cast<qint16>(port + 1)),
             PortMap::builtInDevice(static_cast<qint16>(port + 1)));
}

void TestPortMap::emptyMappingFallsBack()
{
    TestStore testStore;
    testStore.mapPort(2, QStringLiteral("   "));
    QCOMPARE(PortMap().device(2), PortMap::builtInDevice(2));
}

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
