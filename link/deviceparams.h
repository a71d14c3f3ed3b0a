// The detector's parameter block as the tool keeps it in memory.
//
// Offsets 0..139 are the image of the detector's own parameter structure
// (this is also exactly what the hex-line parameter file stores); offsets
// 140..319 hold the identification texts.  Every 16-bit field is little
// endian, as on the device.
#pragma once

#include <QtGlobal>
#include <cstddef>

#if Q_BYTE_ORDER != Q_LITTLE_ENDIAN
#error "The parameter block is a little-endian byte image; this host is big-endian"
#endif

#pragma pack(push, 1)
struct ParamBlock {
    quint16 Config;            //   0  holding 0x1008
    quint16 Input8;            //   2  input 8
    quint16 DeviceTypeReg;     //   4  input 4
    quint16 CurrentADC;        //   6  input 0
    quint16 CurrentTok;        //   8  input 1
    quint16 ConcVal;           //  10  input 2
    quint16 ADCCode4m;         //  12  holding 0x1000
    quint16 ADCCode20m;        //  14  holding 0x1001
    quint16 ValueMin;          //  16  holding 0x1003
    quint16 ValueMax;          //  18  holding 0x1004
    quint16 PowerSens;         //  20  holding 0x1002
    quint16 PWMOptions;        //  22  holding 0x1009
    quint16 PWMCode;           //  24  input 3
    quint16 PWMCode4m;         //  26  holding 0x100A
    quint16 PWMCode20m;        //  28  holding 0x100B
    quint16 Input6;            //  30  input 6
    quint8 Unbound32[4];       //  32
    quint16 ADCCodeCalib;      //  36  holding 0x1015
    quint16 ConcCalib;         //  38  holding 0x1016
    quint16 Input5;            //  40  input 5
    quint8 Unbound42[6];       //  42
    quint16 Input7;            //  48  input 7
    quint8 Unbound50[6];       //  50
    quint16 Limit1;            //  56  holding 0x1005
    quint16 Limit2;            //  58  holding 0x1006
    quint8 Unbound60[4];       //  60
    quint16 HisterezisLimit;   //  64  holding 0x1007
    quint16 DeadZone;          //  66  holding 0x1013
    quint16 DeadZone2;         //  68  holding 0x1014
    quint16 Reg100C;           //  70  holding 0x100C
    quint8 FileRecord[16];     //  72  data of functions 20 and 21
    quint16 Scale;             //  88  display divisor, no register
    quint16 ImmitConcOn;       //  90  holding 0x1019
    quint16 ImmitConc;         //  92  holding 0x101A
    quint16 CommandWord;       //  94  holding 0x1020
    quint16 Status;            //  96  input 9
    quint16 TimeLimit;         //  98  holding 0x1011
    quint16 TimeLimitRST;      // 100  holding 0x1012
    qint32 SerialNum;          // 102  holding 0x100F (low word), 0x1010 (high word)
    quint8 NetAddress;         // 106  place of holding 0x100E
    quint8 NetSpeed;           // 107  place of holding 0x100D
    quint16 HWVersion;         // 108  holding 0x101B
    quint8 Unbound110[30];     // 110
    char IdVendorName[18];     // 140  objects 0 and 3
    char IdProductCode[10];    // 158  object 1
    char IdFirmwareVersion[40];// 168  object 2
    char IdProductName[24];    // 208  object 4
    char IdModelName[20];      // 232  object 5
    char IdAppName[28];        // 252  object 6
    char IdFirmwareDate[20];   // 280  object 7
    char IdObject8[20];        // 300  object 8
};
#pragma pack(pop)

static_assert(sizeof(ParamBlock) == 320, "parameter block must be 320 bytes");
static_assert(offsetof(ParamBlock, Limit1) == 56, "layout");
static_assert(offsetof(ParamBlock, FileRecord) == 72, "layout");
static_assert(offsetof(ParamBlock, SerialNum) == 102, "layout");
static_assert(offsetof(ParamBlock, HWVersion) == 108, "layout");
static_assert(offsetof(ParamBlock, IdVendorName) == 140, "layout");
static_assert(offsetof(ParamBlock, IdObject8) == 300, "layout");

namespace Params {
constexpr int ImageSize = 320;      // whole block
constexpr int StructSize = 140;     // the device's parameter structure (file content)

// Device types, as input register 4 reports them.  0 is what the link holds
// while no device is connected (or the one that answered was not recognised).
constexpr qint16 TypeNone = 0;
constexpr qint16 TypeDetector1 = 1;
constexpr qint16 TypeDetector2 = 2;
constexpr qint16 TypeBootloader = 999;
// A TL-02 detector (either type).
inline bool isDetector(int type) { return type == TypeDetector1 || type == TypeDetector2; }
// A detector or its bootloader: a device the tool works with.
inline bool isRecognised(int type) { return isDetector(type) || type == TypeBootloader; }

constexpr quint16 HoldingFirst = 0x1000;
constexpr quint16 HoldingLast = 0x102F;
constexpr int HoldingCount = 48;
constexpr int InputCount = 10;
constexpr quint16 InputDeviceType = 4;      // input register of the device type
constexpr quint16 SerialNumberFirst = 0x100F;   // serial number, low word then high word

// Bits of Status (input register 9).
constexpr quint16 StatusSoundOff = 0x0100;  // bit 8: the manual sound switch-off is on

constexpr quint16 SimulationFirst = 0x1019;  // ImmitConcOn, then ImmitConc at 0x101A
constexpr quint16 CommandRegister = 0x1020;
constexpr quint16 CmdRestart = 0x6060;
constexpr quint16 CmdStoreFactory = 0x3003;
constexpr quint16 CmdRestoreFactory = 0x6006;
constexpr quint16 CmdSoundOffOn = 0x2002;   // manual sound switch-off on
constexpr quint16 CmdSoundOffOff = 0x7007;  // manual sound switch-off off
constexpr quint16 CmdBootloader = 0x5555;

constexpr int NoPlace = -1;   // the register is bound to the shared scratch word

// Place (byte offset in the block) of a holding register, or NoPlace for the
// scratch word.  reg must be valid (0x1000..0x102F).
int holdingPlace(quint16 reg);
// Place of an input register 0..9.
int inputPlace(quint16 reg);

// Identification object id 0..8 -> offset and capacity of its text field.
struct IdField { int offset; int capacity; };
IdField identificationField(int objectId);
} // namespace Params
