// One send job, held in each phase while something happens to it: what it reports, and what
// reached the pocket computer.
#include "pocketsim.h"
#include "sendjob.h"
#include "serialport.h"
#include "testdata.h"
#include "teststore.h"

#include <QSerialPort>
#include <QtTest>

using kibro::SendJob;
using Outcome = kibro::TransferEngine::Outcome;

class SendJobTest : public QObject
{
    Q_OBJECT

private slots:
    void eventInPhase_data();
    void eventInPhase();
};

void SendJobTest::eventInPhase_data()
{
    QTest::addColumn<SendJob::Phase>("phase");
    QTest::addColumn<QString>("event");
    // No outcome: nothing is reported.
    QTest::addColumn<std::optional<Outcome>>("outcome");
    QTest::addColumn<SendJob::Failure>("failure");
    // What reached the pocket computer: "none", "part" or "all" of the file.
    QTest::addColumn<QString>("went");
    using P = SendJob::Phase;
    using F = SendJob::Failure;
    const std::optional<Outcome> none;
    for (const P phase : {P::Opening, P::Reading, P::Sending}) {
        const bool sending = phase == P::Sending;
        const QString some = sending ? QStringLiteral("part") : QStringLiteral("none");
        const char* name = QMetaEnum::fromType<P>().valueToKey(int(phase));
        QTest::addRow("%s, cancel", name)
            << phase << "cancel" << std::optional(Outcome::Cancelled) << F::None << some;
        QTest::addRow("%s, abandon", name) << phase << "abandon" << none << F::None << some;
        // Lost before the port is looked at: opened again, or named when it cannot be.
        QTest::addRow("%s, line lost", name)
            << phase << "line lost"
            << std::optional(phase == P::Opening ? Outcome::Completed : Outcome::Failed)
            << (phase == P::Opening ? F::None : F::Line)
            << (phase == P::Opening ? QStringLiteral("all") : some);
        QTest::addRow("%s, port lost", name)
            << phase << "port lost" << std::optional(Outcome::Failed)
            << (phase == P::Opening ? F::Port : F::Line) << some;
        // Once read, the bytes are in hand.
        QTest::addRow("%s, file gone", name)
            << phase << "file gone" << std::optional(sending ? Outcome::Completed : Outcome::Failed)
            << (sending ? F::None : F::File) << (sending ? QStringLiteral("all") : some);
    }
}

void SendJobTest::eventInPhase()
{
    QFETCH(SendJob::Phase, phase);
    QFETCH(QString, event);
    QFETCH(std::optional<Outcome>, outcome);
    QFETCH(SendJob::Failure, failure);
    QFETCH(QString, went);
    TestStore store;
    PocketSim sim;
    const QString link = store.directory() + QStringLiteral("/COM1");
    QVERIFY2(sim.start(link), qPrintable(sim.errorString()));
    const QString path = store.directory() + QStringLiteral("/F.BIN");
    // Mid-file at the first turn of the event loop, however fast the pocket computer takes it.
    const QByteArray bytes = testdata::randomBytes(testdata::midFileSize());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    kibro::SerialPort serial;
    serial.setDevice(link);
    serial.open();
    SendJob job(serial, SendJob::PortUse::Kept);
    const auto happen = [&] {
        if (event == u"cancel")
            job.cancel();
        else if (event == u"abandon")
            job.abandon();
        else if (event == u"file gone")
            QVERIFY(QFile::remove(path));
        if (event == u"port lost") {
            QVERIFY(sim.stop());
            QFile::remove(link);
        }
        if (event.endsWith(u"lost"))
            emit serial.findChild<QSerialPort*>()->errorOccurred(QSerialPort::ResourceError);
    };
    QList<SendJob::Phase> seen;
    connect(&job, &SendJob::phaseChanged, this, [&](SendJob::Phase now) {
        seen.append(now);
        if (now == phase && phase == SendJob::Phase::Sending)
            QTimer::singleShot(0, this, happen);
        else if (now == phase)
            happen();
    });
    std::optional<SendJob::Result> result;
    connect(&job, &SendJob::finished, this, [&](const SendJob::Result& r) { result = r; });
    job.start(kibro::toNativePath(path));
    QTRY_VERIFY_WITH_TIMEOUT(result || job.phase() == SendJob::Phase::Done, 60000);
    QVERIFY(testdata::drainEvents());

    QCOMPARE(result.has_value(), outcome.has_value());
    const QByteArray received = sim.isRunning() ? sim.drain().value_or("?") : sim.received();
    if (result) {
        QCOMPARE(result->outcome, *outcome);
        QCOMPARE(result->failure, failure);
        QVERIFY(received.size() <= result->sent);
        // The port that cannot be had is named, and no read comes before it.
        if (failure == SendJob::Failure::Port) {
            QVERIFY2(result->reason.startsWith(link + u':'), qPrintable(result->reason));
            QVERIFY(!seen.contains(SendJob::Phase::Reading));
        }
    }
    QCOMPARE(testdata::prefixProblem(received, bytes), QString());
    if (went == u"none")
        QCOMPARE(received.size(), 0);
    else
        QCOMPARE(received.size() == bytes.size(), went == u"all");
    QVERIFY(went == u"none" || !received.isEmpty());
}

QTEST_GUILESS_MAIN(SendJobTest)
#include "tst_sendjob.moc"
