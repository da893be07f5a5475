// The chip's serial flash, reached through the serial-flash controller of
// register bank 4: reads into host memory, page programming, block erase and
// DMA from the flash into the chip's memories.
//
// Every operation programs the controller from the start and bounds each of
// its waits: a controller that does not finish fails the operation instead of
// hanging the calling thread (a command link, the card thread or the chip
// thread).

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "platform/timing.h"

#include <cstring>

namespace {

// Controller registers (bank 4).
constexpr uint32_t B4_SFLCTL = C331_REG(4, 0x47, 1);     // mode of the controller
constexpr uint32_t B4_SFLCMD = C331_REG(4, 0x48, 1);     // 2 DMA, 4 opcode with address, 5 opcode alone
constexpr uint32_t B4_SFLPGOP = C331_REG(4, 0x49, 1);    // program opcode
constexpr uint32_t B4_SFLRDOP = C331_REG(4, 0x4A, 1);    // read opcode
constexpr uint32_t B4_SFLCMDOP = C331_REG(4, 0x4B, 1);   // command opcode
constexpr uint32_t B4_SFLWEOP = C331_REG(4, 0x4C, 1);    // write-enable opcode
constexpr uint32_t B4_SFLRSOP = C331_REG(4, 0x4D, 1);    // read-status opcode
constexpr uint32_t B4_SFLADDR = C331_REG(4, 0x4E, 4);
constexpr uint32_t B4_SFLDATA = C331_REG(4, 0x52, 1);
constexpr uint32_t B4_SFLDTCTL = C331_REG(4, 0x53, 1);
constexpr uint32_t B4_SFLSTAT = C331_REG(4, 0x54, 1);
constexpr uint32_t B4_SFLRDSR = C331_REG(4, 0x55, 1);
constexpr uint32_t B4_SFLDMALEN = C331_REG(4, 0x56, 4);
constexpr uint32_t B4_SFLDMATGT = C331_REG(4, 0x5A, 1);
constexpr uint32_t B4_SFL5E = C331_REG(4, 0x5E, 1);
constexpr uint32_t B4_SFLMODE = C331_REG(4, 0x5F, 1);
constexpr uint32_t B4_MEMCMD = C331_REG(4, 0x08, 1);     // memory engine command
// DMA destinations by target.
constexpr uint32_t B4_MEMDEST = C331_REG(4, 0x11, 4);
constexpr uint32_t B4_LISTPTR = C331_REG(4, 0x27, 2);
constexpr uint32_t B9_PALINDEX = C331_REG(9, 0x1F, 1);

constexpr uint8_t CMD_IDLE = 0, CMD_DMA = 2, CMD_WITH_ADDRESS = 4, CMD_ALONE = 5;
constexpr uint8_t OP_WRITE_DISABLE = 0x04;
constexpr uint32_t FLASH_PAGE = 256;

struct RegValue {
    uint32_t reg;
    uint32_t value;
};

// Flash pins (bank 5), before every operation; the DMA sets them in its own order.
constexpr RegValue PIN_SETUP[] = {
    {C331_REG(5, 0x42, 3), 0x000055}, {C331_REG(5, 0x3C, 2), 0x0300},
    {C331_REG(5, 0x3E, 2), 0x0300},   {C331_REG(5, 0x45, 2), 0x03FF}};
constexpr RegValue DMA_PIN_SETUP[] = {
    {C331_REG(5, 0x42, 3), 0x000055}, {C331_REG(5, 0x45, 2), 0x03FF},
    {C331_REG(5, 0x3C, 2), 0x0300},   {C331_REG(5, 0x3E, 2), 0x0300}};

constexpr RegValue READ_SETUP[] = {
    {B4_SFLCMD, 0}, {B4_SFLCTL, 0x80}, {B4_SFLCTL, 0x31}, {B4_SFLRDOP, 0x0C},
    {B4_SFLMODE, 1}, {B4_SFLCMD, 0}, {B4_SFL5E, 0}};
constexpr RegValue PROGRAM_SETUP[] = {
    {B4_SFLCTL, 0x80}, {B4_SFLCMD, 0}, {B4_SFLCTL, 0x31}, {B4_SFLWEOP, 0x06}, {B4_SFLRSOP, 0x05},
    {B4_SFLPGOP, 0x12}, {B4_SFLMODE, 1}, {B4_SFLCMD, 0}, {B4_SFL5E, 0}};
// Erase: the block opcode goes between the two halves.
constexpr RegValue ERASE_SETUP[] = {{B4_SFLCMD, 0}, {B4_SFLCTL, 0x80}, {B4_SFLCTL, 0x01}};
constexpr RegValue ERASE_SETUP_END[] = {{B4_SFLWEOP, 0x06}, {B4_SFLRSOP, 0x05}, {B4_SFLMODE, 1}};
// DMA: the control value of the target goes between the two halves.
constexpr RegValue DMA_SETUP[] = {{B4_MEMCMD, 0}, {B4_SFLCMD, 0}, {B4_SFLCTL, 0x80}};
constexpr RegValue DMA_SETUP_END[] = {
    {B4_SFLMODE, 2}, {B4_SFLPGOP, 0x12}, {B4_SFLRDOP, 0x0C}, {B4_SFLCMDOP, 0xC7},
    {B4_SFLWEOP, 0x06}, {B4_SFLRSOP, 0x05}};

// Erase blocks by mode: 0 4 KiB, 1 32 KiB, anything else 64 KiB.
struct EraseBlock {
    uint8_t opcode;
    uint32_t size;
};
EraseBlock erase_block(int mode)
{
    switch (mode) {
    case 0: return {0x20, 0x1000};
    case 1: return {0x52, 0x8000};
    default: return {0xD8, 0x10000};
    }
}

// The flash diagnostics (time-outs and progress), while their area of
// prnEn is switched on.
template <class... Args> void flash_print(const char *format, Args... args)
{
    if (c331_manage::prnEn[c331_manage::PRN_SFL] & 0x80)
        debugPrint(format, args...);
}

// One bounded wait: poll `reg` until (value & mask) == want, at most `polls`
// reads with `pause_us` between them; a wait longer than `report` polls is
// reported.
struct Wait {
    uint32_t reg;
    uint8_t mask;
    uint8_t want;
    unsigned polls;
    unsigned pause_us;
    unsigned report;
    const char *name;   // for the time-out report
};

// Page programming takes a few milliseconds, a 64 KiB erase up to a few
// seconds; a DMA as long as the flash takes to send its bytes (dma_done).
constexpr Wait READ_READY = {B4_SFLDTCTL, 0x80, 0x00, 10000, 10, 9999, "B4_SFLDTCTL RBUSY"};
constexpr Wait WRITE_EMPTY = {B4_SFLDTCTL, 0x20, 0x20, 10000, 10, 9999, "B4_SFLDTCTL WEMPTY"};
constexpr Wait WRITE_DONE = {B4_SFLSTAT, 0x02, 0x00, 10000, 10, 9999, "B4_SFLSTAT WBUSY"};
constexpr Wait WRITE_WIP = {B4_SFLRDSR, 0x01, 0x00, 10000, 10, 9999, "B4_SFLRDSR WIP"};
constexpr Wait ERASE_DONE = {B4_SFLSTAT, 0x08, 0x00, 50000, 100, 5000, "B4_SFLSTAT EBUSY"};
constexpr Wait ERASE_WIP = {B4_SFLRDSR, 0x01, 0x00, 50000, 100, 1000, "B4_SFLRDSR WIP"};
constexpr Wait WEL_CLEAR = {B4_SFLRDSR, 0x02, 0x00, 10000, 10, 9999, "B4_SFLRDSR WEL"};

// A DMA waits 10 s plus a poll of 100 us for every 12 bytes (about 8 us a
// byte): the flash clock may be as slow as 1 MHz, where a fixed 10 s would
// cut the 10.75 MB 64-dot CJK font off below 9 MHz.
constexpr unsigned DMA_BASE_POLLS = 100000, DMA_BYTES_PER_POLL = 12;
Wait dma_done(uint32_t length)
{
    return {B4_SFLSTAT, 0x01, 0x00, DMA_BASE_POLLS + length / DMA_BYTES_PER_POLL, 100, 9999, "B4_SFLSTAT DMA"};
}

// Progress lines of the flash diagnostics.
constexpr uint32_t WRITE_PROGRESS = 8192, READ_PROGRESS = 1024;

// Register access of one operation; the caller holds bank4_mutex.
class Controller
{
public:
    Controller(c331_drv &drv, int fd) : m_drv(drv), m_fd(fd) {}

