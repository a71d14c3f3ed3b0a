// The serial line: a QSerialPort at 9600 baud, 8 data bits, no parity, one
// stop bit, no flow control.
#pragma once

#include "transport.h"

#include <QSerialPort>

class SerialTransport : public Transport
{
public:
    explicit SerialTransport(const QString &portName);
    ~SerialTransport() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    bool failed() const override;
    QString errorString() const override;
    void discard() override;
    qint64 write(const QByteArray &bytes) override;
    bool waitForBytesWritten(int ms) override;
    bool waitForReadyRead(int ms) override;
    QByteArray readAll() override;
    qint64 bytesToWrite() const override;

private:
    QSerialPort port;
};
