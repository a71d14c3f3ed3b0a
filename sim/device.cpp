#include "device.h"

#include <algorithm>

namespace tl02sim {

uint16_t crc16(const uint8_t *data, size_t len)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

bool crcMatches(const uint8_t *frame, size_t len)
{
    if (len < 3)
        return false;
    const uint16_t crc = crc16(frame, len - 2);
    return frame[len - 2] == (crc & 0xFF) && frame[len - 1] == (crc >> 8);
}

void appendCrc(std::vector<uint8_t> &frame)
{
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc & 0xFF));
    frame.push_back(uint8_t(crc >> 8));
}

int requestLength(const uint8_t *buf, size_t have)
{
    if (have < 2)
        return 0;
    switch (buf[1]) {
    case 3: case 4: case 6: case 21:
        return 8;
    case 43:
        return 7;
    case 20:
        return 22;
    case 14: case 16:
        if (have < 7)
            return 0;
        return 9 + buf[6];
    default:
        return -1;
    }
}

namespace {

// Where each holding register lives in the parameter structure (byte offset),
// -1 for registers without a place there.
constexpr int kHoldingPlace[kHoldingCount] = {
    12,  // 0x1000 ADCCode4m
    14,  // 0x1001 ADCCode20m
    20,  // 0x1002 PowerSens
    16,  // 0x1003 ValueMin
    18,  // 0x1004 ValueMax
    56,  // 0x1005 Limit1
    58,  // 0x1006 Limit2
    64,  // 0x1007 HisterezisLimit
    0,   // 0x1008 Config
    22,  // 0x1009 PWMOptions
    26,  // 0x100A PWMCode4m
    28,  // 0x100B PWMCode20m
    70,  // 0x100C Reg100C
    107, // 0x100D NetSpeed byte + low byte of HWVersion
    106, // 0x100E NetAddress byte + NetSpeed byte
    102, // 0x100F SerialNum low word
    104, // 0x1010 SerialNum high word
    98,  // 0x1011 TimeLimit
    100, // 0x1012 TimeLimitRST
    66,  // 0x1013 DeadZone
    68,  // 0x1014 DeadZone2
    36,  // 0x1015 ADCCodeCalib
    38,  // 0x1016 ConcCalib
    -1, -1, // 0x1017, 0x1018
    90,  // 0x1019 ImmitConcOn
    92,  // 0x101A ImmitConc
    108, // 0x101B HWVersion
    -1, -1, -1, -1, // 0x101C..0x101F
    94,  // 0x1020 CommandWord
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, // 0x1021..0x102F
};

// Input registers 0..9.
constexpr int kInputPlace[kInputCount] = {6, 8, 10, 24, 4, 40, 30, 48, 2, 96};

constexpr int kOffNetAddress = 106;
constexpr int kOffImmitConcOn = 90;
constexpr int kOffImmitConc = 92;
constexpr int kOffStatus = 96;
constexpr int kOffFileRecord = 72;
constexpr int kFileRecordSize = 16;

constexpr uint16_t kBootloaderType = 999;
constexpr uint16_t kStatusSoundOff = 0x0100;

constexpr int place(uint16_t reg) { return kHoldingPlace[reg - kHoldingFirst]; }

uint16_t be16(const uint8_t *p) { return uint16_t((p[0] << 8) | p[1]); }
void putBe16(std::vector<uint8_t> &v, uint16_t w)
{
    v.push_back(uint8_t(w >> 8));
    v.push_back(uint8_t(w & 0xFF));
}

uint16_t clampU16(int64_t v) { return uint16_t(std::clamp<int64_t>(v, 0, 0xFFFF)); }

char hexDigit(int n) { return "0123456789ABCDEF"[n & 15]; }
std::string hex4(uint16_t w)
{
    return {hexDigit(w >> 12), hexDigit(w >> 8), hexDigit(w >> 4), hexDigit(w)};
}

} // namespace

