// A request to end comes to the event loop once, and leaves the next one to the system.
#include "termination.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

class TerminationTest : public QObject
{
    Q_OBJECT

private slots:
    void firstRequestIsHeardSecondIsTheSystems_data();
    void firstRequestIsHeardSecondIsTheSystems();
};

namespace {

bool systemHandles(int number)
{
    struct sigaction action = {};
    return ::sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_DFL;
}

} // namespace

void TerminationTest::firstRequestIsHeardSecondIsTheSystems_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TerminationTest::firstRequestIsHeardSecondIsTheSystems()
{
    QFETCH(int, signalNumber);
    const int all[] = {SIGINT, SIGTERM, SIGHUP};
    {
        kibro::TerminationRequests requests;
        QSignalSpy heard(&requests, &kibro::TerminationRequests::requested);
        for (const int number : all)
            QVERIFY(!systemHandles(number));
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(heard.wait(5000));
        QCOMPARE(heard.count(), 1);
        QCOMPARE(heard.first().first().toInt(), signalNumber);
        // Whichever comes next ends the program at once.
        for (const int number : all)
            QVERIFY(systemHandles(number));
    }
    for (const int number : all)
        QVERIFY(systemHandles(number));
}

QTEST_GUILESS_MAIN(TerminationTest)
#include "tst_termination.moc"
