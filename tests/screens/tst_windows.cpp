// The four windows on an X display, opened the way a user opens them: every control at its
// twips position through the logical DPI, the Gothic font at its point size with every glyph
// present, text that fits, the tab orders and what Enter presses; in the language that
// KIBRO_TEST_LANGUAGE names (en, de, fr), Japanese without it.
#include "design.h"
#include "language.h"
#include "programrig.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QScopeGuard>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTextLayout>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <memory>

using namespace std::chrono_literals;
using kibro::MainWindow;
using kibro::SendWindow;
using kibro::SettingsWindow;

namespace {

constexpr int kWaitMs = 10000;
// A Japanese name, so the details label has to draw kana in its own font.
const QString kSampleName = QStringLiteral("テスト.BAS");
const QByteArray kSampleBytes = "10 PRINT \"テスト\"\r\n20 END\r\n";
// Rounding one edge to whole pixels moves it by at most half a pixel.
constexpr double kEdgeTolerance = 0.5 + 1e-6;

// The program's four windows over a simulated pocket computer on COM1.
class Rig : public ProgramRig
{
public:
    bool start(QString& error)
    {
        if (!plugIn()) {
            error = sim().errorString();
            return false;
        }
        if (writeFile(kSampleName, kSampleBytes).isEmpty()) {
            error = QStringLiteral("cannot write the sample file");
            return false;
        }
        // The lists start at the current directory, as the program's do.
        QDir::setCurrent(folder());
        startUp();
        return true;
    }

    SendWindow* openSendWindow()
    {
        mainWindow().fileList()->selectFile(kSampleName);
        return mainWindow().sendWindow();
    }
    kibro::ReceiveWindow* openReceiveWindow()
    {
        mainWindow().onReceiveTriggered();
        return mainWindow().receiveWindow();
    }
    SettingsWindow* openSettingsWindow()
    {
        mainWindow().onSettingsTriggered();
        return mainWindow().settingsWindow();
    }
    // CANCEL: the port comes back for the send window.
    bool closeSettingsWindow()
    {
        QPointer<SettingsWindow> window = mainWindow().settingsWindow();
        if (window)
            window->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        return QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs);
    }

    [[nodiscard]] QWidget* window(const QString& name)
    {
        if (name == QLatin1String("Form1"))
            return &mainWindow();
        if (name == QLatin1String("Form2"))
            return mainWindow().sendWindow();
        if (name == QLatin1String("Form3"))
            return mainWindow().settingsWindow();
        if (name == QLatin1String("Form4"))
            return mainWindow().receiveWindow();
        return nullptr;
    }
    // A window's size is that of its client area: below the menu bar on the main window.
    [[nodiscard]] QWidget* client(const QString& name)
    {
        if (name == QLatin1String("Form1"))
            return mainWindow().centralWidget();
        return window(name);
    }
};

[[nodiscard]] QString visibleText(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    return {};
}

// Glyphs the text is drawn with: font family of each run, and how many are missing (glyph 0).
struct Glyphs
{
    QStringList families;
    int missing = 0;
};

[[nodiscard]] Glyphs glyphsOf(const QString& text, const QFont& font)
{
    Glyphs glyphs;
    for (const QString& line : text.split(u'\n')) {
        QTextLayout layout(line, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) {
            glyphs.families.append(run.rawFont().familyName());
            const QList<quint32> indexes = run.glyphIndexes();
            glyphs.missing += static_cast<int>(std::count(indexes.begin(), indexes.end(), 0u));
        }
    }
    glyphs.families.removeDuplicates();
    return glyphs;
}

QString describe(const QRect& rect)
{
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

} // namespace

class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clientArea_data();
    void clientArea();
    void controls_data();
    void controls();
    void gothicFont_data();
    void gothicFont();
    void noMissingGlyphs_data();
    void noMissingGlyphs();
    void longNameKeepsItsEnds();
    void textFits_data();
    void textFits();
    void titleFits_data();
    void titleFits();
    void focusChain_data();
    void focusChain();
    void tabKey_data();
    void tabKey();
    void enterOnSendWindow_data();
    void enterOnSendWindow();
    void enterOnSettingsWindow_data();
    void enterOnSettingsWindow();
    void arrowsMoveWithinAGroup();
    void screenshots();