Device::Device(uint8_t address, uint16_t type, const std::string &version, bool bootloader,
               uint32_t serial)
    : m_address(address), m_type(type), m_bootloader(bootloader)
{
    setHolding(0x1000, 8000);   // ADCCode4m
    setHolding(0x1001, 40000);  // ADCCode20m
    setHolding(0x1002, 40);     // PowerSens
    setHolding(0x1003, 0);      // ValueMin
    setHolding(0x1004, 1000);   // ValueMax
    setHolding(0x1005, 200);    // Limit1
    setHolding(0x1006, 400);    // Limit2
    setHolding(0x1007, 10);     // Hysteresis
    setHolding(0x1008, 0x0010); // Config: PPM, one decimal
    setHolding(0x1009, 0);      // PWMOptions
    setHolding(0x100A, 1000);   // PWMCode4m
    setHolding(0x100B, 5000);   // PWMCode20m
    setHolding(0x101B, 123);    // HWVersion 1.23
    setHolding(0x100E, address); // NetAddress, NetSpeed 0
    setHolding(0x100F, uint16_t(serial & 0xFFFF)); // SerialNum low word
    setHolding(0x1010, uint16_t(serial >> 16));    // SerialNum high word
    setHolding(0x1011, 2000);   // TimeLimit
    setHolding(0x1012, 5000);   // TimeLimitRST
    setHolding(0x1013, 5);      // DeadZone
    setHolding(0x1014, 5);      // DeadZone2
    setHolding(0x1015, 24000);  // ADCCodeCalib
    setHolding(0x1016, 500);    // ConcCalib
    m_factoryImage = m_image;
    m_factoryLoose = m_loose;

    // The sensor sits a little above the zero point in clean air.
    m_sensorAdc = uint16_t(holding(0x1000) + 240);

    m_ident[0] = "Velta";
    m_ident[1] = "TL02";
    m_ident[2] = version;
    m_ident[3] = "Velta";
    m_ident[4] = "Gas detector";
    m_ident[5] = "TL-02";
    m_ident[6] = "TL-02 firmware";
    m_ident[7] = "2026-03-14";
    m_ident[8] = "RS-485";
}

uint16_t Device::word(int offset) const
{
    return uint16_t(m_image[offset] | (m_image[offset + 1] << 8));
}

void Device::setWord(int offset, uint16_t value)
{
    m_image[offset] = uint8_t(value & 0xFF);
    m_image[offset + 1] = uint8_t(value >> 8);
}

uint16_t Device::holding(uint16_t reg) const
{
    if (reg < kHoldingFirst || reg > kHoldingLast)
        return 0;
    const int off = place(reg);
    return off >= 0 ? word(off) : m_loose[reg - kHoldingFirst];
}

void Device::setHolding(uint16_t reg, uint16_t value)
{
    if (reg < kHoldingFirst || reg > kHoldingLast)
        return;
    const int off = place(reg);
    if (off >= 0)
        setWord(off, value);
    else
        m_loose[reg - kHoldingFirst] = value;
}

bool Device::holdingWritable(uint16_t reg) const
{
    // The bootloader only knows the command register.
    return m_bootloader ? reg == kCommandRegister : (reg >= kHoldingFirst && reg <= kHoldingLast);
}

void Device::storeHolding(uint16_t reg, uint16_t value) { setHolding(reg, value); }

