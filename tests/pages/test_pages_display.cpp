// The measurement, settings and calibration-parameters pages: what they
// show from DeviceParams and what their controls write back into it.
#include "programlink.h"
#include "devicesetting_2_window.h"
#include "devicesetting_3_window.h"
#include "measurewindow.h"
#include "modalcloser.h"
#include "pagetest.h"
#include "paramtable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QtTest>
#include <cstring>
#include <functional>

using namespace PageTest;
using TestWidgets::choose;

namespace {

void setText(char *field, int capacity, const char *text)
{
    std::memset(field, 0, capacity);
    std::strncpy(field, text, capacity - 1);
}

// The scaled fields with the slot that writes each, on both editing pages.
struct ScaledSlot {
    const char *page;      // "settings" or "calib"
    const char *slot;
    std::function<quint16()> field;
};

QList<ScaledSlot> scaledSlots()
{
    ParamBlock &p = command.DeviceParams;
    return {
        {"settings", "on_doubleSpinBox_ValueMax_valueChanged", [&p] { return p.ValueMax; }},
        {"settings", "on_doubleSpinBox_HisterezisLimit_valueChanged", [&p] { return p.HisterezisLimit; }},
        {"settings", "on_doubleSpinBox_DeadZone_valueChanged", [&p] { return p.DeadZone; }},
        {"settings", "on_doubleSpinBox_DeadZone_2_valueChanged", [&p] { return p.DeadZone2; }},
        {"settings", "on_doubleSpinBox_Limit1_valueChanged", [&p] { return quint16(p.Limit1 & 0x7FFF); }},
        {"settings", "on_doubleSpinBox_Limit2_valueChanged", [&p] { return quint16(p.Limit2 & 0x7FFF); }},
        {"calib", "on_doubleSpinBox_ValueMin_valueChanged", [&p] { return p.ValueMin; }},
        {"calib", "on_doubleSpinBox_ValueMax_valueChanged", [&p] { return p.ValueMax; }},
        {"calib", "on_doubleSpinBox_ConcCalib_valueChanged", [&p] { return p.ConcCalib; }},
    };
}

} // namespace

class PagesDisplayTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { command.resetState(); }
    void cleanup() { command.resetState(); }

    void measureSerialNumber_data();
    void measureSerialNumber();
    void measureOutputAndConcentration();
    void measureIdentification();
    void measureSimulationControls();
    void measureAccessLevels_data();
    void measureAccessLevels();

    void scaledEditsRoundHalfToEven_data();
    void scaledEditsRoundHalfToEven();
    void thresholdValueAndDirectionIndependent();
    void delaysInWholeSeconds();
    void discretenessAndUnitChanges();
    void discretenessConversion();
    void refreshLeavesUnshownValues();
    void rangesFromTheParameterTable();
    void rawAndSerialFields();
    void settingsAccessLevelsAndDeviceType();
    void lineSpeedListStaysEmpty();

    void calibrationParameters();
};

// ------------------------------------------------------------ measurement

void PagesDisplayTest::measureSerialNumber_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("typeReg");
    QTest::addColumn<QString>("text");
    QTest::newRow("detector") << 4711 << 1 << QStringLiteral("TL02ID0004711");
    QTest::newRow("voltage output") << 4711 << 2 << QStringLiteral("TL02UD0004711");
    QTest::newRow("other type") << 4711 << 999 << QStringLiteral("TL02ID0004711");
    QTest::newRow("negative") << -42 << 1 << QStringLiteral("TL02ID-000042");
    QTest::newRow("nine digits") << 123456789 << 1 << QStringLiteral("TL02ID123456789");
    QTest::newRow("cut to 15") << -1234567890 << 2 << QStringLiteral("TL02UD-12345678");
}

