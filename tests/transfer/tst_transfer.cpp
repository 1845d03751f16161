// The main job end to end: a file chosen in the main window goes out through the real serial
// component to the simulated pocket computer.
#include "programrig.h"
#include "testdata.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;
using kibro::MainWindow;
using kibro::SendWindow;
using kibro::TransferEngine;

namespace {

constexpr auto kLongWait = 60s;
using namespace testdata;

// One main window on a store of its own, COM1 linked to a simulated pocket computer.
class Rig : public ProgramRig
{
public:
    explicit Rig(const QStringList& simArgs = {})
    {
        m_simStarted = plugIn(simArgs);
        startUp();
    }

    [[nodiscard]] bool ready() { return m_simStarted && portOpen(); }
    static QPushButton* start(SendWindow* window) { return startButton(window); }
    static QPushButton* cancel(SendWindow* window) { return cancelButton(window); }

private:
    bool m_simStarted = false;
};

// Follows the progress bar to its last value before the window is gone.
struct ProgressWatch
{
    explicit ProgressWatch(SendWindow* window)
    {
        auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        QObject::connect(bar, &QProgressBar::valueChanged, [this, bar](int value) {
            last = value;
            maximum = bar->maximum();
            ++changes;
        });
    }
    int last = -1;
    int maximum = -1;
    int changes = 0;
};

} // namespace

class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void arrivesWhole_data();
    void arrivesWhole();
    void receivedBytePausesEveryLaterByte();
    void cancelMidwaySendsAPrefix();
    void closeBoxStopsAtOnce_data();
    void closeBoxStopsAtOnce();
    void cablePulledIsAFailure();
    void largeFileReadLeavesTheWindowAnswering_data();
    void largeFileReadLeavesTheWindowAnswering();
    void lostPortIsOpenedAgain_data();
    void lostPortIsOpenedAgain();
    void emptyFileClosesAtOnce();
    void cancelBeforeStartClosesSilently();
    void captionAndDetails();
    void unreadableFile_data();
    void unreadableFile();
    void sendsTheFileAsItIsAtStart_data();
    void sendsTheFileAsItIsAtStart();
    void secondClickBeforeStartTakesTheNewFile();
    void unlistableDirectoryLeavesTheLists();
    void progressIsPaintedFromTheEventLoop();
};

void TransferTest::arrivesWhole_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("all 256 byte values") << allByteValues();
    QTest::newRow("64 KiB random") << randomBytes(64 * 1024);
}

void TransferTest::arrivesWhole()
{
    QFETCH(QByteArray, bytes);
    Rig rig;
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("DATA.BIN"), bytes);
    QVERIFY(window);
    ProgressWatch progress(window);

    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(rig.sim().waitForCount(bytes.size(), kLongWait));
    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->bytes, bytes.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(bytes));
    QCOMPARE(progress.maximum, bytes.size());
    QCOMPARE(progress.last, bytes.size());
    // Painted at the screen's pace, not once a byte.
    QVERIFY2(progress.changes <= bytes.size() / 4, qPrintable(QString::number(progress.changes)));
    QCOMPARE(rig.messages().count(), 0);
    QVERIFY(rig.mainWindow().serialPort().isOpen()); // ready for the next file
}

