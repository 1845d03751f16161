// One receive job, the pocket computer sending, ended each way, into each kind of folder: what
// it reports and what is left on disk.
#include "narrowfolder.h"
#include "pocketsim.h"
#include "receivejob.h"
#include "serialport.h"
#include "testdata.h"

#include <QtTest>

using kibro::ReceiveJob;
using namespace std::chrono_literals;

class ReceiveJobTest : public QObject
{
    Q_OBJECT

private slots:
    void ends_data();
    void ends();
};

void ReceiveJobTest::ends_data()
{
    // "new", "exists", "overwrite" (exists, replaced), "read-only" or "full".
    QTest::addColumn<QString>("folder");
    // "silence", "stop", "line lost".
    QTest::addColumn<QString>("end");
    // The pocket computer holds after this many bytes until the end; 0 sends the whole file.
    QTest::addColumn<int>("holdAt");
    QTest::addColumn<ReceiveJob::Ending>("ending");
    QTest::addColumn<ReceiveJob::Failure>("failure");
    // Bytes in the file under its name afterwards; -1: no file (or the old one untouched).
    QTest::addColumn<int>("kept");
    using E = ReceiveJob::Ending;
    using F = ReceiveJob::Failure;
    QTest::newRow("silence") << "new"
                             << "silence" << 0 << E::Silence << F::None << 1024;
    QTest::newRow("stop") << "new"
                          << "stop" << 600 << E::Stopped << F::None << 600;
    QTest::newRow("stop before the first byte") << "new"
                                                << "stop" << -1 << E::Stopped << F::None << -1;
    QTest::newRow("line lost") << "new"
                               << "line lost" << 600 << E::LineLost << F::None << 600;
    QTest::newRow("exists") << "exists"
                            << "silence" << 0 << E::Failed << F::Exists << -1;
    QTest::newRow("exists, overwrite") << "overwrite"
                                       << "silence" << 0 << E::Silence << F::None << 1024;
    QTest::newRow("folder not writable") << "read-only"
                                         << "silence" << 0 << E::Failed << F::File << -1;
    QTest::newRow("disk full") << "full"
                               << "silence" << 0 << E::Failed << F::File << -1;
}

void ReceiveJobTest::ends()
{
    QFETCH(QString, folder);
    QFETCH(QString, end);
    QFETCH(int, holdAt);
    QFETCH(ReceiveJob::Ending, ending);
    QFETCH(ReceiveJob::Failure, failure);
    QFETCH(int, kept);
    const bool isNarrow = folder == u"read-only" || folder == u"full";
    NarrowFolder narrow(folder == u"full" ? NarrowFolder::Kind::Full
                                          : NarrowFolder::Kind::ReadOnly);
    QTemporaryDir plain;
    if (isNarrow && !narrow.isReady())
        QSKIP("no tmpfs may be mounted here, and permissions do not stop this user");
    const QString dir = isNarrow ? narrow.path() : plain.path();
    const QString target = dir + QStringLiteral("/SAVED.BAS");
    const QByteArray old("the user's own file");
    if (folder == u"exists" || folder == u"overwrite") {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    }
    // Every byte value, four times; a full folder gets more than it holds.
    const QByteArray bytes = testdata::allByteValues().repeated(folder == u"full" ? 256 : 4);
    PocketSim sim;
    const QStringList simArgs = sim.sendArgs(bytes, holdAt);
    QVERIFY(!simArgs.isEmpty());
    QVERIFY2(sim.start({}, simArgs), qPrintable(sim.errorString()));

    kibro::SerialPort serial;
    serial.setDevice(sim.linkPath());
    ReceiveJob job(serial, kibro::PortUse::Opened);
    // Longer than a slowed pocket computer on a busy machine stalls mid-file.
    job.setSilence(1s);
    std::optional<ReceiveJob::Result> result;
    connect(&job, &ReceiveJob::finished, this, [&](const ReceiveJob::Result& r) { result = r; });
    job.start(QFile::encodeName(target), folder == u"overwrite");
    // Sent only once the job listens: nothing depends on who is faster.
    if (holdAt >= 0 && job.isBusy())
        QVERIFY(sim.startSending());
    if (holdAt > 0)
        QTRY_COMPARE_WITH_TIMEOUT(job.received(), qint64(holdAt), 15000);
    if (end == u"stop")
        job.stop();
    else if (end == u"line lost")
        sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000);

    QCOMPARE(result->ending, ending);
    QCOMPARE(result->failure, failure);
    QCOMPARE(result->kept, kept >= 0);
    QFile saved(target);
    const QByteArray onDisk = saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
    QCOMPARE(onDisk, kept >= 0 ? bytes.left(kept) : (folder.startsWith(u"exists") ? old : ""));
    // Nothing half-written left under another name.
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), onDisk.isEmpty() ? 0 : 1);
    QVERIFY(!serial.isReserved());
}

QTEST_GUILESS_MAIN(ReceiveJobTest)
#include "tst_receivejob.moc"