private:
    Rig m_rig;
};

void WindowsTest::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const double dpi = qEnvironmentVariableIntValue("KIBRO_EXPECT_DPI");
    QVERIFY2(dpi > 0, "KIBRO_EXPECT_DPI is not set");
    const QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(screen->logicalDotsPerInch() * screen->devicePixelRatio(), dpi);
    // Before any window: each takes its texts as it is built.
    QVERIFY(kibro::installTranslation(qEnvironmentVariable("KIBRO_TEST_LANGUAGE")));

    QString error;
    QVERIFY2(m_rig.start(error), qPrintable(error));
    MainWindow& mainWindow = m_rig.mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow, kWaitMs));
    QVERIFY(m_rig.messages().messages().isEmpty());
    SendWindow* sendWindow = m_rig.openSendWindow();
    QVERIFY(sendWindow);
    QVERIFY(QTest::qWaitForWindowExposed(sendWindow, kWaitMs));
    SettingsWindow* settingsWindow = m_rig.openSettingsWindow();
    QVERIFY(settingsWindow);
    QVERIFY(QTest::qWaitForWindowExposed(settingsWindow, kWaitMs));
    kibro::ReceiveWindow* receiveWindow = m_rig.openReceiveWindow();
    QVERIFY(receiveWindow);
    QVERIFY(QTest::qWaitForWindowExposed(receiveWindow, kWaitMs));
    qInfo("logical DPI %d, device pixel ratio %.2f", mainWindow.logicalDpiX(),
          mainWindow.devicePixelRatioF());
}

void WindowsTest::clientArea_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (const DesignedClient& client : kClients)
        QTest::newRow(client.window)
            << QString::fromLatin1(client.window) << client.width << client.height;
}

void WindowsTest::clientArea()
{
    QFETCH(QString, window);
    QFETCH(int, width);
    QFETCH(int, height);

    QWidget* top = m_rig.window(window);
    QWidget* client = m_rig.client(window);
    QVERIFY(top && client);
    const QSize size = client->size();
    QVERIFY2(std::abs(size.width() - twipsAt(width, client->logicalDpiX())) <= kEdgeTolerance,
             qPrintable(QString::number(size.width())));
    QVERIFY2(std::abs(size.height() - twipsAt(height, client->logicalDpiY())) <= kEdgeTolerance,
             qPrintable(QString::number(size.height())));
    // Fixed: the user cannot resize it away from the design.
    QCOMPARE(top->minimumSize(), top->size());
    QCOMPARE(top->maximumSize(), top->size());
    if (window == QLatin1String("Form1")) {
        // Nothing but the menu bar around the client area.
        const QMenuBar* menu = m_rig.mainWindow().menuBar();
        QCOMPARE(client->geometry().top(), menu->geometry().bottom() + 1);
        QCOMPARE(top->height(), menu->height() + client->height());
        QCOMPARE(top->width(), client->width());
    }
}

void WindowsTest::controls_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips"); // left, top, width, height
    for (const DesignedControl& control : kControls) {
        QTest::addRow("%s.%s", control.window, control.name)
            << QString::fromLatin1(control.window) << QString::fromLatin1(control.name)
            << QString::fromLatin1(control.container)
            << QRect(control.rect.left, control.rect.top, control.rect.width, control.rect.height);
    }
}

