#include "videoio/tarixsource.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/devmem.h"
#include "platform/i2c.h"
#include "platform/platform.h"
#include "platform/sim_inputs.h"
#include "platform/timing.h"
#include "videoio/drv_i2c.h"
#include "videoio/edid.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

uint8_t edid_ram_table[SOURCE_COUNT][256] = {};
uint8_t edid_ram_table_from[SOURCE_COUNT] = {};
uint8_t edid_ram_table_new[SOURCE_COUNT] = {};

tarixsource *tarixsource::p_tarix_source = nullptr;
std::atomic<void (*)()> tarixsource::inputs_changed_hook{nullptr};

namespace {

namespace board = platform::i2c::board;

// Register 160 is byte 32 of the controller register file.
constexpr int REG160_INDEX = 32;
constexpr int EEPROM_PAGE = 8;
constexpr unsigned EEPROM_WRITE_MS = 5;   // write cycle of one page
constexpr unsigned HOTPLUG_LOW_MS = 100;  // a source needs >= 100 ms low to re-read the EDID
constexpr uint8_t VBO_INPUTS = (1u << 4) | (1u << 5);

// The EDID EEPROMs and their multiplexer, the hot-plug port, the audio switch,
// the HDMI transmitter and the receivers are reached at the addresses of the
// simulated board (platform/i2c.h). On the device nothing is sent to those
// addresses, which may belong to other chips there: their services are
// skipped, and only the source check's write to device 238 goes out.
bool boardWiringKnown()
{
    return platform::isSim();
}

// The SDI receiver's reset line is a GPIO word of the simulated board; on the
// device, where its wiring is not known, the pulse is timed but not driven.
void driveSdiReset(uint16_t value)
{
    static platform::devmem::BoardGpio line(tarixsource::SDI_RST_GPIO, 2);
    if (platform::devmem::Window *w = line.get())
        w->write16(tarixsource::SDI_RST_GPIO, value);
}

} // namespace

tarixsource::tarixsource()
{
    for (int p = 0; p < SOURCE_COUNT; ++p)
        receivers[p].addr8 = board::RECEIVER[p];
}

tarixsource *tarixsource::pInstance()
{
    // The register commands reach the manager from the links' threads: one creates it.
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    if (!p_tarix_source) {
        p_tarix_source = new tarixsource();
        writeLogMsg(3, "tarixsource created");
    }
    return p_tarix_source;
}

int tarixsource::initialize()
{
    int result = 0;
    if (i2c_fd < 0)
        i2c_fd = Drv_I2C0::I2C_Open();
    if (i2c_fd < 0) {
        writeLogMsg(1, "i2c open error:%m");
        debugPrint("tarixsource: /dev/i2c-0 cannot be opened\n");
        result = 255;
    }
    source_enable = static_cast<uint8_t>(g_check_source.load() & 0x3F);
    platform::ensureDir("/data/edidramtable");

    std::lock_guard<std::mutex> lock(m_startMutex);
    if (m_started)
        return result;
    if (!boardWiringKnown())
        std::fputs("I2C: only the source check's write to device 238 is sent; the EDID EEPROMs, hot-plug lines, "
                   "audio switch, HDMI transmitter and receivers are skipped on this board\n",
                   stderr);
    m_wake.reset();
    if (pthread_create(&m_thread, nullptr, &tarixsource::checksourceThread, this) != 0) {
        writeLogMsg(1, "checksourceThread create error");
        return 255;
    }
    Utils::name_thread(m_thread, "src-check");
    m_started = true;
    return result;
}

void *tarixsource::checksourceThread(void *arg)
{
    auto *self = static_cast<tarixsource *>(arg);
    self->s5p210_setup();
    self->sourcecheck();
    self->it66121_sdi_enable();
    do
        self->check_source_turn();
    while (self->m_wake.wait_for(std::chrono::milliseconds(TURN_MS)));
    return nullptr;
}

void tarixsource::request_audio()
{
    audio_request = 1;
    wake();
}

void tarixsource::request_edid(int p)
{
    if (p < 0 || p >= SOURCE_COUNT)
        return;
    edid_done[p] = 0;
    edid_request[p] = 1;
    wake();
}

void tarixsource::request_sdi_reset()
{
    sdi_reset_request = 1;
    wake();
}

void tarixsource::stop()
{
    std::lock_guard<std::mutex> lock(m_startMutex);
    if (!m_started)
        return;
    m_wake.stop();
    pthread_join(m_thread, nullptr);
    m_started = false;
}

void tarixsource::check_source_turn()
{
    for (int p = 0; p < SOURCE_COUNT; ++p) {
        if (edid_request[p].load() != 1)
            continue;
        if (Set_Custom_HDMI_EDID(p)) {
            m_edidFailures[p] = 0;
            edid_done[p] = 1;
            edid_request[p] = 0;
        } else if (!boardWiringKnown()) {
            edid_request[p] = 0;   // skipped: done stays 0
        } else if (++m_edidFailures[p] >= EDID_ATTEMPTS) {
            // Give up so that nobody waits for ever; done stays 0.
            writeLogMsg(1, "edid write failed");
            debugPrint("tarixsource: EDID of input %d could not be written\n", p);
            m_edidFailures[p] = 0;
            edid_request[p] = 0;
        }
    }
    if (audio_request.load() == 1 && set_audio_source())
        audio_request = 0;
    reg160_service();
    sdi_reset_service();
    if (platform::isSim())
        platform::sim::inputs::poll();
    update_vid_info_delay();
}

