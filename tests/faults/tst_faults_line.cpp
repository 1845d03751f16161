// The line fails under the program: the cable pulled at every stage and plugged back in, a
// device held by another program, refused, or not a terminal at all.
#include "deviceholder.h"
#include "faultrig.h"

#include <QRadioButton>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>

using namespace faults;
using kibro::SendWindow;
using kibro::SettingsWindow;
using kibro::TransferEngine;

namespace {

enum class Pull { BeforeStartup, AsStartupEnds, WhileIdle, MidTransfer, InsidePause, SettingsOpen };
enum class Target { Held, RegularFile, Directory, Fifo, DevNull, Missing, DeniedToRoot };
enum class Stage { Startup, SettingsOk, SettingsClose };

// A sysctl that is write-only: the kernel refuses to read it even to root, so opening it for
// reading and writing is refused there too.
const QString kDeniedToRoot = QStringLiteral("/proc/sys/vm/compact_memory");

[[nodiscard]] bool deniedToUs(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK) != 0 && errno == EACCES;
}

void clickOk(SettingsWindow* window)
{
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
}

void clickCancel(SettingsWindow* window)
{
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
}

} // namespace

Q_DECLARE_METATYPE(Pull)
Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(Stage)

class LineFaults : public QObject
{
    Q_OBJECT

private slots:
    void cablePulled_data();
    void cablePulled();
    void portRefused_data();
    void portRefused();
    void refusedToAUser();
    void stalledLine_data();
    void stalledLine();
};

void LineFaults::cablePulled_data()
{
    QTest::addColumn<Pull>("pull");
    QTest::newRow("before start-up") << Pull::BeforeStartup;
    QTest::newRow("as start-up ends, before the first event") << Pull::AsStartupEnds;
    QTest::newRow("while idle") << Pull::WhileIdle;
    QTest::newRow("mid-transfer") << Pull::MidTransfer;
    QTest::newRow("inside a ten-tick pause") << Pull::InsidePause;
    QTest::newRow("while the settings window is open") << Pull::SettingsOpen;
}

// Whenever the cable goes, the program says so where a message is due, keeps running without
// spinning, and after the user opens and closes the settings window with the cable back in,
// the next file goes through whole.
void LineFaults::cablePulled()
{
    QFETCH(Pull, pull);
    Rig rig;
    QList<MessageRecorder::Message> expected;

    switch (pull) {
    case Pull::BeforeStartup:
        rig.store().mapPort(1, rig.link());
        rig.startUp();
        expected = {{openFailedText(1), kOpenErrorTitle}};
        QVERIFY(rig.mainWindow().settingsWindow() &&
                rig.mainWindow().settingsWindow()->isVisible());
        break;
    case Pull::AsStartupEnds:
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
        rig.startUp();
        QVERIFY(rig.portOpen());
        // The hang-up is already there when the event loop first runs.
        rig.pullCable();
        break;
    case Pull::WhileIdle:
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
        rig.startUp();
        QVERIFY(rig.portOpen());
        QVERIFY(drainEvents());
        rig.pullCable();
        break;
    case Pull::MidTransfer:
    case Pull::InsidePause: {
        const bool inPause = pull == Pull::InsidePause;
        const QByteArray file = randomBytes(inPause ? 400 : midFileSize());
        const QStringList args =
            inPause ? QStringList{QStringLiteral("--answer-after"), QStringLiteral("5"),
                                  QStringLiteral("--answer"), QStringLiteral("00")}
                    : QStringList{QStringLiteral("--close-after"), QStringLiteral("3000"),
                                  QStringLiteral("--rate"), QStringLiteral("20000")};
        QVERIFY2(rig.plugIn(args), qPrintable(rig.sim().errorString()));
        rig.startUp();
        QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("PROG.BIN"), file);
        QVERIFY(window);
        TransferEngine::Outcome outcome = TransferEngine::Outcome::Running;
        QObject::connect(&window->engine(), &TransferEngine::finished,
                         [&](TransferEngine::Outcome o) { outcome = o; });
        if (inPause)
            rig.pauseAfter(window, 5, [&] { rig.pullCable(); });
        QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
        QCOMPARE(outcome, TransferEngine::Outcome::Failed);
        if (!inPause)
            QVERIFY(rig.sim().waitForExit(kWait).has_value());
        RIG_OK(prefixProblem(rig.sim().received(), file));
        QVERIFY(rig.sim().receivedCount() < file.size());
        if (inPause)
            QCOMPARE(rig.sim().receivedCount(), 5);
        expected = {{kFailureText, kFailureTitle}};
        break;
    }
    case Pull::SettingsOpen: {
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
        rig.startUp();
        QPointer<SettingsWindow> window = rig.settings();
        QVERIFY(window);
        rig.pullCable();
        clickCancel(window);
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
        expected = {{reopenFailedText(1), kOpenErrorTitle}};
        break;
    }
    }

    QTRY_VERIFY_WITH_TIMEOUT(!rig.portOpen(), kWaitMs);
    // Nothing keeps a core busy or repeats a message once the line is gone.
    const double busy = busyShare(1000ms);
    QVERIFY2(busy < 0.5, qPrintable(QStringLiteral("%1% of a core while idle").arg(busy * 100)));
    QVERIFY2(rig.messages().count() == expected.size(), qPrintable(rig.messages().describe()));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(rig.messages().messages()[i].text, expected[i].text);
        QCOMPARE(rig.messages().messages()[i].title, expected[i].title);
    }

    // A file sent with the cable out fails out loud. The port is looked at first: a file gone
    // since the window showed it is never read.
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("OUT.BAS"), "10 PRINT 1\r\n");
    QVERIFY(window);
    QVERIFY(QFile::remove(rig.filePath(QStringLiteral("OUT.BAS"))));
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QCOMPARE(rig.messages().count(), expected.size() + 1);
    QCOMPARE(rig.messages().messages().last().text, kFailureText);

    // Plugged back in: the port stays closed until the settings window has been shown and
    // closed, then the next file goes through without a restart.
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QVERIFY(!rig.portOpen());
    RIG_OK(rig.cycleSettings());
    RIG_OK(rig.sendWhole(QStringLiteral("BACK.BIN"), randomBytes(3000)));
    QCOMPARE(rig.messages().count(), expected.size() + 1);

    rig.mainWindow().onExitTriggered();
    QCOMPARE(rig.endCount(), 1);
    QVERIFY(!rig.portOpen());
}

