// Hex-line parameter file helpers, binary chunks, the countdown arithmetic and
// the checked, atomic saving of a parameter file.
#include "hexfile.h"
#include "filetestutil.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

QByteArray hexLines(const QByteArray &bytes, int perLine = 20)
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    writeHexLines(&buf, reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size(), perLine);
    return buf.data();
}

struct Decoded {
    QByteArray image;
    BlockDecode result;
    int steps = 0;
    QList<int> percents;
};

Decoded decode(const QByteArray &fileContent, int capacity = HexFile::BlockBytes,
               std::function<bool(int)> before = {})
{
    QByteArray content = fileContent;
    QBuffer buf(&content);
    buf.open(QIODevice::ReadOnly);
    Decoded d;
    // Fill with a marker so that bytes the file did not set stay visible.
    d.image = QByteArray(capacity, char(0xEE));
    ProgressHooks hooks;
    hooks.beforeStep = [&](int p) {
        d.percents << p;
        return before ? before(p) : true;
    };
    hooks.afterStep = [&](int, qint64, qint64) { ++d.steps; };
    d.result = decodeBlockFile(&buf, reinterpret_cast<quint8 *>(d.image.data()), quint64(capacity), hooks);
    return d;
}

} // namespace

class TestHexFile : public QObject
{
    Q_OBJECT
private slots:
    void writesBlockAsSevenUpperCaseLines();
    void writeReportsRefusedDevice();
    void toleratesMarkersCaseAndLineEnds_data();
    void toleratesMarkersCaseAndLineEnds();
    void notAParameterFile_data();
    void notAParameterFile();
    void shortOrEmptyFilesAreIncomplete();
    void cancelStopsBeforeTheNextLine();
    void oddDigitCountsAndJunk_data();
    void oddDigitCountsAndJunk();
    void readHexLinePositionsAndCapacity();
    void binaryChunks_data();
    void binaryChunks();
    void binaryChunkReadError();
    void countdownArithmetic_data();
    void countdownArithmetic();
    void saveRoundTripReplacesOldContent();
    void saveOpenFailureCreatesNothing();
    void saveWriteFailureKeepsPreviousFile();
};

void TestHexFile::writesBlockAsSevenUpperCaseLines()
{
    const QByteArray text = hexLines(countingBlock(HexFile::BlockBytes));
    const QList<QByteArray> lines = text.split('\n');
    // Seven lines each ended by CR LF, so the split leaves one empty tail.
    QCOMPARE(lines.size(), 8);
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[0], QByteArray("000102030405060708090A0B0C0D0E0F10111213\r"));
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(lines[i].size(), 41);
        QVERIFY(lines[i].endsWith('\r'));
    }
    QVERIFY(lines[6].endsWith("8B\r"));
    QCOMPARE(text.count("\r\n"), 7);
    QCOMPARE(text.size(), 7 * 42);

    // A length that is not a multiple of the line length ends with a short line.
    QCOMPARE(hexLines(QByteArray("\xAB\xCD\xEF", 3), 2), QByteArray("ABCD\r\nEF\r\n"));
    QVERIFY(hexLines(QByteArray()).isEmpty());
}

void TestHexFile::writeReportsRefusedDevice()
{
    QByteArray storage;
    QBuffer readOnly(&storage);
    readOnly.open(QIODevice::ReadOnly);
    const QByteArray block = countingBlock(HexFile::BlockBytes);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QIODevice::write.*"));
    QVERIFY(!writeHexLines(&readOnly, reinterpret_cast<const quint8 *>(block.constData()), block.size(), 20));
}

void TestHexFile::toleratesMarkersCaseAndLineEnds_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray plain = hexLines(countingBlock(HexFile::BlockBytes));
    QByteArray colonLower;
    for (const QByteArray &l : plain.split('\n'))
        if (!l.isEmpty())
            colonLower += ":" + l.toLower() + "\n";
    QByteArray crcrlf = plain;
    crcrlf.replace("\r\n", "\r\r\n");
    QByteArray lf = plain;
    lf.replace("\r\n", "\n");
    QByteArray cr = plain;
    cr.replace("\r\n", "\r");
    QByteArray noFinalEnd = plain;
    noFinalEnd.chop(2);
    QByteArray spaced = plain;
    spaced.replace("0A", " 0 A ").replace("1F", "1\tF");
    QByteArray trailingBlankLines = plain + "\r\n  \r\n\t\r\n";

    QTest::newRow("plain CR LF") << plain;
    QTest::newRow("colon, lower case, LF") << colonLower;
    QTest::newRow("CR CR LF") << crcrlf;
    QTest::newRow("LF") << lf;
    QTest::newRow("CR") << cr;
    QTest::newRow("no final line end") << noFinalEnd;
    QTest::newRow("blanks inside a line") << spaced;
    QTest::newRow("empty and blank lines after the data") << trailingBlankLines;
}

