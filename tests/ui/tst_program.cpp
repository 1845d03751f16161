#include "programprocess.h"
#include "testdata.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The real executable, started as a user would, against a store in a temporary
// XDG_CONFIG_HOME. Killed, it leaves the stored values untouched; asked to end by a signal, it
// ends as its own exit does.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void startsWithStoredConfiguration_data();
    void startsWithStoredConfiguration();
    void endRequestEndsAsExitDoes_data();
    void endRequestEndsAsExitDoes();
};

namespace {

// The lock files a process holds, wherever serial programs put them.
QStringList locksOf(qint64 pid)
{
    QStringList found;
    for (const QString& directory : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"),
                                     QStringLiteral("/tmp"), QDir::tempPath()}) {
        const QDir folder(directory);
        for (const QString& name : folder.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
            QFile lock(folder.filePath(name));
            if (lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed().toLongLong() == pid)
                found << lock.fileName();
        }
    }
    found.removeDuplicates();
    return found;
}

} // namespace

void TestProgram::startsWithStoredConfiguration_data()
{
    QTest::addColumn<bool>("deviceWorks");

    QTest::newRow("port opens") << true;
    QTest::newRow("device missing") << false;
}

void TestProgram::startsWithStoredConfiguration()
{
    QFETCH(bool, deviceWorks);

    ProgramProcess program;
    RIG_OK(program.prepare(false));
    // COM2 leads to the simulator, or to a path where nothing is.
    const QString link = deviceWorks ? program.sim().linkPath()
                                     : QDir(program.configDir()).filePath(QStringLiteral("pocket"));
    {
        QSettings store(program.storeFile(), QSettings::IniFormat);
        store.setValue(QStringLiteral("Startup/Left"), QStringLiteral("2400"));
        store.setValue(QStringLiteral("Startup/Top"), QStringLiteral("1800"));
        store.setValue(QStringLiteral("Startup/Port"), QStringLiteral("2"));
        store.setValue(QStringLiteral("Startup/Settings"), QStringLiteral("4800,N,8,1"));
        store.setValue(QStringLiteral("Ports/COM2"), link);
        store.sync();
        QCOMPARE(store.status(), QSettings::NoError);
    }
    QFile storeFile(program.storeFile());
    QVERIFY(storeFile.open(QIODevice::ReadOnly));
    const QByteArray storeBefore = storeFile.readAll();
    storeFile.close();

    QProcess& kibro = program.process();
    kibro.setProcessChannelMode(QProcess::SeparateChannels);
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), {}, program.samplesDir(),
                         QStringLiteral("offscreen")));

    // Start-up is done once COM2 is open or its failure reported. The line then carries the
    // stored rate, set by the program when it opened COM2. The program holds the device
    // exclusively; only root gets past that to look.
    int openError = 0;
    speed_t rate = B0;
    QByteArray errors;
    const auto startedUp = [&] {
        errors += kibro.readAllStandardError();
        if (kibro.state() != QProcess::Running || errors.contains("cannot open"))
            return true;
        const int fd =
            ::open(QFile::encodeName(link).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        openError = fd < 0 ? errno : 0;
        if (fd >= 0) {
            termios tio{};
            rate = ::tcgetattr(fd, &tio) == 0 ? ::cfgetospeed(&tio) : B0;
            ::close(fd);
        }
        return openError == EBUSY || rate == B4800;
    };
    // Past the bound the checks below say what is missing.
    (void)QTest::qWaitFor(startedUp, 15000);
    // It stays up: a failed open shows a box and waits, a good one simply runs.
    QCOMPARE(kibro.state(), QProcess::Running);
    if (deviceWorks) {
        if (openError != 0)
            QCOMPARE(openError, EBUSY);
        else
            QCOMPARE(rate, speed_t(B4800));
    }

    kibro.kill();
    QVERIFY(kibro.waitForFinished(10000));
    // Ended by the kill, not on its own before it.
    QCOMPARE(kibro.exitStatus(), QProcess::CrashExit);
    errors += kibro.readAllStandardError();
    QCOMPARE(errors.contains("cannot open"), !deviceWorks);

    // Killed, not exited: the store is as it was.
    QVERIFY(storeFile.open(QIODevice::ReadOnly));
    QCOMPARE(storeFile.readAll(), storeBefore);
}

void TestProgram::endRequestEndsAsExitDoes_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT);
    QTest::newRow("SIGHUP (terminal gone)") << int(SIGHUP);
}

void TestProgram::endRequestEndsAsExitDoes()
{
    QFETCH(int, signalNumber);
    ProgramProcess program;
    RIG_OK(program.prepare());
    QProcess& kibro = program.process();
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), {}, program.samplesDir(),
                         QStringLiteral("offscreen")));
    // Up once the port is taken: its lock names the program.
    QVERIFY(QTest::qWaitFor([&] { return !locksOf(kibro.processId()).isEmpty(); }, 15000));
    const qint64 pid = kibro.processId();

    QCOMPARE(::kill(static_cast<pid_t>(pid), signalNumber), 0);
    QVERIFY(kibro.waitForFinished(15000));
    QCOMPARE(kibro.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kibro.exitCode(), 0);
    QCOMPARE(locksOf(pid), QStringList());
    const QSettings store(program.storeFile(), QSettings::IniFormat);
    QVERIFY(store.contains(QStringLiteral("Startup/Left")));
    QVERIFY(store.contains(QStringLiteral("Startup/Top")));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
