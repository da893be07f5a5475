#include "sendcard/fpga_gpio.h"

#include "platform/devmem.h"

#include <memory>
#include <mutex>

namespace fpga_gpio {
namespace {

// Mapped once on first use; null when the GPIO block cannot be mapped, and on
// the device, where its address is not known.
platform::devmem::Window *window()
{
    static std::once_flag once;
    static std::unique_ptr<platform::devmem::Window> win;
    std::call_once(once, [] { win = platform::devmem::mapBoardGpio(GPIO_BASE, GPIO_LENGTH); });
    return win.get();
}

} // namespace

void write_route(int n, uint16_t value)
{
    if (n < 0 || n > 1)
        return;
    if (platform::devmem::Window *w = window())
        w->write16(FLASH_ROUTE[n], value);
}

uint16_t read_route(int n)
{
    if (n < 0 || n > 1)
        return 0;
    platform::devmem::Window *w = window();
    return w ? w->read16(FLASH_ROUTE[n]) : 0;
}

void route_idle()
{
    write_route(0, ROUTE_IDLE);
    write_route(1, ROUTE_IDLE);
}

} // namespace fpga_gpio
