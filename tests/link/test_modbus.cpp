// Request building, reply checks and the register binding, without a port.
#include "deviceparams.h"
#include "modbus.h"
#include "testframes.h"

#include <QtTest>
#include <cstring>

namespace {

using TestFrames::withCrc;

QByteArray bytesOf(const Modbus::Request &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.bytes), r.length);
}

} // namespace

class TestModbus : public QObject
{
    Q_OBJECT

    ParamBlock block;
    quint16 scratch = 0;
    Modbus::Image image{&block, &scratch};

    // Checks a reply against a request of `function` (by default the one
    // the reply answers) for `count` registers from `start`, asked at
    // `address` (by default the one the reply comes from).
    quint16 check(const QByteArray &reply, quint16 start, quint16 count = 0, int address = -1,
                  int function = -1)
    {
        Modbus::Request req;
        req.bytes[0] = quint8(address >= 0 ? address : reply.isEmpty() ? 1 : quint8(reply[0]));
        req.function = quint8(function >= 0 ? function : reply.size() < 2 ? 0 : quint8(reply[1]) & 0x7F);
        req.start = start;
        req.count = count;
        req.length = 9;   // a memory write of no data
        return Modbus::checkReceived(reinterpret_cast<const quint8 *>(reply.constData()), reply.size(),
                                     req, image);
    }

    bool blockUntouched() const
    {
        ParamBlock zero;
        std::memset(&zero, 0, sizeof zero);
        return std::memcmp(&zero, &block, sizeof block) == 0 && scratch == 0;
    }

private slots:
    void init()
    {
        std::memset(&block, 0, sizeof block);
        scratch = 0;
    }

    void crcVectors()
    {
        const quint8 req[] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0A};
        const quint16 crc = Modbus::crc16(req, 6);
        QCOMPARE(int(crc & 0xFF), 0x70);
        QCOMPARE(int(crc >> 8), 0x0D);
        // Published example: 01 03 00 00 00 01 -> 84 0A.
        const quint8 req2[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
        QCOMPARE(Modbus::crc16(req2, 6), quint16(0x0A84));
        QCOMPARE(Modbus::crc16(nullptr, 0), quint16(0xFFFF));
    }