void Device::refreshInputs()
{
    auto live = [&](int reg, uint16_t value) {
        setWord(kInputPlace[reg], m_stickyInput[reg] ? *m_stickyInput[reg] : value);
    };
    if (m_bootloader) {
        for (int reg = 0; reg < kInputCount - 1; ++reg)
            live(reg, reg == 4 ? kBootloaderType : 0);
        return;
    }

    // A few counts of noise on every conversion.
    m_noiseState ^= m_noiseState << 13;
    m_noiseState ^= m_noiseState >> 17;
    m_noiseState ^= m_noiseState << 5;
    const int noise = int(m_noiseState % 7) - 3;
    const uint16_t sensor = m_stickyInput[0] ? *m_stickyInput[0] : clampU16(int64_t(m_sensorAdc) + noise);
    // While the simulation switch is on, the device works from the code in ImmitConc.
    const uint16_t adc = word(kOffImmitConcOn) != 0 ? word(kOffImmitConc) : sensor;

    const int64_t a4 = holding(0x1000), a20 = holding(0x1001);
    const int64_t span = a20 - a4;
    auto along = [&](int64_t lo, int64_t hi) -> int64_t {
        return span == 0 ? lo : lo + (hi - lo) * (int64_t(adc) - a4) / span;
    };

    uint16_t out;
    if (m_type == 2) {
        // Voltage output, 0.01 mV steps, 0..250 mV over the range, signed.
        const int64_t v = std::clamp<int64_t>(along(0, 25000), -32768, 32767);
        out = uint16_t(int16_t(v));
    } else {
        out = clampU16(along(4000, 20000));   // loop current, µA
    }

    live(0, adc);
    live(1, out);
    live(2, clampU16(along(holding(0x1003), holding(0x1004))));
    live(3, clampU16(along(holding(0x100A), holding(0x100B))));
    live(4, m_type);
    for (int reg = 5; reg <= 8; ++reg)
        live(reg, 0);
}

uint16_t Device::sampleInput(int reg)
{
    if (reg < 0 || reg >= kInputCount)
        return 0;
    refreshInputs();
    return word(kInputPlace[reg]);
}

void Device::setInput(int reg, uint16_t value)
{
    if (reg < 0 || reg >= kInputCount)
        return;
    if (reg == 9) {
        // Status is device state, not a measurement: commands keep acting on it.
        setWord(kOffStatus, value);
        return;
    }
    m_stickyInput[reg] = value;
    setWord(kInputPlace[reg], value);
}

void Device::setLive(int reg)
{
    if (reg >= 0 && reg < kInputCount)
        m_stickyInput[reg].reset();
}

void Device::setIdent(int id, const std::string &text)
{
    if (id < 0 || id >= kIdentCount)
        return;
    // Longer texts could not be sent in one frame anyway.
    std::string t = text.substr(0, 240);
    m_ident[id] = t;
    if (id == 0)
        m_ident[3] = t;   // object 3 carries the vendor name again
}

std::vector<uint8_t> Device::appImage() const
{
    const int64_t start = kAppBase - kFlashBase;
    if (m_flashTop < start)
        return {};
    return std::vector<uint8_t>(m_flash.begin() + start, m_flash.begin() + m_flashTop + 1);
}

bool Device::answers(const uint8_t *frame, size_t len) const
{
    if (len < 2)
        return false;
    if (frame[0] != 0)
        return frame[0] == m_address;
    // The bootloader is driven at address 0 and still answers reads and blocks.
    return m_bootloader && (frame[1] == 4 || frame[1] == 14);
}

std::vector<uint8_t> Device::exception(const uint8_t *f, uint8_t code) const
{
    std::vector<uint8_t> r{f[0], uint8_t(f[1] | 0x80), code};
    appendCrc(r);
    return r;
}