void LineFaults::portRefused_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<Stage>("stage");
    const std::initializer_list<std::pair<const char*, Target>> targets = {
        {"held by another program", Target::Held},
        {"a regular file", Target::RegularFile},
        {"a directory", Target::Directory},
        {"a FIFO with no reader", Target::Fifo},
        {"/dev/null", Target::DevNull},
        {"nothing there", Target::Missing},
        {"refused even to root", Target::DeniedToRoot},
    };
    const std::initializer_list<std::pair<const char*, Stage>> stages = {
        {"at start-up", Stage::Startup},
        {"on settings OK", Stage::SettingsOk},
        {"when settings close", Stage::SettingsClose},
    };
    for (const auto& [targetName, target] : targets) {
        for (const auto& [stageName, stage] : stages)
            QTest::addRow("%s, %s", targetName, stageName) << target << stage;
    }
}

// A port that cannot be had is a clear "COM Open Error" at once, wherever it is opened, and
// the program gets the port back when the device is fine again.
void LineFaults::portRefused()
{
    QFETCH(Target, target);
    QFETCH(Stage, stage);
    if (target == Target::DeniedToRoot && !deniedToUs(kDeniedToRoot))
        QSKIP("no path here that the kernel refuses to read, even to root");

    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    DeviceHolder holder;

    // Makes the device behind COM1 one that cannot be opened.
    const auto refuse = [&]() -> QString {
        QString path = scratch.filePath(QStringLiteral("device"));
        switch (target) {
        case Target::Held:
            path = rig.link();
            if (!holder.hold(path))
                return QStringLiteral("the holder could not take the device: ") + holder.said();
            break;
        case Target::RegularFile: {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write("not a line") != 10)
                return QStringLiteral("cannot write ") + path;
            break;
        }
        case Target::Directory:
            if (!QDir().mkpath(path))
                return QStringLiteral("cannot make ") + path;
            break;
        case Target::Fifo:
            if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
                return QStringLiteral("cannot make a FIFO");
            break;
        case Target::DevNull:
            path = QStringLiteral("/dev/null");
            break;
        case Target::Missing:
            break;
        case Target::DeniedToRoot:
            path = kDeniedToRoot;
            break;
        }
        rig.store().mapPort(1, path);
        return {};
    };

    QElapsedTimer handler;
    QPointer<SettingsWindow> window;
    QString expected;
    switch (stage) {
    case Stage::Startup:
        RIG_OK(refuse());
        handler.start();
        rig.startUp();
        window = rig.mainWindow().settingsWindow();
        expected = openFailedText(1);
        break;
    case Stage::SettingsOk:
    case Stage::SettingsClose:
        rig.startUp();
        QVERIFY(rig.portOpen());
        window = rig.settings();
        QVERIFY(window);
        RIG_OK(refuse());
        handler.start();
        if (stage == Stage::SettingsOk) {
            window->findChild<QRadioButton*>(QStringLiteral("Option8"))->setChecked(true);
            clickOk(window);
            expected = openFailedText(1);
        } else {
            clickCancel(window);
            expected = reopenFailedText(1);
        }
        break;
    }
    const qint64 took = handler.elapsed();
    QVERIFY2(took < kWaitMs, qPrintable(QStringLiteral("the open took %1 ms").arg(took)));
    QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.messages().first().text, expected);
    QCOMPARE(rig.messages().first().title, kOpenErrorTitle);
    QVERIFY(!rig.portOpen());
    if (stage == Stage::SettingsClose) {
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    } else {
        QVERIFY(window && window->isVisible()); // the user can choose again
    }
    // Nothing was stored from a refused OK.
    QVERIFY(!rig.store().value(QStringLiteral("Startup/Port")).isValid());

    // The device back as it was: the settings window brings the port back.
    holder.release();
    rig.store().mapPort(1, rig.link());
    RIG_OK(rig.cycleSettings());
    RIG_OK(rig.sendWhole(QStringLiteral("OK.BAS"), randomBytes(500)));
    rig.mainWindow().onExitTriggered();
    QCOMPARE(rig.endCount(), 1);
}