void TestHexFile::toleratesMarkersCaseAndLineEnds()
{
    QFETCH(QByteArray, content);
    const Decoded d = decode(content);
    QVERIFY(d.result.complete);
    QCOMPARE(d.result.stored, quint64(140));
    QCOMPARE(d.image, countingBlock(HexFile::BlockBytes));
}

void TestHexFile::notAParameterFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("problem");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("says");
    const QByteArray plain = hexLines(countingBlock(HexFile::BlockBytes));
    auto damaged = [&](int line, const QByteArray &from, const QByteArray &to) {
        QList<QByteArray> lines = plain.split('\n');
        lines[line - 1].replace(from, to);
        return lines.join('\n');
    };
    const int bad = int(FileProblem::BadCharacter);
    QTest::newRow("one digit turned into Z") << damaged(2, "16", "1Z") << bad << 2
                                             << "line 2, column 6: character 'Z' (0x5a)";
    QTest::newRow("NUL byte") << damaged(1, "00", QByteArray("0\0", 2)) << bad << 1 << "(0x00)";
    QTest::newRow("control byte") << damaged(3, "28", "2\x07") << bad << 3 << "(0x07)";
    QTest::newRow("punctuation") << damaged(4, "3C", "3-") << bad << 4 << "'-'";
    QTest::newRow("colon inside a line") << damaged(1, "0A", ":A") << bad << 1 << "':'";
    QTest::newRow("prose") << QByteArray("# TL Configuration\r\n") << bad << 1 << "'#'";
    QTest::newRow("odd number of digits") << damaged(5, "50", "5") << int(FileProblem::OddDigits) << 5
                                          << "line 5: odd number of hex digits";
    QTest::newRow("eight lines") << hexLines(countingBlock(160)) << int(FileProblem::TooMuchData) << 8
                                 << "line 8: more than 140 bytes";
    QTest::newRow("30 bytes in the last line") << hexLines(countingBlock(120)) + QByteArray(60, 'A') + "\r\n"
                                               << int(FileProblem::TooMuchData) << 7 << "more than 140";
    QByteArray huge = plain;
    huge += QByteArray(HexFile::MaxParameterFileBytes, '\n');
    QTest::newRow("over 64 KiB") << huge << int(FileProblem::TooLarge) << 0 << "a parameter file has at most";
}

void TestHexFile::notAParameterFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, problem);
    QFETCH(int, line);
    QFETCH(QString, says);
    const Decoded d = decode(content);
    QVERIFY(!d.result.complete);
    QCOMPARE(int(d.result.problem), problem);
    QCOMPARE(d.result.line, line);
    const QString text = describeProblem(d.result);
    QVERIFY2(text.contains(says), qPrintable(text));
}

void TestHexFile::shortOrEmptyFilesAreIncomplete()
{
    Decoded d = decode(QByteArray());
    QVERIFY(!d.result.complete);
    QVERIFY(!d.result.cancelled);
    QCOMPARE(d.result.stored, quint64(0));
    QCOMPARE(d.image, QByteArray(140, char(0xEE)));

    // Three lines: 60 bytes, the rest of the copy untouched.
    d = decode(hexLines(countingBlock(60)));
    QVERIFY(!d.result.complete);
    QCOMPARE(d.result.stored, quint64(60));
    QCOMPARE(d.image.left(60), countingBlock(60));
    QCOMPARE(d.image.mid(60), QByteArray(80, char(0xEE)));

    // 139 bytes: still one short.
    d = decode(hexLines(countingBlock(139)));
    QVERIFY(!d.result.complete);
    QCOMPARE(d.result.stored, quint64(139));
}

void TestHexFile::cancelStopsBeforeTheNextLine()
{
    int calls = 0;
    const Decoded d = decode(hexLines(countingBlock(HexFile::BlockBytes)), 140, [&](int) { return ++calls < 3; });
    QVERIFY(d.result.cancelled);
    QVERIFY(!d.result.complete);
    QCOMPARE(d.result.stored, quint64(40));
    QCOMPARE(d.steps, 2);
    // The percentages grow with the position read so far and start at 0.
    QCOMPARE(d.percents.first(), 0);
    QVERIFY(d.percents[1] > 0 && d.percents[2] > d.percents[1]);
}

