// File names as bytes: what the lists show for any name, and that listing keeps every name.
#include "filenames.h"
#include "rawfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using kibro::NativePath;

namespace {

// テスト.BAS in Shift-JIS, as an old Japanese PC wrote it.
const QByteArray kShiftJisTest("\x83\x65\x83\x58\x83\x67.BAS");

} // namespace

class FileNamesTest : public QObject
{
    Q_OBJECT

private slots:
    void readableName_data();
    void readableName();
    void visibleText_data();
    void visibleText();
    void listsEveryNameByItsBytes();
    void listingRefusesWhatIsNoDirectory_data();
    void listingRefusesWhatIsNoDirectory();
    void nearestExistingDirectory_data();
    void nearestExistingDirectory();
    void cleanNativePath_data();
    void cleanNativePath();
    void resolveLinks_data();
    void resolveLinks();
};

void FileNamesTest::readableName_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << QByteArray("PROG.BAS") << QStringLiteral("PROG.BAS");
    QTest::newRow("UTF-8") << QByteArray("テスト.BAS") << QStringLiteral("テスト.BAS");
    QTest::newRow("Shift-JIS") << kShiftJisTest << QStringLiteral("テスト.BAS");
    // ソ ends in 0x5C, the byte of a backslash: it must stay one character.
    QTest::newRow("Shift-JIS trail byte 0x5C")
        << QByteArray("\x83\x5C\x83\x74\x83\x67.BAS") << QStringLiteral("ソフト.BAS");
    QTest::newRow("half-width katakana") << QByteArray("\xB6\xC5.TXT") << QStringLiteral("ｶﾅ.TXT");
    QTest::newRow("Shift-JIS with a newline")
        << QByteArray("\x83\x65\n.BAS") << QStringLiteral("テ\\n.BAS");
    // An overlong slash is not UTF-8; as Shift-JIS it is two katakana, never a separator.
    QTest::newRow("overlong UTF-8") << QByteArray("\xC0\xAF") << QStringLiteral("ﾀｯ");
    QTest::newRow("stray byte") << QByteArray("A\xFF.BAS") << QStringLiteral("A\\xFF.BAS");
    QTest::newRow("cut Shift-JIS") << QByteArray("ABC\x83") << QStringLiteral("ABC\\x83");
    QTest::newRow("UTF-8 beside a stray byte")
        << QByteArray("\xC3\xA9\xFF") << QStringLiteral("é\\xFF");
    QTest::newRow("encoded surrogate")
        << QByteArray("\xED\xA0\x80") << QStringLiteral("\\xED\\xA0\\x80");
    QTest::newRow("newline and tab") << QByteArray("A\nB\tC\rD") << QStringLiteral("A\\nB\\tC\\rD");
    QTest::newRow("other controls")
        << QByteArray("\x01X\x1B\x7F") << QStringLiteral("\\x01X\\x1B\\x7F");
    QTest::newRow("C1 control") << QByteArray("A\xC2\x85"
                                              "B")
                                << QStringLiteral("A\\u0085B");
    QTest::newRow("right-to-left override")
        << QByteArray("evil\xE2\x80\xAEsab.exe") << QStringLiteral("evil\\u202Esab.exe");
    QTest::newRow("marks and isolates")
        << QByteArray("\xE2\x80\x8E\xE2\x80\x8F\xE2\x81\xA6\xE2\x81\xA9")
        << QStringLiteral("\\u200E\\u200F\\u2066\\u2069");
    QTest::newRow("line separator") << QByteArray("A\xE2\x80\xA8"
                                                  "B")
                                    << QStringLiteral("A\\u2028B");
}

void FileNamesTest::readableName()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(kibro::readableName(bytes), shown);
}

void FileNamesTest::visibleText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QStringLiteral("DATA.BAS") << QStringLiteral("DATA.BAS");
    QTest::newRow("newline") << QStringLiteral("A\nB") << QStringLiteral("A\\nB");
    QTest::newRow("override") << QStringLiteral("A\u202EB") << QStringLiteral("A\\u202EB");
    QTest::newRow("embedding") << QStringLiteral("\u202A\u202B\u202C\u202D")
                               << QStringLiteral("\\u202A\\u202B\\u202C\\u202D");
    QTest::newRow("outside the BMP") << QStringLiteral("😀") << QStringLiteral("😀");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QStringLiteral("\\uD800");
    // Shown text goes through again unchanged: the escapes hold no control character.
    QTest::newRow("already shown")
        << QStringLiteral("A\\nB\\u202E") << QStringLiteral("A\\nB\\u202E");
}

void FileNamesTest::visibleText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(kibro::visibleText(text), shown);
}