// The refusals only an ordinary user meets: a device the user may not open, and one another
// program holds with exclusive access under another name, so only the kernel's exclusive
// flag stands in the way. Run as user nobody by refusedToAUser.
class UnprivilegedLine : public QObject
{
    Q_OBJECT

private slots:
    void deviceRefused_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<bool>("throughSettings");
        QTest::newRow("permission denied, at start-up") << "KIBRO_FAULTS_DENIED" << EACCES << false;
        QTest::newRow("permission denied, on settings OK")
            << "KIBRO_FAULTS_DENIED" << EACCES << true;
        QTest::newRow("held exclusively, at start-up")
            << "KIBRO_FAULTS_EXCLUSIVE" << EBUSY << false;
        QTest::newRow("held exclusively, on settings OK")
            << "KIBRO_FAULTS_EXCLUSIVE" << EBUSY << true;
    }
    void deviceRefused()
    {
        QFETCH(QString, variable);
        QFETCH(int, refusal);
        QFETCH(bool, throughSettings);
        const QString device = qEnvironmentVariable(qPrintable(variable));
        QVERIFY2(!device.isEmpty(), qPrintable(variable + QStringLiteral(" is not set")));
        QVERIFY2(::geteuid() != 0, "this case must not run as root");
        // The device is there and refuses us for the reason the case is about.
        const int fd =
            ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        QCOMPARE(fd, -1);
        QCOMPARE(error, refusal);
        // stderr says how to get the access: join the device's group.
        if (refusal == EACCES)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                                   "^kibro: cannot open .*: .*; (add yourself "
                                                   "to the dialout group|ask the administrator)")));

        Rig rig;
        rig.store().mapPort(1, device);
        rig.startUp();
        QPointer<SettingsWindow> window = rig.mainWindow().settingsWindow();
        if (throughSettings) {
            QVERIFY(window);
            clickOk(window);
        }
        QVERIFY2(rig.messages().count() == (throughSettings ? 2 : 1),
                 qPrintable(rig.messages().describe()));
        for (const auto& message : rig.messages().messages()) {
            QCOMPARE(message.text, openFailedText(1));
            QCOMPARE(message.title, kOpenErrorTitle);
        }
        QVERIFY(window && window->isVisible());
        QVERIFY(!rig.portOpen());
        rig.mainWindow().onExitTriggered();
        QCOMPARE(rig.endCount(), 1);
    }
};

