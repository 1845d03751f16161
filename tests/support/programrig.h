#pragma once
// The program as a test drives it: the real main window on a store of its own, COM1 behind a
// simulated pocket computer, message boxes answered and recorded, and a folder of files.

#include "filechooser.h"
#include "mainwindow.h"
#include "messagerecorder.h"
#include "peek.h"
#include "pocketsim.h"
#include "sendwindow.h"
#include "settingswindow.h"
#include "testdata.h"
#include "teststore.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

// Blocks until the port reports received bytes, within a bound: holds a sender that would
// otherwise write a pty full before an answer can travel back.
inline void waitForReceived(kibro::SerialPort& port)
{
    const QDeadlineTimer deadline(std::chrono::seconds(15));
    while (port.isOpen() && port.inBufferCount() == 0 && !deadline.hasExpired())
        QThread::usleep(200);
}

// Store is TestStore or any store with directory() and mapPort(port, device).
template <typename Store> class BasicProgramRig
{
public:
    static constexpr std::chrono::milliseconds kWait{15000};
    static constexpr std::chrono::milliseconds kLongWait{60000};

    // Every port the store can map leads nowhere until a test plugs a pocket computer in, so
    // no run reaches a real serial line through the built-in names.
    BasicProgramRig()
    {
        // As main() sets the application up, once.
        static const bool keys =
            (kibro::installSingleActionKeys(*QCoreApplication::instance()), true);
        (void)keys;
        if constexpr (requires(Store & store) { store.mapPortsAway(); })
            m_store.mapPortsAway();
    }
    BasicProgramRig(const BasicProgramRig&) = delete;
    BasicProgramRig& operator=(const BasicProgramRig&) = delete;

    [[nodiscard]] QString link(int port = 1) const
    {
        return m_store.directory() + QStringLiteral("/COM%1").arg(port);
    }

    // A pocket computer on COM1, at the same path every time: a cable plugged (back) in.
    [[nodiscard]] bool plugIn(const QStringList& simArgs = {}) { return plugIn(m_sim, 1, simArgs); }
    // Any simulator, the rig's or the test's own, on any port.
    [[nodiscard]] bool plugIn(PocketSim& sim, int port, const QStringList& simArgs = {})
    {
        m_store.mapPort(port, link(port));
        return sim.start(link(port), simArgs);
    }
    // The pocket computer goes away: its end of the line is closed and the path vanishes.
    void pullCable()
    {
        m_sim.stop();
        QFile::remove(link());
    }

    // A new main window as main() constructs it, the end of the program counted instead of
    // done; the one before, if any, is gone first, as a program that ended.
    kibro::MainWindow& createWindow()
    {
        m_mainWindow.reset();
        m_mainWindow = std::make_unique<kibro::MainWindow>();
        m_mainWindow->setEndProgram([this] { ++m_endCount; });
        return *m_mainWindow;
    }
    // Start-up as main() does it, on a new window; beforeStartUp sees the window first.
    kibro::MainWindow& startUp(const std::function<void(kibro::MainWindow&)>& beforeStartUp = {})
    {
        kibro::MainWindow& window = createWindow();
        if (beforeStartUp)
            beforeStartUp(window);
        window.startUp();
        window.show();
        return window;
    }

    [[nodiscard]] kibro::MainWindow& mainWindow() { return *m_mainWindow; }
    [[nodiscard]] Store& store() { return m_store; }
    [[nodiscard]] PocketSim& sim() { return m_sim; }
    [[nodiscard]] MessageRecorder& messages() { return m_messages; }
    [[nodiscard]] QString folder() const { return m_files.path(); }
    [[nodiscard]] int endCount() const { return m_endCount; }
    [[nodiscard]] bool portOpen() { return m_mainWindow->serialPort().isOpen(); }

    // Bytes written through the program's port arrive at sim, and only they.
    [[nodiscard]] bool reaches(const QByteArray& bytes) { return reaches(m_sim, bytes); }
    [[nodiscard]] bool reaches(PocketSim& sim, const QByteArray& bytes)
    {
        const qint64 before = sim.receivedCount();
        m_mainWindow->serialPort().write(bytes);
        return sim.waitForCount(before + bytes.size(), kWait) &&
               sim.received().mid(before) == bytes;
    }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return {};
        return path;
    }
    [[nodiscard]] QString filePath(const QString& name) const { return m_files.filePath(name); }

    // Walks the lists to a folder (the rig's own by default) and lists it afresh.
    bool list(const QString& directory = {})
    {
        const QString where = directory.isEmpty() ? m_files.path() : directory;
        m_mainWindow->directoryList()->setPath(where);
        return m_mainWindow->fileList()->setNativePath(kibro::toNativePath(where));
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

    // A new file in the rig's folder, clicked: its send window, or null if either step failed.
    kibro::SendWindow* writeAndOpen(const QString& name, const QByteArray& bytes)
    {
        return writeFile(name, bytes).isEmpty() ? nullptr : open(name);
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
        if (!QTest::qWaitFor([&] { return window.isNull(); }, int(kWait.count())))
            return QStringLiteral("the settings window did not go");
        return portOpen() ? QString()
                          : QStringLiteral("the port is closed after the settings window");
    }

    // The pocket computer answers after `after` bytes, but a pty takes a small file whole long
    // before an answer can travel back. Holds the program after that byte until the answer is
    // in the port, so the next byte waits its ten-tick pause, and runs atFirstTick, if given,
    // on that pause's first tick: the moment is the test's, not the machine's.
    void pauseAfter(kibro::SendWindow* window, qint64 after, std::function<void()> atFirstTick = {})
    {
        kibro::TransferEngine* engine = &window->engine();
        kibro::SerialPort* port = &m_mainWindow->serialPort();
        QObject::connect(engine, &kibro::TransferEngine::byteWritten, engine, [=](qint64 sent) {
            if (sent == after)
                waitForReceived(*port);
        });
        if (!atFirstTick)
            return;
        auto action = std::make_shared<std::function<void()>>(std::move(atFirstTick));
        QObject::connect(&tickTimer(*engine), &QTimer::timeout, engine, [=] {
            if (*action && engine->tickCount() == 1)
                std::exchange(*action, {})();
        });
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
        if (!QTest::qWaitFor([&] { return window.isNull(); }, int(kLongWait.count())))
            return QStringLiteral("the send window stayed");
        if (m_messages.count() != messagesBefore)
            return QStringLiteral("messages: ") + m_messages.describe(messagesBefore);
        // The transfer is over: all it wrote is in the pty, and a byte too many shows too.
        const auto received = m_sim.drain();
        if (!received)
            return m_sim.errorString();
        const QByteArray got = received->mid(before);
        if (got != bytes)
            return QStringLiteral("the bytes that arrived differ: ") +
                   testdata::prefixProblem(got, bytes);
        return {};
    }

private:
    Store m_store;
    QTemporaryDir m_files;
    PocketSim m_sim;
    MessageRecorder m_messages;
    std::unique_ptr<kibro::MainWindow> m_mainWindow;
    int m_endCount = 0;
};

using ProgramRig = BasicProgramRig<TestStore>;
