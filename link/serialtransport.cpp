#include "serialtransport.h"

SerialTransport::SerialTransport(const QString &portName)
{
    port.setPortName(portName);
}

SerialTransport::~SerialTransport()
{
    close();
}

bool SerialTransport::open()
{
    close();
    port.setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.clearError();
    return true;
}

void SerialTransport::close()
{
    if (port.isOpen())
        port.close();
}

bool SerialTransport::isOpen() const
{
    return port.isOpen();
}

bool SerialTransport::failed() const
{
    // A time-out is no fault of the port; anything else it reports (the
    // device vanished, a read or write was refused) is.
    if (!port.isOpen())
        return true;
    const QSerialPort::SerialPortError e = port.error();
    return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
}

QString SerialTransport::errorString() const
{
    return port.errorString();
}

void SerialTransport::discard()
{
    if (!port.isOpen())
        return;
    port.clearError();
    port.clear(QSerialPort::AllDirections);
}

qint64 SerialTransport::write(const QByteArray &bytes)
{
    return port.isOpen() ? port.write(bytes) : -1;
}

bool SerialTransport::waitForBytesWritten(int ms)
{
    if (!port.isOpen())
        return false;
    // Nothing left to write (already gone out): that is success, not a wait.
    if (port.bytesToWrite() == 0)
        return !failed();
    return port.waitForBytesWritten(ms);
}

bool SerialTransport::waitForReadyRead(int ms)
{
    return port.isOpen() && port.waitForReadyRead(ms);
}

QByteArray SerialTransport::readAll()
{
    if (!port.isOpen())
        return QByteArray();
    const QByteArray bytes = port.readAll();
    countReceived(bytes.size());
    return bytes;
}

qint64 SerialTransport::bytesToWrite() const
{
    return port.bytesToWrite();
}
