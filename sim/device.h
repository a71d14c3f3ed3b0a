// The simulated TL-02 detector: its parameter memory, live measurements,
// identification texts, command register and the bootloader's flash image.
// Nothing here knows about the serial line; frames come in CRC-checked and
// replies go out with their CRC appended.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tl02sim {

// Modbus CRC-16: reflected polynomial 0xA001, start value 0xFFFF.
uint16_t crc16(const uint8_t *data, size_t len);
// True when the last two bytes (low byte first) are the CRC of the rest.
bool crcMatches(const uint8_t *frame, size_t len);
// Appends the CRC, low byte first.
void appendCrc(std::vector<uint8_t> &frame);

// Length of the request starting at buf: > 0 the full length, 0 when more
// bytes are needed to tell, -1 when no known request starts with these bytes.
int requestLength(const uint8_t *buf, size_t have);

constexpr uint16_t kHoldingFirst = 0x1000;
constexpr uint16_t kHoldingLast = 0x102F;
constexpr int kHoldingCount = kHoldingLast - kHoldingFirst + 1;
constexpr uint16_t kCommandRegister = 0x1020;
constexpr int kInputCount = 10;
constexpr size_t kImageSize = 140;

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kFlashSize = 0x40000;
constexpr uint32_t kAppBase = 0x08001C00;

enum CommandCode : uint16_t {
    CmdRestart = 0x6060,
    CmdStoreFactory = 0x3003,
    CmdRestoreFactory = 0x6006,
    CmdSoundOffOn = 0x2002,
    CmdSoundOffOff = 0x7007,
    CmdBootloader = 0x5555,
};

enum ExceptionCode : uint8_t {
    ExIllegalFunction = 1,
    ExIllegalAddress = 2,
    ExIllegalValue = 3,
};

constexpr int kIdentCount = 9;
constexpr uint32_t kDefaultSerial = 4711;

class Device {
public:
    // The serial number goes into holding registers 0x100F (low word) and
    // 0x1010 (high word), into the factory copy as well.
    Device(uint8_t address, uint16_t type, const std::string &version, bool bootloader,
           uint32_t serial = kDefaultSerial);

    uint8_t address() const { return m_address; }
    bool bootloader() const { return m_bootloader; }

    // Whether a frame with this address byte is meant for us (own address or broadcast).
    bool accepts(uint8_t addr) const { return addr == m_address || addr == 0; }
    // Whether a CRC-valid frame for us gets an answer in the current mode.
    bool answers(const uint8_t *frame, size_t len) const;

    // Runs a CRC-valid request addressed to us. Returns the reply (CRC
    // included) or nothing for a broadcast. Event lines (CMD, MODE) are
    // appended to `events`.
    std::optional<std::vector<uint8_t>> handle(const uint8_t *frame, size_t len,
                                               std::vector<std::string> &events);

    // Direct access for the control channel.
    uint16_t holding(uint16_t reg) const;
    void setHolding(uint16_t reg, uint16_t value);
    uint16_t sampleInput(int reg);
    void setInput(int reg, uint16_t value);
    void setLive(int reg);
    void setIdent(int id, const std::string &text);
    void setType(uint16_t type) { m_type = type; }

    // Flash image from kAppBase up to the highest byte written (gaps 0xFF).
    std::vector<uint8_t> appImage() const;

private:
    uint16_t word(int offset) const;
    void setWord(int offset, uint16_t value);
    bool holdingWritable(uint16_t reg) const;
    void storeHolding(uint16_t reg, uint16_t value);
    void runCommand(uint16_t code, std::vector<std::string> &events);
    void refreshInputs();

    std::vector<uint8_t> readRegisters(const uint8_t *f, bool holdingSpace);
    std::vector<uint8_t> writeSingle(const uint8_t *f, std::vector<std::string> &events);
    std::vector<uint8_t> writeMultiple(const uint8_t *f, std::vector<std::string> &events);
    std::vector<uint8_t> identification(const uint8_t *f);
    std::vector<uint8_t> writeMemory(const uint8_t *f, size_t len);
    std::vector<uint8_t> fileRecord(const uint8_t *f, bool write);
    std::vector<uint8_t> exception(const uint8_t *f, uint8_t code) const;

    uint8_t m_address;
    uint16_t m_type;
    bool m_bootloader;

    // The detector's parameter structure, little-endian, as it sits in its RAM.
    std::array<uint8_t, kImageSize> m_image{};
    // Holding registers that have no place in the structure keep their own word.
    std::array<uint16_t, kHoldingCount> m_loose{};
    // Factory copy kept by command 0x3003 and brought back by 0x6006.
    std::array<uint8_t, kImageSize> m_factoryImage{};
    std::array<uint16_t, kHoldingCount> m_factoryLoose{};

    std::array<std::optional<uint16_t>, kInputCount> m_stickyInput{};
    uint16_t m_sensorAdc;
    uint32_t m_noiseState = 0x2545F491u;

    std::array<std::string, kIdentCount> m_ident;

    // Allocated by the first block written: most devices on a line are never flashed.
    std::vector<uint8_t> m_flash;
    int64_t m_flashTop = -1;   // offset of the highest byte written, -1 none
};

} // namespace tl02sim