void TransferTest::receivedBytePausesEveryLaterByte()
{
    constexpr int kAnswerAfter = 40;
    const QByteArray bytes = randomBytes(kAnswerAfter + 30);
    Rig rig({QStringLiteral("--answer-after"), QString::number(kAnswerAfter),
             QStringLiteral("--answer"), QStringLiteral("41")});
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("SLOW.BAS"), bytes);
    QVERIFY(window);
    // When the program handed each byte over. The simulator's own times would do on an idle
    // machine; on a loaded one it may read a byte late and the next on time.
    QList<qint64> times;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&window->engine(), &TransferEngine::byteWritten,
                     [&] { times.append(clock.nsecsElapsed() / 1000); });
    // The first pause falls on byte 41.
    rig.pauseAfter(window, kAnswerAfter);
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(rig.sim().waitForCount(bytes.size(), kLongWait));

    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->sha256Hex, sha256Hex(bytes));
    QCOMPARE(times.size(), bytes.size());

    // Ten ticks of 10 ms before every byte after the answer. Only a lower bound is checked:
    // a slow machine makes pauses longer, never shorter.
    constexpr qint64 kMinimumPauseMicros = 90'000;
    for (qsizetype i = kAnswerAfter; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] >= kMinimumPauseMicros,
                 qPrintable(QStringLiteral("byte %1 followed after %2 us")
                                .arg(i + 1)
                                .arg(times[i] - times[i - 1])));
    // Before the answer nothing waits: a pause there would show on every byte, a busy machine
    // stalling the test on one or two.
    int heldBefore = 0;
    for (qsizetype i = 1; i < kAnswerAfter; ++i)
        heldBefore += times[i] - times[i - 1] >= kMinimumPauseMicros ? 1 : 0;
    QVERIFY2(heldBefore <= 2,
             qPrintable(QStringLiteral("%1 bytes held before the answer").arg(heldBefore)));
}

void TransferTest::cancelMidwaySendsAPrefix()
{
    // A slow line, so the transfer is still running when CANCEL comes.
    const QByteArray bytes = randomBytes(midFileSize());
    Rig rig({QStringLiteral("--rate"), QStringLiteral("4000")});
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("BIG.BIN"), bytes);
    QVERIFY(window);
    Rig::start(window)->click();
    QVERIFY(rig.sim().waitForCount(1000, kLongWait));

    bool windowShownDuringBox = false;
    rig.messages().onMessage([&](const MessageRecorder::Message&) {
        windowShownDuringBox = window && window->isVisible();
    });
    Rig::cancel(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 10000);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().first().text, kCancelText);
    QCOMPARE(rig.messages().first().title, QStringLiteral("CANCEL"));
    QVERIFY(windowShownDuringBox);

    const auto summary = rig.sim().stop(); // takes what is still on the line
    QVERIFY(summary);
    QVERIFY(summary->bytes < bytes.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(bytes.left(summary->bytes)));
}

void TransferTest::closeBoxStopsAtOnce_data()
{
    QTest::addColumn<bool>("duringPause");
    QTest::newRow("midway") << false;
    QTest::newRow("during a pause") << true;
}

void TransferTest::closeBoxStopsAtOnce()
{
    QFETCH(bool, duringPause);
    const QByteArray bytes = randomBytes(duringPause ? 400 : midFileSize());
    QStringList args{QStringLiteral("--rate"), QStringLiteral("4000")};
    if (duringPause)
        args = {QStringLiteral("--answer-after"), QStringLiteral("5"), QStringLiteral("--answer"),
                QStringLiteral("00")};
    Rig rig(args);
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("F.BIN"), bytes);
    QVERIFY(window);
    TransferEngine* engine = &window->engine();
    qint64 sentAtClose = -1;
    QObject::connect(engine, &TransferEngine::finished, [&] { sentAtClose = engine->bytesSent(); });
    qint64 sentBefore = -1;
    bool goneAtOnce = false;
    const auto closeNow = [&] {
        sentBefore = engine->bytesSent();
        window->close();
        goneAtOnce = !window || !window->isVisible();
    };
    if (duringPause)
        rig.pauseAfter(window, 5, closeNow);

    Rig::start(window)->click();
    if (duringPause) {
        QTRY_VERIFY_WITH_TIMEOUT(sentBefore >= 0, 15000);
    } else {
        QVERIFY(rig.sim().waitForCount(1000, kLongWait));
        closeNow();
    }
    QVERIFY(goneAtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 10000);
    QCOMPARE(sentAtClose, sentBefore); // not one byte after the close
    if (duringPause)
        QCOMPARE(sentBefore, 5);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().first().text, kCancelText);

    const auto summary = rig.sim().stop(); // takes in all that was written
    QVERIFY(summary);
    QCOMPARE(summary->bytes, sentBefore);
    QCOMPARE(summary->sha256Hex, sha256Hex(bytes.left(sentBefore)));
}