void WindowsTest::controls()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, twips);

    QWidget* top = m_rig.window(window);
    QVERIFY(top);
    QWidget* holder =
        container.isEmpty() ? m_rig.client(window) : top->findChild<QWidget*>(container);
    auto* control = top->findChild<QWidget*>(name);
    QVERIFY(holder && control);
    QVERIFY(control->isVisible());
    const QRect actual(control->mapTo(holder, QPoint()), control->size());
    const double dpiX = control->logicalDpiX();
    const double dpiY = control->logicalDpiY();
    // Each edge on its own, so neighbours never overlap through rounding.
    const double edges[4][2] = {
        {static_cast<double>(actual.left()), twipsAt(twips.left(), dpiX)},
        {static_cast<double>(actual.top()), twipsAt(twips.top(), dpiY)},
        {static_cast<double>(actual.left() + actual.width()),
         twipsAt(twips.left() + twips.width(), dpiX)},
        {static_cast<double>(actual.top() + actual.height()),
         twipsAt(twips.top() + twips.height(), dpiY)},
    };
    for (const auto& edge : edges) {
        QVERIFY2(std::abs(edge[0] - edge[1]) <= kEdgeTolerance,
                 qPrintable(QStringLiteral("%1 is at %2 in %3; an edge should be at %4")
                                .arg(name, describe(actual), holder->objectName())
                                .arg(edge[1])));
    }
}

void WindowsTest::gothicFont_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("points");
    QTest::newRow("Form2.Label1") << QStringLiteral("Form2") << QStringLiteral("Label1") << 12;
    for (int option = 1; option <= 10; ++option)
        QTest::addRow("Form3.Option%d", option)
            << QStringLiteral("Form3") << QStringLiteral("Option%1").arg(option) << 9;
}

void WindowsTest::gothicFont()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(int, points);

    QWidget* top = m_rig.window(window);
    QVERIFY(top);
    auto* control = top->findChild<QWidget*>(name);
    QVERIFY(control);
    const QFontInfo info(control->font());
    // The installed Japanese Gothic, not a Mincho and not a Latin-only font.
    QVERIFY2(QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::Japanese),
             qPrintable(info.family()));
    QVERIFY2(info.family().contains(QLatin1String("Gothic"), Qt::CaseInsensitive) ||
                 info.family().contains(QStringLiteral("ゴシック")) ||
                 info.family().contains(QLatin1String("Sans"), Qt::CaseInsensitive),
             qPrintable(info.family()));
    QCOMPARE(info.pointSizeF(), static_cast<qreal>(points));
    QCOMPARE(info.pixelSize(), qRound(points * control->logicalDpiY() / 72.0));
    QCOMPARE(info.weight(), static_cast<int>(QFont::Normal));
    QVERIFY(!info.italic());
    // Every character of what it shows comes from that one font.
    const Glyphs glyphs = glyphsOf(visibleText(control), control->font());
    QCOMPARE(glyphs.missing, 0);
    QCOMPARE(glyphs.families, QStringList{info.family()});
}

void WindowsTest::noMissingGlyphs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QFont>("font");

    MainWindow& mainWindow = m_rig.mainWindow();
    for (QAction* action : mainWindow.menuBar()->actions()) {
        QString text = action->text();
        text.remove(u'&');
        QTest::addRow("Form1.%s", qPrintable(action->objectName()))
            << text << mainWindow.menuBar()->font();
    }
    for (const char* window : {"Form2", "Form3", "Form4"}) {
        QWidget* top = m_rig.window(QString::fromLatin1(window));
        QVERIFY(top);
        QTest::addRow("%s.caption", window) << top->windowTitle() << QApplication::font("QWidget");
        for (QWidget* child : top->findChildren<QWidget*>()) {
            const QString text = visibleText(child);
            if (!text.isEmpty())
                QTest::addRow("%s.%s", window, qPrintable(child->objectName()))
                    << text << child->font();
        }
    }
}

void WindowsTest::noMissingGlyphs()
{
    QFETCH(QString, text);
    QFETCH(QFont, font);

    const Glyphs glyphs = glyphsOf(text, font);
    QVERIFY2(glyphs.missing == 0, qPrintable(QStringLiteral("%1 missing in \"%2\" (%3)")
                                                 .arg(glyphs.missing)
                                                 .arg(text, glyphs.families.join(u','))));
}

