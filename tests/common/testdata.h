// Files and byte patterns for tests: reading and writing whole files, images
// whose blocks differ, and parameter files in hex lines.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// Runs tests/xlsx/fixtures.py (openpyxl) with `args`; false, with its output
// as a warning, when it failed.
inline bool runXlsxFixture(const QStringList &args)
{
    QProcess py;
    py.setProcessChannelMode(QProcess::MergedChannels);
    py.start(QStringLiteral(TL_PYTHON), QStringList{QStringLiteral(TL_SOURCE_DIR "/tests/xlsx/fixtures.py")} + args);
    const bool ok = py.waitForFinished(60000) && py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0;
    if (!ok)
        qWarning("%s", py.readAll().constData());
    return ok;
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file with `content`; false when not all of it was written.
inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

// Bytes that differ from block to block, so a misplaced block shows.
inline QByteArray patternImage(int size, int seed = 1)
{
    QByteArray b(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = char(x >> 16);
    }
    return b;
}

// patternImage with the start of a Cortex-M vector table in front, as an
// application built for 0x08001C00 has it: the initial stack pointer in RAM
// and an odd reset address just after the table.  At least 10 bytes.
inline QByteArray applicationImage(int size, int seed = 1)
{
    QByteArray b = patternImage(size, seed);
    const quint32 words[] = {0x20008000u, 0x08001C09u};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            b[w * 4 + i] = char(words[w] >> (8 * i));
    return b;
}

// Plain text where firmware is expected: the start of this project's README
// (1000 bytes, five blocks), whose first words are letters.
inline QByteArray textImage()
{
    QFile f(QStringLiteral(TL_SOURCE_DIR "/README.md"));
    return f.open(QIODevice::ReadOnly) ? f.read(1000) : QByteArray();
}

// 0, 1, 2, ... (modulo 256): each byte tells where it belongs.
inline QByteArray countingBlock(int n)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(i);
    return b;
}

// Random bytes, the same for the same seed.
inline QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(n, '\0');
    for (char &c : b)
        c = char(gen.bounded(256));
    return b;
}

// The bytes as a parameter file writes them: upper-case hex, `perLine` bytes
// to a line, each line ended by CR LF (the last one too).
inline QByteArray asHexLines(const QByteArray &bytes, int perLine = 20)
{
    QByteArray out;
    for (int i = 0; i < bytes.size(); ++i) {
        out += QByteArray::number(quint8(bytes[i]), 16).rightJustified(2, '0').toUpper();
        if ((i + 1) % perLine == 0 || i + 1 == bytes.size())
            out += "\r\n";
    }
    return out;
}