void TransferTest::cablePulledIsAFailure()
{
    const QByteArray bytes = randomBytes(midFileSize());
    Rig rig({QStringLiteral("--close-after"), QStringLiteral("3000"), QStringLiteral("--rate"),
             QStringLiteral("20000")});
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("LOST.BIN"), bytes);
    QVERIFY(window);
    TransferEngine::Outcome outcome = TransferEngine::Outcome::Running;
    QObject::connect(&window->engine(), &TransferEngine::finished,
                     [&](TransferEngine::Outcome o) { outcome = o; });

    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 20000);
    QCOMPARE(outcome, TransferEngine::Outcome::Failed);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().first().text, kFailureText);
    QCOMPARE(rig.messages().first().title, QStringLiteral("Transfer Error"));
    QVERIFY(!rig.mainWindow().serialPort().isOpen());
    const auto summary = rig.sim().waitForExit(10s);
    QVERIFY(summary);
    QCOMPARE(summary->bytes, 3000);
}

void TransferTest::lostPortIsOpenedAgain_data()
{
    QTest::addColumn<bool>("backBeforeWindow");
    QTest::newRow("adapter back before the next window") << true;
    QTest::newRow("adapter back before START") << false;
}

// A replugged adapter needs no trip to the settings: the next window, or the next START,
// opens the lost port again.
void TransferTest::lostPortIsOpenedAgain()
{
    QFETCH(bool, backBeforeWindow);
    Rig rig({QStringLiteral("--close-after"), QStringLiteral("3000"), QStringLiteral("--rate"),
             QStringLiteral("20000")});
    QVERIFY(rig.ready());
    QPointer<SendWindow> window =
        rig.writeAndOpen(QStringLiteral("LOST.BIN"), randomBytes(midFileSize()));
    QVERIFY(window);
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(!rig.portOpen());
    QCOMPARE(rig.messages().count(), 1);
    // The adapter is unplugged for good: what is left of the old line's simulator goes.
    rig.pullCable();

    const QByteArray next = randomBytes(300);
    if (backBeforeWindow)
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    else
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^kibro: cannot open ")));
    window = rig.writeAndOpen(QStringLiteral("NEXT.BIN"), next);
    QVERIFY(window);
    QCOMPARE(rig.portOpen(), backBeforeWindow);
    if (!backBeforeWindow)
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 20000);
    QCOMPARE(rig.messages().count(), 1);
    const auto received = rig.sim().drain();
    QVERIFY2(received, qPrintable(rig.sim().errorString()));
    QCOMPARE(*received, next);
}

void TransferTest::emptyFileClosesAtOnce()
{
    Rig rig;
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("EMPTY.BAS"), {});
    QVERIFY(window);
    const QString details = window->findChild<QLabel*>(QStringLiteral("Label1"))->text();
    QCOMPARE(details.split(u'\n').value(1), QStringLiteral("FileSize:0 Byte"));
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    QCOMPARE(rig.messages().count(), 0);
    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->bytes, 0);
}

void TransferTest::cancelBeforeStartClosesSilently()
{
    Rig rig;
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("A.BAS"), "10 END\r\n");
    QVERIFY(window);
    Rig::cancel(window)->click();
    QVERIFY(!window || !window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
}

