#include "conversions.h"
#include "errors.h"

#include <QTest>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

using kibro::ErrorNumber;
using kibro::KibroError;

namespace {

// The error number a conversion throws, or None when it succeeds.
template <typename Conversion> ErrorNumber failureOf(Conversion&& conversion)
{
    try {
        conversion();
    } catch (const KibroError& e) {
        return e.number();
    }
    return ErrorNumber::None;
}

} // namespace

class TestConversions : public QObject
{
    Q_OBJECT

private slots:
    void toInt16_data();
    void toInt16();
    void toSingle_data();
    void toSingle();
    void singleToText_data();
    void singleToText();
    void singleToTextRoundTripsEveryScale();
};

void TestConversions::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<ErrorNumber>("error");

    const auto ok = ErrorNumber::None;
    QTest::newRow("plain") << "1" << 1 << ok;
    QTest::newRow("zero") << "0" << 0 << ok;
    QTest::newRow("blanks around") << "  3 " << 3 << ok;
    QTest::newRow("negative") << "-1" << -1 << ok;
    QTest::newRow("half down to even") << "2.5" << 2 << ok;
    QTest::newRow("half up to even") << "3.5" << 4 << ok;
    QTest::newRow("negative half to even") << "-2.5" << -2 << ok;
    QTest::newRow("below half") << "1.49" << 1 << ok;
    QTest::newRow("above half") << "1.51" << 2 << ok;
    QTest::newRow("exponent") << "1e3" << 1000 << ok;
    QTest::newRow("largest") << "32767" << 32767 << ok;
    QTest::newRow("smallest") << "-32768" << -32768 << ok;
    QTest::newRow("smallest by rounding") << "-32768.5" << -32768 << ok;
    QTest::newRow("rounds past largest") << "32767.5" << 0 << ErrorNumber::Overflow;
    QTest::newRow("one past largest") << "32768" << 0 << ErrorNumber::Overflow;
    QTest::newRow("one past smallest") << "-32769" << 0 << ErrorNumber::Overflow;
    QTest::newRow("far too large") << "99999" << 0 << ErrorNumber::Overflow;
    QTest::newRow("letters") << "abc" << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("empty") << "" << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("blanks only") << "   " << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("trailing garbage") << "1x" << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("two numbers") << "1 2" << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("infinity") << "inf" << 0 << ErrorNumber::TypeMismatch;
    QTest::newRow("not a number") << "nan" << 0 << ErrorNumber::TypeMismatch;
}

void TestConversions::toInt16()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QFETCH(ErrorNumber, error);

    qint16 value = 0;
    QCOMPARE(failureOf([&] { value = kibro::toInt16(text); }), error);
    if (error == ErrorNumber::None)
        QCOMPARE(value, expected);
}

void TestConversions::toSingle_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("expected");
    QTest::addColumn<ErrorNumber>("error");

    const auto ok = ErrorNumber::None;
    QTest::newRow("default position") << "1000" << 1000.0F << ok;
    QTest::newRow("fraction") << "12.25" << 12.25F << ok;
    QTest::newRow("blanks around") << " -5000.5 " << -5000.5F << ok;
    QTest::newRow("exponent") << "1.5e3" << 1500.0F << ok;
    QTest::newRow("large") << "1e30" << 1e30F << ok;
    QTest::newRow("single rounding") << "0.1" << 0.1F << ok;
    QTest::newRow("beyond single") << "1e39" << 0.0F << ErrorNumber::Overflow;
    QTest::newRow("beyond single negative") << "-1e39" << 0.0F << ErrorNumber::Overflow;
    QTest::newRow("letters") << "abc" << 0.0F << ErrorNumber::TypeMismatch;
    QTest::newRow("empty") << "" << 0.0F << ErrorNumber::TypeMismatch;
    QTest::newRow("trailing garbage") << "100px" << 0.0F << ErrorNumber::TypeMismatch;
    QTest::newRow("infinity") << "inf" << 0.0F << ErrorNumber::TypeMismatch;
    QTest::newRow("not a number") << "nan" << 0.0F << ErrorNumber::TypeMismatch;
}

void TestConversions::toSingle()
{
    QFETCH(QString, text);
    QFETCH(float, expected);
    QFETCH(ErrorNumber, error);

    float value = 0;
    QCOMPARE(failureOf([&] { value = kibro::toSingle(text); }), error);
    if (error == ErrorNumber::None)
        QCOMPARE(value, expected);
}

void TestConversions::singleToText_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("default position") << 1000.0F << "1000";
    QTest::newRow("a pixel's worth") << 1005.0F << "1005";
    QTest::newRow("zero") << 0.0F << "0";
    QTest::newRow("negative") << -4500.0F << "-4500";
    QTest::newRow("fraction") << 12.25F << "12.25";
    QTest::newRow("shortest form") << 0.1F << "0.1";
    QTest::newRow("third") << 1.0F / 3.0F << "0.33333334";
    QTest::newRow("far off screen") << 123456.0F << "123456";
}

void TestConversions::singleToText()
{
    QFETCH(float, value);
    QFETCH(QString, text);

    const QString written = kibro::singleToText(value);
    QCOMPARE(written, text);
    QCOMPARE(kibro::toSingle(written), value);
}

// A stored position must come back as the very same number: try values of every magnitude
// with many different mantissas.
void TestConversions::singleToTextRoundTripsEveryScale()
{
    const auto lowest = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::denorm_min());
    const auto highest = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::max());
    int checked = 0;
    for (std::uint64_t bits = lowest; bits <= highest; bits += 65521) {
        for (const float value : {std::bit_cast<float>(static_cast<std::uint32_t>(bits)),
                                  -std::bit_cast<float>(static_cast<std::uint32_t>(bits))}) {
            const QString text = kibro::singleToText(value);
            const float back = kibro::toSingle(text);
            if (std::bit_cast<std::uint32_t>(back) != std::bit_cast<std::uint32_t>(value))
                QFAIL(qPrintable(QStringLiteral("%1 read back as %2")
                                     .arg(text)
                                     .arg(static_cast<double>(back), 0, 'g', 9)));
            ++checked;
        }
    }
    QVERIFY(checked > 60000);
}

QTEST_GUILESS_MAIN(TestConversions)
#include "tst_conversions.moc"