void PagesDisplayTest::measureSerialNumber()
{
    QFETCH(int, serial);
    QFETCH(int, typeReg);
    QFETCH(QString, text);
    command.DeviceParams.SerialNum = serial;
    command.DeviceParams.DeviceTypeReg = quint16(typeReg);
    MeasureWindow page;
    QCOMPARE(child<QLabel>(&page, "label_SerialNum_field")->text(), text);
}

void PagesDisplayTest::measureOutputAndConcentration()
{
    ParamBlock &p = command.DeviceParams;
    p.CurrentTok = 0xFFFF;
    p.DeviceTypeReg = 2;
    p.Config = 0x0022;          // decimals code 2, unit 2
    p.ConcVal = 12345;
    p.CurrentADC = 54321;
    p.PWMCode = 2500;
    MeasureWindow page;
    auto *tok = child<QDoubleSpinBox>(&page, "doubleSpinBox_CurrentTok");
    auto *tokLabel = child<QLabel>(&page, "label_CurrentTok");
    auto *conc = child<QDoubleSpinBox>(&page, "doubleSpinBox_ConcVal");

    // Voltage output: signed, in 0.01 mV.
    QCOMPARE(tok->value(), -0.01);
    QCOMPARE(tok->decimals(), 2);
    QCOMPARE(tok->suffix(), QStringLiteral(" мВ"));
    QCOMPARE(tokLabel->text(), QStringLiteral("Текущее напряжение"));

    QCOMPARE(p.Scale, quint16(100));
    QCOMPARE(conc->decimals(), 2);
    QCOMPARE(conc->maximum(), 655.35);
    QCOMPARE(conc->suffix(), QStringLiteral(" %LEL"));
    QCOMPARE(conc->value(), 123.45);
    QCOMPARE(child<QDoubleSpinBox>(&page, "doubleSpinBox_CurrentADC")->value(), 54321.0);
    QCOMPARE(child<QDoubleSpinBox>(&page, "doubleSpinBox_PWMCode")->value(), 2500.0);

    // Any other output kind: the same word is an unsigned current in µA.
    p.DeviceTypeReg = 1;
    p.Config = 0x0033;          // three decimals, %VOL
    p.Scale = 0;
    page.refresh();
    QCOMPARE(tok->value(), 65.535);
    QCOMPARE(tok->decimals(), 3);
    QCOMPARE(tok->suffix(), QStringLiteral(" мА"));
    QCOMPARE(tokLabel->text(), QStringLiteral("Текущее значение тока"));
    QCOMPARE(p.Scale, quint16(1000));
    QCOMPARE(conc->maximum(), 65.535);
    QCOMPARE(conc->value(), 12.345);
    QCOMPARE(conc->suffix(), QStringLiteral(" %VOL"));
}

void PagesDisplayTest::measureIdentification()
{
    ParamBlock &p = command.DeviceParams;
    setText(p.IdVendorName, sizeof p.IdVendorName, "Velta");
    setText(p.IdModelName, sizeof p.IdModelName, "TL-02");
    setText(p.IdFirmwareVersion, sizeof p.IdFirmwareVersion, "1.06");
    // A date that fills its field to the last byte, with no terminator.
    std::memcpy(p.IdFirmwareDate, "2026-03-14 12:00:00Z", sizeof p.IdFirmwareDate);
    p.HWVersion = 123;
    MeasureWindow page;
    QCOMPARE(child<QLabel>(&page, "label_Made_field")->text(), QStringLiteral("Velta"));
    QCOMPARE(child<QLabel>(&page, "label_Name_field")->text(), QStringLiteral("TL-02"));
    QCOMPARE(child<QLabel>(&page, "label_Ver_field")->text(), QStringLiteral("1.06"));
    QCOMPARE(child<QLabel>(&page, "label_VerDataTime_field")->text(), QStringLiteral("2026-03-14 12:00:00Z"));
    QCOMPARE(child<QLabel>(&page, "label_HW_field")->text(), QStringLiteral("1.23"));
    p.HWVersion = 5;
    setText(p.IdVendorName, sizeof p.IdVendorName, "Велта");
    page.refresh();
    QCOMPARE(child<QLabel>(&page, "label_HW_field")->text(), QStringLiteral("0.05"));
    QCOMPARE(child<QLabel>(&page, "label_Made_field")->text(), QStringLiteral("Велта"));
}