void WindowsTest::longNameKeepsItsEnds()
{
    SendWindow* window = m_rig.openSendWindow();
    QVERIFY(window);
    const QString name = QStringLiteral("A_PROGRAM_WITH_A_NAME_FAR_TOO_LONG_FOR_THE_WINDOW_%1.BAS")
                             .arg(QString(40, u'X'));
    const QString path = m_rig.writeFile(name, "10 END\r\n");
    QVERIFY(window->loadFile(kibro::toNativePath(path)));
    const auto* details = window->findChild<QLabel*>(QStringLiteral("Label1"));
    const QString first = details->text().split(u'\n').constFirst();
    const auto restore = qScopeGuard([&] {
        (void)window->loadFile(kibro::toNativePath(m_rig.filePath(kSampleName)));
        QFile::remove(path);
    });
    QVERIFY2(first.startsWith(SendWindow::tr("FileName:") + QStringLiteral("A_PRO")) &&
                 first.endsWith(QStringLiteral("X.BAS")) && first.contains(QChar(0x2026)),
             qPrintable(first));
    QVERIFY(QFontMetrics(details->font()).horizontalAdvance(first) <=
            details->contentsRect().width());
    QCOMPARE(details->toolTip(), name);
}

void WindowsTest::textFits_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::newRow("Form2.Command2") << QStringLiteral("Form2") << QStringLiteral("Command2");
    QTest::newRow("Form2.Command1") << QStringLiteral("Form2") << QStringLiteral("Command1");
    QTest::newRow("Form2.Label1") << QStringLiteral("Form2") << QStringLiteral("Label1");
    for (int option = 1; option <= 10; ++option)
        QTest::addRow("Form3.Option%d", option)
            << QStringLiteral("Form3") << QStringLiteral("Option%1").arg(option);
    QTest::newRow("Form3.Frame1") << QStringLiteral("Form3") << QStringLiteral("Frame1");
    QTest::newRow("Form3.Frame2") << QStringLiteral("Form3") << QStringLiteral("Frame2");
    QTest::newRow("Form3.Command1") << QStringLiteral("Form3") << QStringLiteral("Command1");
    QTest::newRow("Form3.Command2") << QStringLiteral("Form3") << QStringLiteral("Command2");
    for (const char* name :
         {"lblFileName", "chkOverwrite", "lblSilence", "lblPort", "Command2", "Command1"})
        QTest::addRow("Form4.%s", name) << QStringLiteral("Form4") << QString::fromLatin1(name);
}

void WindowsTest::textFits()
{
    QFETCH(QString, window);
    QFETCH(QString, name);

    QWidget* top = m_rig.window(window);
    QVERIFY(top);
    auto* control = top->findChild<QWidget*>(name);
    QVERIFY(control);
    const QString text = visibleText(control);
    QVERIFY(!text.isEmpty());
    const QFontMetrics metrics(control->font());
    QStyle* style = control->style();

    // Where the widget's style draws the text, and the room the text needs there.
    QRect room;
    QSize needed;
    const bool checkBox = qobject_cast<QCheckBox*>(control);
    if (checkBox || qobject_cast<QRadioButton*>(control)) {
        QStyleOptionButton styleOption;
        styleOption.initFrom(control);
        styleOption.text = text;
        room = style->subElementRect(checkBox ? QStyle::SE_CheckBoxContents
                                              : QStyle::SE_RadioButtonContents,
                                     &styleOption, control);
        // The ink of the characters: the line's leading may overhang a tight design.
        needed = QSize(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).height());
        const QRect circle = style->subElementRect(checkBox ? QStyle::SE_CheckBoxIndicator
                                                            : QStyle::SE_RadioButtonIndicator,
                                                   &styleOption, control);
        QVERIFY2(control->rect().contains(circle),
                 qPrintable(QStringLiteral("the circle at %1 is cut").arg(describe(circle))));
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        room = button->rect().adjusted(frame, frame, -frame, -frame);
        needed = QSize(metrics.horizontalAdvance(text), metrics.height());
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        room = label->contentsRect();
        // Lines one em apart, as the design's font set them, down to the ink of the last.
        const QStringList lines = text.split(u'\n');
        QCOMPARE(lines.size(), window == QLatin1String("Form2") ? 3 : 1);
        int width = 0;
        for (const QString& line : lines)
            width = std::max(width, metrics.horizontalAdvance(line));
        const int em = QFontInfo(label->font()).pixelSize();
        needed = QSize(width, static_cast<int>(lines.size() - 1) * em + metrics.ascent() +
                                  metrics.tightBoundingRect(lines.last()).bottom() + 1);
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        // The caption, where the style puts it, stays inside the frame and above its options.
        QStyleOptionGroupBox styleOption;
        styleOption.initFrom(frame);
        styleOption.text = text;
        styleOption.lineWidth = 1;
        styleOption.textAlignment = frame->alignment();
        styleOption.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect caption = style->subControlRect(QStyle::CC_GroupBox, &styleOption,
                                                    QStyle::SC_GroupBoxLabel, frame);
        int firstTop = frame->height();
        for (const QRadioButton* option : frame->findChildren<QRadioButton*>())
            firstTop = std::min(firstTop, option->y());
        room = QRect(0, 0, frame->width(), firstTop);
        // Clear of the right edge by the line's gap before the caption and the etched line.
        needed = QSize(caption.left() + metrics.horizontalAdvance(text) + 4,
                       caption.top() + metrics.height());
    }
    QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
             qPrintable(QStringLiteral("\"%1\" needs %2x%3 and has %4")
                            .arg(text)
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(describe(room))));
}

