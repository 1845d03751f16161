// The user does several things at once while a transfer runs: the handlers meet in the middle
// of each other, and the program neither hangs nor claims a file went that did not.
#include "faultrig.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QSerialPort>

using namespace faults;
using kibro::SendWindow;
using kibro::SettingsWindow;
using kibro::TransferEngine;

namespace {

const QStringList kSlowLine{QStringLiteral("--rate"), QStringLiteral("4000")};
const QStringList kAnswering{QStringLiteral("--answer-after"), QStringLiteral("5"),
                             QStringLiteral("--answer"), QStringLiteral("00")};

enum class Moment { MidTransfer, InsidePause, CancelMessageUp };
enum class Exit { Menu, CloseBox };

// Runs an action inside a running transfer at the moment a row asks for. A pause is held and
// acted in on its first tick; otherwise the action comes once the pocket computer has its first
// kilobyte, the file being too big to be gone by then however fast the machine.
class MomentAction
{
public:
    // Before START.
    MomentAction(Rig& rig, SendWindow* window, Moment moment, std::function<void()> act)
        : m_rig(rig), m_moment(moment), m_act(std::move(act))
    {
        if (moment == Moment::InsidePause)
            rig.pauseAfter(window, 5, [this] { run(); });
    }
    // After START: whether the action ran.
    [[nodiscard]] bool reach()
    {
        if (m_moment != Moment::InsidePause && m_rig.sim().waitForCount(1000, kLongWait))
            run();
        return QTest::qWaitFor([this] { return m_done; }, kWaitMs);
    }

private:
    void run()
    {
        m_done = true;
        m_act();
    }

    Rig& m_rig;
    Moment m_moment;
    std::function<void()> m_act;
    bool m_done = false;
};

[[nodiscard]] qsizetype fileSizeFor(Moment moment)
{
    return moment == Moment::InsidePause ? 400 : midFileSize();
}

// Plugged in, started up, the send window open on F.BIN: where most cases here begin.
QPointer<SendWindow> startWithFile(Rig& rig, const QByteArray& file,
                                   const QStringList& simArgs = {})
{
    if (!rig.plugIn(simArgs)) {
        qWarning("%s", qPrintable(rig.sim().errorString()));
        return nullptr;
    }
    rig.startUp();
    return rig.writeAndOpen(QStringLiteral("F.BIN"), file);
}

// All the program has handed to the line so far, as the pocket computer received it. The
// transfer is over by then, so how slowly the peer reads no longer matters.
QByteArray settled(Rig& rig)
{
    const auto received = rig.sim().drain();
    if (!received)
        QTest::qFail(qPrintable(rig.sim().errorString()), __FILE__, __LINE__);
    return received.value_or(QByteArray());
}

// Answers the program's real, modal message boxes the way a user does, after looking at
// them for a while, and remembers each. While a box is up, whileUp runs once.
class BoxAnswerer
{
public:
    BoxAnswerer()
    {
        // The real boxes, not the recorder's hook: their own event loop is part of the case.
        kibro::setMessageHook({});
        m_poll.setInterval(20);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start();
    }
    void whileUp(std::function<void()> action) { m_whileUp = std::move(action); }
    // The box is not answered while this says so, for at most a long wait.
    void holdWhile(std::function<bool()> hold) { m_hold = std::move(hold); }
    [[nodiscard]] const QList<MessageRecorder::Message>& seen() const { return m_seen; }

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != m_current) {
            m_current = box;
            m_seen.append({box->text(), box->windowTitle()});
            m_upSince.start();
            if (m_whileUp)
                std::exchange(m_whileUp, {})();
            return;
        }
        const bool held = m_hold && m_hold() && m_upSince.elapsed() < kWaitMs;
        if (!held && m_upSince.elapsed() > 300)
            box->button(QMessageBox::Ok)->click();
    }

    QTimer m_poll;
    QPointer<QMessageBox> m_current;
    QElapsedTimer m_upSince;
    QList<MessageRecorder::Message> m_seen;
    std::function<void()> m_whileUp;
    std::function<bool()> m_hold;
};

} // namespace

Q_DECLARE_METATYPE(Moment)
Q_DECLARE_METATYPE(Exit)