void PagesDisplayTest::measureSimulationControls()
{
    ParamBlock &p = command.DeviceParams;
    p.ImmitConcOn = 1;
    p.ImmitConc = 250;
    MeasureWindow page;
    auto *box = child<QCheckBox>(&page, "checkBox_ImmitConc");
    auto *value = child<QDoubleSpinBox>(&page, "doubleSpinBox_ImmitConc");
    QVERIFY(box->isChecked());
    QCOMPARE(value->value(), 250.0);
    QCOMPARE(box->text(), QStringLiteral("Имитация концентрации Вкл."));

    // The text tells whether a value is set, whatever the box's state.
    value->setValue(0);
    QCOMPARE(p.ImmitConc, quint16(0));
    QVERIFY(box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Имитация концентрации Выкл."));
    box->setChecked(false);
    QCOMPARE(p.ImmitConcOn, quint16(0));
    value->setValue(1234);
    QCOMPARE(p.ImmitConc, quint16(1234));
    QVERIFY(!box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Имитация концентрации Вкл."));

    // A read that finds the device simulating sets both controls; the
    // values stay as read (7 is not rewritten as 1), the text follows.
    p.ImmitConcOn = 7;
    p.ImmitConc = 0;
    page.refresh();
    QVERIFY(box->isChecked());
    QCOMPARE(p.ImmitConcOn, quint16(7));
    QCOMPARE(p.ImmitConc, quint16(0));
    QCOMPARE(box->text(), QStringLiteral("Имитация концентрации Выкл."));
    p.ImmitConc = 99;
    page.refresh();
    QCOMPARE(box->text(), QStringLiteral("Имитация концентрации Вкл."));
}

void PagesDisplayTest::measureAccessLevels_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("User") << QStringLiteral("User") << true;
    QTest::newRow("Admin") << QStringLiteral("Admin") << true;
    QTest::newRow("Velta") << QStringLiteral("Velta") << false;
    QTest::newRow("Noname") << QStringLiteral("Noname") << false;
}

void PagesDisplayTest::measureAccessLevels()
{
    QFETCH(QString, level);
    QFETCH(bool, hidden);
    command.UserName = level;
    MeasureWindow page;
    page.show();
    for (const char *name : {"checkBox_ImmitConc", "doubleSpinBox_ImmitConc", "label_PWMCode", "doubleSpinBox_PWMCode"})
        QCOMPARE(child<QWidget>(&page, name)->isVisible(), !hidden);
    QVERIFY(child<QWidget>(&page, "doubleSpinBox_CurrentADC")->isVisible());
}

// ------------------------------------------------------------ settings

void PagesDisplayTest::scaledEditsRoundHalfToEven_data()
{
    QTest::addColumn<double>("shown");
    QTest::addColumn<int>("stored");
    // Scale 10: ties go to the even neighbour, the rest to the nearest.
    QTest::newRow("1.25") << 1.25 << 12;
    QTest::newRow("1.35") << 1.35 << 14;
    QTest::newRow("0.05") << 0.05 << 0;
    QTest::newRow("1.26") << 1.26 << 13;
    QTest::newRow("2.49") << 2.49 << 25;
}

void PagesDisplayTest::scaledEditsRoundHalfToEven()
{
    QFETCH(double, shown);
    QFETCH(int, stored);
    command.DeviceParams.Config = 0x0010;   // "X,X": Scale 10
    command.DeviceParams.Limit1 = 0x8000;
    DeviceSetting_2_Window settings;
    DeviceSetting_3_Window calib;
    QCOMPARE(command.DeviceParams.Scale, quint16(10));
    for (const ScaledSlot &s : scaledSlots()) {
        QObject *page = qstrcmp(s.page, "settings") == 0 ? static_cast<QObject *>(&settings) : &calib;
        QVERIFY(QMetaObject::invokeMethod(page, s.slot, Q_ARG(double, shown)));
        QVERIFY2(s.field() == stored, qPrintable(QStringLiteral("%1 stored %2").arg(s.slot).arg(s.field())));
    }
    QVERIFY(command.DeviceParams.Limit1 & 0x8000);
}

void PagesDisplayTest::thresholdValueAndDirectionIndependent()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0020;            // "X,XX": Scale 100
    p.Limit1 = 0x8000 | 300;      // decreasing, 3.00
    p.Limit2 = 500;               // increasing, 5.00
    DeviceSetting_2_Window page;
    auto *limit1 = child<QDoubleSpinBox>(&page, "doubleSpinBox_Limit1");
    auto *dir1 = child<QCheckBox>(&page, "checkBoxLim1IncDec");
    auto *dir2 = child<QCheckBox>(&page, "checkBoxLim2IncDec");

    QCOMPARE(limit1->value(), 3.0);
    QCOMPARE(limit1->maximum(), 327.67);
    QVERIFY(!dir1->isChecked());
    QCOMPARE(dir1->text(), QStringLiteral("Убыв."));
    QVERIFY(dir2->isChecked());
    QCOMPARE(dir2->text(), QStringLiteral("Возр."));

    // 12.5 at Scale 100 is 1250 = 0x04E2, with the decreasing bit 0x84E2.
    limit1->setValue(12.5);
    QCOMPARE(p.Limit1, quint16(0x84E2));
    dir1->setChecked(true);
    QCOMPARE(p.Limit1, quint16(0x04E2));
    QCOMPARE(dir1->text(), QStringLiteral("Возр."));
    dir2->setChecked(false);
    QCOMPARE(p.Limit2, quint16(0x8000 | 500));
    QCOMPARE(dir2->text(), QStringLiteral("Убыв."));
    child<QDoubleSpinBox>(&page, "doubleSpinBox_Limit2")->setValue(327.67);
    QCOMPARE(p.Limit2, quint16(0xFFFF));
    QCOMPARE(p.Limit1, quint16(0x04E2));
}

