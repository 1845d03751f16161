// Lock files on a device, in the forms other serial programs write them: a live holder keeps
// the port shut and is named; a dead one's lock goes and the port opens. And ours reads as
// theirs do.
#include "errors.h"
#include "pocketsim.h"
#include "portholder.h"
#include "serialport.h"
#include "teststore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using kibro::ErrorNumber;
using kibro::KibroError;
using kibro::SerialPort;

namespace {

constexpr int kWaitMs = 20000;

QStringList g_warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings.append(text);
}

// The warnings and error number of one open.
int openRecording(SerialPort& comm)
{
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    int error = 0;
    try {
        comm.open();
    } catch (const KibroError& e) {
        error = e.code();
    }
    qInstallMessageHandler(previous);
    return error;
}

// A child that runs as "minicom" until this goes, or one that has already ended and been
// reaped, so its PID names no process.
class LockOwner
{
public:
    explicit LockOwner(bool alive) : m_alive(alive)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            if (alive) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                ::prctl(PR_SET_NAME, "minicom");
                ::pause();
            }
            ::_exit(0);
        }
        if (!alive)
            ::waitpid(m_pid, nullptr, 0);
    }
    ~LockOwner()
    {
        if (m_alive && m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    LockOwner(const LockOwner&) = delete;
    LockOwner& operator=(const LockOwner&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }
    [[nodiscard]] QByteArray name() const
    {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(m_pid));
        return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
    }

private:
    bool m_alive = false;
    pid_t m_pid = -1;
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
    void cleanup() { qunsetenv("KIBRO_LOCK_DIRS"); }
    void lockOfAnotherProgram_data();
    void lockOfAnotherProgram();
    void ownLockReadsAsMinicomWould();
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
    if (alive)
        QTRY_COMPARE_WITH_TIMEOUT(owner.name(), QByteArray("minicom"), kWaitMs);
    const QByteArray text = lockText(form, owner.pid());
    {
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(lock.write(text), text.size());
    }

    SerialPort comm;
    const int error = openRecording(comm);
    if (alive) {
        QCOMPARE(error, int(ErrorNumber::DeviceUnavailable));
        QVERIFY(!comm.isOpen());
        QCOMPARE(g_warnings,
                 QStringList{QStringLiteral("kibro: cannot open %1: in use by process %2 (minicom)")
                                 .arg(device)
                                 .arg(owner.pid())});
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), text);
    } else {
        QCOMPARE(error, 0);
        QVERIFY(comm.isOpen());
        QVERIFY(g_warnings.isEmpty());
        QVERIFY(!QFile::exists(lockPath));
        comm.close();
    }
}

void TestPortLock::ownLockReadsAsMinicomWould()
{
    TestStore store;
    PocketSim sim;
    QVERIFY2(sim.start({}), qPrintable(sim.errorString()));
    store.mapPort(1, sim.devicePath());
    // Where QSerialPort put it, read the way minicom reads a lock.
    const auto ours = [&] {
        QStringList found;
        for (const QString& path : kibro::lockFileCandidates(sim.devicePath())) {
            QFile lock(path);
            int pid = 0;
            if (lock.open(QIODevice::ReadOnly) &&
                std::sscanf(lock.readLine().constData(), "%d", &pid) == 1 && pid == ::getpid())
                found << path;
        }
        return found;
    };

    SerialPort comm;
    QCOMPARE(openRecording(comm), 0);
    QCOMPARE(ours().size(), 1);
    comm.close();
    QVERIFY(ours().isEmpty());
}

QTEST_GUILESS_MAIN(TestPortLock)
#include "tst_portlock.moc"