class TogetherFaults : public QObject
{
    Q_OBJECT

private slots:
    void startThenCancelAtOnce();
    void startTwice();
    void cancelTwice_data();
    void cancelTwice();
    void exitMidTransfer_data();
    void exitMidTransfer();
    void settingsMidTransfer_data();
    void settingsMidTransfer();
    void secondFileMidTransfer();
    void eventsWhileARealBoxIsUp_data();
    void eventsWhileARealBoxIsUp();
};

void TogetherFaults::startThenCancelAtOnce()
{
    const QByteArray file = randomBytes(midFileSize());
    Rig rig;
    QPointer<SendWindow> window = startWithFile(rig, file, kSlowLine);
    QVERIFY(window);
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QTest::mouseClick(Rig::cancelButton(window), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.messages().first().text, kCancelText);
    QCOMPARE(rig.messages().first().title, kCancelTitle);
    const QByteArray received = settled(rig);
    RIG_OK(prefixProblem(received, file));
    QVERIFY(received.size() < file.size());
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
}

// A second START while the first runs does not send the file again.
void TogetherFaults::startTwice()
{
    const QByteArray file = randomBytes(5000);
    Rig rig;
    QPointer<SendWindow> window = startWithFile(rig, file);
    QVERIFY(window);
    QPushButton* start = Rig::startButton(window);
    QTest::mouseClick(start, Qt::LeftButton);
    if (window)
        start->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QCOMPARE(rig.messages().count(), 0);
    QCOMPARE(settled(rig), file);
}

void TogetherFaults::cancelTwice_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("second"); // what comes while the cancel message is up, if any
    QTest::newRow("before START") << false << QString();
    QTest::newRow("during the transfer") << true << QString();
    QTest::newRow("CANCEL again while the message is up") << true << QStringLiteral("cancel");
    QTest::newRow("close box while the message is up") << true << QStringLiteral("close");
}

void TogetherFaults::cancelTwice()
{
    QFETCH(bool, started);
    QFETCH(QString, second);
    const QByteArray file = randomBytes(midFileSize());
    Rig rig;
    QPointer<SendWindow> window = startWithFile(rig, file, kSlowLine);
    QVERIFY(window);
    QPushButton* cancel = Rig::cancelButton(window);
    if (!second.isEmpty()) {
        rig.messages().onMessage([&](const MessageRecorder::Message&) {
            if (!window)
                return;
            if (second == u"cancel")
                Rig::cancelButton(window)->click();
            else
                window->close();
        });
    }

    if (started) {
        QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
        QVERIFY(rig.sim().waitForCount(1000, kLongWait));
    }
    QTest::mouseClick(cancel, Qt::LeftButton);
    if (second.isEmpty() && window)
        cancel->click(); // the window may already be hidden, so no mouse
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QVERIFY(drainEvents());

    if (started) {
        QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
        QCOMPARE(rig.messages().first().text, kCancelText);
    } else {
        QVERIFY2(rig.messages().count() == 0, qPrintable(rig.messages().describe()));
    }
    const QByteArray received = settled(rig);
    RIG_OK(prefixProblem(received, file));
    QVERIFY(received.size() < file.size());
    if (!started)
        QCOMPARE(received.size(), 0);
    rig.messages().onMessage({});
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
}

void TogetherFaults::exitMidTransfer_data()
{
    QTest::addColumn<Exit>("exit");
    QTest::addColumn<Moment>("moment");
    QTest::newRow("menu, mid-transfer") << Exit::Menu << Moment::MidTransfer;
    QTest::newRow("close box, mid-transfer") << Exit::CloseBox << Moment::MidTransfer;
    QTest::newRow("menu, inside a pause") << Exit::Menu << Moment::InsidePause;
    QTest::newRow("menu, while the cancel message is up") << Exit::Menu << Moment::CancelMessageUp;
}

