// Files that change, vanish or refuse between the click and START, and files of awkward
// names and contents: the pocket computer gets the file as it is at START, whole, or nothing
// and the user is told why.
#include "faultrig.h"

#include <QLabel>

#include <cerrno>
#include <sys/stat.h>

using namespace faults;
using kibro::SendWindow;

namespace {

enum class Change { None, Vanish, Shorter, Longer, Directory, Fifo, TooLarge };
enum class When { AtClick, AtStart };

const QString kDeniedToRoot = QStringLiteral("/proc/sys/vm/compact_memory");

// Does to the file what the row says; the bytes a START would now send.
QString apply(Change change, const QString& path, QByteArray* content)
{
    const QByteArray encoded = QFile::encodeName(path);
    switch (change) {
    case Change::None:
        return {};
    case Change::Vanish:
        return QFile::remove(path) ? QString() : QStringLiteral("cannot remove");
    case Change::Shorter:
    case Change::Longer: {
        *content =
            randomBytes(change == Change::Shorter ? content->size() / 3 : content->size() * 3);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(*content) != content->size())
            return QStringLiteral("cannot rewrite");
        return {};
    }
    case Change::Directory:
        return QFile::remove(path) && QDir().mkdir(path)
                   ? QString()
                   : QStringLiteral("cannot make a directory");
    case Change::Fifo:
        return QFile::remove(path) && ::mkfifo(encoded.constData(), 0600) == 0
                   ? QString()
                   : QStringLiteral("cannot make a FIFO");
    case Change::TooLarge: {
        // Sparse: one byte past what a 32-bit size can count, without the disk space.
        QFile file(path);
        return file.resize(qint64(1) << 31) ? QString() : QStringLiteral("cannot grow");
    }
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(When)

class FileFaults : public QObject
{
    Q_OBJECT

private slots:
    void fileCases_data();
    void fileCases();
    void refusedEvenToRoot();
    void noReadPermission();
    void folderVanishesUnderTheLists();
};

void FileFaults::fileCases_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Change>("change");
    QTest::addColumn<When>("when");
    QTest::addColumn<QString>("message");

    const QByteArray program = randomBytes(2000);
    const QString none;
    QTest::newRow("vanished before the click")
        << "GONE.BAS" << program << Change::Vanish << When::AtClick << kUnreadableText;
    QTest::newRow("vanished between click and START")
        << "GONE.BAS" << program << Change::Vanish << When::AtStart << kUnreadableText;
    QTest::newRow("replaced by a shorter one")
        << "EDIT.BAS" << program << Change::Shorter << When::AtStart << none;
    QTest::newRow("replaced by a longer one")
        << "EDIT.BAS" << program << Change::Longer << When::AtStart << none;
    QTest::newRow("a directory at the click")
        << "DIR.BAS" << program << Change::Directory << When::AtClick << kUnreadableText;
    QTest::newRow("a directory at START")
        << "DIR.BAS" << program << Change::Directory << When::AtStart << kUnreadableText;
    QTest::newRow("a FIFO at the click")
        << "PIPE.BAS" << program << Change::Fifo << When::AtClick << kUnreadableText;
    QTest::newRow("a FIFO at START")
        << "PIPE.BAS" << program << Change::Fifo << When::AtStart << kUnreadableText;
    QTest::newRow("too large at the click")
        << "HUGE.BIN" << program << Change::TooLarge << When::AtClick << kTooLargeText;
    QTest::newRow("too large at START")
        << "HUGE.BIN" << program << Change::TooLarge << When::AtStart << kTooLargeText;
    QTest::newRow("name with spaces")
        << " MY PROG 2.BAS " << program << Change::None << When::AtStart << none;
    QTest::newRow("Japanese name")
        << "プログラム１.BAS" << program << Change::None << When::AtStart << none;
    QTest::newRow("leading dash") << "-rf --all.BAS" << program << Change::None << When::AtStart
                                  << none;
    QTest::newRow("empty file") << "EMPTY.BAS" << QByteArray() << Change::None << When::AtStart
                                << none;
    QTest::newRow("all 256 byte values")
        << "BYTES.BIN" << allByteValues() << Change::None << When::AtStart << none;
    QTest::newRow("1 MiB") << "MEBI.BIN" << randomBytes(1 << 20) << Change::None << When::AtStart
                           << none;
}

void FileFaults::fileCases()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(Change, change);
    QFETCH(When, when);
    QFETCH(QString, message);

    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.startUp();
    QVERIFY(rig.portOpen());
    const QString path = rig.writeFile(name, content);
    QVERIFY(!path.isEmpty());
    QVERIFY(rig.list());