void TransferTest::captionAndDetails()
{
    Rig rig;
    QVERIFY(rig.ready());
    const QString path = rig.writeFile(QStringLiteral("TEST.BAS"), QByteArray(1234, 'x'));
    QPointer<SendWindow> window = rig.open(QStringLiteral("TEST.BAS"));
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("TEST.BASの送信"));
    QCOMPARE(rig.mainWindow().chosenPath(), path);
    QCOMPARE(window->fileSize(), 1234);
    QCOMPARE(window->cancelFlag(), qint16(0));
    const QStringList lines =
        window->findChild<QLabel*>(QStringLiteral("Label1"))->text().split(u'\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("FileName:TEST.BAS"));
    QCOMPARE(lines[1], QStringLiteral("FileSize:1234 Byte"));
    const QDateTime stamp = QFileInfo(path).lastModified();
    QCOMPARE(lines[2],
             QStringLiteral("DateTime:") + stamp.toString(QStringLiteral("yyyy/MM/dd H:mm:ss")));
    QVERIFY(Rig::start(window)->isDefault());
}

void TransferTest::unreadableFile_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::newRow("gone before the window loads") << false;
    QTest::newRow("gone before START") << true;
}

void TransferTest::unreadableFile()
{
    QFETCH(bool, atStart);
    Rig rig;
    QVERIFY(rig.ready());
    const QString path = rig.writeFile(QStringLiteral("GONE.BAS"), "10 END\r\n");
    rig.mainWindow().directoryList()->setPath(rig.folder());
    QVERIFY(rig.mainWindow()
                .fileList()
                ->findItems(QStringLiteral("GONE.BAS"), Qt::MatchExactly)
                .size() == 1);
    QPointer<SendWindow> window;
    if (atStart) {
        window = rig.open(QStringLiteral("GONE.BAS"));
        QVERIFY(window);
        QFile::remove(path);
        Rig::start(window)->click();
    } else {
        // Clicked while still listed, before the list has caught up with the disk: walking
        // to the folder again would list it anew without the file.
        QFile::remove(path);
        QVERIFY(rig.mainWindow().fileList()->selectFile(QStringLiteral("GONE.BAS")));
        window = rig.mainWindow().sendWindow();
    }
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    QCOMPARE(rig.messages().count(), 1);
    QCOMPARE(rig.messages().first().text, QStringLiteral("ファイルを読み込めません。"));
    QCOMPARE(rig.messages().first().title, QStringLiteral("File Error"));
    QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
    QVERIFY(rig.mainWindow().serialPort().isOpen());
}

void TransferTest::sendsTheFileAsItIsAtStart_data()
{
    QTest::addColumn<int>("newSize");
    QTest::newRow("shorter") << 100;
    QTest::newRow("longer") << 3000;
}

void TransferTest::sendsTheFileAsItIsAtStart()
{
    QFETCH(int, newSize);
    Rig rig;
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("GROW.BIN"), randomBytes(1000));
    QVERIFY(window);
    QCOMPARE(window->fileSize(), 1000);
    const QByteArray now = randomBytes(newSize);
    rig.writeFile(QStringLiteral("GROW.BIN"), now);
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 20000);
    const auto summary = rig.sim().stop(); // takes in all the program has written
    QVERIFY(summary);
    QCOMPARE(summary->bytes, now.size());
    QCOMPARE(summary->sha256Hex, sha256Hex(now));
}

// The open window takes the file chosen last, as if just opened for it: START sends what the
// window shows, which is what the user chose. (While sending, see secondFileMidTransfer.)
void TransferTest::largeFileReadLeavesTheWindowAnswering_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("CANCEL") << false;
    QTest::newRow("close box") << true;
}

void TransferTest::largeFileReadLeavesTheWindowAnswering()
{
    QFETCH(bool, closeBox);
    Rig rig;
    QVERIFY(rig.ready());
    // Sparse, and far more than a turn of the event loop can read on any machine.
    QFile file(rig.filePath(QStringLiteral("LARGE.BIN")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(256 * 1024 * 1024));
    file.close();
    QPointer<SendWindow> window = rig.open(QStringLiteral("LARGE.BIN"));
    QVERIFY(window);
    Rig::start(window)->click();
    // START has returned to the event loop while the file is still being read.
    QCOMPARE(window->engine().outcome(), TransferEngine::Outcome::Ready);
    QVERIFY(window->isLoaded());
    QVERIFY(!Rig::start(window)->isEnabled());
    if (closeBox)
        window->close();
    else
        Rig::cancel(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 10000);
    QCOMPARE(rig.messages().describe(), kCancelTitle + QStringLiteral(": ") + kCancelText);
    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->bytes, 0);
}