// The program ends at once: nothing more is sent or shown, the port is released and the
// window position is stored.
void TogetherFaults::exitMidTransfer()
{
    QFETCH(Exit, exit);
    QFETCH(Moment, moment);
    const bool pause = moment == Moment::InsidePause;
    const QByteArray file = randomBytes(fileSizeFor(moment));
    Rig rig;
    QVERIFY2(rig.plugIn(pause ? kAnswering : kSlowLine), qPrintable(rig.sim().errorString()));
    rig.startUp();
    rig.mainWindow().move(200, 150);
    QPointer<SendWindow> window = rig.writeAndOpen(QStringLiteral("F.BIN"), file);
    QVERIFY(window);

    // Every byte written is counted; none may be written once the program has ended.
    int written = 0;
    int writtenAfterEnd = 0;
    QObject::connect(&window->engine(), &TransferEngine::byteWritten, [&](qint64 value) {
        written = static_cast<int>(value);
        if (rig.endCount() > 0)
            ++writtenAfterEnd;
    });
    const auto exitNow = [&] {
        if (exit == Exit::Menu)
            rig.mainWindow().findChild<QAction*>(QStringLiteral("mnuExit"))->trigger();
        else
            rig.mainWindow().close();
    };
    MomentAction action(rig, window, moment, [&] {
        if (moment == Moment::CancelMessageUp) {
            rig.messages().onMessage([&](const MessageRecorder::Message&) { exitNow(); });
            QTest::mouseClick(Rig::cancelButton(window), Qt::LeftButton);
        } else {
            exitNow();
        }
    });
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QVERIFY(action.reach());
    QTRY_COMPARE_WITH_TIMEOUT(rig.endCount(), 1, kWaitMs);
    QCOMPARE(rig.endCount(), 1);
    QVERIFY(rig.mainWindow().hasEnded());

    // Released: another program can take the port at once.
    QVERIFY(!rig.portOpen());
    {
        QSerialPort other(rig.link());
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
    }
    // Stored: the position the window had.
    const QPoint position = rig.mainWindow().pos();
    const auto stored = [&](const char* key) {
        return rig.store().value(QLatin1String(key)).toString().toDouble();
    };
    QCOMPARE(qRound(stored("Startup/Left") * rig.mainWindow().logicalDpiX() / 1440.0),
             position.x());
    QCOMPARE(qRound(stored("Startup/Top") * rig.mainWindow().logicalDpiY() / 1440.0), position.y());

    // Nothing more happens: no byte, no message, the send window gone.
    const QByteArray received = settled(rig);
    QCOMPARE(writtenAfterEnd, 0);
    QVERIFY(received.size() <= written);
    RIG_OK(prefixProblem(received, file));
    QVERIFY(received.size() < file.size());
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    const qsizetype expected = moment == Moment::CancelMessageUp ? 1 : 0;
    QVERIFY2(rig.messages().count() == expected, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.endCount(), 1);
}

void TogetherFaults::settingsMidTransfer_data()
{
    QTest::addColumn<Moment>("moment");
    QTest::newRow("mid-transfer") << Moment::MidTransfer;
    QTest::newRow("inside a pause") << Moment::InsidePause;
}

// The settings window takes the port: the transfer stops and says so.
void TogetherFaults::settingsMidTransfer()
{
    QFETCH(Moment, moment);
    const bool pause = moment == Moment::InsidePause;
    const QByteArray file = randomBytes(fileSizeFor(moment));
    Rig rig;
    QPointer<SendWindow> window = startWithFile(rig, file, pause ? kAnswering : kSlowLine);
    QVERIFY(window);
    TransferEngine::Outcome outcome = TransferEngine::Outcome::Running;
    QObject::connect(&window->engine(), &TransferEngine::finished,
                     [&](TransferEngine::Outcome o) { outcome = o; });
    QPointer<SettingsWindow> settings;
    MomentAction action(rig, window, moment, [&] {
        rig.mainWindow().findChild<QAction*>(QStringLiteral("mnuSetting"))->trigger();
        settings = rig.mainWindow().settingsWindow();
    });
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QVERIFY(action.reach());
    QVERIFY(settings && settings->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QCOMPARE(outcome, TransferEngine::Outcome::Failed);
    QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.messages().first().text, kFailureText);
    QCOMPARE(rig.messages().first().title, kFailureTitle);
    const QByteArray received = settled(rig);
    RIG_OK(prefixProblem(received, file));
    QVERIFY(received.size() < file.size());

    RIG_OK(rig.cycleSettings());
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
}

