// Modbus RTU frames as the tests build and read them: the CRC worked out
// independently of the link's own, and the fields of request frames the
// simulated detector received.
#pragma once

#include "simprocess.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace TestFrames {

// Modbus CRC-16 (reflected polynomial 0xA001, start 0xFFFF).
inline quint16 modbusCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char ch : bytes) {
        crc ^= quint8(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// The frame with its CRC appended, low byte first.
inline QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = modbusCrc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

// The last two bytes are the CRC of the rest.
inline bool crcOk(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const quint16 crc = modbusCrc(frame.left(frame.size() - 2));
    return quint8(frame.at(frame.size() - 2)) == (crc & 0xFF) && quint8(frame.at(frame.size() - 1)) == (crc >> 8);
}

// Big-endian 16-bit field of a frame at `offset`; -1 when the frame is shorter.
inline int word(const QByteArray &frame, int offset)
{
    if (frame.size() < offset + 2)
        return -1;
    return (quint8(frame.at(offset)) << 8) | quint8(frame.at(offset + 1));
}

// Function codes of the frames (-1 for one too short to have one).
inline QList<int> functions(const QList<QByteArray> &frames)
{
    QList<int> out;
    for (const QByteArray &f : frames)
        out.append(f.size() > 1 ? quint8(f.at(1)) : -1);
    return out;
}

// The frames in hex, for failure messages.
inline QString describe(const QList<QByteArray> &frames)
{
    QStringList parts;
    for (const QByteArray &f : frames)
        parts.append(QString::fromLatin1(f.toHex(' ')));
    return parts.join(QStringLiteral(" | "));
}

// Every function-16 request the device received since the last clearLog().
inline QList<QByteArray> writes(SimProcess &sim)
{
    QList<QByteArray> out;
    for (const QByteArray &f : sim.rxFrames())
        if (f.size() > 1 && quint8(f.at(1)) == 16)
            out.append(f);
    return out;
}

// The function-16 requests since the last clearLog() that write from
// register `start` on, in order.
inline QList<QByteArray> writesTo(SimProcess &sim, int start)
{
    QList<QByteArray> out;
    for (const QByteArray &f : writes(sim))
        if (f.size() > 7 && word(f, 2) == start)
            out.append(f);
    return out;
}

} // namespace TestFrames
