// Parameter files between the program and tlctl: a file the program saves
// is loaded into a detector by tlctl restore, and the file tlctl backup
// writes is loaded by the program, with the same block in the end.
#include "programlink.h"
#include "conversions.h"
#include "modalcloser.h"
#include "parameterfile_gui.h"
#include "simprocess.h"
#include "tlctlrun.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

quint16 placeValue(const quint8 *image, quint16 reg)
{
    const int p = Params::holdingPlace(reg);
    return quint16(image[p] | image[p + 1] << 8);
}

// Holding registers a 48-register write carries from the block (the command
// register excepted: the device acts on it).
QList<quint16> blockRegisters()
{
    QList<quint16> regs;
    for (quint16 r = Params::HoldingFirst; r <= Params::HoldingLast; ++r)
        if (r != Params::CommandRegister && Params::holdingPlace(r) != Params::NoPlace)
            regs << r;
    return regs;
}

} // namespace

class TestTlctlProgram : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { command.resetState(); }

    void programFileThroughTlctlAndBack()
    {
        QTemporaryDir dir;
        // The program reads a detector as its read cycle does and the user
        // edits a few values on the pages.
        SimProcess first;
        QVERIFY(first.start());
        command.PortName = first.portPath();
        QVERIFY(command.openPort());
        command.SlaveAddress = 1;
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        command.DeviceType = qint16(command.DeviceParams.DeviceTypeReg);
        QCOMPARE(command.transact(43, 0, 1, 0), quint16(ResultOk));
        QCOMPARE(command.transact(43, 0, 2, 0), quint16(ResultOk));
        command.WriteCount = Conv::writeCountFor(command.DeviceParams.IdFirmwareVersion, 40, command.DeviceType);
        QCOMPARE(command.transact(3, 0, 0x1000, command.WriteCount), quint16(ResultOk));
        command.closePort();
        ParamBlock &b = command.DeviceParams;
        b.Config = Conv::withUnit(Conv::withDecimals(Conv::withBit(b.Config, 10, true), 2), 2);
        b.Scale = Conv::scaleFromConfig(b.Config);
        b.Limit1 = Conv::limitWithDirection(Conv::limitWithValue(b.Limit1, 12.5, b.Scale), true);
        b.ValueMax = Conv::toScaled(50, b.Scale);
        b.HisterezisLimit = Conv::toScaled(0.75, b.Scale);
        b.TimeLimit = Conv::delayFromSeconds(9);
        b.PWMOptions = 3;
        b.ADCCode4m = 8123;
        quint8 program[140];
        std::memcpy(program, &b, sizeof program);

        const QString saved = dir.filePath(QStringLiteral("program.txt"));
        {
            ModalCloser closer;
            QVERIFY(saveBlockFile(saved));
            QVERIFY(closer.seen.isEmpty());
        }

        SimProcess second;
        QVERIFY(second.start());
        // The whole configuration, the calibration code too, goes over.
        const TlctlRun r = runTlctl({QStringLiteral("--port"), second.portPath(), QStringLiteral("restore"), saved,
                                     QStringLiteral("--user"), QStringLiteral("Velta"), QStringLiteral("--yes"),
                                     QStringLiteral("--clone")},
                                    password(QStringLiteral("8350")));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        for (quint16 reg : blockRegisters())
            QVERIFY2(second.holding(reg) == placeValue(program, reg), qPrintable(QString::number(reg, 16)));
        QCOMPARE(second.holding(0x1005), 0x8000 | 1250);

        const QString backup = dir.filePath(QStringLiteral("tlctl.txt"));
        QCOMPARE(runTlctl({QStringLiteral("--port"), second.portPath(), QStringLiteral("backup"), backup}).code, 0);
        quint8 loaded[140];
        std::memset(loaded, 0xEE, sizeof loaded);
        {
            ModalCloser closer;
            QVERIFY(loadBlockFile(nullptr, backup, loaded));
            QVERIFY(closer.seen.isEmpty());
        }
        for (quint16 reg : blockRegisters())
            QVERIFY2(placeValue(loaded, reg) == placeValue(program, reg), qPrintable(QString::number(reg, 16)));
        // The display divisor travels in the file as the program keeps it.
        QCOMPARE(quint16(loaded[88] | loaded[89] << 8), quint16(100));
    }
};

QTEST_MAIN(TestTlctlProgram)
#include "test_tlctl_program.moc"
