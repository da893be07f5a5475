#ifndef PLATFORM_I2C_H
#define PLATFORM_I2C_H

// I2C access. On the device: i2c-dev with I2C_RDWR combined transfers (one
// message list, repeated start between messages). In simulation: a bus of
// device models addressed by their 8-bit address (write address), with the
// board's EDID EEPROMs behind a multiplexer, the hot-plug port expander, the
// audio input switch, the six input receivers, the HDMI transmitter and the
// device the source check writes, which tests inspect.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct i2c_msg;   // <linux/i2c.h>

namespace platform {
namespace i2c {

// Wiring of bus 0 on the simulated board (8-bit addresses). Only the check
// device's address is also the real board's; the other addresses are the
// simulation's own, and the program sends nothing to them on the device.
namespace board {
constexpr uint8_t EDID_MUX = 0xE0;        // channel mask register; channel p reaches input p's EEPROM
constexpr uint8_t EDID_EEPROM = 0xA0;     // 256-byte EEPROM behind each mux channel, 8-byte pages
constexpr uint8_t HOTPLUG_PORT = 0x40;    // port expander; register 1 bit p drives input p's hot-plug
constexpr uint8_t HOTPLUG_OUTPUT_REG = 0x01;
constexpr uint8_t AUDIO_SWITCH = 0x98;    // register 0 selects the audio input 0..5
constexpr uint8_t AUDIO_SELECT_REG = 0x00;
constexpr int INPUTS = 6;
// Receivers of inputs 0..5 (0..3 HDMI receivers with a parallel output, 4 and
// 5 the receivers feeding the chip's V-by-One inputs).
constexpr uint8_t RECEIVER[INPUTS] = {0x90, 0x92, 0x94, 0x96, 0xB0, 0xB2};
constexpr uint8_t HDMI_TX = 0x9A;         // HDMI transmitter of the monitor output
constexpr uint8_t TX_SCRATCH_REG = 0x0F;  // free register, used to test the transmitter
constexpr uint8_t TX_ENABLE_REG = 0x10;   // 1 = output on
constexpr uint8_t CHECK_DEVICE = 0xEE;    // written by the source check
} // namespace board

// Timing block of the receivers, the same in both receiver families. Words
// are little-endian; vertical values are per field for an interlaced input.
namespace rx {
constexpr uint8_t STATUS = 0x00;
constexpr uint8_t STATUS_SIGNAL = 0x01;       // a source is connected and clocking
constexpr uint8_t STATUS_STABLE = 0x02;       // its timing has settled and is measured
constexpr uint8_t STATUS_INTERLACED = 0x04;
constexpr uint8_t STATUS_DUAL_PIXEL = 0x08;   // two pixels per clock on the output bus
constexpr uint8_t STATUS_HPOL = 0x10;         // horizontal sync active high
constexpr uint8_t STATUS_VPOL = 0x20;         // vertical sync active high
constexpr uint8_t TYPE = 0x01;                // colour format of the stream (0 RGB)
constexpr uint8_t LANES = 0x02;               // V-by-One lanes of the output
constexpr uint8_t HACT = 0x04, HSYNC = 0x06, HBACK = 0x08, HTOTAL = 0x0A;
constexpr uint8_t VACT = 0x0C, VSYNC = 0x0E, VBACK = 0x10, VTOTAL = 0x12;
constexpr uint8_t PCLK_KHZ = 0x14;            // 3 bytes, pixel clock in kHz
constexpr uint8_t BLOCK_SIZE = 0x17;
} // namespace rx

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

namespace testing {
// Takes the place of the kernel's I2C_RDWR in the device backend: gets the
// messages as the kernel would (7-bit addresses, I2C_M_RD) and returns what
// the ioctl would. Null: the kernel again.
using KernelTransfer = int (*)(int fd, const ::i2c_msg *msgs, unsigned n);
void setKernelTransfer(KernelTransfer transfer);
} // namespace testing

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
    // The values written to register r, in order (a tiny history for tests):
    // the newest HISTORY_LIMIT of them.
    static constexpr size_t HISTORY_LIMIT = 256;
    std::vector<uint8_t> history(size_t r) const;

private:
    mutable std::mutex m_mutex;
    size_t m_size, m_page;
    size_t m_ptr = 0;
    std::vector<uint8_t> m_regs;
    std::vector<std::deque<uint8_t>> m_history;
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
// hot-plug lines high), audio switch, receivers, transmitter; the sources
// back to their start (sim_inputs.h: input 0 1920x1080@60, others none).
void reset();
// Makes the next `count` transfers addressed to `addr8` fail.
void failTransfers(uint8_t addr8, unsigned count);

// The board's models, for tests.
std::shared_ptr<RegisterDevice> edidEeprom(int input);
std::shared_ptr<RegisterDevice> hotplugPort();
std::shared_ptr<RegisterDevice> audioSwitch();
std::shared_ptr<RegisterDevice> transmitter();
std::shared_ptr<RegisterDevice> checkDevice();

// A receiver's stand-in: its timing block follows the source plugged into
// its input (sim_inputs.h); the other registers are plain storage.
class ReceiverDevice : public Device
{
public:
    explicit ReceiverDevice(int input);
    bool write(const uint8_t *data, size_t len) override;
    bool read(uint8_t *data, size_t len) override;
    unsigned reads() const;   // read messages served

private:
    void refreshLocked();

    mutable std::mutex m_mutex;
    int m_input;
    size_t m_ptr = 0;
    uint8_t m_regs[256] = {};
    unsigned m_reads = 0;
};
std::shared_ptr<ReceiverDevice> receiver(int input);

} // namespace sim
} // namespace i2c
} // namespace platform

#endif