    if (when == When::AtClick)
        RIG_OK(apply(change, path, &content));
    QPointer<SendWindow> window = rig.click(name);
    if (when == When::AtClick && !message.isEmpty()) {
        QVERIFY(!window);
    } else {
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), name + QStringLiteral("の送信"));
        const QString details = window->findChild<QLabel*>(QStringLiteral("Label1"))->text();
        QCOMPARE(details.split(u'\n').value(0), QStringLiteral("FileName:") + name);
        if (when == When::AtStart)
            RIG_OK(apply(change, path, &content));
        QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(),
                                 int(std::chrono::milliseconds(kLongWait).count()));
    }

    if (message.isEmpty()) {
        QVERIFY2(rig.messages().count() == 0, qPrintable(rig.messages().describe()));
        const auto received = rig.sim().drain();
        QVERIFY(received);
        QCOMPARE(received->size(), content.size());
        QCOMPARE(sha256Hex(*received), sha256Hex(content));
    } else {
        QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
        QCOMPARE(rig.messages().first().text, message);
        QCOMPARE(rig.messages().first().title, kFileErrorTitle);
        QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
    }

    // Still running, and the next file goes through.
    QVERIFY(rig.portOpen());
    const qsizetype messages = rig.messages().count();
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
    QCOMPARE(rig.messages().count(), messages);
    rig.mainWindow().onExitTriggered();
    QCOMPARE(rig.endCount(), 1);
}

// A file the kernel will not read even to root: it is refused at the click, nothing is sent.
void FileFaults::refusedEvenToRoot()
{
    if (::access(QFile::encodeName(kDeniedToRoot).constData(), R_OK) == 0 || errno != EACCES)
        QSKIP("no file here that the kernel refuses to read, even to root");
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.startUp();
    const QFileInfo denied(kDeniedToRoot);
    QVERIFY(!rig.open(denied.fileName(), denied.path()));
    QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.messages().first().text, kUnreadableText);
    QCOMPARE(rig.messages().first().title, kFileErrorTitle);
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
}

// Run as user nobody by noReadPermission, where a mode of 0 really refuses.
class UnprivilegedFiles : public QObject
{
    Q_OBJECT

private slots:
    void unreadable_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("no read permission at the click") << false;
        QTest::newRow("read permission taken before START") << true;
    }
    void unreadable()
    {
        QFETCH(bool, atStart);
        QVERIFY2(::geteuid() != 0, "this case must not run as root");
        Rig rig;
        QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
        rig.startUp();
        const QString path = rig.writeFile(QStringLiteral("SECRET.BAS"), randomBytes(700));
        const QByteArray encoded = QFile::encodeName(path);
        if (!atStart)
            QVERIFY(::chmod(encoded.constData(), 0) == 0);
        QPointer<SendWindow> window = rig.open(QStringLiteral("SECRET.BAS"));
        if (atStart) {
            QVERIFY(window);
            QVERIFY(::chmod(encoded.constData(), 0) == 0);
            QTest::mouseClick(Rig::startButton(window), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
        } else {
            QVERIFY(!window);
        }
        QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
        QCOMPARE(rig.messages().first().text, kUnreadableText);
        QCOMPARE(rig.messages().first().title, kFileErrorTitle);
        QCOMPARE(rig.sim().drain().value_or("<not drained>"), QByteArray());
        RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
        rig.mainWindow().onExitTriggered();
        QCOMPARE(rig.endCount(), 1);
    }
};

void FileFaults::noReadPermission()
{
    FAULT_UNPRIVILEGED(QStringList{QStringLiteral("unreadable")}, QProcessEnvironment());
}

// The folder the lists show is deleted: its stale entries fail one by one with a message or
// leave the lists as they were, and the program goes on.
void FileFaults::folderVanishesUnderTheLists()
{
    Rig rig;
    QVERIFY2(rig.plugIn(), qPrintable(rig.sim().errorString()));
    rig.startUp();
    const QString folder = rig.folder() + QStringLiteral("/SUB");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/DEEPER")));
    QFile file(folder + QStringLiteral("/A.BAS"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("10 END\r\n") == 8);
    file.close();
    QVERIFY(rig.mainWindow().directoryList()->setPath(folder));
    QCOMPARE(rig.mainWindow().fileList()->count(), 1);

    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(!rig.click(QStringLiteral("A.BAS")));
    QVERIFY2(rig.messages().count() == 1, qPrintable(rig.messages().describe()));
    QCOMPARE(rig.messages().first().text, kUnreadableText);
    // The stale subdirectory entry cannot be opened; the lists stay where they were.
    QVERIFY(!rig.mainWindow().directoryList()->setPath(folder + QStringLiteral("/DEEPER")));
    QCOMPARE(QDir::cleanPath(rig.mainWindow().directoryList()->path()), QDir::cleanPath(folder));
    QCOMPARE(rig.mainWindow().fileList()->count(), 1);
    // Going up still works, and so does the next file.
    QVERIFY(rig.mainWindow().directoryList()->setPath(rig.folder()));
    RIG_OK(rig.sendWhole(QStringLiteral("NEXT.BAS"), randomBytes(300)));
}

FAULTS_MAIN(FileFaults, UnprivilegedFiles)
#include "tst_faults_files.moc"
