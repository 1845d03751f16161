// A request to end comes to the event loop once, and leaves the next one to what was there
// before: the system's handling, the caller's handler, or an ignored signal left ignored.
#include "termination.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

class TerminationTest : public QObject
{
    Q_OBJECT

private slots:
    void firstRequestIsHeardSecondIsWhatWasThere_data();
    void firstRequestIsHeardSecondIsWhatWasThere();
};

namespace {

constexpr int kAll[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void callersHandler(int) {}

using Handler = void (*)(int);

Handler handlerOf(int number)
{
    struct sigaction action = {};
    ::sigaction(number, nullptr, &action);
    return action.sa_handler;
}

} // namespace

void TerminationTest::firstRequestIsHeardSecondIsWhatWasThere_data()
{
    QTest::addColumn<int>("signalNumber");
    // A signal ignored before, as nohup and a script's background job leave SIGHUP and SIGINT.
    QTest::addColumn<int>("ignored");
    // SIGINT had a handler of the caller's before.
    QTest::addColumn<bool>("ownHandler");
    QTest::newRow("SIGTERM") << int(SIGTERM) << 0 << false;
    QTest::newRow("SIGINT") << int(SIGINT) << 0 << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 0 << false;
    QTest::newRow("nohup: SIGHUP stays ignored") << int(SIGTERM) << int(SIGHUP) << false;
    QTest::newRow("background job: SIGINT stays ignored") << int(SIGTERM) << int(SIGINT) << false;
    QTest::newRow("the caller's SIGINT handler comes back") << int(SIGTERM) << 0 << true;
}

void TerminationTest::firstRequestIsHeardSecondIsWhatWasThere()
{
    QFETCH(int, signalNumber);
    QFETCH(int, ignored);
    QFETCH(bool, ownHandler);
    // The test library's own handlers, put back after the row.
    QMap<int, struct sigaction> library;
    for (const int number : kAll)
        ::sigaction(number, nullptr, &library[number]);
    const auto restore = qScopeGuard([&library] {
        for (const int number : kAll)
            ::sigaction(number, &library[number], nullptr);
    });
    for (const int number : kAll)
        std::signal(number, SIG_DFL);
    if (ignored != 0)
        std::signal(ignored, SIG_IGN);
    if (ownHandler)
        std::signal(SIGINT, callersHandler);
    QMap<int, Handler> before;
    for (const int number : kAll)
        before[number] = handlerOf(number);
    {
        kibro::TerminationRequests requests;
        QSignalSpy heard(&requests, &kibro::TerminationRequests::requested);
        for (const int number : kAll)
            QCOMPARE(handlerOf(number) == before[number], number == ignored);
        // Were it heard, it would come before the request the row makes.
        if (ignored != 0)
            QCOMPARE(::raise(ignored), 0);
        QCOMPARE(::raise(signalNumber), 0);
        QVERIFY(heard.wait(5000));
        QCOMPARE(heard.count(), 1);
        QCOMPARE(heard.first().first().toInt(), signalNumber);
        // Whichever comes next meets what was there before.
        for (const int number : kAll)
            QVERIFY(handlerOf(number) == before[number]);
    }
    for (const int number : kAll)
        QVERIFY(handlerOf(number) == before[number]);
}

QTEST_GUILESS_MAIN(TerminationTest)
#include "tst_termination.moc"
