// kibro-receive as a terminal user runs it, the simulated pocket computer sending on COM1:
// exit statuses, messages and what is on disk, in one table. A receive ended mid-file is held
// there: the pocket computer pauses, and the test waits until what came is in the file.
#include "narrowfolder.h"
#include "programprocess.h"
#include "testdata.h"

#include <QDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr int kWaitMs = 60000;
constexpr int kHold = 600;

// What a receive has written so far, under the temporary name beside the target.
qint64 writtenSoFar(const QString& folder)
{
    const QFileInfoList parts = QDir(folder).entryInfoList({QStringLiteral(".OUT.BAS.kibro-*")},
                                                           QDir::Files | QDir::Hidden);
    return parts.isEmpty() ? -1 : parts.constFirst().size();
}

} // namespace

class KibroReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void statusAndMessage_data();
    void statusAndMessage();
};

void KibroReceiveTest::statusAndMessage_data()
{
    QTest::addColumn<QStringList>("args");
    // "exists" (OUT.BAS there before), "read-only" (a folder that takes no file).
    QTest::addColumn<QString>("folder");
    // "" (the silence ends it), "line lost", or a signal, once kHold bytes are in.
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    // Bytes of the sent file in OUT.BAS afterwards (or on standard output); -1: none.
    QTest::addColumn<int>("kept");
    // Longer than a slowed pocket computer on a busy machine stalls mid-file.
    const QStringList out{"--silence", "1", "OUT.BAS"};
    const int all = 1024;
    QTest::newRow("no FILE") << QStringList{} << ""
                             << "" << 1 << "no FILE" << -1;
    QTest::newRow("silence not a number") << QStringList{"--silence", "soon", "OUT.BAS"} << ""
                                          << "" << 1 << "not 'soon'" << -1;
    QTest::newRow("received") << out << ""
                              << "" << 0 << "received 1024 bytes into OUT.BAS from " << all;
    QTest::newRow("received to standard output")
        << QStringList{"--silence", "1", "--quiet", "-"} << ""
        << "" << 0 << "received 1024 bytes into standard output" << all;
    QTest::newRow("exists") << out << "exists"
                            << "" << 2 << "the file exists; --force replaces it" << -1;
    QTest::newRow("exists, --force") << QStringList{"--force"} + out << "exists"
                                     << "" << 0 << "received 1024 bytes" << all;
    QTest::newRow("folder not writable") << out << "read-only"
                                         << "" << 2 << "cannot write " << -1;
    QTest::newRow("COM2 leads nowhere") << QStringList{"--port", "COM2"} + out << ""
                                        << "" << 3 << "cannot use the port: " << -1;
    QTest::newRow("line lost") << out << ""
                               << "line lost" << 4 << "was lost after 600 bytes; kept in OUT.BAS"
                               << kHold;
    QTest::newRow("Ctrl-C") << out << ""
                            << "SIGINT" << 130 << "stopped after 600 bytes; kept in OUT.BAS"
                            << kHold;
    QTest::newRow("SIGTERM") << out << ""
                             << "SIGTERM" << 143 << "stopped after 600 bytes; kept in OUT.BAS"
                             << kHold;
}

void KibroReceiveTest::statusAndMessage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, folder);
    QFETCH(QString, event);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(int, kept);
    NarrowFolder narrow(NarrowFolder::Kind::ReadOnly);
    if (folder == u"read-only" && !narrow.isReady())
        QSKIP("no tmpfs may be mounted here, and permissions do not stop this user");
    const QByteArray bytes = testdata::allByteValues().repeated(4);
    ProgramProcess program;
    const QStringList simArgs = program.sim().sendArgs(bytes, event.isEmpty() ? 0 : kHold);
    QVERIFY(!simArgs.isEmpty());
    RIG_OK(program.prepare(true, simArgs));
    const QString dir = folder == u"read-only" ? narrow.path() : program.samplesDir();
    const QByteArray old("the user's own file");
    if (folder == u"exists")
        RIG_OK(program.writeSample(QStringLiteral("OUT.BAS"), old));

    QProcess& process = program.process();
    process.setProcessChannelMode(QProcess::SeparateChannels);
    RIG_OK(program.start(QStringLiteral(KIBRO_RECEIVE_EXE), args, dir, {}));
    // Bytes sent before the port is open wait in the pseudo-terminal: no race either way.
    QVERIFY(program.sim().startSending());
    if (!event.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(writtenSoFar(dir), qint64(kHold), kWaitMs);
        if (event == u"line lost")
            program.sim().stop();
        else
            QCOMPARE(::kill(pid_t(process.processId()), event == u"SIGINT" ? SIGINT : SIGTERM), 0);
    }
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitCode(), status);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(err.contains(says.toUtf8()), err.constData());
    QFile saved(QDir(dir).filePath(QStringLiteral("OUT.BAS")));
    const QByteArray onDisk = saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
    if (args.contains(QStringLiteral("-")))
        QCOMPARE(out, bytes.left(kept));
    else
        QCOMPARE(onDisk, kept >= 0 ? bytes.left(kept) : folder == u"exists" ? old : QByteArray());
    QCOMPARE(writtenSoFar(dir), -1);
}

QTEST_GUILESS_MAIN(KibroReceiveTest)
#include "tst_kibroreceive.moc"