    void requestFormats()
    {
        Modbus::Request r;
        QCOMPARE(Modbus::buildRequest(r, 1, 4, 0, 0, 10, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), QByteArray::fromHex("01040000000A700D"));

        // Command write: one value, the caller's, whatever the block holds.
        block.CommandWord = 0x1234;
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0x6060, 0x1020, 1, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("011010200001026060")));

        // Identification: byte 2 is 0x00.
        QCOMPARE(Modbus::buildRequest(r, 7, 43, 0, 2, 0, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("072B000200")));

        // Function 6 sends the register's value from the block.
        block.Limit1 = 0x84E2;
        QCOMPARE(Modbus::buildRequest(r, 1, 6, 0, 0x1005, 1, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("0106100584E2")));

        QCOMPARE(Modbus::buildRequest(r, 1, 21, 0, 0, 0, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("011500100000")));

        for (int i = 0; i < 16; ++i)
            block.FileRecord[i] = quint8(0xA0 + i);
        QCOMPARE(Modbus::buildRequest(r, 1, 20, 0, 0, 0, image), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("01140010A0A1A2A3A4A5A6A7A8A9AAABACADAEAF")));

        // Memory block: 32-bit address most significant byte first, length, data.
        const quint8 data[3] = {0xDE, 0xAD, 0xBE};
        QCOMPARE(Modbus::buildBlockRequest(r, 0, 14, 0x08001CC8, data, 3), quint16(ResultOk));
        QCOMPARE(bytesOf(r), withCrc(QByteArray::fromHex("000E08001CC803DEADBE")));
        QCOMPARE(r.start, quint16(0x1CC8));
        QCOMPARE(r.length, 3 + 9);
    }

    void requestRefusals()
    {
        Modbus::Request r;
        QCOMPARE(Modbus::buildRequest(r, 1, 5, 0, 0x1000, 1, image), quint16(ResultUnsupported));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1000, 0, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1000, 49, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1000, 126, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x0FFF, 1, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1001, 48, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 6, 0, 0x1030, 1, image), quint16(ResultMismatch));
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1000, 48, image), quint16(ResultOk));
        QCOMPARE(r.length, 105);
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x102F, 1, image), quint16(ResultOk));
        QCOMPARE(Modbus::buildBlockRequest(r, 0, 16, 0x08001C00, nullptr, 0), quint16(ResultUnsupported));
        QByteArray big(248, 'x');
        QCOMPARE(Modbus::buildBlockRequest(r, 0, 14, 0x08001C00,
                                           reinterpret_cast<const quint8 *>(big.constData()), 248),
                 quint16(ResultMismatch));
    }

    void registerBindingWrite()
    {
        block.NetSpeed = 2;
        block.NetAddress = 7;
        block.HWVersion = 0x0123;
        block.SerialNum = -2;
        scratch = 0xBEEF;
        Modbus::Request r;
        QCOMPARE(Modbus::buildRequest(r, 1, 16, 0, 0x1000, 48, image), quint16(ResultOk));
        auto reg = [&](int n) { return (r.bytes[7 + 2 * (n - 0x1000)] << 8) | r.bytes[8 + 2 * (n - 0x1000)]; };
        QCOMPARE(reg(0x100D), 0x2302);
        QCOMPARE(reg(0x100E), 0x0207);
        QCOMPARE(reg(0x101B), 0x0123);
        QCOMPARE(reg(0x100F), 0xFFFE);   // low word of the serial number
        QCOMPARE(reg(0x1010), 0xFFFF);
        for (int unbound : {0x1017, 0x1018, 0x101C, 0x101F, 0x1021, 0x102F})
            QCOMPARE(reg(unbound), 0xBEEF);
    }

    void registerBindingRead()
    {
        // A full holding read: register r carries the value r - 0x1000 + 0x0100 * (r & 0xFF).
        QByteArray body = QByteArray::fromHex("010360");
        for (int i = 0; i < 48; ++i) {
            const quint16 v = quint16(0x1100 + i);
            body.append(char(v >> 8));
            body.append(char(v & 0xFF));
        }
        // Distinct values for the overlapping registers.
        auto setReg = [&](int reg, quint16 v) {
            body[3 + 2 * (reg - 0x1000)] = char(v >> 8);
            body[4 + 2 * (reg - 0x1000)] = char(v & 0xFF);
        };
        setReg(0x100D, 0xAA05);   // NetSpeed 5, low(HWVersion) 0xAA (overwritten by 0x101B)
        setReg(0x100E, 0x0207);   // NetAddress 7, NetSpeed 2 (wins over 0x100D)
        setReg(0x101B, 0x0123);
        setReg(0x1017, 0x1111);
        setReg(0x102F, 0x2222);
        QCOMPARE(check(withCrc(body), 0x1000, 48), quint16(ResultOk));
        QCOMPARE(block.ADCCode4m, quint16(0x1100));
        QCOMPARE(block.Config, quint16(0x1108));
        QCOMPARE(block.NetAddress, quint8(7));
        QCOMPARE(block.NetSpeed, quint8(2));
        QCOMPARE(block.HWVersion, quint16(0x0123));
        QCOMPARE(block.CommandWord, quint16(0x1120));
        QCOMPARE(scratch, quint16(0x2222));   // the last unbound register stays
        QCOMPARE(block.SerialNum, qint32(0x1110110F));
        // Bytes without a register stay untouched.
        for (quint8 b : block.Unbound110)
            QCOMPARE(int(b), 0);
    }

    void readReplies()
    {
        QByteArray full = QByteArray::fromHex("010360") + QByteArray(96, '\x01');
        QCOMPARE(check(withCrc(full), 0x1000, 48), quint16(ResultOk));
        QCOMPARE(block.Limit2, quint16(0x0101));

        std::memset(&block, 0, sizeof block);
        QByteArray tooMany = QByteArray::fromHex("010362") + QByteArray(98, '\x01');
        QCOMPARE(check(withCrc(tooMany), 0x1000, 49), quint16(ResultMismatch));
        QCOMPARE(block.ADCCode4m, quint16(0));
        // An empty answer fits only a request for no registers.
        QCOMPARE(check(withCrc(QByteArray::fromHex("010300")), 0x1000, 0), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("010300")), 0x1000, 48), quint16(ResultMismatch));

        // Start outside the holding block.
        QCOMPARE(check(withCrc(QByteArray::fromHex("0103020001")), 0x0FFF, 1), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("01030400010002")), 0x102F, 2), quint16(ResultMismatch));

        QByteArray inputs = QByteArray::fromHex("010414");
        for (int i = 0; i < 10; ++i) {
            inputs.append(char(0));
            inputs.append(char(i + 1));
        }
        QCOMPARE(check(withCrc(inputs), 0, 10), quint16(ResultOk));
        QCOMPARE(block.CurrentADC, quint16(1));
        QCOMPARE(block.DeviceTypeReg, quint16(5));
        QCOMPARE(block.Status, quint16(10));
        QCOMPARE(check(withCrc(QByteArray::fromHex("010416") + QByteArray(22, '\0')), 0, 11), quint16(ResultMismatch));

        // The reply's function byte picks the check: a function 4 reply to a
        // function 3 request is an input-register reply.
        std::memset(&block, 0, sizeof block);
        QCOMPARE(check(withCrc(QByteArray::fromHex("0104020007")), 4, 1), quint16(ResultOk));
        QCOMPARE(block.DeviceTypeReg, quint16(7));
    }

    void byteCountMustFitRequest_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("byteCount");
        QTest::addColumn<bool>("good");
        QTest::newRow("3: 48 of 48") << 3 << 0x1000 << 48 << 96 << true;
        QTest::newRow("3: 27 of 27") << 3 << 0x1000 << 27 << 54 << true;
        QTest::newRow("3: 27 of 48") << 3 << 0x1000 << 48 << 54 << false;
        QTest::newRow("3: 47 of 48") << 3 << 0x1000 << 48 << 94 << false;
        QTest::newRow("3: 0 of 48") << 3 << 0x1000 << 48 << 0 << false;
        QTest::newRow("3: 0 of 1") << 3 << 0x100F << 1 << 0 << false;
        QTest::newRow("3: odd 95 of 48") << 3 << 0x1000 << 48 << 95 << false;
        QTest::newRow("3: 2 of 1") << 3 << 0x100F << 1 << 4 << false;
        QTest::newRow("3: 28 of 27") << 3 << 0x1000 << 27 << 56 << false;
        QTest::newRow("3: 2 of 2 at 0x100F") << 3 << 0x100F << 2 << 4 << true;
        QTest::newRow("3: 1 of 1 below the map") << 3 << 0x0FFF << 1 << 2 << false;
        QTest::newRow("3: 2 of 2 past the map") << 3 << 0x102F << 2 << 4 << false;
        QTest::newRow("4: 10 of 10") << 4 << 0 << 10 << 20 << true;
        QTest::newRow("4: 9 of 10") << 4 << 0 << 10 << 18 << false;
        QTest::newRow("4: 0 of 10") << 4 << 0 << 10 << 0 << false;
        QTest::newRow("4: 10 of 9") << 4 << 0 << 9 << 20 << false;
        QTest::newRow("4: 1 of 1 at 4") << 4 << 4 << 1 << 2 << true;
        QTest::newRow("4: 11 of 11") << 4 << 0 << 11 << 22 << false;
    }

    // A read reply carries exactly two bytes per register asked for; any
    // other answer stores nothing.
    void byteCountMustFitRequest()
    {
        QFETCH(int, function);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(int, byteCount);
        QFETCH(bool, good);
        QByteArray body;
        body.append(char(1));
        body.append(char(function));
        body.append(char(byteCount));
        body.append(QByteArray(byteCount, '\x5A'));
        const quint16 r = check(withCrc(body), quint16(start), quint16(count));
        QCOMPARE(r, quint16(good ? ResultOk : ResultMismatch));
        QCOMPARE(blockUntouched(), !good);
    }

    void byteCountBeyondReceivedData()
    {
        // Claims 20 bytes, carries 4: nothing may be read past the reply.
        QCOMPARE(check(withCrc(QByteArray::fromHex("01041400010002")), 0, 10), quint16(ResultMismatch));
        QCOMPARE(block.CurrentADC, quint16(0));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0103600001")), 0x1000, 48), quint16(ResultMismatch));
        QCOMPARE(block.ADCCode4m, quint16(0));
    }

    void writeEchoes()
    {
        QCOMPARE(check(withCrc(QByteArray::fromHex("011010000030")), 0x1000), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("011010010030")), 0x1000), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0106100584E2")), 0x1005), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("000E08001CC8C8")), 0x1CC8), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("000E08001C00C8")), 0x1CC8), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0115001000")), 0), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0115000F00")), 0), quint16(ResultMismatch));
        QByteArray rec = QByteArray::fromHex("01140010") + QByteArray(16, '\x5A');
        QCOMPARE(check(withCrc(rec), 0), quint16(ResultOk));
        QCOMPARE(int(block.FileRecord[15]), 0x5A);
        // Too short to carry the echo.
        QCOMPARE(check(withCrc(QByteArray::fromHex("0110")), 0x1000), quint16(ResultMismatch));
    }

    void replyMustAnswerItsRequest()
    {
        // A late echo of a block write answering a read of the same block.
        QCOMPARE(check(withCrc(QByteArray::fromHex("011010000005")), 0x1000, 5, -1, 3), quint16(ResultMismatch));
        // A read answering a write: the write is not confirmed, nothing stored.
        QCOMPARE(check(withCrc(QByteArray::fromHex("0103020007")), 0x1000, 1, -1, 16), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0106100584E2")), 0x1005, 1, -1, 16), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("019002")), 0x1000, 1, -1, 3), quint16(ResultMismatch));
        QVERIFY(blockUntouched());
        // The two reads answer each other, each checked as itself.
        QCOMPARE(check(withCrc(QByteArray::fromHex("01040200FF")), 0, 1, -1, 3), quint16(ResultOk));
        QCOMPARE(block.CurrentADC, quint16(0xFF));
        QCOMPARE(check(withCrc(QByteArray::fromHex("018402")), 0, 1, -1, 3), quint16(ResultIllegalAddress));
        QCOMPARE(check(withCrc(QByteArray::fromHex("018F03")), 0x1000, 1, -1, 16), quint16(ResultIllegalValue));
        // Unknown function bytes stay unsupported whatever was asked.
        QCOMPARE(check(withCrc(QByteArray::fromHex("019502")), 0x1000, 1, -1, 3), quint16(ResultUnsupported));

        // Exactly its function's form: no byte between data and CRC, no
        // echo cut short or padded, no "byte count" that is the CRC.
        init();
        QCOMPARE(check(withCrc(QByteArray::fromHex("01040200FF00")), 0, 1), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("0106100584E200")), 0x1005), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("01031000")), 0x1000), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("01830200")), 0x1000), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("012B0E0102000000FF")), 1), quint16(ResultMismatch));
        QVERIFY(blockUntouched());
        // A memory write: its header, or the whole request echoed; not a
        // header cut short.
        Modbus::Request req;
        const quint8 data[2] = {0xAA, 0x55};
        QCOMPARE(Modbus::buildBlockRequest(req, 0, 14, 0x08001C00, data, 2), quint16(ResultOk));
        auto checkBlock = [&](const QByteArray &reply) {
            return Modbus::checkReceived(reinterpret_cast<const quint8 *>(reply.constData()), reply.size(), req, image);
        };
        QCOMPARE(checkBlock(withCrc(QByteArray::fromHex("000E08001C0002"))), quint16(ResultOk));
        QCOMPARE(checkBlock(withCrc(QByteArray::fromHex("000E08001C0002AA55"))), quint16(ResultOk));
        QCOMPARE(checkBlock(withCrc(QByteArray::fromHex("000E08001C00"))), quint16(ResultMismatch));
        QCOMPARE(checkBlock(withCrc(QByteArray::fromHex("000E08001C0002AA"))), quint16(ResultMismatch));
        QCOMPARE(Modbus::longestReply(req), 11);
    }

    void replyFromAnotherAddress()
    {
        // Another unit's answer (behind a gateway, on a shared line) confirms
        // and stores nothing; at 0 and 255 a device answers under its own.
        QCOMPARE(check(withCrc(QByteArray::fromHex("021010000030")), 0x1000, 0, 1), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("02040200FF")), 0, 1, 1), quint16(ResultMismatch));
        QCOMPARE(check(withCrc(QByteArray::fromHex("028302")), 0x1000, 0, 1), quint16(ResultMismatch));
        QVERIFY(blockUntouched());
        QCOMPARE(check(withCrc(QByteArray::fromHex("050E08001CC8C8")), 0x1CC8, 0, 0), quint16(ResultOk));
        QCOMPARE(check(withCrc(QByteArray::fromHex("071010000030")), 0x1000, 0, 255), quint16(ResultOk));
    }

    void exceptions()
    {
        QCOMPARE(check(withCrc(QByteArray::fromHex("018302")), 0x1000), quint16(ResultIllegalAddress));
        QCOMPARE(check(withCrc(QByteArray::fromHex("019003")), 0x1000), quint16(ResultIllegalValue));
        // Any other exception code is a refusal, never success.
        for (const char *hex : {"018301", "018404", "018606", "018E04", "018F01", "019406"}) {
            const quint16 r = check(withCrc(QByteArray::fromHex(hex)), 0x1000);
            QCOMPARE(r, quint16(ResultRefused));
            QVERIFY(r != ResultOk);
        }
        QCOMPARE(check(withCrc(QByteArray::fromHex("019502")), 0), quint16(ResultUnsupported));
        QCOMPARE(check(withCrc(QByteArray::fromHex("01AB02")), 0), quint16(ResultUnsupported));
    }

    void identification()
    {
        // Objects 0 and 5 stored, 9 ends the parse with a mismatch.
        QByteArray r = QByteArray::fromHex("012B0E01020000" "03");
        r += QByteArray::fromHex("0005") + "Velta";
        r += QByteArray::fromHex("0505") + "TL-02";
        r += QByteArray::fromHex("0902") + "xx";
        QCOMPARE(check(withCrc(r), 1), quint16(ResultMismatch));
        QCOMPARE(QByteArray(block.IdVendorName), QByteArray("Velta"));
        QCOMPARE(QByteArray(block.IdModelName), QByteArray("TL-02"));

        // Object 3 after object 0: the later one stays.
        QByteArray r2 = QByteArray::fromHex("012B0E02020000" "02");
        r2 += QByteArray::fromHex("0003") + "ABC";
        r2 += QByteArray::fromHex("0302") + "XY";
        QCOMPARE(check(withCrc(r2), 2), quint16(ResultOk));
        QCOMPARE(QByteArray(block.IdVendorName), QByteArray("XY"));

        // Zero objects: success, nothing changes.
        QCOMPARE(check(withCrc(QByteArray::fromHex("012B0E0102000000")), 1), quint16(ResultOk));
        // Echoed code 3 is refused.
        QCOMPARE(check(withCrc(QByteArray::fromHex("012B0E0302000000")), 3), quint16(ResultMismatch));
    }

    void identificationBounds()
    {
        std::memset(block.IdProductCode, 'z', sizeof block.IdProductCode);
        // Object 0 with 40 bytes of text: cut to 17 + zero; the next field is untouched.
        QByteArray r = QByteArray::fromHex("012B0E01020000" "01") + QByteArray::fromHex("0028") + QByteArray(40, 'V');
        QCOMPARE(check(withCrc(r), 1), quint16(ResultOk));
        QCOMPARE(QByteArray(block.IdVendorName), QByteArray(17, 'V'));
        QCOMPARE(block.IdProductCode[0], 'z');

        // An object claiming more bytes than arrived.
        QByteArray r2 = QByteArray::fromHex("012B0E01020000" "01") + QByteArray::fromHex("0214") + "1.06";
        QCOMPARE(check(withCrc(r2), 1), quint16(ResultMismatch));
        QCOMPARE(block.IdFirmwareVersion[0], '\0');
        // More objects announced than present.
        QByteArray r3 = QByteArray::fromHex("012B0E01020000" "05") + QByteArray::fromHex("0204") + "1.07";
        QCOMPARE(check(withCrc(r3), 1), quint16(ResultMismatch));
        QCOMPARE(QByteArray(block.IdFirmwareVersion), QByteArray("1.07"));
        // Header cut short.
        QCOMPARE(check(withCrc(QByteArray::fromHex("012B0E01")), 1), quint16(ResultMismatch));
    }

    void identificationCutAtCharacter_data()
    {
        QTest::addColumn<int>("object");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("stored");
        // IdVendorName (object 0) keeps 17 bytes, IdModelName (object 5) 19.
        QTest::newRow("two-byte split") << 5 << QByteArray("TL-02 Детектор") << QByteArray("TL-02 Детект");
        QTest::newRow("two-byte boundary") << 0 << QByteArray("AДетекторы") << QByteArray("AДетектор");
        QTest::newRow("three-byte split") << 0 << QByteArray("abcdefghijklmnop€") << QByteArray("abcdefghijklmnop");
        QTest::newRow("four-byte split") << 0 << QByteArray("abcdefghijklmno\xF0\x9F\x98\x80")
                                         << QByteArray("abcdefghijklmno");
        QTest::newRow("not utf-8") << 0 << (QByteArray(17, 'x') + "\x80\x80\x80") << QByteArray(17, 'x');
    }

    void identificationCutAtCharacter()
    {
        QFETCH(int, object);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, stored);
        QByteArray r = QByteArray::fromHex("012B0E02020000" "01");
        r.append(char(object));
        r.append(char(text.size()));
        r += text;
        QCOMPARE(check(withCrc(r), 2), quint16(ResultOk));
        const char *field = object == 0 ? block.IdVendorName : block.IdModelName;
        QCOMPARE(QByteArray(field), stored);
        // Nothing after the terminating zero inside the field was written.
        const int capacity = object == 0 ? int(sizeof block.IdVendorName) : int(sizeof block.IdModelName);
        for (int i = stored.size(); i < capacity; ++i)
            QCOMPARE(int(field[i]), 0);
    }

    void corruptFrames()
    {
        QCOMPARE(check(QByteArray(), 0), quint16(ResultBadReply));
        QCOMPARE(check(QByteArray::fromHex("0104"), 0), quint16(ResultBadReply));
        QByteArray bad = withCrc(QByteArray::fromHex("0104020007"));
        bad[bad.size() - 1] = char(bad[bad.size() - 1] ^ 0x01);
        QCOMPARE(check(bad, 0), quint16(ResultBadReply));
        QCOMPARE(block.DeviceTypeReg, quint16(0));
        QByteArray huge = withCrc(QByteArray::fromHex("0103") + QByteArray(3000, '\0'));
        QCOMPARE(check(huge, 0x1000), quint16(ResultBadReply));
    }

    void replyLength_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QByteArray ident = QByteArray::fromHex("012B0E0102000002") + QByteArray::fromHex("0005") + "Velta";
        ident += QByteArray::fromHex("0500");
        QTest::newRow("3") << withCrc(QByteArray::fromHex("01030400010002"));
        QTest::newRow("4, no data") << withCrc(QByteArray::fromHex("010400"));
        QTest::newRow("6") << withCrc(QByteArray::fromHex("010610050019"));
        QTest::newRow("16") << withCrc(QByteArray::fromHex("011010000030"));
        QTest::newRow("14") << withCrc(QByteArray::fromHex("010E08001C00C8"));
        QTest::newRow("20") << withCrc(QByteArray::fromHex("01140010") + QByteArray(16, 'r'));
        QTest::newRow("21") << withCrc(QByteArray::fromHex("01150010") + QByteArray(16, 'r'));
        QTest::newRow("exception") << withCrc(QByteArray::fromHex("019003"));
        QTest::newRow("43") << withCrc(ident);
        QTest::newRow("43, no objects") << withCrc(QByteArray::fromHex("012B0E0102000000"));
    }

    void replyLength()
    {
        QFETCH(QByteArray, reply);
        const auto *b = reinterpret_cast<const quint8 *>(reply.constData());
        // Not known (or not reached) before the last byte, known from then on.
        for (int have = 0; have < reply.size(); ++have) {
            QCOMPARE(Modbus::replyLength(b, have), 0);
            QVERIFY(!Modbus::replyComplete(b, have));
        }
        QCOMPARE(Modbus::replyLength(b, reply.size()), reply.size());
        QVERIFY(Modbus::replyComplete(b, reply.size()));
        QByteArray longer = reply + QByteArray(3, '\x55');
        QCOMPARE(Modbus::replyLength(reinterpret_cast<const quint8 *>(longer.constData()), longer.size()),
                 reply.size());
        QVERIFY(!Modbus::replyComplete(reinterpret_cast<const quint8 *>(longer.constData()), longer.size()));
        // The right length with a broken CRC is no complete reply.
        QByteArray bad = reply;
        bad[bad.size() - 2] = char(bad[bad.size() - 2] ^ 0x40);
        QVERIFY(!Modbus::replyComplete(reinterpret_cast<const quint8 *>(bad.constData()), bad.size()));
    }

    void replyLengthUnknown()
    {
        // A function byte that tells no length: only silence ends the reply.
        const QByteArray r = withCrc(QByteArray::fromHex("01070011"));
        QCOMPARE(Modbus::replyLength(reinterpret_cast<const quint8 *>(r.constData()), r.size()), -1);
        QVERIFY(!Modbus::replyComplete(reinterpret_cast<const quint8 *>(r.constData()), r.size()));
        // A byte count of 255 is waited for, not cut short.
        const QByteArray big = QByteArray::fromHex("0103FF") + QByteArray(100, '\0');
        QCOMPARE(Modbus::replyLength(reinterpret_cast<const quint8 *>(big.constData()), big.size()), 0);
    }
};

QTEST_APPLESS_MAIN(TestModbus)
#include "test_modbus.moc"