void WindowsTest::titleFits_data()
{
    // A window, or a box made as the program makes its boxes from a text and a title.
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::newRow("Form2") << QStringLiteral("Form2") << QString() << QString();
    QTest::newRow("Form3") << QStringLiteral("Form3") << QString() << QString();
    QTest::newRow("Form4") << QStringLiteral("Form4") << QString() << QString();
    const QString com1 = QStringLiteral("COM1");
    const QString openError = SettingsWindow::tr("COM Open Error");
    QTest::newRow("open error box")
        << QString() << com1 + MainWindow::tr("が開けません。") << openError;
    QTest::newRow("open error box on closing")
        << QString() << com1 + SettingsWindow::tr("が開けませんでした。") << openError;
    QTest::newRow("file error box")
        << QString() << SendWindow::tr("ファイルが大きすぎます。") << SendWindow::tr("File Error");
    QTest::newRow("cancel box") << QString() << SendWindow::tr("ファイル転送を中止します。")
                                << SendWindow::tr("CANCEL");
    QTest::newRow("transfer error box")
        << QString() << SendWindow::tr("ファイル転送に失敗しました。")
        << SendWindow::tr("Transfer Error");
    QTest::newRow("port busy box")
        << QString() << SendWindow::tr("受信中は送信できません。") << SendWindow::tr("Port Busy");
    QTest::newRow("port busy box on receiving")
        << QString() << kibro::ReceiveWindow::tr("送信中は受信できません。")
        << kibro::ReceiveWindow::tr("Port Busy");
    QTest::newRow("name taken box")
        << QString() << kibro::ReceiveWindow::tr("同じ名前のファイルがあります。")
        << kibro::ReceiveWindow::tr("File Exists");
}

// A window manager draws the title in a bold face of the desktop's font, beside the window
// menu and the close button with their margins (about three lines of text); the rest is cut.
void WindowsTest::titleFits()
{
    QFETCH(QString, window);
    QFETCH(QString, text);
    QFETCH(QString, title);

    std::unique_ptr<QMessageBox> box;
    QWidget* top = nullptr;
    if (window.isEmpty()) {
        // Qt widens a box for its title by 50 pixels whatever the DPI: too few without scaling.
        if (m_rig.mainWindow().logicalDpiX() > 96)
            QSKIP("a box's room for its title is Qt's, unscaled");
        box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get(), kWaitMs));
        top = box.get();
    } else {
        top = m_rig.window(window);
    }
    QVERIFY(top);
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics metrics(font, top);
    const int room = top->width() - 3 * metrics.height();
    const int needed = metrics.horizontalAdvance(top->windowTitle());
    QVERIFY2(needed <= room, qPrintable(QStringLiteral("\"%1\" needs %2 of %3 in a window %4 wide")
                                            .arg(top->windowTitle())
                                            .arg(needed)
                                            .arg(room)
                                            .arg(top->width())));
}

