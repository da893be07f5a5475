#include "support/locked_reads.h"

#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "videoproc/c331_manage.h"

namespace zemtest {

uint8_t imageByte(uint32_t off)
{
    uint8_t v = 0;
    ZemRamPara::pInstance()->copy_image(&v, off, 1);
    return v;
}

uint16_t imageWord(uint32_t off)
{
    return ZemRamPara::pInstance()->locked_word(off);
}

uint8_t slotByte(uint32_t slot, uint32_t off)
{
    uint8_t v = 0;
    ZemRamPara::pInstance()->copy_slot(&v, slot, off, 1);
    return v;
}

uint8_t registerByte(uint32_t index)
{
    ParaLock lock;
    return ZemRamPara::pInstance()->reg_para[index];
}

uint8_t applyRequest()
{
    ParaLock lock;
    return c331_manage::instance()->para_changed;
}

void setImageWord(uint32_t off, uint16_t value)
{
    ZemRamPara *store = ZemRamPara::pInstance();
    ImageLock lock(store);
    store->setWord(off, value);
}

void setSlotByte(uint32_t slot, uint32_t off, uint8_t value)
{
    ZemRamPara *store = ZemRamPara::pInstance();
    ImageLock lock(store);
    store->user_mode_ram[slot][off] = value;
}

} // namespace zemtest