void LineFaults::refusedToAUser()
{
    // The devices live in a folder everyone can reach; what refuses is the device itself.
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    QVERIFY(QFile::setPermissions(
        shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                           QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
    PocketSim denied;
    QVERIFY2(denied.start(shared.filePath(QStringLiteral("denied"))),
             qPrintable(denied.errorString()));
    // Under root, its group may use it as dialout may use a serial device, and nobody is not
    // in that group; else no one may, not even its owner.
    const QByteArray node = QFile::encodeName(denied.devicePath());
    const group* dialout = ::getgrnam("dialout");
    const bool byGroup =
        ::geteuid() == 0 && dialout && ::chown(node.constData(), -1, dialout->gr_gid) == 0;
    QVERIFY(::chmod(node.constData(), byGroup ? 0660 : 0) == 0);

    PocketSim exclusive;
    QVERIFY2(exclusive.start(shared.filePath(QStringLiteral("exclusive"))),
             qPrintable(exclusive.errorString()));
    QVERIFY(::chmod(QFile::encodeName(exclusive.devicePath()).constData(), 0666) == 0);
    // The holder's lock file is named after its path; the other name is free of it.
    const QString otherName = shared.filePath(QStringLiteral("same-device"));
    QVERIFY(QFile::link(exclusive.devicePath(), otherName));
    DeviceHolder holder;
    QVERIFY2(holder.hold(exclusive.linkPath()), qPrintable(holder.said()));

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("KIBRO_FAULTS_DENIED"), denied.linkPath());
    environment.insert(QStringLiteral("KIBRO_FAULTS_EXCLUSIVE"), otherName);
    FAULT_UNPRIVILEGED(QStringList{QStringLiteral("deviceRefused")}, environment);
}

void LineFaults::stalledLine_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("CANCEL") << "cancel";
    QTest::newRow("close box") << "close";
    QTest::newRow("settings window") << "settings";
    QTest::newRow("exit") << "exit";
    QTest::newRow("cable pulled") << "pull";
}

// The pocket computer stops taking bytes without hanging up: the transfer waits for it, and
// whatever the user does then is answered at once.
void LineFaults::stalledLine()
{
    QFETCH(QString, action);
    // A line slow enough that the file is far from gone when the pocket computer stops.
    const QByteArray file = randomBytes(midFileSize());
    Rig rig;
    QVERIFY2(rig.plugIn({QStringLiteral("--rate"), QStringLiteral("4000")}),
             qPrintable(rig.sim().errorString()));
    rig.startUp();
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("BIG.BIN"), file);
    QVERIFY(window);
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QVERIFY(rig.sim().waitForCount(1000, kLongWait));
    const auto pid = static_cast<pid_t>(rig.sim().processId());
    QVERIFY(::kill(pid, SIGSTOP) == 0);
    const auto stopped = [pid] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        return fields.mid(fields.lastIndexOf(')') + 2, 1) == "T";
    };
    QTRY_VERIFY_WITH_TIMEOUT(stopped(), kWaitMs);
    // Stalled: the pty fills, a byte waits in the port's own buffer, and the transfer waits
    // for it without spinning and without writing more.
    const TransferEngine* engine = &window->engine();
    kibro::SerialPort& port = rig.mainWindow().serialPort();
    QTRY_VERIFY_WITH_TIMEOUT(port.outBufferCount() > 0, kWaitMs);
    const qint64 sent = engine->bytesSent();
    QVERIFY(sent < file.size());
    const double busy = busyShare(500ms);
    // Once a writer finds the pty full, the kernel may still move up to one line-discipline
    // buffer (4 KiB) to the reader's side when its worker next runs, late on a loaded machine:
    // room for that much more, and no further.
    constexpr qint64 kLineDisciplineBuffer = 4096;
    QVERIFY2(engine->bytesSent() - sent <= kLineDisciplineBuffer,
             qPrintable(QStringLiteral("%1 bytes written into a stalled line")
                            .arg(engine->bytesSent() - sent)));
    QVERIFY2(busy < 0.5, qPrintable(QStringLiteral("%1% of a core while waiting").arg(busy * 100)));

    QElapsedTimer handler;
    handler.start();
    QString expected;
    if (action == u"cancel") {
        QTest::mouseClick(Rig::cancelButton(window), Qt::LeftButton);
        expected = kCancelText;
    } else if (action == u"close") {
        window->close();
        expected = kCancelText;
    } else if (action == u"settings") {
        rig.mainWindow().onSettingsTriggered();
        expected = kFailureText;
    } else if (action == u"exit") {
        rig.mainWindow().onExitTriggered();
    } else {
        QVERIFY(::kill(pid, SIGKILL) == 0);
        expected = kFailureText;
    }
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QVERIFY2(handler.elapsed() < kWaitMs, "the program waited on the stalled line");
    if (expected.isEmpty()) {
        QCOMPARE(rig.messages().count(), 0);
        QCOMPARE(rig.endCount(), 1);
    } else {
        QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
        QCOMPARE(rig.messages().first().text, expected);
    }
    if (action != u"pull") {
        QVERIFY(::kill(pid, SIGCONT) == 0);
        const auto summary = rig.sim().stop(); // takes in what is still in the pty
        QVERIFY(summary);
        RIG_OK(prefixProblem(rig.sim().received(), file));
        QVERIFY(summary->bytes < file.size());
    }
}

FAULTS_MAIN(LineFaults, UnprivilegedLine)
#include "tst_faults_line.moc"
