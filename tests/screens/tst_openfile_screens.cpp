// The real program started with a FILE argument on the X display, as a file manager's "Open
// with" starts it: which windows come up, in what order, and that START sends that file.
// Saves the send window it opens as openFile.png.
#include "pocketsim.h"
#include "programprocess.h"
#include "testdata.h"
#include "xdisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <optional>

namespace {

constexpr int kWaitMs = 20000;

constexpr std::uint32_t kAlt = 0xffe9;
constexpr std::uint32_t kReturn = 0xff0d;
constexpr std::uint32_t kLetterX = 0x78;

const QString kMainTitle = QStringLiteral("KIBRO");
const QString kSettingsTitle = QStringLiteral("通信設定");
const QString kOpenErrorTitle = QStringLiteral("COM Open Error");
const QString kFileErrorTitle = QStringLiteral("File Error");
const QString kSampleName = QStringLiteral("HELLO.BAS");
const QString kSendTitle = kSampleName + QStringLiteral("の送信");
const QByteArray kSampleBytes = "10 PRINT \"HELLO, FX-890P\"\r\n20 END\r\n";

} // namespace

class OpenFileScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsWithFile_data();
    void startsWithFile();

private:
    std::optional<XDisplay::Window> waitForWindow(const QString& title);
    void press(const XDisplay::Window& window, std::initializer_list<std::uint32_t> keys);

    XDisplay m_x;
    qint64 m_pid = 0;
    QString m_outDir;
};

void OpenFileScreens::initTestCase()
{
    QVERIFY2(m_x.isOpen(), "no X display");
    QVERIFY2(m_x.hasXTest(), "the X server has no XTEST extension");
    m_outDir = qEnvironmentVariable("KIBRO_SCREENS_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(m_outDir));
}

std::optional<XDisplay::Window> OpenFileScreens::waitForWindow(const QString& title)
{
    std::optional<XDisplay::Window> window;
    if (!QTest::qWaitFor([&] { return (window = m_x.findWindow(m_pid, title)).has_value(); },
                         kWaitMs))
        return std::nullopt;
    return window;
}

void OpenFileScreens::press(const XDisplay::Window& window,
                            std::initializer_list<std::uint32_t> keys)
{
    // The server has moved the focus before the keys: the program sees the focus change first.
    m_x.focus(window.id);
    QVERIFY(m_x.chord(keys));
}

void OpenFileScreens::startsWithFile_data()
{
    QTest::addColumn<QString>("file"); // in the samples folder
    QTest::addColumn<bool>("portWorks");

    QTest::newRow("sendable file") << kSampleName << true;
    QTest::newRow("sendable file, port missing") << kSampleName << false;
    QTest::newRow("missing file") << "GONE.BAS" << true;
}

void OpenFileScreens::startsWithFile()
{
    QFETCH(QString, file);
    QFETCH(bool, portWorks);

    ProgramProcess program;
    RIG_OK(program.prepare(portWorks));
    RIG_OK(program.writeSample(kSampleName, kSampleBytes));
    PocketSim& sim = program.sim();
    QProcess& kibro = program.process();
    // Started elsewhere, as a file manager would: the folder comes from the argument.
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), {QDir(program.samplesDir()).filePath(file)},
                         program.configDir()));
    m_pid = kibro.processId();

    // Start-up as without a FILE comes first: the port's box, then the settings window.
    if (!portWorks) {
        const auto box = waitForWindow(kOpenErrorTitle);
        QVERIFY2(box, "the port's box did not come up");
        // A window shown before the box was mapped before it, in the order the program asked.
        QVERIFY2(!m_x.findWindow(m_pid, kSendTitle), "the send window came before the box");
        QVERIFY2(!m_x.findWindow(m_pid, kMainTitle), "the main window came before the box");
        press(*box, {kReturn});
        QVERIFY2(waitForWindow(kSettingsTitle), "no settings window after the box");
    }
    const auto mainWindow = waitForWindow(kMainTitle);
    QVERIFY2(mainWindow, "the main window did not come up");

    if (file != kSampleName) {
        // The box a click on it would give, and no send window.
        const auto box = waitForWindow(kFileErrorTitle);
        QVERIFY2(box, "no box for a file that cannot be sent");
        QVERIFY(!m_x.findWindow(m_pid, kSendTitle));
        press(*box, {kReturn});
        QVERIFY(QTest::qWaitFor([&] { return !m_x.findWindow(m_pid, kFileErrorTitle); }, kWaitMs));
        QVERIFY(!m_x.findWindow(m_pid, kSendTitle));
    } else {
        const auto sendWindow = waitForWindow(kSendTitle);
        QVERIFY2(sendWindow, "the FILE's send window did not open");
        if (portWorks) {
            const QImage image = m_x.grabPainted(sendWindow->id, kWaitMs);
            QVERIFY2(!image.isNull(), "the window was not painted or could not be read back");
            QVERIFY(image.save(QDir(m_outDir).filePath(QStringLiteral("openFile.png"))));
        }
        // Nothing goes out before START: not even into the pty, up to the moment it is pressed.
        QCOMPARE(sim.drain().value_or("<not drained>"), QByteArray());
        if (portWorks) {
            press(*sendWindow, {kReturn});
            QVERIFY2(sim.waitForCount(kSampleBytes.size(), std::chrono::milliseconds(kWaitMs)),
                     "START sent nothing");
            QVERIFY(QTest::qWaitFor([&] { return !m_x.findWindow(m_pid, kSendTitle); }, kWaitMs));
            // All the transfer wrote is in the pty by now: a byte too many shows too.
            QCOMPARE(sim.drain().value_or("<not drained>"), kSampleBytes);
        }
    }

    press(*mainWindow, {kAlt, kLetterX});
    QVERIFY2(kibro.waitForFinished(kWaitMs), "Alt+X did not end the program");
    QCOMPARE(kibro.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kibro.exitCode(), 0);
}

QTEST_MAIN(OpenFileScreens)

#include "tst_openfile_screens.moc"
