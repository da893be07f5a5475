#ifndef TESTS_SENDCARD_FLASH_FIXTURE_H
#define TESTS_SENDCARD_FLASH_FIXTURE_H

#include "../protocol/proto_fixture.h"
#include "platform/devmem.h"
#include "platform/sim_spi_flash.h"
#include "sendcard/fpga_gpio.h"

// ProtoTest with two fresh erased configuration flashes on the flash bus and
// the SoC's GPIO words at their power-on values.
class FlashTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        platform::devmem::sim::reset();
        bus = std::make_shared<platform::simflash::SimFlashBus>(fpga_gpio::FLASH_ROUTE);
        platform::spi::sim::attach(fpga_drv::FLASH_DEVICE_PATH, bus);
        flash[0] = bus->flash(0);
        flash[1] = bus->flash(1);
    }

    bool routesIdle() const
    {
        return fpga_gpio::read_route(0) == fpga_gpio::ROUTE_IDLE && fpga_gpio::read_route(1) == fpga_gpio::ROUTE_IDLE;
    }

    std::shared_ptr<platform::simflash::SimFlashBus> bus;
    std::shared_ptr<platform::simflash::SimSpiFlash> flash[2];
};

#endif
