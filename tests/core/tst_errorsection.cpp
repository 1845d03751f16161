#include "errors.h"
#include "errorsection.h"

#include <QTest>

#include <stdexcept>

using kibro::ErrorNumber;
using kibro::ErrorSection;
using kibro::KibroError;

namespace {

void fail(ErrorNumber number)
{
    throw KibroError(number, QStringLiteral("refused"));
}

} // namespace

class TestErrorSection : public QObject
{
    Q_OBJECT

private slots:
    void startsClear();
    void failingStatementIsSkippedAndNextRuns();
    void laterSuccessKeepsNumber();
    void latestFailureWins();
    void otherExceptionsCountAsFailures();
};

void TestErrorSection::startsClear()
{
    {
        ErrorSection earlier;
        QVERIFY(!earlier([] { fail(ErrorNumber::DeviceUnavailable); }));
        QCOMPARE(earlier.lastError(), 8010);
    }
    // Entering a new section starts from 0, whatever happened before.
    ErrorSection section;
    QCOMPARE(section.lastError(), 0);
    QVERIFY(section([] {}));
    QCOMPARE(section.lastError(), 0);
}

void TestErrorSection::failingStatementIsSkippedAndNextRuns()
{
    ErrorSection section;
    QStringList ran;
    const bool first = section([&] {
        ran << "before";
        fail(ErrorNumber::PortNotOpen);
        ran << "after the failure";
    });
    const bool second = section([&] { ran << "next"; });

    QVERIFY(!first);
    QVERIFY(second);
    QCOMPARE(ran, (QStringList{"before", "next"}));
    QCOMPARE(section.lastError(), static_cast<int>(ErrorNumber::PortNotOpen));
}

void TestErrorSection::laterSuccessKeepsNumber()
{
    // As at start-up: a refused port number, then settings and open that succeed.
    ErrorSection section;
    int commPort = 1;
    section([&] {
        fail(ErrorNumber::TypeMismatch);
        commPort = 7;
    });
    section([&] {});
    section([&] {});
    QCOMPARE(commPort, 1);
    QCOMPARE(section.lastError(), static_cast<int>(ErrorNumber::TypeMismatch));
}

void TestErrorSection::latestFailureWins()
{
    ErrorSection section;
    section([] { fail(ErrorNumber::InvalidSettings); });
    section([] {});
    section([] { fail(ErrorNumber::DeviceUnavailable); });
    QCOMPARE(section.lastError(), static_cast<int>(ErrorNumber::DeviceUnavailable));
}

void TestErrorSection::otherExceptionsCountAsFailures()
{
    ErrorSection section;
    bool nextRan = false;
    QVERIFY(!section([] { throw std::length_error("too long"); }));
    QVERIFY(section([&] { nextRan = true; }));
    QVERIFY(nextRan);
    QVERIFY(section.lastError() != 0);
}

QTEST_GUILESS_MAIN(TestErrorSection)
#include "tst_errorsection.moc"
