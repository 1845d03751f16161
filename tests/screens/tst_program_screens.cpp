// The real program on the X display xvfb-run gives it: its windows are found through the X
// server, measured there in physical pixels, driven with the server's keyboard and saved as
// PNGs for the docs.
#include "design.h"
#include "pocketsim.h"
#include "programprocess.h"
#include "testdata.h"
#include "xdisplay.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <optional>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 20000;

constexpr std::uint32_t kAlt = 0xffe9;
constexpr std::uint32_t kReturn = 0xff0d;
constexpr std::uint32_t kEscape = 0xff1b;
constexpr std::uint32_t kDown = 0xff54;
constexpr std::uint32_t kLetterS = 0x73;
constexpr std::uint32_t kLetterX = 0x78;

const QString kMainTitle = QStringLiteral("KIBRO");
const QString kSettingsTitle = QStringLiteral("通信設定");
const QString kSampleName = QStringLiteral("HELLO.BAS");
const QString kSendTitle = kSampleName + QStringLiteral("の送信");
const QByteArray kSampleBytes = "10 PRINT \"HELLO, FX-890P\"\r\n20 FOR I=1 TO 10\r\n30 PRINT I\r\n"
                                "40 NEXT I\r\n50 END\r\n";

// A value as the program left it on disk; QSettings would answer an earlier read from memory.
QString storedValue(const QString& storeFile, const QString& key)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.conf"));
    if (!QFile::copy(storeFile, copy))
        return {};
    return QSettings(copy, QSettings::IniFormat).value(key).toString();
}

bool sameIcon(const QImage& shown, const QImage& design)
{
    if (shown.size() != design.size())
        return false;
    for (int y = 0; y < design.height(); ++y) {
        for (int x = 0; x < design.width(); ++x) {
            const QRgb a = shown.pixel(x, y);
            const QRgb b = design.pixel(x, y);
            if (qAlpha(a) == 0 && qAlpha(b) == 0)
                continue;
            if (a != b)
                return false;
        }
    }
    return true;
}

} // namespace

class ProgramScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowsKeysAndScreenshots();

private:
    std::optional<XDisplay::Window> waitForWindow(const QString& title);
    [[nodiscard]] bool waitUntilGone(const QString& title);
    void verifyClient(const XDisplay::Window& window, const char* name);
    void verifyIcon(const XDisplay::Window& window);
    void save(const XDisplay::Window& window, const QString& fileName);
    void press(const XDisplay::Window& window, std::initializer_list<std::uint32_t> keys);

    XDisplay m_x;
    qint64 m_pid = 0;
    double m_dpi = 96.0;
    double m_tolerance = 0.5;
    QImage m_icon;
    QString m_outDir;
};