void WindowsTest::focusChain_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("Form1") << QStringLiteral("Form1")
                           << QStringList{QStringLiteral("File1"), QStringLiteral("Drive1"),
                                          QStringLiteral("Dir1")};
    // The progress bar and the details take no focus.
    QTest::newRow("Form2") << QStringLiteral("Form2")
                           << QStringList{QStringLiteral("Command2"), QStringLiteral("Command1")};
    QStringList settings;
    for (int option = 1; option <= 10; ++option)
        settings << QStringLiteral("Option%1").arg(option);
    settings << QStringLiteral("Command1") << QStringLiteral("Command2");
    QTest::newRow("Form3") << QStringLiteral("Form3") << settings;
    QTest::newRow("Form4") << QStringLiteral("Form4")
                           << QStringList{QStringLiteral("txtFileName"),
                                          QStringLiteral("chkOverwrite"),
                                          QStringLiteral("spnSilence"), QStringLiteral("Command2"),
                                          QStringLiteral("Command1")};
}

void WindowsTest::focusChain()
{
    QFETCH(QString, window);
    QFETCH(QStringList, order);

    QWidget* top = m_rig.window(window);
    QVERIFY(top);
    // The window's controls that can take the focus, once round the chain.
    QStringList chain;
    for (QWidget* next = top->nextInFocusChain(); next != top; next = next->nextInFocusChain()) {
        // A spin box and its editor are one stop: the editor passes the focus on.
        if (next->window() == top && next->focusPolicy() != Qt::NoFocus && next->isVisibleTo(top) &&
            !next->focusProxy())
            chain << next->objectName();
    }
    const qsizetype start = chain.indexOf(order.first());
    QVERIFY2(start >= 0, qPrintable(chain.join(u',')));
    QCOMPARE(chain.mid(start) + chain.mid(0, start), order);
}

void WindowsTest::tabKey_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("stops"); // first the control that has the focus on show
    QTest::newRow("Form1") << QStringLiteral("Form1")
                           << QStringList{QStringLiteral("File1"), QStringLiteral("Drive1"),
                                          QStringLiteral("Dir1")};
    QTest::newRow("Form2") << QStringLiteral("Form2")
                           << QStringList{QStringLiteral("Command2"), QStringLiteral("Command1")};
    // Each group of options is one stop, entered at its choice (9600 and COM1 here), as on
    // the platform the design was made for; the arrows move within a group.
    QTest::newRow("Form3") << QStringLiteral("Form3")
                           << QStringList{QStringLiteral("Option4"), QStringLiteral("Option8"),
                                          QStringLiteral("Command1"), QStringLiteral("Command2")};
}

void WindowsTest::tabKey()
{
    QFETCH(QString, window);
    QFETCH(QStringList, stops);

    QWidget* top = m_rig.window(window);
    QVERIFY(top);
    top->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(top, kWaitMs));
    QVERIFY(top->focusWidget());
    // Round the stops and back to the start, then the other way.
    QStringList visited{top->focusWidget()->objectName()};
    for (qsizetype step = 0; step < stops.size(); ++step) {
        QTest::keyClick(top->focusWidget(), Qt::Key_Tab);
        visited << top->focusWidget()->objectName();
    }
    QCOMPARE(visited, stops + QStringList{stops.first()});
    QStringList back{top->focusWidget()->objectName()};
    for (qsizetype step = 0; step < stops.size(); ++step) {
        QTest::keyClick(top->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        back.prepend(top->focusWidget()->objectName());
    }
    QCOMPARE(back, stops + QStringList{stops.first()});
}

void WindowsTest::enterOnSendWindow_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("sends");
    QTest::newRow("START has the focus") << QStringLiteral("Command2") << true;
    // As on the original platform: Enter presses the button that has the focus.
    QTest::newRow("CANCEL has the focus") << QStringLiteral("Command1") << false;
}

