#ifndef PLATFORM_I2C_H
#define PLATFORM_I2C_H

// I2C access. On the device: i2c-dev with I2C_RDWR combined transfers (one
// message list, repeated start between messages). In simulation: a bus of
// device models addressed by their 8-bit address (write address), with the
// board's EDID EEPROMs behind a multiplexer, the hot-plug port expander and
// the audio input switch, which tests inspect.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace i2c {

// Board wiring of bus 0 (8-bit addresses).
namespace board {
constexpr uint8_t EDID_MUX = 0xE0;        // channel mask register; channel p reaches input p's EEPROM
constexpr uint8_t EDID_EEPROM = 0xA0;     // 256-byte EEPROM behind each mux channel, 8-byte pages
constexpr uint8_t HOTPLUG_PORT = 0x40;    // port expander; register 1 bit p drives input p's hot-plug
constexpr uint8_t HOTPLUG_OUTPUT_REG = 0x01;
constexpr uint8_t AUDIO_SWITCH = 0x98;    // register 0 selects the audio input 0..5
constexpr uint8_t AUDIO_SELECT_REG = 0x00;
constexpr int INPUTS = 6;
} // namespace board

struct Msg {
    uint8_t addr8 = 0;      // 8-bit address; the read bit is taken from `read`
    bool read = false;
    uint8_t *buf = nullptr;
    uint16_t len = 0;
};

// Opens a bus ("/dev/i2c-0"); a descriptor, or -1.
int open(const std::string &absolute);
void close(int fd);

// One combined transfer; true when every message was acknowledged.
bool transfer(int fd, Msg *msgs, unsigned n);

namespace sim {

// A simulated device: write() receives the bytes of one write message, read()
// fills the bytes of one read message. False = not acknowledged.
class Device
{
public:
    virtual ~Device() {}
    virtual bool write(const uint8_t *data, size_t len) = 0;
    virtual bool read(uint8_t *data, size_t len) = 0;
};

// Register device: the first byte written sets the register pointer, further
// bytes are stored from there on (auto-increment, wrapping within `size`);
// reads start at the pointer. Also the model of a 24C02-like EEPROM, whose
// writes stay within one page of `pageSize` bytes.
class RegisterDevice : public Device
{
public:
    explicit RegisterDevice(size_t size = 256, size_t pageSize = 0);
    bool write(const uint8_t *data, size_t len) override;
    bool read(uint8_t *data, size_t len) override;
    uint8_t reg(size_t r) const;
    void setReg(size_t r, uint8_t v);
    std::vector<uint8_t> bytes() const;
    unsigned writes() const;            // write messages carrying data
    // Every value written to register r, in order (a tiny history for tests).
    std::vector<uint8_t> history(size_t r) const;

private:
    mutable std::mutex m_mutex;
    size_t m_size, m_page;
    size_t m_ptr = 0;
    std::vector<uint8_t> m_regs;
    std::vector<std::vector<uint8_t>> m_history;
    unsigned m_writes = 0;
};

// I2C multiplexer: one control byte, a mask of enabled channels; devices
// attached to an enabled channel answer on the bus.
class Mux : public Device
{
public:
    bool write(const uint8_t *data, size_t len) override;
    bool read(uint8_t *data, size_t len) override;
    void attach(int channel, uint8_t addr8, std::shared_ptr<Device> dev);
    uint8_t control() const;
    // The device of `addr8` on the enabled channels (null: none, or a clash).
    std::shared_ptr<Device> find(uint8_t addr8) const;
    std::shared_ptr<Device> onChannel(int channel, uint8_t addr8) const;

private:
    mutable std::mutex m_mutex;
    uint8_t m_control = 0;
    std::vector<std::pair<std::pair<int, uint8_t>, std::shared_ptr<Device>>> m_devices;
};

// Places a model on the bus at an 8-bit address (replacing one there).
void attach(uint8_t addr8, std::shared_ptr<Device> dev);
std::shared_ptr<Device> attached(uint8_t addr8);
// Back to the simulated board: mux with six EEPROMs, hot-plug expander (all
// hot-plug lines high), audio switch; input 0 1920x1080@60, others no signal.
void reset();
// Makes the next `count` transfers addressed to `addr8` fail.
void failTransfers(uint8_t addr8, unsigned count);

// The board's models, for tests.
std::shared_ptr<RegisterDevice> edidEeprom(int input);
std::shared_ptr<RegisterDevice> hotplugPort();
std::shared_ptr<RegisterDevice> audioSwitch();

// Timing the simulated receiver of input p reports (0 = no signal).
struct InputTiming {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t hz = 0;
};
void setInputTiming(int input, InputTiming t);
InputTiming inputTiming(int input);

} // namespace sim
} // namespace i2c
} // namespace platform

#endif