void Device::runCommand(uint16_t code, std::vector<std::string> &events)
{
    events.push_back("CMD " + hex4(code));
    setWord(94, code);
    switch (code) {
    case CmdRestart:
        if (m_bootloader) {
            m_bootloader = false;
            events.push_back("MODE detector");
        }
        // A new network address is taken up when the device starts again.
        if (m_image[kOffNetAddress] != 0)
            m_address = m_image[kOffNetAddress];
        break;
    case CmdStoreFactory:
        if (!m_bootloader) {
            m_factoryImage = m_image;
            m_factoryLoose = m_loose;
        }
        break;
    case CmdRestoreFactory:
        if (!m_bootloader) {
            // Measurements and status are not parameters: they stay as they are.
            std::array<uint8_t, kImageSize> keep = m_image;
            m_image = m_factoryImage;
            m_loose = m_factoryLoose;
            for (int off : kInputPlace) {
                m_image[off] = keep[off];
                m_image[off + 1] = keep[off + 1];
            }
            setWord(94, code);
        }
        break;
    case CmdSoundOffOn:
        setWord(kOffStatus, word(kOffStatus) | kStatusSoundOff);
        break;
    case CmdSoundOffOff:
        setWord(kOffStatus, word(kOffStatus) & ~kStatusSoundOff);
        break;
    case CmdBootloader:
        if (m_bootloader) {
            // Already in the bootloader: start of a new load, the application area is erased.
            if (!m_flash.empty())
                std::fill(m_flash.begin() + (kAppBase - kFlashBase), m_flash.end(), 0xFF);
            m_flashTop = -1;
        } else {
            m_bootloader = true;
            events.push_back("MODE bootloader");
        }
        break;
    default:
        break;
    }
}

std::vector<uint8_t> Device::readRegisters(const uint8_t *f, bool holdingSpace)
{
    const uint16_t start = be16(f + 2), count = be16(f + 4);
    if (count == 0 || count > 125)
        return exception(f, ExIllegalValue);
    const uint32_t last = uint32_t(start) + count - 1;
    if (holdingSpace) {
        if (m_bootloader)
            return exception(f, ExIllegalFunction);
        if (start < kHoldingFirst || last > kHoldingLast)
            return exception(f, ExIllegalAddress);
    } else if (last >= kInputCount) {
        return exception(f, ExIllegalAddress);
    }
    if (!holdingSpace)
        refreshInputs();
    std::vector<uint8_t> r{f[0], f[1], uint8_t(count * 2)};
    for (uint32_t reg = start; reg <= last; ++reg)
        putBe16(r, holdingSpace ? holding(uint16_t(reg)) : word(kInputPlace[reg]));
    appendCrc(r);
    return r;
}

std::vector<uint8_t> Device::writeSingle(const uint8_t *f, std::vector<std::string> &events)
{
    const uint16_t reg = be16(f + 2), value = be16(f + 4);
    if (!holdingWritable(reg))
        return exception(f, ExIllegalAddress);
    if (reg == kCommandRegister)
        runCommand(value, events);
    else
        storeHolding(reg, value);
    std::vector<uint8_t> r(f, f + 6);
    appendCrc(r);
    return r;
}

std::vector<uint8_t> Device::writeMultiple(const uint8_t *f, std::vector<std::string> &events)
{
    const uint16_t start = be16(f + 2), count = be16(f + 4);
    const uint8_t bytes = f[6];
    const uint8_t *data = f + 7;

    if (start == kCommandRegister) {
        // A command: the first value is the code. The quantity field is not
        // held against the data here; this master sends one value.
        if (bytes < 2 || bytes % 2 != 0)
            return exception(f, ExIllegalValue);
        const int values = bytes / 2;
        if (kCommandRegister + values - 1 > kHoldingLast || (m_bootloader && values > 1))
            return exception(f, ExIllegalAddress);
        runCommand(be16(data), events);
        for (int i = 1; i < values; ++i)
            storeHolding(uint16_t(kCommandRegister + i), be16(data + 2 * i));
    } else {
        if (count == 0 || count > 123 || bytes != count * 2)
            return exception(f, ExIllegalValue);
        const uint32_t last = uint32_t(start) + count - 1;
        if (m_bootloader || start < kHoldingFirst || last > kHoldingLast)
            return exception(f, ExIllegalAddress);
        // Ascending order, so overlapping places end up as in the device's memory.
        for (int i = 0; i < count; ++i)
            storeHolding(uint16_t(start + i), be16(data + 2 * i));
    }
    std::vector<uint8_t> r{f[0], 0x10, f[2], f[3], f[4], f[5]};
    appendCrc(r);
    return r;
}