void PagesDisplayTest::delaysInWholeSeconds()
{
    ParamBlock &p = command.DeviceParams;
    p.TimeLimit = 1500;
    p.TimeLimitRST = 30000;
    DeviceSetting_2_Window page;
    auto *trip = child<QDoubleSpinBox>(&page, "doubleSpinBox_TimeLimit");
    auto *reset = child<QDoubleSpinBox>(&page, "doubleSpinBox_TimeLimitRST");
    // 1.5 s shows as 1 s, above 20 s the box stops at 20; the fields keep
    // what the device has until the user edits them.
    QCOMPARE(trip->value(), 1.0);
    QCOMPARE(p.TimeLimit, quint16(1500));
    QCOMPARE(reset->value(), 20.0);
    QCOMPARE(p.TimeLimitRST, quint16(30000));
    trip->setValue(7);
    QCOMPARE(p.TimeLimit, quint16(7000));
    QCOMPARE(p.TimeLimitRST, quint16(30000));
    reset->setValue(19);
    QCOMPARE(p.TimeLimitRST, quint16(19000));
}

void PagesDisplayTest::discretenessAndUnitChanges()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0610 | 0x0100 | 1;   // "X,X", mg/m3, both auto-resets, bit 8
    p.Limit1 = 987;
    p.ValueMax = 1000;
    p.DeadZone = 5;
    DeviceSetting_2_Window page;
    auto *limit1 = child<QDoubleSpinBox>(&page, "doubleSpinBox_Limit1");
    auto *valueMax = child<QDoubleSpinBox>(&page, "doubleSpinBox_ValueMax");
    auto *discreteness = child<QComboBox>(&page, "comboBoxDiscreteness");
    QCOMPARE(limit1->value(), 98.7);
    QCOMPARE(limit1->suffix(), QStringLiteral(" mg/m3"));
    QCOMPARE(discreteness->currentIndex(), 1);
    QVERIFY(child<QCheckBox>(&page, "checkBox_Limit_1_ACK")->isChecked());
    QVERIFY(child<QCheckBox>(&page, "checkBox_Limit_2_ACK")->isChecked());

    // "X,X" -> "X,XX": the shown values stay, the stored ones follow.
    choose(discreteness, 2);
    QCOMPARE(p.Config, quint16(0x0720 | 1));
    QCOMPARE(p.Scale, quint16(100));
    QCOMPARE(p.Limit1, quint16(9870));
    QCOMPARE(limit1->value(), 98.7);
    QCOMPARE(limit1->decimals(), 2);
    QCOMPARE(p.ValueMax, quint16(10000));
    QCOMPARE(valueMax->value(), 100.0);
    QCOMPARE(valueMax->maximum(), 655.35);
    QCOMPARE(p.DeadZone, quint16(50));

    // Unit: bits 0-1 only, every scaled box follows.
    choose(child<QComboBox>(&page, "comboBoxUnitMeas"), 3);
    QCOMPARE(p.Config, quint16(0x0720 | 3));
    for (const char *name : {"doubleSpinBox_Limit1", "doubleSpinBox_Limit2", "doubleSpinBox_ValueMax",
                             "doubleSpinBox_HisterezisLimit", "doubleSpinBox_DeadZone", "doubleSpinBox_DeadZone_2"})
        QCOMPARE(child<QDoubleSpinBox>(&page, name)->suffix(), QStringLiteral(" %VOL"));

    // Auto-reset boxes set and clear bits 9 and 10 only.
    child<QCheckBox>(&page, "checkBox_Limit_1_ACK")->setChecked(false);
    QCOMPARE(p.Config, quint16(0x0520 | 3));
    child<QCheckBox>(&page, "checkBox_Limit_2_ACK")->setChecked(false);
    QCOMPARE(p.Config, quint16(0x0120 | 3));

    // Discreteness code 3 (read from a device) has no entry: no selection,
    // three decimals.
    p.Config = 0x0030;
    page.refresh();
    QCOMPARE(discreteness->currentIndex(), -1);
    QCOMPARE(p.Scale, quint16(1000));
    QCOMPARE(limit1->decimals(), 3);
    QCOMPARE(limit1->value(), 9.87);

    choose(child<QComboBox>(&page, "comboBox_PWMOptions"), 2);
    QCOMPARE(p.PWMOptions, quint16(2));
}