int tarixsource::write_edid_eeprom(int port, const uint8_t *edid)
{
    uint8_t channel = static_cast<uint8_t>(1u << port);
    if (!Drv_I2C0::I2C_WriteRaw(i2c_fd, board::EDID_MUX, &channel, 1))
        return 0;
    int ok = 1;
    for (int off = 0; off < edid::SIZE && ok; off += EEPROM_PAGE) {
        ok = Drv_I2C0::I2C_WriteBytes(i2c_fd, board::EDID_EEPROM, static_cast<uint8_t>(off), edid + off,
                                      EEPROM_PAGE);
        platform::pauseMs(EEPROM_WRITE_MS);
    }
    if (ok) {
        uint8_t back[edid::SIZE];
        ok = Drv_I2C0::I2C_ReadBytes(i2c_fd, board::EDID_EEPROM, 0, back, edid::SIZE) &&
             std::memcmp(back, edid, edid::SIZE) == 0;
    }
    uint8_t none = 0;
    Drv_I2C0::I2C_WriteRaw(i2c_fd, board::EDID_MUX, &none, 1);
    return ok;
}

int tarixsource::set_hotplug(uint8_t mask, bool high)
{
    if (!boardWiringKnown())
        return 1;   // skipped: nothing to drive
    uint8_t lines = 0;
    if (!Drv_I2C0::I2C_ReadBytes(i2c_fd, board::HOTPLUG_PORT, board::HOTPLUG_OUTPUT_REG, &lines, 1))
        return 0;
    lines = high ? static_cast<uint8_t>(lines | mask) : static_cast<uint8_t>(lines & ~mask);
    return Drv_I2C0::I2C_WriteByte(i2c_fd, board::HOTPLUG_PORT, board::HOTPLUG_OUTPUT_REG, lines);
}

int tarixsource::Set_Custom_HDMI_EDID(int port)
{
    if (port < 0 || port >= SOURCE_COUNT || i2c_fd < 0 || !boardWiringKnown())
        return 0;
    uint8_t table[edid::SIZE];
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    bool transferred = false;
    int w = 0, h = 0, hz = 0;
    {
        // The table, its flag and the words are written under the image's
        // lock by the screens and the command handler: read them as one set.
        ParaLock lock;
        transferred = edid_ram_table_from[port] != 0;
        if (transferred) {
            std::memcpy(table, edid_ram_table[port], sizeof table);
        } else if (store) {
            uint32_t base = para::edid_record(static_cast<uint32_t>(port));
            w = store->word(base);
            h = store->word(base + 2);
            hz = store->word(base + 4);
        }
    }
    if (!transferred)
        edid::build(w, h, hz, table);
    if (!write_edid_eeprom(port, table))
        return 0;
    // The source re-reads the EDID after a hot-plug pulse.
    uint8_t line = static_cast<uint8_t>(1u << port);
    if (!set_hotplug(line, false))
        return 0;
    platform::pauseMs(HOTPLUG_LOW_MS);
    return set_hotplug(line, true);
}

int tarixsource::set_audio_source()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store || i2c_fd < 0)
        return 0;
    if (!boardWiringKnown())
        return 1;   // skipped: nothing to switch
    int source;
    {
        // The audio window, its source word and the crop record are written
        // under the image's lock; read them together, then switch outside it.
        ParaLock lock;
        uint16_t window = store->word(para::AUDIO_WINDOW);
        if (window >= para::WINDOW_COUNT)
            return 1;   // no audio window: nothing to select
        int16_t isCrop = 0;
        char entry = 0;
        source = store->ZemGetImageSource(store->ram_para, static_cast<uint8_t>(window), &isCrop, &entry, 0);
    }
    return Drv_I2C0::I2C_WriteByte(i2c_fd, board::AUDIO_SWITCH, board::AUDIO_SELECT_REG,
                                   static_cast<uint8_t>(source));
}

void tarixsource::reg160_service()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    uint8_t *reg = &store->reg_para[REG160_INDEX];
    uint8_t bits = __atomic_load_n(reg, __ATOMIC_ACQUIRE) & reg160::SERVED;
    if (!bits)
        return;
    uint8_t served = 0;
    if ((bits & reg160::VBO_HOTPLUG_LOW) && i2c_fd >= 0 && set_hotplug(VBO_INPUTS, false))
        served |= reg160::VBO_HOTPLUG_LOW;
    if ((bits & reg160::VBO_HOTPLUG_HIGH) && i2c_fd >= 0 && set_hotplug(VBO_INPUTS, true))
        served |= reg160::VBO_HOTPLUG_HIGH;
    uint8_t reinit = 0;
    if (bits & reg160::VBO_REINIT)
        reinit |= VBO_INPUTS;
    if (bits & reg160::ALL_REINIT)
        reinit |= 0x3F;
    if (reinit) {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        for (int p = 0; p < SOURCE_COUNT; ++p) {
            if (!(reinit & (1u << p)))
                continue;
            std::memset(&source_hdminfo[p], 0, sizeof source_hdminfo[p]);   // unstable until read again
            ++receiver_init_count[p];
        }
        served |= bits & (reg160::VBO_REINIT | reg160::ALL_REINIT);
    }
    __atomic_fetch_and(reg, static_cast<uint8_t>(~served), __ATOMIC_ACQ_REL);
}

