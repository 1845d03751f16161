// A damaged settings store: every key empty, not a number, huge, negative or with stray
// bytes, the whole file garbage, unreadable or unwritable. The program starts, runs and ends.
#include "faultrig.h"

#include <cmath>
#include <sys/stat.h>

using namespace faults;

namespace {

constexpr double kDefault = 1000.0;

[[nodiscard]] int toPixelsX(const QWidget& widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget.logicalDpiX() / 1440.0));
}

[[nodiscard]] int toPixelsY(const QWidget& widget, double twips)
{
    return static_cast<int>(std::lround(twips * widget.logicalDpiY() / 1440.0));
}

QByteArray startup(const QByteArray& lines)
{
    return "[Startup]\n" + lines + "\n";
}

// Starts the program on the store as it is, checks the start-up, ends it; returns the window
// position it had, in pixels.
QPoint runOnce(Rig& rig, double left, double top, const QString& message)
{
    rig.startUp();
    kibro::MainWindow& form = rig.mainWindow();
    [&] {
        QVERIFY(form.isVisible());
        QVERIFY(!form.hasEnded());
        if (message.isEmpty()) {
            QVERIFY2(rig.messages().count() == 0, qPrintable(rig.messages().describe()));
            QVERIFY(rig.portOpen());
        } else {
            QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
            QCOMPARE(rig.messages().first().text, message);
            QCOMPARE(rig.messages().first().title, kOpenErrorTitle);
            QVERIFY(form.settingsWindow() && form.settingsWindow()->isVisible());
        }
        if (!std::isnan(left))
            QCOMPARE(form.pos().x(), toPixelsX(form, left));
        if (!std::isnan(top))
            QCOMPARE(form.pos().y(), toPixelsY(form, top));
    }();
    const QPoint position = form.pos();
    [] { QVERIFY(drainEvents()); }(); // the event loop runs with the damage in place
    form.onExitTriggered();
    [&] {
        QCOMPARE(rig.endCount(), 1);
        QVERIFY(!rig.portOpen());
    }();
    return position;
}

// The next run finds the position the last one left, whatever was there before.
void verifyNextRun(Rig& rig, QPoint position)
{
    for (const char* key : {"Startup/Left", "Startup/Top"}) {
        bool number = false;
        const double value = rig.store().value(QLatin1String(key)).toString().toDouble(&number);
        QVERIFY2(number && std::isfinite(value), key);
    }
    kibro::MainWindow next;
    next.setEndProgram([] {});
    next.startUp();
    QCOMPARE(next.pos(), position);
    next.onExitTriggered();
}

} // namespace

class StoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void damagedStore_data();
    void damagedStore();
    void storeIsADirectory();
    void unreadableOrUnwritableStore();
};