void PagesDisplayTest::discretenessConversion()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0010;            // "X,X"
    p.Limit1 = 255;               // 25.5, rising
    p.Limit2 = 0x8000 | 400;      // 40.0, falling
    p.HisterezisLimit = 15;
    p.ValueMin = 25;
    p.ValueMax = 6000;
    p.ConcCalib = 505;
    ModalCloser closer;
    DeviceSetting_2_Window page;
    auto *discreteness = child<QComboBox>(&page, "comboBoxDiscreteness");

    // "X,X" -> "X": both thresholds keep their place (25.5 rounds to even
    // 26, the direction bit of threshold 2 stays), and so does every value
    // in those units, the calibration gas and range minimum included.
    choose(discreteness, 0);
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(p.Config, quint16(0x0000));
    QCOMPARE(p.Limit1, quint16(26));
    QCOMPARE(p.Limit2, quint16(0x8000 | 40));
    QCOMPARE(p.HisterezisLimit, quint16(2));
    QCOMPARE(p.ValueMin, quint16(2));
    QCOMPARE(p.ValueMax, quint16(600));
    QCOMPARE(p.ConcCalib, quint16(50));
    QCOMPARE(child<QDoubleSpinBox>(&page, "doubleSpinBox_Limit2")->value(), 40.0);

    // "X" -> "X,XX" would need 60000 for range_max (fits) but 40000 for
    // threshold 2, whose value field stops at 32767: refused, nothing moves.
    p.Limit2 = 0x8000 | 400;
    page.refresh();
    const ParamBlock before = p;
    choose(discreteness, 2);
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Дискретность"));
    QCOMPARE(closer.seen[0].text,
             QStringLiteral("Дискретность не изменена: с ней не поместятся в регистр значения: Порог 2"));
    QCOMPARE(std::memcmp(&p, &before, sizeof p), 0);
    QCOMPARE(discreteness->currentIndex(), 0);
    QCOMPARE(child<QDoubleSpinBox>(&page, "doubleSpinBox_Limit2")->decimals(), 0);

    // Every value that would not fit is named.
    closer.clear();
    p.ValueMax = 6554;
    p.Limit2 = 0x8000 | 3277;
    p.DeadZone2 = 7000;
    choose(discreteness, 1);
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].text, QStringLiteral("Дискретность не изменена: с ней не поместятся в регистр значения: "
                                                 "Верхнее зн-е диапазона, Порог 2, Мертв. зона 2"));
    QCOMPARE(p.Config, quint16(0x0000));
}