void ProgramScreens::initTestCase()
{
    QVERIFY2(m_x.isOpen(), "no X display");
    QVERIFY2(m_x.hasXTest(), "the X server has no XTEST extension");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));

    // The DPI this run is for: the screen must really be at it, or the run proves nothing.
    m_dpi = qEnvironmentVariableIntValue("KIBRO_EXPECT_DPI");
    QVERIFY2(m_dpi > 0, "KIBRO_EXPECT_DPI is not set");
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double ratio = screen->devicePixelRatio();
    QCOMPARE(screen->logicalDotsPerInch() * ratio, m_dpi);
    // Twips become device-independent pixels, rounded, then scaled by the pixel ratio.
    m_tolerance = std::max(0.5, ratio / 2) + 1e-6;
    qInfo("logical DPI %.0f, device pixel ratio %.2f", screen->logicalDotsPerInch(), ratio);

    m_icon = QImage(QStringLiteral(KIBRO_ICON_XPM)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(m_icon.size(), QSize(16, 16));
    QSet<QRgb> colours;
    for (int y = 0; y < m_icon.height(); ++y) {
        for (int x = 0; x < m_icon.width(); ++x)
            colours.insert(m_icon.pixel(x, y));
    }
    QVERIFY2(colours.size() <= 16, "the icon has more than 16 colours");

    m_outDir = qEnvironmentVariable("KIBRO_SCREENS_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(m_outDir));
}

std::optional<XDisplay::Window> ProgramScreens::waitForWindow(const QString& title)
{
    std::optional<XDisplay::Window> window;
    if (!QTest::qWaitFor([&] { return (window = m_x.findWindow(m_pid, title)).has_value(); },
                         kWaitMs))
        return std::nullopt;
    return window;
}

bool ProgramScreens::waitUntilGone(const QString& title)
{
    return QTest::qWaitFor([&] { return !m_x.findWindow(m_pid, title); }, kWaitMs);
}

void ProgramScreens::verifyClient(const XDisplay::Window& window, const char* name)
{
    const auto* client = std::find_if(kClients.begin(), kClients.end(), [name](const auto& c) {
        return QByteArray(c.window) == name;
    });
    QVERIFY(client != kClients.end());
    const double width = twipsAt(client->width, m_dpi);
    const double height = twipsAt(client->height, m_dpi);
    const QSize actual = window.geometry.size();
    QVERIFY2(std::abs(actual.width() - width) <= m_tolerance,
             qPrintable(QStringLiteral("%1 is %2 pixels wide, designed %3")
                            .arg(QLatin1String(name))
                            .arg(actual.width())
                            .arg(width)));
    if (QByteArray(name) == "Form1") {
        // The menu bar sits above the client area: a line of text, well under half an inch.
        const double menu = actual.height() - height;
        QVERIFY2(menu >= 0.1 * m_dpi && menu <= 0.5 * m_dpi,
                 qPrintable(QStringLiteral("Form1 is %1 pixels high for a client area of %2")
                                .arg(actual.height())
                                .arg(height)));
        return;
    }
    QVERIFY2(std::abs(actual.height() - height) <= m_tolerance,
             qPrintable(QStringLiteral("%1 is %2 pixels high, designed %3")
                            .arg(QLatin1String(name))
                            .arg(actual.height())
                            .arg(height)));
}

void ProgramScreens::verifyIcon(const XDisplay::Window& window)
{
    const QList<QImage> icons = m_x.icons(window.id);
    QVERIFY2(!icons.isEmpty(), qPrintable(window.title + QStringLiteral(" has no icon")));
    const bool found = std::any_of(icons.begin(), icons.end(),
                                   [this](const QImage& icon) { return sameIcon(icon, m_icon); });
    QVERIFY2(found,
             qPrintable(window.title + QStringLiteral(" does not carry the program's icon")));
}

void ProgramScreens::save(const XDisplay::Window& window, const QString& fileName)
{
    const QImage image = m_x.grabPainted(window.id, kWaitMs);
    QVERIFY2(!image.isNull(), "the window was not painted or could not be read back");
    QCOMPARE(image.size(), window.geometry.size());
    QVERIFY(image.save(QDir(m_outDir).filePath(fileName)));
}

void ProgramScreens::press(const XDisplay::Window& window,
                           std::initializer_list<std::uint32_t> keys)
{
    // The server has moved the focus before the keys: the program sees the focus change first.
    m_x.focus(window.id);
    QVERIFY(m_x.chord(keys));
}

void ProgramScreens::windowsKeysAndScreenshots()
{
    // The folder shows in the main window's directory list, and so in the screenshot.
    ProgramProcess program;
    RIG_OK(program.prepare());
    RIG_OK(program.writeSample(kSampleName, kSampleBytes));
    PocketSim& sim = program.sim();
    QProcess& kibro = program.process();
    const QString storeFile = program.storeFile();
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), {}, program.samplesDir()));
    m_pid = kibro.processId();

    // The main window, at the stored (here the default) position of 1000 twips.
    const auto mainWindow = waitForWindow(kMainTitle);
    QVERIFY2(mainWindow, "the main window did not come up");
    verifyClient(*mainWindow, "Form1");
    QVERIFY(std::abs(mainWindow->geometry.x() - twipsAt(1000, m_dpi)) <= m_tolerance);
    QVERIFY(std::abs(mainWindow->geometry.y() - twipsAt(1000, m_dpi)) <= m_tolerance);
    verifyIcon(*mainWindow);
    save(*mainWindow, QStringLiteral("mainWindow.png"));
    if (QTest::currentTestFailed())
        return;

    // Alt+S is the settings command.
    press(*mainWindow, {kAlt, kLetterS});
    const auto settingsWindow = waitForWindow(kSettingsTitle);
    QVERIFY2(settingsWindow, "Alt+S did not open the settings window");
    verifyClient(*settingsWindow, "Form3");
    verifyIcon(*settingsWindow);
    save(*settingsWindow, QStringLiteral("settingsWindow.png"));
    if (QTest::currentTestFailed())
        return;

    // Esc answers nothing there: the window is still there for Down, which chooses the next
    // rate, and for Enter, which is OK: stores that choice and closes the window. Had Esc
    // closed it, nothing or 9600 would be stored.
    press(*settingsWindow, {kEscape});
    QVERIFY(m_x.chord({kDown}));
    QVERIFY(m_x.chord({kReturn}));
    QVERIFY2(waitUntilGone(kSettingsTitle), "Enter did not press OK");
    QCOMPARE(storedValue(storeFile, QStringLiteral("Startup/Settings")),
             QStringLiteral("19200,N,8,1"));
    QCOMPARE(storedValue(storeFile, QStringLiteral("Startup/Port")), QStringLiteral("1"));

    // The file list has the keyboard: Down, Enter opens the send window for the one file.
    press(*mainWindow, {kDown});
    QVERIFY(m_x.chord({kReturn}));
    auto sendWindow = waitForWindow(kSendTitle);
    QVERIFY2(sendWindow, "Enter on the file list did not open the send window");
    verifyClient(*sendWindow, "Form2");
    const QPoint screenCentre =
        QRect(QPoint(), QGuiApplication::primaryScreen()->size() *
                            QGuiApplication::primaryScreen()->devicePixelRatio())
            .center();
    QVERIFY2((sendWindow->geometry.center() - screenCentre).manhattanLength() <= 4,
             "the send window is not in the centre of the screen");
    verifyIcon(*sendWindow);
    save(*sendWindow, QStringLiteral("sendWindow.png"));
    if (QTest::currentTestFailed())
        return;

    // Esc is CANCEL: the window goes and nothing is sent, not even into the pty.
    press(*sendWindow, {kEscape});
    QVERIFY2(waitUntilGone(kSendTitle), "Esc did not press CANCEL");
    QCOMPARE(sim.drain().value_or("<not drained>"), QByteArray());

    // Enter is START: the whole file goes out and the window closes by itself.
    press(*mainWindow, {kReturn});
    sendWindow = waitForWindow(kSendTitle);
    QVERIFY2(sendWindow, "the send window did not open again");
    press(*sendWindow, {kReturn});
    QVERIFY2(sim.waitForCount(kSampleBytes.size(), std::chrono::milliseconds(kWaitMs)),
             "Enter did not press START");
    QVERIFY2(waitUntilGone(kSendTitle), "the send window stayed after the transfer");
    // All the transfer wrote is in the pty by now: a byte too many shows too.
    QCOMPARE(sim.drain().value_or("<not drained>"), kSampleBytes);

    // Alt+X is the exit command: the program ends and stores its position.
    press(*mainWindow, {kAlt, kLetterX});
    QVERIFY2(kibro.waitForFinished(kWaitMs), "Alt+X did not end the program");
    QCOMPARE(kibro.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kibro.exitCode(), 0);
    QVERIFY(!storedValue(storeFile, QStringLiteral("Startup/Left")).isEmpty());
    QVERIFY(!storedValue(storeFile, QStringLiteral("Startup/Top")).isEmpty());
}

QTEST_MAIN(ProgramScreens)

#include "tst_program_screens.moc"
