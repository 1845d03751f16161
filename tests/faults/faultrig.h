#pragma once
// What every fault case shares: the real main window on a store of its own, COM1 behind a
// simulated pocket computer, message boxes answered and recorded, and every wait bounded.

#include "filechooser.h"
#include "filepath.h"
#include "mainwindow.h"
#include "messagerecorder.h"
#include "pocketsim.h"
#include "sendwindow.h"
#include "settingswindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace faults {

using namespace std::chrono_literals;

// Bounds for things that should take a moment; generous, so a slow machine never flakes.
constexpr int kWaitMs = 15000;
constexpr auto kWait = 15s;
constexpr auto kLongWait = 60s;

inline const QString kCancelText = QStringLiteral("ファイル転送を中止します。");
inline const QString kCancelTitle = QStringLiteral("CANCEL");
inline const QString kFailureText = QStringLiteral("ファイル転送に失敗しました。");
inline const QString kFailureTitle = QStringLiteral("Transfer Error");
inline const QString kUnreadableText = QStringLiteral("ファイルを読み込めません。");
inline const QString kTooLargeText = QStringLiteral("ファイルが大きすぎます。");
inline const QString kFileErrorTitle = QStringLiteral("File Error");
inline const QString kOpenErrorTitle = QStringLiteral("COM Open Error");

inline QString openFailedText(int port)
{
    return QStringLiteral("COM%1が開けません。").arg(port);
}
inline QString reopenFailedText(int port)
{
    return QStringLiteral("COM%1が開けませんでした。").arg(port);
}

inline QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    auto* generator = QRandomGenerator::global();
    for (char& byte : bytes)
        byte = static_cast<char>(generator->bounded(256));
    return bytes;
}

// The messages shown so far, one "title: text" a line, for failure output.
inline QString describe(const QList<MessageRecorder::Message>& messages)
{
    QStringList lines;
    for (const auto& message : messages)
        lines << message.title + QStringLiteral(": ") + message.text;
    return lines.isEmpty() ? QStringLiteral("(no message)") : lines.join(u'\n');
}

// The pocket computer got the whole file or a prefix of it, nothing else.
inline QString prefixProblem(const QByteArray& received, const QByteArray& file)
{
    if (received.size() > file.size())
        return QStringLiteral("received %1 bytes of a %2-byte file")
            .arg(received.size())
            .arg(file.size());
    if (!file.startsWith(received)) {
        qsizetype at = 0;
        while (at < received.size() && received[at] == file[at])
            ++at;
        return QStringLiteral("received bytes differ from the file at offset %1").arg(at);
    }
    return {};
}

// CPU time this process has used, user and system.
inline std::chrono::milliseconds processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return std::chrono::duration_cast<std::chrono::milliseconds>(micros(usage.ru_utime) +
                                                                 micros(usage.ru_stime));
}

// Runs the event loop for span and tells how much of it the process spent on the CPU. A dead
// line that keeps a handler spinning shows as most of the span.
inline double busyShare(std::chrono::milliseconds span)
{
    const auto before = processCpu();
    QTest::qWait(int(span.count()));
    return double((processCpu() - before).count()) / double(span.count());
}

// The user's own store in one temporary directory; the port map in the fallback store beside
// it, so no damage to the user's file can send a port to a built-in device name.
class FaultStore
{
public:
    FaultStore()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_user.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_system.path());
        for (int port = 0; port <= 3; ++port)
            mapPort(port, m_system.filePath(QStringLiteral("no-device-%1").arg(port)));
    }
    FaultStore(const FaultStore&) = delete;
    FaultStore& operator=(const FaultStore&) = delete;

    [[nodiscard]] QString directory() const { return m_user.path(); }
    [[nodiscard]] QString fileName() const
    {
        return m_user.filePath(QStringLiteral("QUEPA_Kibro.conf"));
    }

    void mapPort(int port, const QString& device)
    {
        QSettings fallback(m_system.filePath(QStringLiteral("QUEPA_Kibro.conf")),
                           QSettings::IniFormat);
        fallback.setValue(QStringLiteral("Ports/COM%1").arg(port), device);
        fallback.sync();
    }

    // key as "Startup/Left".
    void set(const QString& key, const QString& value)
    {
        QSettings store(fileName(), QSettings::IniFormat);
        store.setValue(key, value);
        store.sync();
    }

    // What the user's file holds now, read from a copy so no cached view answers.
    [[nodiscard]] QVariant value(const QString& key) const
    {
        const QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("copy.conf"));
        if (!QFile::copy(fileName(), copy))
            return {};
        return QSettings(copy, QSettings::IniFormat).value(key);
    }

    bool writeRaw(const QByteArray& bytes)
    {
        QFile file(fileName());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir m_user;
    QTemporaryDir m_system;
};