void PagesDisplayTest::refreshLeavesUnshownValues()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0010;            // "X,X"
    p.Scale = 10;
    p.NetAddress = 250;           // the table's limit is 247
    p.SerialNum = 1500000000;     // the box stops at 999 999 999
    p.TimeLimit = 1500;           // shown as 1 s
    p.TimeLimitRST = 25000;       // shown as 20 s
    p.ImmitConcOn = 3;
    p.ConcCalib = 777;
    const ParamBlock before = p;
    DeviceSetting_2_Window settings;
    DeviceSetting_3_Window calib;
    MeasureWindow measure;
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_NetAdress")->value(), 247.0);
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_SerialNum")->value(), 999999999.0);
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_TimeLimitRST")->value(), 20.0);
    QCOMPARE(std::memcmp(&p, &before, sizeof p), 0);

    // Address 0 (broadcast) shows as the table's minimum 1, and stays 0;
    // a negative serial number shows as 0.  Fewer decimals round a shown
    // value, and the rounded value is not stored either.
    p.NetAddress = 0;
    p.SerialNum = -5;
    p.Config = 0x0000;
    p.Scale = 1;
    const ParamBlock second = p;
    settings.refresh();
    calib.refresh();
    measure.refresh();
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_NetAdress")->value(), 1.0);
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_SerialNum")->value(), 0.0);
    QCOMPARE(std::memcmp(&p, &second, sizeof p), 0);

    // A user's edit still writes its own field, and only that.
    child<QDoubleSpinBox>(&settings, "doubleSpinBox_NetAdress")->setValue(17);
    QCOMPARE(p.NetAddress, quint8(17));
    QCOMPARE(p.SerialNum, -5);
    QCOMPARE(p.TimeLimit, quint16(1500));
    child<QDoubleSpinBox>(&calib, "doubleSpinBox_ConcCalib")->setValue(700);
    QCOMPARE(p.ConcCalib, quint16(700));
    child<QCheckBox>(&measure, "checkBox_ImmitConc")->setChecked(false);
    QCOMPARE(p.ImmitConcOn, quint16(0));
}

