// Lock files on a device, in the forms other serial programs write them: a live holder keeps
// the port shut and is named; a dead one's lock goes and the port opens. (That ours reads as
// theirs do, its PID on the first line, and goes with the program: ui_program.)
#include "errors.h"
#include "pocketsim.h"
#include "portholder.h"
#include "serialport.h"
#include "teststore.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using kibro::KibroError;
using kibro::SerialPort;

namespace {

constexpr int kWaitMs = 20000;

// A child that runs as "minicom" until this goes, or one already ended and reaped, so its
// PID names no process.
struct LockOwner
{
    explicit LockOwner(bool alive) : alive(alive), pid(::fork())
    {
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::prctl(PR_SET_NAME, "minicom");
            if (alive)
                ::pause();
            ::_exit(0);
        }
        if (!alive && pid > 0)
            ::waitpid(pid, nullptr, 0);
    }
    ~LockOwner()
    {
        if (alive && pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    LockOwner(const LockOwner&) = delete;
    LockOwner& operator=(const LockOwner&) = delete;

    [[nodiscard]] QByteArray name() const
    {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
    }

    const bool alive;
    const pid_t pid;
};

QByteArray lockText(const QString& form, pid_t pid)
{
    const QByteArray padded = QByteArray::number(pid).rightJustified(10, ' ');
    if (form == u"lockdev")
        return padded + '\n';
    if (form == u"minicom")
        return padded + " minicom root\n";
    if (form == u"QLockFile")
        return QByteArray::number(pid) + "\nputty\nbench\n";
    const int binary = pid;
    return QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary);
}

} // namespace

class TestPortLock : public QObject
{
    Q_OBJECT

private slots:
    // Any warning but the one a row expects fails it.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup() { qunsetenv("KIBRO_LOCK_DIRS"); }
    void lockOfAnotherProgram_data();
    void lockOfAnotherProgram();
};

void TestPortLock::lockOfAnotherProgram_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("alive");
    // The port opens a link to the device, which minicom locked under its bare name.
    QTest::addColumn<bool>("link");

    for (const char* form : {"lockdev", "minicom", "QLockFile", "binary"}) {
        QTest::addRow("%s, live", form) << QString::fromLatin1(form) << true << false;
        QTest::addRow("%s, ended", form) << QString::fromLatin1(form) << false << false;
    }
    QTest::newRow("minicom, live, through a link") << "minicom" << true << true;
    QTest::newRow("minicom, ended, through a link") << "minicom" << false << true;
}

void TestPortLock::lockOfAnotherProgram()
{
    QFETCH(QString, form);
    QFETCH(bool, alive);
    QFETCH(bool, link);

    QTemporaryDir locks;
    QVERIFY(locks.isValid());
    qputenv("KIBRO_LOCK_DIRS", QFile::encodeName(locks.path()));
    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    const QString device = link ? sim.linkPath() : sim.devicePath();
    store.mapPort(1, device);
    const QString target = QFileInfo(sim.devicePath()).canonicalFilePath();
    const QString name = link ? QFileInfo(target).fileName() : target.mid(5).replace(u'/', u'_');
    const QString lockPath = locks.filePath(QStringLiteral("LCK..") + name);

    const LockOwner owner(alive);
    QVERIFY(owner.pid > 0);
    if (alive)
        QTRY_COMPARE_WITH_TIMEOUT(owner.name(), QByteArray("minicom"), kWaitMs);
    const QByteArray text = lockText(form, owner.pid);
    {
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(lock.write(text), text.size());
    }

    SerialPort comm;
    if (alive) {
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("kibro: cannot open %1: in use by process %2 (minicom)")
                           .arg(device)
                           .arg(owner.pid)));
        QVERIFY_THROWS_EXCEPTION(KibroError, comm.open());
        QVERIFY(!comm.isOpen());
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), text);
    } else {
        comm.open();
        QVERIFY(comm.isOpen());
        QVERIFY(!QFile::exists(lockPath));
    }
}

QTEST_GUILESS_MAIN(TestPortLock)
#include "tst_portlock.moc"