// One run of the program: a store, COM1 linked to a simulated pocket computer (when plugged
// in), the real main window, and a folder of files to send.
class Rig
{
public:
    Rig() = default;

    [[nodiscard]] QString link() const { return m_store.directory() + QStringLiteral("/COM1"); }

    // A pocket computer on COM1, at the same path every time: a cable plugged (back) in.
    [[nodiscard]] bool plugIn(const QStringList& simArgs = {})
    {
        m_store.mapPort(1, link());
        return m_sim.start(link(), simArgs);
    }
    // The pocket computer goes away: its end of the line is closed and the path vanishes.
    void pullCable()
    {
        m_sim.stop();
        QFile::remove(link());
    }

    // Start-up as main() does it, with the end of the program recorded instead of done.
    void load()
    {
        m_mainWindow = std::make_unique<kibro::MainWindow>();
        m_mainWindow->setEndProgram([this] { ++m_endCount; });
        m_mainWindow->startUp();
        m_mainWindow->show();
    }

    [[nodiscard]] kibro::MainWindow& mainWindow() { return *m_mainWindow; }
    [[nodiscard]] FaultStore& store() { return m_store; }
    [[nodiscard]] PocketSim& sim() { return m_sim; }
    [[nodiscard]] MessageRecorder& messages() { return m_messages; }
    [[nodiscard]] QString folder() const { return m_files.path(); }
    [[nodiscard]] int endCount() const { return m_endCount; }
    [[nodiscard]] bool portOpen() { return m_mainWindow->serialPort().isOpen(); }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return {};
        return path;
    }
    [[nodiscard]] QString filePath(const QString& name) const
    {
        return kibro::joinPath(m_files.path(), name, u'/');
    }

    // Walks the lists to a folder (the rig's own by default) and lists it afresh.
    bool list(const QString& directory = {})
    {
        const QString where = directory.isEmpty() ? m_files.path() : directory;
        m_mainWindow->directoryList()->setPath(where);
        return m_mainWindow->fileList()->setPath(where);
    }
    // Clicks a file of the list; the send window it opened, if any.
    kibro::SendWindow* click(const QString& name)
    {
        if (!m_mainWindow->fileList()->selectFile(name))
            return nullptr;
        return m_mainWindow->sendWindow();
    }
    kibro::SendWindow* open(const QString& name, const QString& directory = {})
    {
        return list(directory) ? click(name) : nullptr;
    }

    // "設定(&S)", or the window start-up already showed.
    kibro::SettingsWindow* settings()
    {
        if (!m_mainWindow->settingsWindow())
            m_mainWindow->onSettingsTriggered();
        return m_mainWindow->settingsWindow();
    }

    static QPushButton* startButton(QWidget* window)
    {
        return window->findChild<QPushButton*>(QStringLiteral("Command2"));
    }
    static QPushButton* cancelButton(QWidget* window)
    {
        return window->findChild<QPushButton*>(QStringLiteral("Command1"));
    }

    // Opens the settings window and closes it with CANCEL: what a user does to bring the
    // port back. Returns why that did not leave the port open, or nothing.
    QString cycleSettings()
    {
        QPointer<kibro::SettingsWindow> window = settings();
        if (!window)
            return QStringLiteral("no settings window");
        if (portOpen())
            return QStringLiteral("the port stayed open with the settings window loaded");
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs))
            return QStringLiteral("the settings window did not go");
        return portOpen() ? QString()
                          : QStringLiteral("the port is closed after the settings window");
    }

    // Sends a file through the send window; returns why the pocket computer did not get all
    // of it, unchanged and with no message, or nothing.
    QString sendWhole(const QString& name, const QByteArray& bytes)
    {
        if (writeFile(name, bytes).isEmpty())
            return QStringLiteral("cannot write ") + name;
        const qsizetype messagesBefore = m_messages.count();
        const qint64 before = m_sim.receivedCount();
        QPointer<kibro::SendWindow> window = open(name);
        if (!window)
            return QStringLiteral("no send window for ") + name;
        QTest::mouseClick(startButton(window), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return window.isNull(); },
                             int(std::chrono::milliseconds(kLongWait).count())))
            return QStringLiteral("the send window stayed");
        if (m_messages.count() != messagesBefore)
            return QStringLiteral("messages: ") +
                   describe(m_messages.messages().mid(messagesBefore));
        if (!m_sim.waitForCount(before + bytes.size(), kLongWait))
            return QStringLiteral("%1 of %2 bytes arrived")
                .arg(m_sim.receivedCount() - before)
                .arg(bytes.size());
        const QByteArray got = m_sim.received().mid(before);
        if (got != bytes)
            return QStringLiteral("the bytes that arrived differ: ") + prefixProblem(got, bytes);
        return {};
    }

