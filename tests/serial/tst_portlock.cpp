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
#include <limits>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using kibro::KibroError;
using kibro::SerialPort;

namespace {

constexpr int kWaitMs = 20000;
// The lock names its holder's own PID.
constexpr qint64 kHolders = std::numeric_limits<qint64>::min();

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

QByteArray lockText(const QString& form, qint64 pid)
{
    const QByteArray padded = QByteArray::number(pid).rightJustified(10, ' ');
    if (form == u"lockdev")
        return padded + '\n';
    if (form == u"minicom")
        return padded + " minicom root\n";
    if (form == u"QLockFile")
        return QByteArray::number(pid) + "\nputty\nbench\n";
    const auto binary = static_cast<int>(pid);
    return QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary);
}

QString ownName()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                          : QString();
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
    // A PID the lock names instead of its holder's.
    QTest::addColumn<qint64>("pid");

    for (const char* form : {"lockdev", "minicom", "QLockFile", "binary"}) {
        QTest::addRow("%s, live", form) << QString::fromLatin1(form) << true << false << kHolders;
        QTest::addRow("%s, ended", form) << QString::fromLatin1(form) << false << false << kHolders;
    }
    QTest::newRow("minicom, live, through a link") << "minicom" << true << true << kHolders;
    QTest::newRow("minicom, ended, through a link") << "minicom" << false << true << kHolders;
    // No process can have these: kill() would take 4294967295 for -1, 2^32 for 0.
    QTest::newRow("lockdev, PID 4294967295") << "lockdev" << false << false << 4294967295LL;
    QTest::newRow("lockdev, PID 2^32") << "lockdev" << false << false << 4294967296LL;
    QTest::newRow("minicom, PID 0") << "minicom" << false << false << 0LL;
    QTest::newRow("binary, PID -1") << "binary" << false << false << -1LL;
    // Ours, taken through the link, is met by a port that names the device itself.
    QTest::newRow("ours, through a link, met by the real name")
        << "kibro" << true << true << kHolders;
}

void TestPortLock::lockOfAnotherProgram()
{
    QFETCH(QString, form);
    QFETCH(bool, alive);
    QFETCH(bool, link);
    QFETCH(qint64, pid);

    QTemporaryDir locks;
    QVERIFY(locks.isValid());
    qputenv("KIBRO_LOCK_DIRS", QFile::encodeName(locks.path()));
    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    const bool ours = form == u"kibro";
    const QString device = link && !ours ? sim.linkPath() : sim.devicePath();
    store.mapPort(1, device);
    const QString target = QFileInfo(sim.devicePath()).canonicalFilePath();
    const QString name = link ? QFileInfo(target).fileName() : target.mid(5).replace(u'/', u'_');
    const QString lockPath = locks.filePath(QStringLiteral("LCK..") + name);

    const LockOwner owner(alive && !ours);
    QVERIFY(owner.pid > 0);
    if (alive && !ours)
        QTRY_COMPARE_WITH_TIMEOUT(owner.name(), QByteArray("minicom"), kWaitMs);
    const QByteArray text = lockText(form, pid == kHolders ? owner.pid : pid);
    SerialPort holder;
    if (ours) {
        // Where the port's own lock goes, not only where the tests put the others'.
        qunsetenv("KIBRO_LOCK_DIRS");
        holder.setDevice(sim.linkPath());
        holder.open();
    } else {
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(lock.write(text), text.size());
    }

    SerialPort comm;
    if (alive) {
        const qint64 holderPid = ours ? qint64(::getpid()) : qint64(owner.pid);
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("kibro: cannot open %1: in use by process %2 (%3)")
                           .arg(device)
                           .arg(holderPid)
                           .arg(ours ? ownName() : QStringLiteral("minicom"))));
        QVERIFY_THROWS_EXCEPTION(KibroError, comm.open());
        QVERIFY(!comm.isOpen());
        if (ours) {
            const auto lockHolder = kibro::lockHolder(device);
            QVERIFY(lockHolder);
            QCOMPARE(lockHolder->pid, holderPid);
            return;
        }
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
