#include "deviceparams.h"

namespace Params {

int holdingPlace(quint16 reg)
{
    switch (reg) {
    case 0x1000: return offsetof(ParamBlock, ADCCode4m);
    case 0x1001: return offsetof(ParamBlock, ADCCode20m);
    case 0x1002: return offsetof(ParamBlock, PowerSens);
    case 0x1003: return offsetof(ParamBlock, ValueMin);
    case 0x1004: return offsetof(ParamBlock, ValueMax);
    case 0x1005: return offsetof(ParamBlock, Limit1);
    case 0x1006: return offsetof(ParamBlock, Limit2);
    case 0x1007: return offsetof(ParamBlock, HisterezisLimit);
    case 0x1008: return offsetof(ParamBlock, Config);
    case 0x1009: return offsetof(ParamBlock, PWMOptions);
    case 0x100A: return offsetof(ParamBlock, PWMCode4m);
    case 0x100B: return offsetof(ParamBlock, PWMCode20m);
    case 0x100C: return offsetof(ParamBlock, Reg100C);
    // 0x100D and 0x100E overlap the byte fields around them:
    // 0x100E = NetAddress + 256 * NetSpeed, 0x100D = NetSpeed + 256 * low(HWVersion).
    case 0x100D: return offsetof(ParamBlock, NetSpeed);
    case 0x100E: return offsetof(ParamBlock, NetAddress);
    case 0x100F: return offsetof(ParamBlock, SerialNum);
    case 0x1010: return offsetof(ParamBlock, SerialNum) + 2;
    case 0x1011: return offsetof(ParamBlock, TimeLimit);
    case 0x1012: return offsetof(ParamBlock, TimeLimitRST);
    case 0x1013: return offsetof(ParamBlock, DeadZone);
    case 0x1014: return offsetof(ParamBlock, DeadZone2);
    case 0x1015: return offsetof(ParamBlock, ADCCodeCalib);
    case 0x1016: return offsetof(ParamBlock, ConcCalib);
    case 0x1019: return offsetof(ParamBlock, ImmitConcOn);
    case 0x101A: return offsetof(ParamBlock, ImmitConc);
    case 0x101B: return offsetof(ParamBlock, HWVersion);
    case 0x1020: return offsetof(ParamBlock, CommandWord);
    default: return NoPlace;   // 0x1017, 0x1018, 0x101C..0x101F, 0x1021..0x102F
    }
}

int inputPlace(quint16 reg)
{
    switch (reg) {
    case 0: return offsetof(ParamBlock, CurrentADC);
    case 1: return offsetof(ParamBlock, CurrentTok);
    case 2: return offsetof(ParamBlock, ConcVal);
    case 3: return offsetof(ParamBlock, PWMCode);
    case 4: return offsetof(ParamBlock, DeviceTypeReg);
    case 5: return offsetof(ParamBlock, Input5);
    case 6: return offsetof(ParamBlock, Input6);
    case 7: return offsetof(ParamBlock, Input7);
    case 8: return offsetof(ParamBlock, Input8);
    case 9: return offsetof(ParamBlock, Status);
    default: return NoPlace;
    }
}

IdField identificationField(int objectId)
{
    switch (objectId) {
    case 0:
    case 3: return {int(offsetof(ParamBlock, IdVendorName)), 18};
    case 1: return {int(offsetof(ParamBlock, IdProductCode)), 10};
    case 2: return {int(offsetof(ParamBlock, IdFirmwareVersion)), 40};
    case 4: return {int(offsetof(ParamBlock, IdProductName)), 24};
    case 5: return {int(offsetof(ParamBlock, IdModelName)), 20};
    case 6: return {int(offsetof(ParamBlock, IdAppName)), 28};
    case 7: return {int(offsetof(ParamBlock, IdFirmwareDate)), 20};
    case 8: return {int(offsetof(ParamBlock, IdObject8)), 20};
    default: return {-1, 0};
    }
}

} // namespace Params