void TransferTest::secondClickBeforeStartTakesTheNewFile()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.writeFile(QStringLiteral("ONE.BIN"), randomBytes(500));
    const QByteArray secondBytes = randomBytes(700);
    const QString second = rig.writeFile(QStringLiteral("TWO.BIN"), secondBytes);
    QPointer<SendWindow> window = rig.open(QStringLiteral("ONE.BIN"));
    QVERIFY(window);
    QCOMPARE(rig.open(QStringLiteral("TWO.BIN")), window.data());
    QCOMPARE(rig.mainWindow().chosenPath(), second);
    QCOMPARE(window->windowTitle(), QStringLiteral("TWO.BINの送信"));
    QCOMPARE(window->fileSize(), 700);
    const QString details = window->findChild<QLabel*>(QStringLiteral("Label1"))->text();
    QCOMPARE(details.split(u'\n').value(1), QStringLiteral("FileSize:700 Byte"));
    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 20000);
    const auto summary = rig.sim().stop();
    QVERIFY(summary);
    QCOMPARE(summary->sha256Hex, sha256Hex(secondBytes));
}

void TransferTest::unlistableDirectoryLeavesTheLists()
{
    Rig rig;
    QVERIFY(rig.ready());
    rig.writeFile(QStringLiteral("KEEP.BAS"), "10 END\r\n");
    auto& mainWindow = rig.mainWindow();
    QVERIFY(mainWindow.directoryList()->setPath(rig.folder()));
    const int files = mainWindow.fileList()->count();
    QVERIFY(!mainWindow.directoryList()->setPath(rig.folder() + QStringLiteral("/missing")));
    QVERIFY(!mainWindow.directoryList()->setPath(rig.folder() + QStringLiteral("/KEEP.BAS")));
    QCOMPARE(mainWindow.directoryList()->path(), rig.folder());
    QCOMPARE(mainWindow.fileList()->count(), files);
    QCOMPARE(mainWindow.fileList()->path(), rig.folder());
}

QTEST_MAIN(TransferTest)
// Counts the paints a widget gets.
class PaintCounter : public QObject
{
public:
    using QObject::QObject;
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// The byte just sent is all the line has in hand: the bar is not painted in the pass that
// sends it, but from the event loop, which runs while the engine waits for the line.
void TransferTest::progressIsPaintedFromTheEventLoop()
{
    // More than the pty holds, behind a line that takes a second and more for the rest: the
    // send outlasts many progress intervals however fast the machine.
    const QByteArray bytes = randomBytes(midFileSize());
    Rig rig({QStringLiteral("--rate"), QStringLiteral("20000")});
    QVERIFY(rig.ready());
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("DATA.BIN"), bytes);
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    PaintCounter counter;
    bar->installEventFilter(&counter);
    int paintsAtChange = -1;
    int paintsInPass = 0;
    int changes = 0;
    connect(bar, &QProgressBar::valueChanged, this, [&] {
        paintsAtChange = counter.paints;
        ++changes;
    });
    // Emitted right after the view heard of the byte, still in the pass.
    connect(&window->engine(), &TransferEngine::byteWritten, this, [&] {
        if (paintsAtChange >= 0)
            paintsInPass += counter.paints - paintsAtChange;
        paintsAtChange = -1;
    });

    Rig::start(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 60000);
    QVERIFY(rig.sim().waitForCount(bytes.size(), kLongWait));
    QVERIFY(changes > 2);
    QCOMPARE(paintsInPass, 0);
    QVERIFY(counter.paints > 0);
}

#include "tst_transfer.moc"
