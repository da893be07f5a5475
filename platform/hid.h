#ifndef PLATFORM_HID_H
#define PLATFORM_HID_H

// The USB HID keypad. On the device the hidapi (hidraw) library finds, opens
// and writes it; in simulation a keypad model that can be plugged or unplugged
// and that records every output report it receives.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
namespace hid {

struct DeviceId {
    uint16_t vendor;
    uint16_t product;
};

struct Handle;

// Initialises the HID library; false when it cannot.
bool init();

// Every HID device present.
std::vector<DeviceId> enumerate();

// Opens the first device with these ids (no serial number); null when none.
Handle *open(uint16_t vendor, uint16_t product);

// Writes one output report; the count written, or -1.
int write(Handle *h, const uint8_t *data, size_t len);

void close(Handle *h);

namespace sim {

// Plugs the simulated keypad (vendor 0x28E9, product 0x0380) in or out. The
// keypad starts plugged in when ZEM_SIM_KEYPAD=1 is in the environment.
void setPresent(bool present);
bool present();

// Makes every following write fail (as an unplugged cable would).
void setWriteFails(bool fail);

// Output reports received so far (the newest REPORT_LIMIT), oldest first, and
// the number of opens tried.
constexpr size_t REPORT_LIMIT = 1024;
std::vector<std::vector<uint8_t>> reports();
int openCount();

// Back to a fresh keypad: absent, no reports, no opens.
void reset();

} // namespace sim
} // namespace hid
} // namespace platform

#endif
