#include "platform/hid.h"
#include "platform/platform.h"

#include <hidapi/hidapi.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

namespace platform {
namespace hid {

namespace {

constexpr uint16_t KEYPAD_VENDOR = 0x28E9;
constexpr uint16_t KEYPAD_PRODUCT = 0x0380;

// The simulated keypad.
struct SimKeypad {
    std::mutex lock;
    bool envRead = false;
    bool present = false;
    bool writeFails = false;
    int opens = 0;
    std::deque<std::vector<uint8_t>> reports;   // the newest sim::REPORT_LIMIT

    void readEnv()
    {
        if (envRead)
            return;
        envRead = true;
        const char *v = std::getenv("ZEM_SIM_KEYPAD");
        present = v && std::strcmp(v, "1") == 0;
    }
};

SimKeypad &keypad()
{
    static SimKeypad k;
    return k;
}

// A simulated open handle carries no state of its own.
Handle *const simHandle = reinterpret_cast<Handle *>(&keypad);

} // namespace

bool init()
{
    if (isSim())
        return true;
    return hid_init() == 0;
}

std::vector<DeviceId> enumerate()
{
    std::vector<DeviceId> out;
    if (isSim()) {
        SimKeypad &k = keypad();
        std::lock_guard<std::mutex> g(k.lock);
        k.readEnv();
        if (k.present)
            out.push_back({KEYPAD_VENDOR, KEYPAD_PRODUCT});
        return out;
    }
    hid_device_info *list = hid_enumerate(0, 0);
    for (hid_device_info *d = list; d; d = d->next)
        out.push_back({d->vendor_id, d->product_id});
    hid_free_enumeration(list);
    return out;
}

Handle *open(uint16_t vendor, uint16_t product)
{
    if (isSim()) {
        SimKeypad &k = keypad();
        std::lock_guard<std::mutex> g(k.lock);
        k.readEnv();
        ++k.opens;
        if (!k.present || vendor != KEYPAD_VENDOR || product != KEYPAD_PRODUCT)
            return nullptr;
        return simHandle;
    }
    return reinterpret_cast<Handle *>(hid_open(vendor, product, nullptr));
}

int write(Handle *h, const uint8_t *data, size_t len)
{
    if (!h)
        return -1;
    if (isSim()) {
        SimKeypad &k = keypad();
        std::lock_guard<std::mutex> g(k.lock);
        if (!k.present || k.writeFails)
            return -1;
        k.reports.emplace_back(data, data + len);
        if (k.reports.size() > sim::REPORT_LIMIT)
            k.reports.pop_front();
        return static_cast<int>(len);
    }
    return hid_write(reinterpret_cast<hid_device *>(h), data, len);
}

void close(Handle *h)
{
    if (!h || isSim())
        return;
    hid_close(reinterpret_cast<hid_device *>(h));
}

namespace sim {

void setPresent(bool p)
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    k.envRead = true;
    k.present = p;
}

bool present()
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    k.readEnv();
    return k.present;
}

void setWriteFails(bool fail)
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    k.writeFails = fail;
}

std::vector<std::vector<uint8_t>> reports()
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    return std::vector<std::vector<uint8_t>>(k.reports.begin(), k.reports.end());
}

int openCount()
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    return k.opens;
}

void reset()
{
    SimKeypad &k = keypad();
    std::lock_guard<std::mutex> g(k.lock);
    k.envRead = true;
    k.present = false;
    k.writeFails = false;
    k.opens = 0;
    k.reports.clear();
}

} // namespace sim
} // namespace hid
} // namespace platform