    void set(uint32_t reg, uint32_t value) { m_drv.write_C331(m_fd, reg, value, 0); }
    uint32_t get(uint32_t reg) { return m_drv.read_C331(m_fd, reg, 0); }

    template <size_t N> void run(const RegValue (&table)[N])
    {
        for (const RegValue &r : table)
            set(r.reg, r.value);
    }

    // The last value read, through `last`; false when the bits never came.
    bool wait(const Wait &w, uint8_t *last = nullptr)
    {
        for (unsigned i = 0; i < w.polls; ++i) {
            const uint8_t v = uint8_t(get(w.reg));
            if (last)
                *last = v;
            if ((v & w.mask) == w.want)
                return true;
            if (i == w.report)
                flash_print("\n%s Timeout Error!!. Please check the circumestance of Serial Flash.\n", w.name);
            platform::pauseUs(w.pause_us);
        }
        return false;
    }

    // The flash's write-enable latch, left set, is cleared.
    bool disable_writing()
    {
        set(B4_SFLCMDOP, OP_WRITE_DISABLE);
        set(B4_SFLCMD, CMD_ALONE);
        const bool ok = wait(WEL_CLEAR);
        set(B4_SFLCMD, CMD_IDLE);
        return ok;
    }

    // After a page program or an erase: the flash finished and is write-protected again.
    bool finish(const Wait &busy, const Wait &wip)
    {
        uint8_t status = 0;
        if (!wait(busy) || !wait(wip, &status))
            return false;
        return (status & 0x02) ? disable_writing() : true;
    }