void WindowsTest::enterOnSendWindow()
{
    QFETCH(QString, focus);
    QFETCH(bool, sends);

    QVERIFY(m_rig.closeSettingsWindow());
    QVERIFY(m_rig.mainWindow().serialPort().isOpen());
    const qint64 before = m_rig.sim().receivedCount();
    QPointer<SendWindow> window = m_rig.openSendWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window, kWaitMs));
    auto* button = window->findChild<QPushButton*>(focus);
    QVERIFY(button);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);

    QVERIFY2(QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs), "the window stayed");
    // The window is gone, so all it wrote is in the pty: the file once, or nothing at all.
    const auto received = m_rig.sim().drain();
    QVERIFY2(received, qPrintable(m_rig.sim().errorString()));
    QCOMPARE(received->mid(before), sends ? kSampleBytes : QByteArray());
    QVERIFY(m_rig.messages().messages().isEmpty());
}

void WindowsTest::enterOnSettingsWindow_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("stores");
    QTest::newRow("an option has the focus") << QStringLiteral("Option2") << true;
    QTest::newRow("OK has the focus") << QStringLiteral("Command1") << true;
    QTest::newRow("CANCEL has the focus") << QStringLiteral("Command2") << false;
}

void WindowsTest::enterOnSettingsWindow()
{
    QFETCH(QString, focus);
    QFETCH(bool, stores);

    QVERIFY(m_rig.closeSettingsWindow());
    m_rig.store().set(QStringLiteral("Startup/Settings"), QStringLiteral("9600,N,8,1"));
    QPointer<SettingsWindow> window = m_rig.openSettingsWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window, kWaitMs));
    window->findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    auto* control = window->findChild<QWidget*>(focus);
    QVERIFY(control);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Return);

    QVERIFY2(QTest::qWaitFor([&] { return window.isNull(); }, kWaitMs), "the window stayed");
    QCOMPARE(m_rig.store().value(QStringLiteral("Startup/Settings")),
             stores ? QStringLiteral("2400,N,8,1") : QStringLiteral("9600,N,8,1"));
    QVERIFY(m_rig.messages().messages().isEmpty());
}

void WindowsTest::arrowsMoveWithinAGroup()
{
    QVERIFY(m_rig.closeSettingsWindow());
    m_rig.store().set(QStringLiteral("Startup/Settings"), QStringLiteral("9600,N,8,1"));
    QPointer<SettingsWindow> window = m_rig.openSettingsWindow();
    QVERIFY(window);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window, kWaitMs));
    QCOMPARE(window->focusWidget()->objectName(), QStringLiteral("Option4"));

    // The arrows choose as they go, and the next Tab enters the group at the new choice.
    QTest::keyClick(window->focusWidget(), Qt::Key_Down);
    QCOMPARE(window->focusWidget()->objectName(), QStringLiteral("Option5"));
    QVERIFY(window->findChild<QRadioButton*>(QStringLiteral("Option5"))->isChecked());
    QTest::keyClick(window->focusWidget(), Qt::Key_Up);
    QTest::keyClick(window->focusWidget(), Qt::Key_Up);
    QCOMPARE(window->focusWidget()->objectName(), QStringLiteral("Option3"));
    QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
    QCOMPARE(window->focusWidget()->objectName(), QStringLiteral("Option8"));
    QTest::keyClick(window->focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(window->focusWidget()->objectName(), QStringLiteral("Option3"));
}

// One picture a window and language, for the eye and for the README.
void WindowsTest::screenshots()
{
    const QString folder = qEnvironmentVariable("KIBRO_SCREENS_DIR");
    if (folder.isEmpty())
        QSKIP("KIBRO_SCREENS_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    QString language = qEnvironmentVariable("KIBRO_TEST_LANGUAGE");
    if (language.isEmpty())
        language = QStringLiteral("ja");
    QVERIFY(m_rig.openSendWindow());
    QVERIFY(m_rig.openSettingsWindow());
    QVERIFY(m_rig.openReceiveWindow());
    for (const char* name : {"Form1", "Form2", "Form3", "Form4"}) {
        QWidget* window = m_rig.window(QString::fromLatin1(name));
        QVERIFY(window);
        const QString file = QStringLiteral("%1/%2-%3.png").arg(folder, language, name);
        QVERIFY2(window->grab().save(file), qPrintable(file));
    }
}

QTEST_MAIN(WindowsTest)

#include "tst_windows.moc"