void tarixsource::sdi_reset_service()
{
    if (sdi_reset_request.exchange(0)) {
        driveSdiReset(SDI_RST_ACTIVE);
        m_sdiResetTick = G_timeTicks.load();
        m_sdiResetPending = true;
    } else if (m_sdiResetPending && Utils::getTimeSpace(m_sdiResetTick) > SDI_RESET_TICKS) {
        driveSdiReset(SDI_RST_RELEASED);
        m_sdiResetPending = false;
    }
}

// The receivers are read through the register map of their simulated
// stand-ins; on the board the inputs read as having no signal.
bool tarixsource::poll_receiver(int p)
{
    hdmi_rx &rx = receivers[p];
    if (!(source_enable.load() & (1u << p)) || !boardWiringKnown() || i2c_fd < 0) {
        rx.clear();
    } else if (rx.refresh(i2c_fd)) {
        m_receiverMisses[p] = 0;
    } else if (++m_receiverMisses[p] >= RECEIVER_MISSES) {
        // A receiver that stays silent has lost its input; a single miss keeps
        // the picture as it is.
        rx.clear();
    }
    return get_hdmi(p);
}

bool tarixsource::get_hdmi(int p)
{
    if (p < 0 || p >= SOURCE_COUNT)
        return false;
    // The source thread rewrites the register copy under the same lock: the
    // record is built from one whole copy.
    std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
    const hdminfo rec = receivers[p].record();
    const bool changed = std::memcmp(&source_hdminfo[p], &rec, sizeof rec) != 0;
    source_hdminfo[p] = rec;
    return changed;
}

void tarixsource::update_vid_info_delay()
{
    uint8_t records[SOURCE_COUNT][6] = {};
    bool receiversChanged = false;
    for (int p = 0; p < SOURCE_COUNT; ++p) {
        receiversChanged = poll_receiver(p) || receiversChanged;
        hdminfo rec;
        {
            std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
            rec = source_hdminfo[p];
        }
        if (rec.nosignal || !rec.stable)
            continue;
        uint32_t hz = rec.Htotal && rec.Vtotal
                          ? static_cast<uint32_t>(rec.pfreq * 1e6 / (double(rec.Htotal) * rec.Vtotal) + 0.5)
                          : 0;
        if (hz >= 55)
            hz = 60;
        para::set16(records[p], 0, static_cast<uint16_t>(rec.Hact));
        para::set16(records[p], 2, static_cast<uint16_t>(rec.ip ? 2 * rec.Vact : rec.Vact));
        records[p][4] = static_cast<uint8_t>(hz);
    }
    // The chip thread measures the ports at once rather than at its next check.
    if (void (*hook)() = inputs_changed_hook.load(); receiversChanged && hook)
        hook();
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    bool changed = false;
    pthread_mutex_lock(&store->input_timing_mutex);
    uint8_t *image = store->ram_para + para::INPUT_TIMING;
    if (std::memcmp(image, records, sizeof records) != 0) {
        std::memcpy(image, records, sizeof records);
        changed = true;
    }
    pthread_mutex_unlock(&store->input_timing_mutex);
    if (changed)
        store->test_signal(12);
}

void tarixsource::set_status_bit(int byte, int bit, bool on)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    store->set_status_bits(static_cast<uint32_t>(byte), mask, on ? mask : 0);
}

int tarixsource::it66121_sdi_enable()
{
    static const uint8_t probes[2] = {0xA5, 0x5A};
    int ok = i2c_fd >= 0 && boardWiringKnown();   // skipped on the board: not passed
    for (uint8_t v : probes) {
        uint8_t back = static_cast<uint8_t>(~v);
        ok = ok && Drv_I2C0::I2C_WriteByte(i2c_fd, board::HDMI_TX, board::TX_SCRATCH_REG, v) &&
             Drv_I2C0::I2C_ReadBytes(i2c_fd, board::HDMI_TX, board::TX_SCRATCH_REG, &back, 1) && back == v;
    }
    ok = ok && Drv_I2C0::I2C_WriteByte(i2c_fd, board::HDMI_TX, board::TX_ENABLE_REG, 1);
    set_status_bit(0, 1, ok);
    return ok;
}

int tarixsource::sourcecheck()
{
    const int ok = i2c_fd >= 0 && Drv_I2C0::I2C_WriteByte(i2c_fd, board::CHECK_DEVICE, 0, 0);
    set_status_bit(1, 5, ok);
    return ok;
}

void tarixsource::s5p210_setup()
{
    set_status_bit(1, 7, false);
    set_status_bit(2, 0, true);
}