void TestHexFile::oddDigitCountsAndJunk_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("odd: first digit alone") << QByteArray("ABC\r\n") << QByteArray("\x0A\xBC", 2);
    QTest::newRow("single digit") << QByteArray("F\n") << QByteArray("\x0F", 1);
    QTest::newRow("five digits with spaces") << QByteArray("1 2 3 4 5\r\n") << QByteArray("\x01\x23\x45", 3);
    QTest::newRow("colons anywhere") << QByteArray(":12:34:\r\n") << QByteArray("\x12\x34", 2);
    QTest::newRow("non-hex letters skipped") << QByteArray("xyz12gh34\n") << QByteArray("\x12\x34", 2);
    QTest::newRow("text after NUL ignored") << QByteArray("12\0" "34\r\n", 7) << QByteArray("\x12", 1);
    QTest::newRow("no digits") << QByteArray("----\r\n") << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r\n") << QByteArray();
}

void TestHexFile::oddDigitCountsAndJunk()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, bytes);
    QByteArray content = line;
    QBuffer buf(&content);
    buf.open(QIODevice::ReadOnly);
    quint8 dest[8];
    std::memset(dest, 0xEE, sizeof dest);
    quint64 count = 0;
    const qint64 next = readHexLine(&buf, dest, count, 0, sizeof dest);
    QCOMPARE(next, qint64(line.size()));
    QCOMPARE(count, quint64(bytes.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(dest), bytes.size()), bytes);
    QCOMPARE(dest[bytes.size()], quint8(0xEE));
}

void TestHexFile::readHexLinePositionsAndCapacity()
{
    QByteArray content("0102\r\n0304\n\n0506");
    QBuffer buf(&content);
    buf.open(QIODevice::ReadOnly);
    quint8 dest[5];
    std::memset(dest, 0xEE, sizeof dest);
    quint64 count = 0;
    // Capacity 3 inside a 5-byte array: the guard bytes must stay untouched.
    qint64 pos = readHexLine(&buf, dest, count, 0, 3);
    QCOMPARE(pos, qint64(6));
    QCOMPARE(count, quint64(2));
    pos = readHexLine(&buf, dest, count, pos, 3);
    QCOMPARE(pos, qint64(11));
    QCOMPARE(count, quint64(3));   // 0x04 dropped
    pos = readHexLine(&buf, dest, count, pos, 3);
    QCOMPARE(pos, qint64(12));     // the empty line
    pos = readHexLine(&buf, dest, count, pos, 3);
    QCOMPARE(pos, qint64(content.size()));
    QCOMPARE(count, quint64(3));
    QCOMPARE(dest[0], quint8(1));
    QCOMPARE(dest[1], quint8(2));
    QCOMPARE(dest[2], quint8(3));
    QCOMPARE(dest[3], quint8(0xEE));
    QCOMPARE(dest[4], quint8(0xEE));
    // At the end: 0, and count is left alone.
    QCOMPARE(readHexLine(&buf, dest, count, pos, 3), qint64(0));
    QCOMPARE(count, quint64(3));
}

void TestHexFile::binaryChunks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<qint64>>("positions");
    QTest::newRow("450") << 450 << QList<int>{200, 200, 50} << QList<qint64>{200, 400, 0};
    QTest::newRow("400") << 400 << QList<int>{200, 200} << QList<qint64>{200, 0};
    QTest::newRow("1") << 1 << QList<int>{1} << QList<qint64>{0};
    QTest::newRow("200") << 200 << QList<int>{200} << QList<qint64>{0};
}

void TestHexFile::binaryChunks()
{
    QFETCH(int, size);
    QFETCH(QList<int>, counts);
    QFETCH(QList<qint64>, positions);
    QByteArray content(size, '\0');
    for (int i = 0; i < size; ++i)
        content[i] = char((i * 7 + 3) & 0xFF);
    QBuffer buf(&content);
    buf.open(QIODevice::ReadOnly);

    QByteArray joined;
    qint64 pos = 0;
    for (int i = 0; i < counts.size(); ++i) {
        quint8 chunk[HexFile::ChunkBytes];
        quint64 count = 12345;
        pos = readBinaryChunk(&buf, chunk, count, pos);
        QCOMPARE(int(count), counts[i]);
        QCOMPARE(pos, positions[i]);
        joined.append(reinterpret_cast<const char *>(chunk), int(count));
    }
    QCOMPARE(joined, content);
}

