#include "sendcard/clock_record_run.h"

#include "sendcard/fpga_drv.h"

#include <QDateTime>
#include <cstring>
#include <mutex>

uint8_t g_clock_record[64] = {0};
std::mutex clock_record_run::record_mutex;

namespace {

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

void setWord(int n, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        g_clock_record[4 * n + i] = uint8_t(v >> (8 * i));
}

} // namespace

uint32_t clock_record_run::slot_address(uint32_t seq)
{
    return LOG_FLASH_START + (seq % (LOG_SIZE / RECORD_SIZE)) * RECORD_SIZE;
}

void clock_record_run::dealwith_record_timing()
{
    std::lock_guard<std::mutex> lock(record_mutex);
    uint32_t seq = clock_record_word(5) + 1;
    setWord(5, seq);
    QDateTime start = QDateTime::currentDateTime().addSecs(-60 * qint64(clock_record_word(12)));
    const QDate d = start.date();
    const QTime t = start.time();
    const uint8_t stamp[7] = {bcd(d.year() % 100), bcd(d.year() / 100), bcd(d.month()), bcd(d.day()),
                              bcd(t.hour()), bcd(t.minute()), bcd(t.second())};
    std::memcpy(g_clock_record + 7, stamp, sizeof stamp);

    uint32_t address = slot_address(seq);
    if (address % 4096 == 0)
        fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(LOG_SELECTOR, address / 4096, 0, 1);
    uint8_t buf[4 + RECORD_SIZE];
    std::memcpy(buf + 4, g_clock_record, RECORD_SIZE);
    fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(LOG_SELECTOR, address, buf, RECORD_SIZE);
}