private:
    FaultStore m_store;
    QTemporaryDir m_files;
    PocketSim m_sim;
    MessageRecorder m_messages;
    std::unique_ptr<kibro::MainWindow> m_mainWindow;
    int m_endCount = 0;
};

#define FAULT_OK(expression)                                                                       \
    do {                                                                                           \
        const QString why_ = (expression);                                                         \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                \
    } while (false)

// Refusals that chmod cannot make for root are tested by running cases of the same
// executable again as user nobody. Set in that child.
inline bool isUnprivilegedChild()
{
    return qEnvironmentVariableIsSet("KIBRO_FAULTS_UNPRIVILEGED");
}

struct ChildRun
{
    QString skipReason; // set when no unprivileged run is possible here
    QString failure;    // set when it ran and did not pass
};

// Runs the named cases of this executable as an unprivileged user and waits, bounded, for
// them to pass. Not root: the cases run as ourselves, who are refused already.
inline ChildRun runUnprivileged(const QStringList& functions, const QProcessEnvironment& extra = {})
{
    ChildRun result;
    QString program = QCoreApplication::applicationFilePath();
    QStringList arguments = functions;
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty()) {
            result.skipReason = QStringLiteral("running as root without setpriv (util-linux): "
                                               "no unprivileged user to be refused");
            return result;
        }
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), program} +
                    functions;
        program = setpriv;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KIBRO_FAULTS_UNPRIVILEGED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& key : extra.keys())
        environment.insert(key, extra.value(key));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(program, arguments);
    if (!child.waitForStarted(kWaitMs)) {
        result.failure =
            QStringLiteral("cannot start ") + program + QStringLiteral(": ") + child.errorString();
        return result;
    }
    const bool finished = child.waitForFinished(120000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    // setpriv reports an executable nobody may reach (a private build tree) this way.
    if (output.contains(QStringLiteral("setpriv: failed to execute")) ||
        (child.exitCode() == 126 && !output.contains(QStringLiteral("Totals:")))) {
        result.skipReason = QStringLiteral("user nobody cannot run %1: %2")
                                .arg(QCoreApplication::applicationFilePath(), output.trimmed());
        return result;
    }
    static const QRegularExpression totals(
        QStringLiteral("Totals: (\\d+) passed, (\\d+) failed, (\\d+) skipped"));
    const auto match = totals.match(output);
    const int passed = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
        !match.hasMatch() || match.captured(2).toInt() != 0 || match.captured(3).toInt() != 0 ||
        passed < functions.size() + 2) {
        result.failure = QStringLiteral("the unprivileged run did not pass%1:\n%2")
                             .arg(finished ? QString() : QStringLiteral(" (timed out)"), output);
    }
    return result;
}

#define FAULT_UNPRIVILEGED(functions, environment)                                                 \
    do {                                                                                           \
        const faults::ChildRun run_ = faults::runUnprivileged(functions, environment);             \
        if (!run_.skipReason.isEmpty())                                                            \
            QSKIP(qPrintable(run_.skipReason));                                                    \
        QVERIFY2(run_.failure.isEmpty(), qPrintable(run_.failure));                                \
    } while (false)

} // namespace faults

// A main that runs the unprivileged cases in the child and the others everywhere else.
#define FAULTS_MAIN(Cases, UnprivilegedCases)                                                      \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        QApplication::setAttribute(Qt::AA_Use96Dpi, true);                                         \
        if (faults::isUnprivilegedChild()) {                                                       \
            UnprivilegedCases cases;                                                               \
            return QTest::qExec(&cases, argc, argv);                                               \
        }                                                                                          \
        Cases cases;                                                                               \
        return QTest::qExec(&cases, argc, argv);                                                   \
    }