void TestHexFile::binaryChunkReadError()
{
    QBuffer closed;
    quint8 chunk[HexFile::ChunkBytes];
    quint64 count = 7;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*not open.*"));
    QCOMPARE(readBinaryChunk(&closed, chunk, count, 0), qint64(-1));
    QCOMPARE(count, quint64(0));
}

void TestHexFile::countdownArithmetic_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("whole");
    QTest::newRow("start") << qint64(0) << qint64(450) << 0 << qint64(5000) << 0.0 << 0;
    QTest::newRow("below 1 %") << qint64(1) << qint64(1000) << 0 << qint64(5000) << 0.0 << 0;
    QTest::newRow("empty size") << qint64(10) << qint64(0) << 0 << qint64(5000) << 0.0 << 0;
    QTest::newRow("200 of 450") << qint64(200) << qint64(450) << 44 << qint64(3000) << 3.0 * 56 / 44 << 3;
    QTest::newRow("400 of 450") << qint64(400) << qint64(450) << 88 << qint64(6000) << 6.0 * 12 / 88 << 0;
    QTest::newRow("half") << qint64(200) << qint64(400) << 50 << qint64(2500) << 2.5 << 2;
    QTest::newRow("quarter") << qint64(100) << qint64(400) << 25 << qint64(10000) << 30.0 << 30;
    // Whole seconds are kept in 16 bits.
    QTest::newRow("1 %, long run") << qint64(10) << qint64(1000) << 1 << qint64(1000000) << 99000.0
                                   << int(99000 % 65536);
}

void TestHexFile::countdownArithmetic()
{
    QFETCH(qint64, position);
    QFETCH(qint64, size);
    QFETCH(int, percent);
    QFETCH(qint64, elapsedMs);
    QFETCH(double, seconds);
    QFETCH(int, whole);
    QCOMPARE(Countdown::percent(position, size), percent);
    QVERIFY(qAbs(Countdown::secondsLeft(elapsedMs, percent) - seconds) < 1e-9);
    QCOMPARE(int(Countdown::wholeSecondsLeft(elapsedMs, percent)), whole);
}

void TestHexFile::saveRoundTripReplacesOldContent()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("config.txt");
    QVERIFY(writeFile(path, QByteArray(2000, 'Z')));

    QByteArray block(140, '\0');
    for (int i = 0; i < 140; ++i)
        block[i] = char(255 - i);
    QCOMPARE(saveHexFile(path, reinterpret_cast<const quint8 *>(block.constData()), 140),
             SaveResult::Ok);
    const QByteArray text = readFile(path);
    QCOMPARE(text, hexLines(block));
    const Decoded d = decode(text);
    QVERIFY(d.result.complete);
    QCOMPARE(d.image, block);
    // Nothing but the file itself is left in the directory.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.txt"});
}

void TestHexFile::saveOpenFailureCreatesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/config.txt");
    const QByteArray block = countingBlock(HexFile::BlockBytes);
    QCOMPARE(saveHexFile(path, reinterpret_cast<const quint8 *>(block.constData()), 140),
             SaveResult::OpenFailed);
    QVERIFY(!QFile::exists(path));
    // A directory in place of the file cannot be replaced either.
    QVERIFY(QDir(dir.path()).mkdir("adir"));
    QCOMPARE(saveHexFile(dir.filePath("adir"), reinterpret_cast<const quint8 *>(block.constData()), 140),
             SaveResult::OpenFailed);
    QVERIFY(QFileInfo(dir.filePath("adir")).isDir());
}

void TestHexFile::saveWriteFailureKeepsPreviousFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.txt");
    const QByteArray previous = hexLines(countingBlock(HexFile::BlockBytes));
    QVERIFY(writeFile(path, previous));

    // A file-size limit below the 294 bytes of a parameter file makes the
    // write fail half way (the file system refuses, as on a full disk).
    const QByteArray block(140, '\x5A');
    SaveResult r = SaveResult::Ok;
    QVERIFY(withFileSizeLimit(100, [&] {
        r = saveHexFile(path, reinterpret_cast<const quint8 *>(block.constData()), 140);
    }));

    QCOMPARE(int(r), int(SaveResult::WriteFailed));
    QCOMPARE(readFile(path), previous);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.txt"});
}

QTEST_GUILESS_MAIN(TestHexFile)
#include "test_hexfile.moc"