void PagesDisplayTest::rangesFromTheParameterTable()
{
    command.DeviceParams.Config = 0x0020;    // "X,XX"
    DeviceSetting_2_Window settings;
    DeviceSetting_3_Window calib;
    const struct { QObject *page; const char *box; const char *name; double min; double max; } boxes[] = {
        {&settings, "doubleSpinBox_Limit1", "limit1", 0, 327.67},
        {&settings, "doubleSpinBox_Limit2", "limit2", 0, 327.67},
        {&settings, "doubleSpinBox_ValueMax", "range_max", 0, 655.35},
        {&settings, "doubleSpinBox_HisterezisLimit", "hysteresis", 0, 655.35},
        {&settings, "doubleSpinBox_DeadZone", "dead_zone", 0, 655.35},
        {&settings, "doubleSpinBox_DeadZone_2", "dead_zone2", 0, 655.35},
        {&settings, "doubleSpinBox_TimeLimit", "trip_delay", 0, 20},
        {&settings, "doubleSpinBox_TimeLimitRST", "reset_delay", 0, 20},
        {&settings, "doubleSpinBox_NetAdress", "net_address", 1, 247},
        {&settings, "doubleSpinBox_SerialNum", "serial_number", 0, 999999999},
        {&settings, "doubleSpinBox_PowerSens", "sensor_current", 0, 65535},
        {&calib, "doubleSpinBox_ADCCode4m", "adc_4ma", 0, 65535},
        {&calib, "doubleSpinBox_ADCCod20m", "adc_20ma", 0, 65535},
        {&calib, "doubleSpinBox_ADCCodeCalib", "adc_calib", 0, 65535},
        {&calib, "doubleSpinBox_PWMCode4m", "pwm_4ma", 0, 65535},
        {&calib, "doubleSpinBox_PWMCode20m", "pwm_20ma", 0, 65535},
        {&calib, "doubleSpinBox_ValueMin", "range_min", 0, 655.35},
        {&calib, "doubleSpinBox_ValueMax", "range_max", 0, 655.35},
        {&calib, "doubleSpinBox_ConcCalib", "conc_calib", 0, 655.35},
    };
    for (const auto &b : boxes) {
        auto *box = child<QDoubleSpinBox>(b.page, b.box);
        const Params::Range r = Params::shownRange(*Params::findParameter(QLatin1String(b.name)), 0x0020);
        QVERIFY2(box->minimum() == r.min && box->maximum() == r.max, b.box);
        // The table itself holds the limits the pages always had (the
        // network address now from 1).
        QVERIFY2(qFuzzyCompare(r.min + 1, b.min + 1) && qFuzzyCompare(r.max, b.max), b.name);
    }
    // The form's other properties stay.
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_TimeLimit")->suffix(), QStringLiteral(" c"));
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_PowerSens")->suffix(), QStringLiteral(" mA"));
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_SerialNum")->decimals(), 0);
}

void PagesDisplayTest::rawAndSerialFields()
{
    ParamBlock &p = command.DeviceParams;
    p.SerialNum = 4711;
    command.DeviceType = 2;
    DeviceSetting_2_Window page;
    auto *serial = child<QDoubleSpinBox>(&page, "doubleSpinBox_SerialNum");
    QCOMPARE(serial->value(), 4711.0);
    serial->setValue(123456789);
    QCOMPARE(p.SerialNum, 123456789);
    QVERIFY(QMetaObject::invokeMethod(&page, "on_doubleSpinBox_SerialNum_valueChanged", Q_ARG(double, 3000000000.7)));
    QCOMPARE(p.SerialNum, 2147483647);

    QVERIFY(QMetaObject::invokeMethod(&page, "on_doubleSpinBox_PowerSens_valueChanged", Q_ARG(double, 15.9)));
    QCOMPARE(p.PowerSens, quint16(15));
    QVERIFY(QMetaObject::invokeMethod(&page, "on_doubleSpinBox_NetAdress_valueChanged", Q_ARG(double, 17.9)));
    QCOMPARE(p.NetAddress, quint8(17));
}