// Another file clicked while one is being sent: the running transfer goes on with the file
// it shows, whole; the other one is sent by the next window.
void TogetherFaults::secondFileMidTransfer()
{
    // Too big to be gone by the time the pocket computer has its first kilobyte.
    const QByteArray first = randomBytes(midFileSize());
    const QByteArray second = randomBytes(700);
    Rig rig;
    QVERIFY2(rig.plugIn({QStringLiteral("--rate"), QStringLiteral("20000")}),
             qPrintable(rig.sim().errorString()));
    rig.startUp();
    rig.writeFile(QStringLiteral("ONE.BIN"), first);
    const QString secondPath = rig.writeFile(QStringLiteral("TWO.BIN"), second);
    QPointer<SendWindow> window = rig.open(QStringLiteral("ONE.BIN"));
    QVERIFY(window);
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QVERIFY(rig.sim().waitForCount(1000, kLongWait));

    QCOMPARE(rig.click(QStringLiteral("TWO.BIN")), window.data());
    QCOMPARE(rig.mainWindow().chosenPath(), secondPath);
    QCOMPARE(window->windowTitle(), QStringLiteral("ONE.BINの送信"));
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), int(std::chrono::milliseconds(kLongWait).count()));
    QCOMPARE(rig.messages().count(), 0);
    QVERIFY(rig.sim().waitForCount(first.size(), kLongWait));
    QCOMPARE(settled(rig), first);

    QPointer<SendWindow> next = rig.click(QStringLiteral("TWO.BIN"));
    QVERIFY(next);
    QCOMPARE(next->windowTitle(), QStringLiteral("TWO.BINの送信"));
    QTest::mouseClick(Rig::startButton(next), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(next.isNull(), kWaitMs);
    QVERIFY(rig.sim().waitForCount(first.size() + second.size(), kLongWait));
    QCOMPARE(settled(rig), first + second);
    QCOMPARE(rig.messages().count(), 0);
}

void TogetherFaults::eventsWhileARealBoxIsUp_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("cable pulled while the cancel message is up") << "pull";
    QTest::newRow("send window closed while the cancel message is up") << "close";
    QTest::newRow("bytes arrive while the cancel message is up") << "answer";
}

// The boxes run an event loop of their own: whatever that loop delivers meanwhile must not
// resume the transfer or bring up a second box.
void TogetherFaults::eventsWhileARealBoxIsUp()
{
    QFETCH(QString, during);
    const QByteArray file = randomBytes(midFileSize());
    Rig rig;
    QStringList args = kSlowLine;
    if (during == u"answer")
        args += {QStringLiteral("--answer-after"), QStringLiteral("1000"),
                 QStringLiteral("--answer"), QStringLiteral("0d0a")};
    QPointer<SendWindow> window = startWithFile(rig, file, args);
    QVERIFY(window);
    BoxAnswerer boxes;
    int writtenWhileUp = 0;
    bool up = false;
    QObject::connect(&window->engine(), &TransferEngine::byteWritten,
                     [&] { writtenWhileUp += up ? 1 : 0; });
    bool sendingWhileUp = false;
    boxes.whileUp([&] {
        up = true;
        // The box comes after the transfer has stopped, not from inside it.
        sendingWhileUp = window && window->engine().isRunning();
        if (during == u"pull")
            rig.pullCable();
        else if (during == u"close" && window)
            window->close();
    });
    kibro::SerialPort& port = rig.mainWindow().serialPort();
    bool answered = false;
    if (during == u"answer") {
        // The pocket computer has a quarter of a second of line to go before it answers; the
        // box waits for the answer, so it comes in through the box's own loop.
        boxes.holdWhile([&] { return !(answered = port.inBufferCount() > 0); });
    }
    const TransferEngine* engine = &window->engine();
    QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !window || engine->bytesSent() > 1100; }, kWaitMs));
    QVERIFY(window);
    QTest::mouseClick(Rig::cancelButton(window), Qt::LeftButton);
    // The engine goes with its window: no box about this transfer can come after.
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QCOMPARE(answered, during == u"answer");

    QVERIFY2(boxes.seen().size() == 1, qPrintable(MessageRecorder::describe(boxes.seen())));
    QCOMPARE(boxes.seen().first().text, kCancelText);
    QCOMPARE(boxes.seen().first().title, kCancelTitle);
    QCOMPARE(writtenWhileUp, 0);
    QVERIFY(!sendingWhileUp);
    if (during != u"pull") {
        const QByteArray received = settled(rig);
        RIG_OK(prefixProblem(received, file));
        QVERIFY(received.size() < file.size());
    }
}

QTEST_MAIN(TogetherFaults)
#include "tst_faults_together.moc"
