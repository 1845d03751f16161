// The real windows while the pocket computer never stops talking: a file still goes out
// whole, each byte after its pause, and CANCEL and exit still work.
#include "filechooser.h"
#include "mainwindow.h"
#include "messagerecorder.h"
#include "peek.h"
#include "pocketsim.h"
#include "programrig.h"
#include "sendwindow.h"
#include "teststore.h"

#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <memory>

using namespace std::chrono_literals;
using kibro::MainWindow;
using kibro::SendWindow;
using kibro::SerialPort;
using kibro::TransferEngine;

namespace {

constexpr int kWaitMs = 30000;
const QString kCancelText = QStringLiteral("ファイル転送を中止します。");
const QByteArray kFile("10 PRINT\r\n");

enum class Interrupt { None, Cancel, Exit };

QString ticksText(const QList<int>& ticks)
{
    QStringList texts;
    for (int count : ticks)
        texts.append(QString::number(count));
    return texts.join(u',');
}

} // namespace

Q_DECLARE_METATYPE(Interrupt)

class FloodSendTest : public QObject
{
    Q_OBJECT

private slots:
    void sendUnderFlood_data();
    void sendUnderFlood();
};

void FloodSendTest::sendUnderFlood_data()
{
    QTest::addColumn<Interrupt>("interrupt");
    QTest::addColumn<int>("sentBefore");

    QTest::newRow("sent whole") << Interrupt::None << 0;
    QTest::newRow("CANCEL after five bytes") << Interrupt::Cancel << 5;
    QTest::newRow("exit after five bytes") << Interrupt::Exit << 5;
}

void FloodSendTest::sendUnderFlood()
{
    QFETCH(Interrupt, interrupt);
    QFETCH(int, sentBefore);

    TestStore store;
    QTemporaryDir files;
    QVERIFY(files.isValid());
    QFile file(files.filePath(QStringLiteral("FLOOD.BAS")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kFile) == kFile.size());
    file.close();

    PocketSim sim;
    QVERIFY2(sim.start({}, {QStringLiteral("--flood")}), qPrintable(sim.errorString()));
    store.mapPort(1, sim.linkPath());
    MessageRecorder messages;
    bool ended = false;
    MainWindow mainWindow;
    mainWindow.setEndProgram([&] { ended = true; });
    mainWindow.startUp();
    mainWindow.show();
    SerialPort& comm = mainWindow.serialPort();
    QVERIFY(comm.isOpen());
    QTRY_VERIFY_WITH_TIMEOUT(heldReceivedBytes(comm) == SerialPort::kReadBound, kWaitMs);

    mainWindow.directoryList()->setPath(files.path());
    QVERIFY(mainWindow.fileList()->selectFile(QStringLiteral("FLOOD.BAS")));
    QPointer<SendWindow> window = mainWindow.sendWindow();
    QVERIFY(window);
    // Ticks counted before each byte: how long it waited, without a clock. The tick that ends
    // a pause sends the byte before this counter hears of it, so a pause shows as one less.
    constexpr int kPaused = TransferEngine::kPauseTicks - 1;
    int ticks = 0;
    QList<int> ticksBefore;
    connect(&tickTimer(window->engine()), &QTimer::timeout, this, [&] { ++ticks; });
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    int progress = 0;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
        if (value == 0)
            return;
        progress = value;
        ticksBefore.append(ticks);
        ticks = 0;
        // START empties the receive side, and bytes leave faster than the flood refills it:
        // hold the sender after the first byte until the flood is back.
        if (value == 1)
            waitForReceived(comm);
        if (value != sentBefore || interrupt == Interrupt::None)
            return;
        // As the user would: a click lands between two bytes, on the event loop.
        QTimer::singleShot(0, &mainWindow, [&] {
            if (interrupt == Interrupt::Cancel && window)
                window->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
            else if (interrupt == Interrupt::Exit)
                mainWindow.onExitTriggered();
        });
    });

    window->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QVERIFY(heldReceivedBytes(comm) <= SerialPort::kReadBound);

    const qsizetype expected = interrupt == Interrupt::None ? kFile.size() : sentBefore;
    QCOMPARE(progress, int(expected));
    // After the first byte something has arrived, so every later byte waits its ten ticks.
    QCOMPARE(ticksBefore.size(), int(expected));
    QVERIFY2(std::all_of(ticksBefore.cbegin() + 1, ticksBefore.cend(),
                         [](int count) { return count >= kPaused; }),
             qPrintable(ticksText(ticksBefore)));
    switch (interrupt) {
    case Interrupt::None:
        QCOMPARE(messages.count(), 0);
        QVERIFY(comm.isOpen());
        break;
    case Interrupt::Cancel:
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.first().text, kCancelText);
        QVERIFY(comm.isOpen());
        break;
    case Interrupt::Exit:
        QVERIFY(ended);
        QCOMPARE(messages.count(), 0);
        break;
    }

    // The engine went with its window, so nothing more can come; stop takes in the rest.
    const auto summary = sim.stop();
    QVERIFY2(summary.has_value(), qPrintable(sim.errorString()));
    QCOMPARE(sim.received(), kFile.left(expected));
    QVERIFY(summary->flooded > SerialPort::kReadBound);
}

QTEST_MAIN(FloodSendTest)
#include "tst_flood_send.moc"