void PagesDisplayTest::settingsAccessLevelsAndDeviceType()
{
    const struct { const char *level; bool readOnly; } levels[] = {
        {"User", true}, {"Admin", true}, {"Velta", false}, {"Noname", false}};
    for (const auto &l : levels) {
        command.UserName = QLatin1String(l.level);
        DeviceSetting_2_Window page;
        QVERIFY2(child<QDoubleSpinBox>(&page, "doubleSpinBox_SerialNum")->isReadOnly() == l.readOnly, l.level);
    }

    command.DeviceType = 1;
    command.DeviceParams.PowerSens = 40;
    DeviceSetting_2_Window page;
    page.show();
    auto *power = child<QDoubleSpinBox>(&page, "doubleSpinBox_PowerSens");
    QVERIFY(!power->isVisible());
    QVERIFY(!child<QLabel>(&page, "label_PowerSens")->isVisible());
    command.DeviceType = 2;
    page.refresh();
    QVERIFY(power->isVisible());
    QCOMPARE(power->value(), 40.0);
    // Other types leave the pair as it is.
    command.DeviceType = 0;
    page.refresh();
    QVERIFY(power->isVisible());
}

void PagesDisplayTest::lineSpeedListStaysEmpty()
{
    command.DeviceParams.NetSpeed = 2;
    DeviceSetting_2_Window page;
    auto *speed = child<QComboBox>(&page, "comboBox_NetSpeed");
    QCOMPARE(speed->count(), 0);
    QVERIFY(!speed->isEnabled());
    page.refresh();
    QCOMPARE(command.DeviceParams.NetSpeed, quint8(2));
}

// ------------------------------------------------------------ calibration parameters

void PagesDisplayTest::calibrationParameters()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0012;            // "X,X", %LEL
    p.ValueMax = 900;
    p.ADCCode4m = 8000;
    p.ADCCode20m = 40000;
    DeviceSetting_3_Window page;
    DeviceSetting_2_Window settings;
    auto *valueMax = child<QDoubleSpinBox>(&page, "doubleSpinBox_ValueMax");
    auto *code20 = child<QDoubleSpinBox>(&page, "doubleSpinBox_ADCCod20m");
    QCOMPARE(valueMax->value(), 90.0);
    QCOMPARE(valueMax->decimals(), 1);
    QCOMPARE(valueMax->maximum(), 6553.5);
    QCOMPARE(valueMax->suffix(), QStringLiteral(" %LEL"));
    QVERIFY(code20->isReadOnly());
    QCOMPARE(code20->value(), 40000.0);

    p.Config = 0x0002;            // "X"
    page.refresh();
    QCOMPARE(p.Scale, quint16(1));
    QCOMPARE(valueMax->value(), 900.0);

    // The read-only code still follows a refresh.
    p.ADCCode20m = 41000;
    page.refresh();
    QCOMPARE(code20->value(), 41000.0);

    // Raw codes: the value truncated.
    for (const char *slot : {"on_doubleSpinBox_ADCCode4m_valueChanged", "on_doubleSpinBox_ADCCodeCalib_valueChanged",
                             "on_doubleSpinBox_PWMCode4m_valueChanged", "on_doubleSpinBox_PWMCode20m_valueChanged"})
        QVERIFY(QMetaObject::invokeMethod(&page, slot, Q_ARG(double, 1234.9)));
    QCOMPARE(p.ADCCode4m, quint16(1234));
    QCOMPARE(p.ADCCodeCalib, quint16(1234));
    QCOMPARE(p.PWMCode4m, quint16(1234));
    QCOMPARE(p.PWMCode20m, quint16(1234));

    // Both pages edit the one ValueMax; each shows it after its own refresh.
    valueMax->setValue(750);
    QCOMPARE(p.ValueMax, quint16(750));
    settings.refresh();
    QCOMPARE(child<QDoubleSpinBox>(&settings, "doubleSpinBox_ValueMax")->value(), 750.0);
    child<QDoubleSpinBox>(&settings, "doubleSpinBox_ValueMax")->setValue(640);
    QCOMPARE(valueMax->value(), 750.0);
    page.refresh();
    QCOMPARE(valueMax->value(), 640.0);
}

QTEST_MAIN(PagesDisplayTest)
#include "test_pages_display.moc"
