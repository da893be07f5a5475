#include "sendcard/fpga_gpio.h"

#include "platform/devmem.h"

namespace fpga_gpio {
namespace {

// Null when the GPIO block cannot be mapped, and on the device, where its
// address is not known.
platform::devmem::Window *window()
{
    static platform::devmem::BoardGpio block(GPIO_BASE, GPIO_LENGTH);
    return block.get();
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
