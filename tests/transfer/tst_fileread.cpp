// Reading a file for sending: by the exact bytes of its path, whole, held once.
#include "fileread.h"
#include "rawfiles.h"
#include "readwhole.h"
#include "testdata.h"

#include <QtTest>

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using kibro::FileCheck;
using kibro::NativePath;

Q_DECLARE_METATYPE(kibro::FileCheck)

class FileReadTest : public QObject
{
    Q_OBJECT

private slots:
    void readsWhole_data();
    void readsWhole();
    void takesChangesWhileRead_data();
    void takesChangesWhileRead();
    void refusesWhatCannotBeSent_data();
    void refusesWhatCannotBeSent();
};

void FileReadTest::readsWhole_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray all = testdata::allByteValues();
    QTest::newRow("empty") << QByteArray("EMPTY.BAS") << QByteArray();
    QTest::newRow("all byte values") << QByteArray("ALL.BIN") << all;
    QTest::newRow("over a MiB, odd size")
        << QByteArray("BIG.BIN") << testdata::randomBytes(3 * 1024 * 1024 + 17);
    QTest::newRow("Shift-JIS name") << QByteArray("\x83\x65\x83\x58\x83\x67.BAS") << all;
    QTest::newRow("stray byte in the name") << QByteArray("A\xFF.BAS") << all;
}

void FileReadTest::readsWhole()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, bytes);
    RawTemporaryDir dir;
    const NativePath path = kibro::childPath(dir.path(), name);
    QVERIFY(writeRawFile(path, bytes));
    // The neighbour a lossy decoding of the name would find instead.
    QVERIFY(writeRawFile(kibro::childPath(dir.path(), "A\xEF\xBF\xBD.BAS"), "wrong"));

    const kibro::FileFacts facts = kibro::inspectFile(path);
    QCOMPARE(facts.check, FileCheck::Ok);
    QCOMPARE(facts.size, bytes.size());
    QVERIFY(qAbs(facts.modified.secsTo(QDateTime::currentDateTime())) < 600);
    const kibro::FileRead read = kibro::readWholeFile(path);
    QCOMPARE(read.check, FileCheck::Ok);
    QCOMPARE(read.bytes.size(), bytes.size());
    QVERIFY(read.bytes == bytes);

    // A slice a turn, the deadline always past: every slice boundary is crossed.
    kibro::WholeFileReader reader(path);
    int turns = 1;
    while (!reader.readOn(QDeadlineTimer(0)))
        ++turns;
    const kibro::FileRead sliced = reader.take();
    QCOMPARE(sliced.check, FileCheck::Ok);
    QVERIFY(sliced.bytes == bytes);
    if (bytes.size() > 1024 * 1024)
        QVERIFY2(turns > 1, "a large file was read in one go");
}

void FileReadTest::takesChangesWhileRead_data()
{
    QTest::addColumn<qint64>("sizeAfterFirstSlice");
    QTest::newRow("grown") << qint64(2 * 1024 * 1024 + 1000);
    QTest::newRow("grown by one byte") << qint64(2 * 1024 * 1024 + 1);
    QTest::newRow("cut short, mid slice") << qint64(300 * 1024 + 7);
    QTest::newRow("cut to nothing") << qint64(0);
}

void FileReadTest::takesChangesWhileRead()
{
    QFETCH(qint64, sizeAfterFirstSlice);
    RawTemporaryDir dir;
    const NativePath path = kibro::childPath(dir.path(), "CHANGING.BIN");
    const QByteArray before = testdata::randomBytes(2 * 1024 * 1024);
    QVERIFY(writeRawFile(path, before));
    kibro::WholeFileReader reader(path);
    QVERIFY(!reader.readOn(QDeadlineTimer(0)));

    // Each byte as it was when read: the first slice as before, the rest as it is now.
    QByteArray after = before + testdata::randomBytes(1000);
    after.truncate(sizeAfterFirstSlice);
    QFile file(QString::fromLocal8Bit(path));
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 kept = qMin(before.size(), after.size());
    QVERIFY(file.resize(after.size()) && file.seek(kept));
    QCOMPARE(file.write(after.mid(kept)), after.size() - kept);
    file.close();
    while (!reader.readOn(QDeadlineTimer(0))) {
    }
    const kibro::FileRead read = reader.take();
    QCOMPARE(read.check, FileCheck::Ok);
    const qint64 slice = kibro::WholeFileReader::kSlice;
    const QByteArray expected = before.left(slice) + after.mid(slice);
    QCOMPARE(read.bytes.size(), expected.size());
    QVERIFY(read.bytes == expected);
}

void FileReadTest::refusesWhatCannotBeSent_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<FileCheck>("check");
    QTest::newRow("missing") << QByteArray("MISSING") << FileCheck::Unreadable;
    QTest::newRow("a directory") << QByteArray("FOLDER") << FileCheck::Unreadable;
    QTest::newRow("a FIFO") << QByteArray("FIFO") << FileCheck::Unreadable;
    QTest::newRow("one byte over 32 bits") << QByteArray("HUGE") << FileCheck::TooLarge;
}

void FileReadTest::refusesWhatCannotBeSent()
{
    QFETCH(QByteArray, name);
    QFETCH(FileCheck, check);
    RawTemporaryDir dir;
    const NativePath root = dir.path();
    QVERIFY(::mkdir(kibro::childPath(root, "FOLDER").constData(), 0755) == 0);
    QVERIFY(::mkfifo(kibro::childPath(root, "FIFO").constData(), 0644) == 0);
    // Sparse: no disk space, and refused before a byte of it is read.
    QVERIFY(writeRawFile(kibro::childPath(root, "HUGE")));
    QVERIFY(::truncate(kibro::childPath(root, "HUGE").constData(),
                       qint64(std::numeric_limits<qint32>::max()) + 1) == 0);

    const NativePath path = kibro::childPath(root, name);
    QCOMPARE(kibro::inspectFile(path).check, check);
    const kibro::FileRead read = kibro::readWholeFile(path);
    QCOMPARE(read.check, check);
    QVERIFY(read.bytes.isEmpty());
}

QTEST_GUILESS_MAIN(FileReadTest)
#include "tst_fileread.moc"
