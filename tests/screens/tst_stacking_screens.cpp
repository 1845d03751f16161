// The real program under a real window manager (openbox): every window and box it shows comes
// to the front with the keyboard, as one just opened should, even before its main window.
#include "programprocess.h"
#include "testdata.h"
#include "xdisplay.h"

#include <QProcess>
#include <QtTest>

namespace {

constexpr int kWaitMs = 20000;
constexpr std::uint32_t kReturn = 0xff0d;

// The process's windows bottom to top, for failure messages.
QString describe(const QList<XDisplay::Window>& windows)
{
    QStringList titles;
    for (const auto& window : windows)
        titles << window.title;
    return titles.join(QStringLiteral(" < "));
}

} // namespace

class StackingScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void frontAtFirstStart();

private:
    // Whether title is the process's topmost window and has the keyboard, within the wait.
    bool comesToFront(qint64 pid, const QString& title);

    XDisplay m_display;
    QProcess m_windowManager;
};

void StackingScreens::initTestCase()
{
    QVERIFY2(m_display.isOpen(), "no X display: run under xvfb-run");
    QVERIFY(m_display.hasXTest());
    m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_windowManager.start(QStringLiteral(OPENBOX_EXE), {QStringLiteral("--sm-disable")});
    QVERIFY(m_windowManager.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return m_display.hasWindowManager(); }, kWaitMs));
}

void StackingScreens::cleanupTestCase()
{
    m_windowManager.terminate();
    m_windowManager.waitForFinished();
}

bool StackingScreens::comesToFront(qint64 pid, const QString& title)
{
    const auto inFront = [&] {
        const auto windows = m_display.stackingOf(pid);
        return !windows.isEmpty() && windows.constLast().title == title &&
               m_display.activeWindow() == windows.constLast().id;
    };
    if (QTest::qWaitFor(inFront, kWaitMs))
        return true;
    qWarning("not in front: %s; stacked %s", qPrintable(title),
             qPrintable(describe(m_display.stackingOf(pid))));
    return false;
}

void StackingScreens::frontAtFirstStart()
{
    // The port does not open: the box, then the settings window, then the main window.
    ProgramProcess program;
    RIG_OK(program.prepare(false));
    RIG_OK(program.start(QStringLiteral(KIBRO_EXE), {}, program.samplesDir()));
    const qint64 pid = program.process().processId();

    QVERIFY(comesToFront(pid, testdata::kOpenErrorTitle));
    QVERIFY(m_display.chord({kReturn}));
    QVERIFY(QTest::qWaitFor(
        [&] { return describe(m_display.stackingOf(pid)).contains(QStringLiteral("KIBRO")); },
        kWaitMs));
    QVERIFY(comesToFront(pid, QStringLiteral("通信設定")));
    program.process().kill();
    program.process().waitForFinished();
}

QTEST_MAIN(StackingScreens)
#include "tst_stacking_screens.moc"