void FileNamesTest::listsEveryNameByItsBytes()
{
    RawTemporaryDir dir;
    QVERIFY(dir.isValid());
    const NativePath root = dir.path();
    const QList<QByteArray> files{kShiftJisTest, QByteArray("A\xFF.BAS"), QByteArray("A\nB"),
                                  QByteArray("plain.txt"), QByteArray(".hidden")};
    for (const QByteArray& name : files)
        QVERIFY2(writeRawFile(kibro::childPath(root, name)), name.toHex().constData());
    const QByteArray folder("\x83\x66\x83\x42\x83\x8C\xFE");
    QVERIFY(::mkdir(kibro::childPath(root, folder).constData(), 0755) == 0);
    QVERIFY(::symlink(folder.constData(), kibro::childPath(root, "link").constData()) == 0);
    QVERIFY(::symlink("nowhere", kibro::childPath(root, "dangling").constData()) == 0);
    // What Qt's own listing loses: a stray byte does not survive its decoding.
    QVERIFY(QFile::encodeName(QFile::decodeName(files[1])) != files[1]);

    const auto entries = kibro::listDirectory(root);
    QVERIFY(entries);
    QMap<QByteArray, bool> found;
    for (const kibro::DirectoryEntry& entry : *entries)
        found.insert(entry.name, entry.isDirectory);
    QMap<QByteArray, bool> expected;
    for (const QByteArray& name : files)
        expected.insert(name, false);
    expected.insert(folder, true);
    expected.insert("link", true);
    expected.insert("dangling", false);
    QCOMPARE(found, expected);
}

void FileNamesTest::listingRefusesWhatIsNoDirectory_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::newRow("missing") << QByteArray("missing");
    QTest::newRow("a file") << QByteArray("file");
    QTest::newRow("no permission") << QByteArray("closed");
}

void FileNamesTest::listingRefusesWhatIsNoDirectory()
{
    QFETCH(QByteArray, relative);
    if (relative == "closed" && ::geteuid() == 0)
        QSKIP("root reads any directory");
    RawTemporaryDir dir;
    const NativePath root = dir.path();
    QVERIFY(writeRawFile(kibro::childPath(root, "file")));
    QVERIFY(::mkdir(kibro::childPath(root, "closed").constData(), 0) == 0);
    QVERIFY(!kibro::listDirectory(kibro::childPath(root, relative)));
}

void FileNamesTest::nearestExistingDirectory_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("itself") << QByteArray("a\xFF/b") << QByteArray("a\xFF/b");
    QTest::newRow("deleted below") << QByteArray("a\xFF/b/gone/deeper") << QByteArray("a\xFF/b");
    QTest::newRow("a file") << QByteArray("a\xFF/file") << QByteArray("a\xFF");
    QTest::newRow("dot dot") << QByteArray("a\xFF/gone/../b") << QByteArray("a\xFF/b");
}

void FileNamesTest::nearestExistingDirectory()
{
    QFETCH(QByteArray, relative);
    QFETCH(QByteArray, expected);
    RawTemporaryDir dir;
    const NativePath root = dir.path();
    QVERIFY(::mkdir(kibro::childPath(root, "a\xFF").constData(), 0755) == 0);
    QVERIFY(::mkdir(kibro::childPath(root, "a\xFF/b").constData(), 0755) == 0);
    QVERIFY(writeRawFile(kibro::childPath(root, "a\xFF/file")));
    QCOMPARE(kibro::nearestExistingDirectory(kibro::childPath(root, relative)),
             kibro::childPath(root, expected));
    QCOMPARE(kibro::nearestExistingDirectory("/no/such/folder/anywhere"), NativePath("/"));
}

void FileNamesTest::cleanNativePath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("root") << QByteArray("/") << QByteArray("/");
    QTest::newRow("dots") << QByteArray("/a/./b/../c//") << QByteArray("/a/c");
    QTest::newRow("above the root") << QByteArray("/../..") << QByteArray("/");
    QTest::newRow("raw bytes") << QByteArray("/\x83\x5C/\xFF/.") << QByteArray("/\x83\x5C/\xFF");
}

void FileNamesTest::cleanNativePath()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, expected);
    QCOMPARE(kibro::cleanNativePath(path), expected);
}

void FileNamesTest::resolveLinks_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<QByteArray>("expected"); // empty: the path as given
    QTest::newRow("a link") << QByteArray("to\xFF") << QByteArray("a\xFF/b");
    // By name, .. would step out of the link's own folder.
    QTest::newRow("through a link") << QByteArray("to\xFF/../file") << QByteArray("a\xFF/file");
    QTest::newRow("no link") << QByteArray("a\xFF/b") << QByteArray("a\xFF/b");
    QTest::newRow("missing") << QByteArray("to\xFF/gone") << QByteArray();
}

void FileNamesTest::resolveLinks()
{
    QFETCH(QByteArray, relative);
    QFETCH(QByteArray, expected);
    RawTemporaryDir dir;
    const NativePath root = QFile::encodeName(QDir(QFile::decodeName(dir.path())).canonicalPath());
    QVERIFY(::mkdir(kibro::childPath(root, "a\xFF").constData(), 0755) == 0);
    QVERIFY(::mkdir(kibro::childPath(root, "a\xFF/b").constData(), 0755) == 0);
    QVERIFY(writeRawFile(kibro::childPath(root, "a\xFF/file")));
    QVERIFY(::symlink("a\xFF/b", kibro::childPath(root, "to\xFF").constData()) == 0);
    const NativePath path = kibro::childPath(root, relative);
    QCOMPARE(kibro::resolveLinks(path),
             expected.isEmpty() ? path : kibro::childPath(root, expected));
}

QTEST_GUILESS_MAIN(FileNamesTest)
#include "tst_filenames.moc"