std::vector<uint8_t> Device::identification(const uint8_t *f)
{
    if (m_bootloader)
        return exception(f, ExIllegalFunction);
    const uint8_t code = f[3], object = f[4];
    int first, last;
    switch (code) {
    case 1: first = 0; last = 2; break;
    case 2: first = 3; last = 8; break;
    case 3: first = 0; last = 8; break;
    case 4:
        if (object >= kIdentCount)
            return exception(f, ExIllegalAddress);
        first = last = object;
        break;
    default:
        return exception(f, ExIllegalValue);
    }
    int from = (code != 4 && object >= first && object <= last) ? object : first;

    std::vector<uint8_t> r{f[0], 0x2B, 0x0E, code, 0x02, 0x00, 0x00, 0x00};
    uint8_t objects = 0;
    for (int id = from; id <= last; ++id) {
        const std::string &text = m_ident[id];
        // Keep the frame within 256 bytes; the rest would follow on request.
        if (r.size() + 2 + text.size() + 2 > 256) {
            r[5] = 0xFF;
            r[6] = uint8_t(id);
            break;
        }
        r.push_back(uint8_t(id));
        r.push_back(uint8_t(text.size()));
        r.insert(r.end(), text.begin(), text.end());
        ++objects;
    }
    r[7] = objects;
    appendCrc(r);
    return r;
}

std::vector<uint8_t> Device::writeMemory(const uint8_t *f, size_t len)
{
    if (!m_bootloader)
        return exception(f, ExIllegalFunction);
    const uint32_t addr = (uint32_t(f[2]) << 24) | (uint32_t(f[3]) << 16) | (uint32_t(f[4]) << 8) | f[5];
    const uint8_t n = f[6];
    if (len != size_t(9 + n))
        return exception(f, ExIllegalValue);
    if (addr < kFlashBase || uint64_t(addr) + n > uint64_t(kFlashBase) + kFlashSize)
        return exception(f, ExIllegalAddress);
    const uint32_t off = addr - kFlashBase;
    if (m_flash.empty())
        m_flash.assign(kFlashSize, 0xFF);
    std::copy(f + 7, f + 7 + n, m_flash.begin() + off);
    if (n > 0)
        m_flashTop = std::max<int64_t>(m_flashTop, int64_t(off) + n - 1);
    std::vector<uint8_t> r(f, f + 7);
    appendCrc(r);
    return r;
}

std::vector<uint8_t> Device::fileRecord(const uint8_t *f, bool write)
{
    if (m_bootloader)
        return exception(f, ExIllegalFunction);
    if (f[3] != kFileRecordSize)
        return exception(f, ExIllegalValue);
    if (write)
        std::copy(f + 4, f + 4 + kFileRecordSize, m_image.begin() + kOffFileRecord);
    std::vector<uint8_t> r{f[0], f[1], 0x00, uint8_t(kFileRecordSize)};
    r.insert(r.end(), m_image.begin() + kOffFileRecord, m_image.begin() + kOffFileRecord + kFileRecordSize);
    appendCrc(r);
    return r;
}

std::optional<std::vector<uint8_t>> Device::handle(const uint8_t *f, size_t len,
                                                   std::vector<std::string> &events)
{
    if (len < 4)
        return std::nullopt;
    const bool reply = answers(f, len);
    std::vector<uint8_t> r;
    switch (f[1]) {
    case 3: r = readRegisters(f, true); break;
    case 4: r = readRegisters(f, false); break;
    case 6: r = writeSingle(f, events); break;
    case 16: r = writeMultiple(f, events); break;
    case 43: r = identification(f); break;
    case 14: r = writeMemory(f, len); break;
    case 20: r = fileRecord(f, true); break;
    case 21: r = fileRecord(f, false); break;
    default: r = exception(f, ExIllegalFunction); break;
    }
    if (!reply)
        return std::nullopt;
    return r;
}

} // namespace tl02sim