void StoreFaults::damagedStore_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("top");
    QTest::addColumn<QString>("message");

    const double nan = std::nan("");
    const QString none;
    const QString com1 = openFailedText(1);
    const QByteArray digits(400, '9');
    const QByteArray stray("12\x01\xff\x7f\x1b[0m", 10);

    for (const char* key : {"Left", "Top"}) {
        const bool isLeft = QByteArray(key) == "Left";
        const auto row = [&](const char* what, const QByteArray& value, double expected) {
            QTest::addRow("%s %s", key, what)
                << startup(QByteArray(key) + '=' + value) << (isLeft ? expected : kDefault)
                << (isLeft ? kDefault : expected) << none;
        };
        row("empty", "", kDefault);
        row("not a number", "left of centre", kDefault);
        row("huge", digits, kDefault);
        row("beyond single precision", "1e39", kDefault);
        row("not finite", "inf", kDefault);
        row("negative", "-2880", -2880);
        row("stray bytes", stray, kDefault);
        row("far off any screen", "1e30", nan);
    }

    const auto portRow = [&](const char* what, const QByteArray& value, const QString& message) {
        QTest::addRow("Port %s", what)
            << startup("Port=" + value) << kDefault << kDefault << message;
    };
    portRow("empty", "", com1);
    portRow("not a number", "one", com1);
    portRow("huge", digits, com1);
    portRow("beyond 16 bits", "70000", com1);
    portRow("negative", "-1", openFailedText(-1));
    portRow("stray bytes", QByteArray("1\x01\xfe", 3), com1);

    const auto settingsRow = [&](const char* what, const QByteArray& value) {
        QTest::addRow("Settings %s", what)
            << startup("Settings=" + value) << kDefault << kDefault << com1;
    };
    settingsRow("empty", "");
    settingsRow("not a line format", "fast please");
    settingsRow("huge", QByteArray(64 * 1024, '9') + ",N,8,1");
    settingsRow("negative rate", "-9600,N,8,1");
    settingsRow("rate zero", "0,N,8,1");
    settingsRow("stray bytes", QByteArray("9600,N,8,1\x01\xfe", 12));

    QByteArray junk(4096, Qt::Uninitialized);
    QRandomGenerator seeded(1234);
    for (char& byte : junk)
        byte = static_cast<char>(seeded.bounded(256));
    QTest::newRow("whole file random bytes") << junk << kDefault << kDefault << none;
    QTest::newRow("whole file NUL bytes") << QByteArray(4096, '\0') << kDefault << kDefault << none;
    QTest::newRow("section name broken")
        << QByteArray("[Start\xff\xfeup]\nLeft=2000\n") << kDefault << kDefault << none;
    QTest::newRow("section never closed")
        << QByteArray("[Startup\nLeft=2000\nTop=2000\n") << 2000.0 << 2000.0 << none;
    QTest::newRow("cut short in a value")
        << QByteArray("[Startup]\nLeft=2000\nTop=\"30") << 2000.0 << nan << none;
    QTest::newRow("a line of a mebibyte")
        << startup("Junk=" + QByteArray(1 << 20, 'x') + "\nLeft=2000") << 2000.0 << kDefault
        << none;
}

void StoreFaults::damagedStore()
{
    QFETCH(QByteArray, content);
    QFETCH(double, left);
    QFETCH(double, top);
    QFETCH(QString, message);

    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QVERIFY(rig.store().writeRaw(content));
    const QPoint position = runOnce(rig, left, top, message);
    if (QTest::currentTestFailed())
        return;
    verifyNextRun(rig, position);
}

// Neither readable nor writable as a file, even to root: the program starts on the defaults
// and still ends.
void StoreFaults::storeIsADirectory()
{
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    QVERIFY(QDir().mkpath(rig.store().fileName() + QStringLiteral("/inside")));
    runOnce(rig, kDefault, kDefault, {});
    QVERIFY(QFileInfo(rig.store().fileName()).isDir());
}

// Run as user nobody by unreadableOrUnwritableStore, where file modes really refuse.
class UnprivilegedStore : public QObject
{
    Q_OBJECT

private slots:
    void refusedStore_data()
    {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<double>("expected");
        QTest::newRow("store unreadable") << 0 << 0700 << kDefault;
        QTest::newRow("store read-only") << 0444 << 0700 << 2000.0;
        QTest::newRow("store folder read-only") << 0644 << 0500 << 2000.0;
    }
    void refusedStore()
    {
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(double, expected);
        QVERIFY2(::geteuid() != 0, "this case must not run as root");

        Rig rig;
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
        QVERIFY(rig.store().writeRaw(startup("Left=2000\nTop=2000")));
        const QByteArray path = QFile::encodeName(rig.store().fileName());
        const QByteArray folder = QFile::encodeName(rig.store().directory());
        QVERIFY(::chmod(path.constData(), mode_t(fileMode)) == 0);
        QVERIFY(::chmod(folder.constData(), mode_t(folderMode)) == 0);
        runOnce(rig, expected, expected, {});
        ::chmod(folder.constData(), 0700);
        ::chmod(path.constData(), 0600);
        if (QTest::currentTestFailed())
            return;
        // Nothing reached a store that refuses writing.
        QFile file(rig.store().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), startup("Left=2000\nTop=2000"));
    }
};

void StoreFaults::unreadableOrUnwritableStore()
{
    FAULT_UNPRIVILEGED(QStringList{QStringLiteral("refusedStore")}, QProcessEnvironment());
}

FAULTS_MAIN(StoreFaults, UnprivilegedStore)
#include "tst_faults_store.moc"