    // Programs the bytes collected so far: the controller takes the next
    // address as the end of the page.
    bool close_page(uint32_t next)
    {
        set(B4_SFLADDR, next);
        return wait(WRITE_EMPTY) && finish(WRITE_DONE, WRITE_WIP);
    }

private:
    c331_drv &m_drv;
    int m_fd;
};

} // namespace

int c331_manage::read_flash(int fd, uint32_t address, uint32_t length, uint8_t *buffer)
{
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    Controller sfl(*c331drv, fd);
    sfl.run(PIN_SETUP);
    sfl.run(READ_SETUP);
    sfl.set(B4_SFLADDR, address);
    sfl.set(B4_SFLDTCTL, 1);
    const bool ready = sfl.wait(READ_READY);
    sfl.set(B4_SFLDTCTL, 0);
    if (!ready) {
        std::memset(buffer, 0, length);
        return SFL_TIMEOUT;
    }
    for (uint32_t i = 0; i < length; ++i) {
        buffer[i] = uint8_t(sfl.get(B4_SFLDATA));
        if ((i + 1) % READ_PROGRESS == 0)
            flash_print("\n read_flash 0x%06x: %u of %u bytes", address, i + 1, length);
    }
    sfl.set(B4_SFLADDR, address);
    return SFL_OK;
}

int c331_manage::write_flash(int fd, uint32_t address, uint32_t length, const uint8_t *buffer)
{
    if (length == 0)
        return SFL_OK;
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    Controller sfl(*c331drv, fd);
    sfl.run(PIN_SETUP);
    sfl.run(PROGRAM_SETUP);
    sfl.set(B4_SFLADDR, address);
    sfl.set(B4_SFLADDR, address);
    for (uint32_t i = 0; i < length; ++i) {
        sfl.set(B4_SFLDATA, buffer[i]);
        const uint32_t next = address + i + 1;
        if (next % FLASH_PAGE == 0 && !sfl.close_page(next))
            return SFL_TIMEOUT;
        if ((i + 1) % WRITE_PROGRESS == 0)
            flash_print("\n write_flash 0x%06x: %u of %u bytes", address, i + 1, length);
    }
    const uint32_t end = address + length;
    if (end % FLASH_PAGE != 0 && !sfl.close_page(end))
        return SFL_TIMEOUT;
    return SFL_OK;
}

int c331_manage::erase_flash(int fd, uint32_t unit, uint32_t count, int mode)
{
    const EraseBlock block = erase_block(mode);
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    Controller sfl(*c331drv, fd);
    sfl.run(PIN_SETUP);
    sfl.run(ERASE_SETUP);
    sfl.set(B4_SFLCMDOP, block.opcode);
    sfl.run(ERASE_SETUP_END);
    for (uint32_t k = 0; k < count; ++k) {
        sfl.set(B4_SFLCMDOP, block.opcode);
        sfl.set(B4_SFLADDR, unit * 4096 + k * block.size);
        sfl.set(B4_SFLCMD, CMD_WITH_ADDRESS);
        const bool ok = sfl.finish(ERASE_DONE, ERASE_WIP);
        sfl.set(B4_SFLCMD, CMD_IDLE);
        if (!ok)
            return SFL_TIMEOUT;
    }
    return SFL_OK;
}

int c331_manage::osd_write_dma_sfl(int fd, uint32_t address, uint32_t destination, uint8_t target, uint32_t length)
{
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    Controller sfl(*c331drv, fd);
    sfl.run(DMA_PIN_SETUP);
    sfl.run(DMA_SETUP);
    sfl.set(B4_SFLCTL, target == 1 ? 0x37 : 0x33);
    sfl.run(DMA_SETUP_END);
    sfl.set(B4_SFLADDR, address);
    sfl.set(B4_SFLDMALEN, length | 0x80000000u);
    sfl.set(B4_SFLDMATGT, target & 0x0F);
    switch (target) {
    case 0: sfl.set(B4_MEMDEST, destination); break;
    case 1: sfl.set(B4_LISTPTR, destination); break;
    case 4: sfl.set(B9_PALINDEX, destination); break;
    default: break;
    }
    sfl.set(B4_SFLCMD, CMD_DMA);
    const bool ok = sfl.wait(dma_done(length));
    sfl.set(B4_SFLCMD, CMD_IDLE);
    return ok ? SFL_OK : SFL_TIMEOUT;
}
