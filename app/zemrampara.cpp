#include "app/zemrampara.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_defaults.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "platform/files.h"
#include "platform/timing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

using namespace para;

ZemRamPara *ZemRamPara::p_zemrampara_config = nullptr;

namespace {

const char *const PARA_FILE = "/data/ram_device_info";
constexpr platform::files::Kind PARA_KIND = platform::files::Kind::ParameterImage;
constexpr uint32_t SOURCE_COUNT = 6;
constexpr uint32_t LANGUAGE_COUNT = 5;
constexpr uint32_t FILE_IMAGE_OFFSET = 2;                     // image byte 768 lies at file byte 2
constexpr uint32_t FILE_IMAGE_END = FILE_IMAGE_OFFSET + PERSISTENT_SIZE;   // 3330
constexpr uint32_t CROP_INDEX_SHIFT = 8;
constexpr uint16_t CROP_INDEX_MASK = 0x7F;
constexpr uint32_t CROP_BYTES_PER_SOURCE = 5;

std::string modeFile(int slot)
{
    return "/data/modes/custom_mode" + std::to_string(slot + 1);
}

bool validSlot(int slot) { return slot >= 0 && slot < static_cast<int>(MODE_COUNT); }
bool validSource(int source) { return source >= 0 && source < static_cast<int>(SOURCE_COUNT); }

bool languageEnabled(uint32_t valid, uint32_t lang)
{
    return lang < 32 && ((valid >> lang) & 1u) != 0;
}

// First language 0..4 enabled in `valid`, or -1.
int firstEnabledLanguage(uint32_t valid)
{
    for (uint32_t l = 0; l < LANGUAGE_COUNT; ++l)
        if (languageEnabled(valid, l))
            return static_cast<int>(l);
    return -1;
}

bool cropBit(int source, int k)
{
    return (g_cut_source_state[CROP_BYTES_PER_SOURCE * source + k / 8] >> (k % 8)) & 1u;
}

} // namespace

ImageLock::ImageLock(ZemRamPara *store) : m_timing(&store->input_timing_mutex)
{
    pthread_mutex_lock(&para_lock::mutex());
    pthread_mutex_lock(m_timing);
}

ImageLock::~ImageLock()
{
    pthread_mutex_unlock(m_timing);
    pthread_mutex_unlock(&para_lock::mutex());
}

ZemRamPara::ZemRamPara()
{
    pthread_mutex_init(&input_timing_mutex, nullptr);
    std::memset(ram_para, 0, sizeof ram_para);
    std::memset(ram_para_back, 0, sizeof ram_para_back);
    std::memset(user_mode_ram, 0, sizeof user_mode_ram);
    std::memset(reg_para, 0, sizeof reg_para);
    std::memset(status_ram, 0, sizeof status_ram);
}

ZemRamPara::~ZemRamPara()
{
    pthread_mutex_destroy(&input_timing_mutex);
}

ZemRamPara *ZemRamPara::pInstance()
{
    // main makes the first call before any worker thread exists; the lock
    // keeps a link thread that asks first from loading a second store.
    // Loading takes no lock of the image (nobody else can see it yet).
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    if (!p_zemrampara_config) {
        ZemRamPara *store = new ZemRamPara();
        store->load();
        p_zemrampara_config = store;
    }
    return p_zemrampara_config;
}

void ZemRamPara::resetForTest()
{
    delete p_zemrampara_config;
    p_zemrampara_config = nullptr;
}

// ---------------------------------------------------------------------------
// Start-up load

void ZemRamPara::loadImageFile()
{
    std::string file;
    bool longer = false;
    bool present = platform::files::exists(PARA_FILE);
    if (present && platform::files::readAll(PARA_FILE, PARA_KIND, file, &longer) && file.size() >= FILE_IMAGE_OFFSET
        && static_cast<uint8_t>(file[0]) == FILE_MARK && static_cast<uint8_t>(file[1]) == FILE_MARK) {
        // A file cut short keeps the defaults for the bytes it lacks.
        std::memcpy(ram_para + PERSISTENT_START, default_para_ramlist + FILE_IMAGE_OFFSET, PERSISTENT_SIZE);
        size_t n = std::min<size_t>(file.size() - FILE_IMAGE_OFFSET, PERSISTENT_SIZE);
        std::memcpy(ram_para + PERSISTENT_START, file.data() + FILE_IMAGE_OFFSET, n);
        if (longer)
            cutParaFile(file);
        return;
    }
    if (present) {
        debugPrint("ram_device_info has no valid mark, rebuilt from defaults\n");
        platform::pauseMs(100);
    }
    // The defaults replace the file in one step: a cut leaves the old file or the new one.
    if (!platform::files::writeAtomic(PARA_FILE, default_para_ramlist, FILE_SIZE))
        debugPrint("ram_device_info could not be written\n");
    platform::files::sync();
    platform::pauseMs(100);

    if (platform::files::readAll(PARA_FILE, PARA_KIND, file) && file.size() >= FILE_IMAGE_END
        && static_cast<uint8_t>(file[0]) == FILE_MARK && static_cast<uint8_t>(file[1]) == FILE_MARK)
        std::memcpy(ram_para + PERSISTENT_START, file.data() + FILE_IMAGE_OFFSET, PERSISTENT_SIZE);
    else
        std::memcpy(ram_para + PERSISTENT_START, default_para_ramlist + FILE_IMAGE_OFFSET, PERSISTENT_SIZE);
}

// A parameter file longer than the image keeps only its first FILE_SIZE
// bytes (`head`), so that no later store reads or rewrites the rest.
void ZemRamPara::cutParaFile(const std::string &head)
{
    debugPrint("ram_device_info longer than %u bytes, cut back\n", static_cast<unsigned>(FILE_SIZE));
    if (!platform::files::writeAtomic(PARA_FILE, head.data(), head.size()))
        debugPrint("ram_device_info could not be cut back\n");
}

void ZemRamPara::fixLanguageAtStart()
{
    g_language = ram_para[LANGUAGE];
    uint32_t valid = g_lcd_lang_valid;
    if ((valid & 1u) && (valid & (1u << 17))) {
        valid &= 0xFFFEu;
        g_lcd_lang_valid = valid;
    }
    if (languageEnabled(valid, ram_para[LANGUAGE]))
        return;
    int first = firstEnabledLanguage(valid);
    if (first >= 0) {
        ram_para[LANGUAGE] = static_cast<uint8_t>(first);
        g_language = static_cast<uint8_t>(first);
    }
}

void ZemRamPara::applyStartupFixups()
{
    for (uint32_t i = 0; i < WINDOW_COUNT; ++i)
        ram_para[window(i, WIN_FLAGS)] &= static_cast<uint8_t>(~WIN_FLAG_FREEZE);
    setWord(LED_OFF, 0);
    std::memset(ram_para + TEST_PATTERN, 0, 4);   // test pattern and current user mode
    ram_para[VOLATILE_869] = 0;
    for (uint32_t k = 0; k < FADE_COUNT; ++k) {
        setWord(fade_in(k), 60);
        setWord(fade_out(k), 60);
    }
}

void ZemRamPara::load()
{
    loadImageFile();
    platform::pauseMs(100);
    fixLanguageAtStart();
    applyStartupFixups();
    ZemCropSourceInit();
    std::memcpy(ram_para_back, ram_para, IMAGE_SIZE);
    // The start-up fix-ups are not written back on their own: the file is
    // rewritten when a setting changes.
    std::memcpy(m_stored, ram_para + PERSISTENT_START, PERSISTENT_SIZE);
    // Start-up runs alone: the slots are filled without the image's locks.
    for (int slot = 0; slot < static_cast<int>(MODE_COUNT); ++slot) {
        size_t n = 0;
        if (!readSlotFile(slot, user_mode_ram[slot], n))
            user_mode_ram[slot][0] = user_mode_ram[slot][1] = 0xFF;
        platform::pauseUs(100);
    }
    std::memset(status_ram, 0, sizeof status_ram);
    status_ram[0] = 0x80;
    status_ram[1] = 0x1F;
    status_ram[2] = 0x06;
}

bool ZemRamPara::write_para_file(const uint8_t *image)
{
    if (!image)
        image = ram_para;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        std::string file;
        if (!platform::files::readAll(PARA_FILE, PARA_KIND, file)) {
            debugPrint("ram_device_info missing, written anew from the image\n");
            file.assign(FILE_SIZE, '\0');
            file[0] = file[1] = static_cast<char>(FILE_MARK);
        }
        if (file.size() < FILE_SIZE)
            file.resize(FILE_SIZE, '\0');
        std::memcpy(&file[FILE_IMAGE_OFFSET], image + PERSISTENT_START, PERSISTENT_SIZE);
        // The write is durable once it returns (written, fsynced and renamed
        // over the old file): no pause is needed for the storage to settle.
        ok = platform::files::writeAtomic(PARA_FILE, file.data(), file.size());
        platform::files::sync();
        if (ok)
            std::memcpy(m_stored, image + PERSISTENT_START, PERSISTENT_SIZE);
    }
    return ok;
}

bool ZemRamPara::para_file_differs(const uint8_t *image)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    return std::memcmp(m_stored, image + PERSISTENT_START, PERSISTENT_SIZE) != 0;
}

// ---------------------------------------------------------------------------
// The snapshot

void ZemRamPara::pass_copied()
{
    m_pass_copy_seq = m_settled_seq;
}

void ZemRamPara::pass_applied(const uint8_t *applied)
{
    // The snapshot follows at once: a register 11 that waited for this pass
    // must not take the mode it recalled for a new recall and load the slot
    // again over a later write. Words the GUI thread judges against the
    // snapshot itself (the save request, the panel language) keep the value
    // it settled, as do words settled after the pass took its copy.
    std::vector<std::pair<uint32_t, uint16_t>> kept = {{USER_MODE_SAVE, get16(ram_para_back, USER_MODE_SAVE)},
                                                       {LANGUAGE, get16(ram_para_back, LANGUAGE)}};
    for (const Settled &w : m_settled)
        if (w.seq > m_pass_copy_seq)
            kept.emplace_back(w.off, w.value);
    std::memcpy(ram_para_back, applied, IMAGE_SIZE);
    for (const auto &w : kept)
        set16(ram_para_back, w.first, w.second);
}

void ZemRamPara::settle_word(uint32_t off, uint16_t v)
{
    setWord(off, v);
    set16(ram_para_back, off, v);
    ++m_settled_seq;
    for (Settled &w : m_settled) {
        if (w.off == off) {
            w.value = v;
            w.seq = m_settled_seq;
            return;
        }
    }
    m_settled.push_back(Settled{off, v, m_settled_seq});
}

// The current mode the saves give: the mode of the last save waiting when
// it was asked for after the last one stored (or after another writer set
// the word), else what that left.
uint16_t ZemRamPara::saves_current_mode_locked() const
{
    if (!m_pending_saves.empty() && m_pending_saves.back().seq > m_saved_current_seq)
        return m_pending_saves.back().mode;
    return m_saved_current;
}

// Another writer (a recall, leaving the mode on a change, deleting the mode)
// set the current mode since the saves did: its value stands, whatever
// becomes of the saves asked for before.
void ZemRamPara::follow_current_mode_locked()
{
    const uint16_t now = word(CURRENT_USER_MODE);
    if (now == saves_current_mode_locked())
        return;
    m_saved_current = now;
    m_saved_current_seq = ++m_save_seq;
}

void ZemRamPara::settle_saved_current_locked(const PendingSave &save)
{
    if (save.seq <= m_saved_current_seq)
        return;
    m_saved_current = save.mode;
    m_saved_current_seq = save.seq;
}

void ZemRamPara::take_save_request_locked()
{
    const uint16_t n = word(USER_MODE_SAVE);
    if (n == 0 || n == get16(ram_para_back, USER_MODE_SAVE))
        return;
    settle_word(USER_MODE_SAVE, 0);
    if (n > MODE_COUNT)
        return;
    follow_current_mode_locked();
    uint8_t *slot = user_mode_ram[n - 1];
    std::memcpy(slot + SLOT_DATA, ram_para + SLOT_IMAGE_START, SLOT_DATA_SIZE);
    slot[0] = 0xAA;
    slot[1] = 0xAA;
    m_pending_saves.erase(std::remove_if(m_pending_saves.begin(), m_pending_saves.end(),
                                         [n](const PendingSave &p) { return p.mode == n; }),
                          m_pending_saves.end());
    m_pending_saves.push_back(PendingSave{n, ++m_save_seq});
    // In the snapshot too: the next apply judges a change against the saved mode.
    settle_word(CURRENT_USER_MODE, n);
    if (m_save_hook)
        m_save_hook();
}

std::vector<ZemRamPara::PendingSave> ZemRamPara::pending_saves()
{
    ImageLock lock(this);
    return m_pending_saves;
}

bool ZemRamPara::save_pending_locked(uint16_t mode) const
{
    return std::any_of(m_pending_saves.begin(), m_pending_saves.end(),
                       [mode](const PendingSave &p) { return p.mode == mode; });
}

void ZemRamPara::finish_save(const PendingSave &save, bool stored)
{
    if (!validSlot(save.mode - 1))
        return;
    // What the file holds, for a slot whose save was not stored.
    uint8_t file[SLOT_FILE_SIZE];
    size_t size = 0;
    const bool fileRead = !stored && readSlotFile(save.mode - 1, file, size);

    ImageLock lock(this);
    follow_current_mode_locked();
    if (stored)
        settle_saved_current_locked(save);
    const auto it = std::find_if(m_pending_saves.begin(), m_pending_saves.end(),
                                 [&save](const PendingSave &p) { return p.mode == save.mode; });
    // Asked for again meanwhile: that later save waits, with its own image.
    if (it == m_pending_saves.end() || it->seq != save.seq)
        return;
    const uint16_t current = saves_current_mode_locked();
    m_pending_saves.erase(it);
    if (stored)
        return;
    uint8_t *slot = user_mode_ram[save.mode - 1];
    if (fileRead) {
        std::memcpy(slot, file, size);
    } else {
        slot[0] = 0xFF;
        slot[1] = 0xFF;
    }
    const uint16_t without = saves_current_mode_locked();
    if (without != current)
        settle_word(CURRENT_USER_MODE, without);
}

void ZemRamPara::drop_save_locked(uint16_t mode)
{
    const auto it = std::find_if(m_pending_saves.begin(), m_pending_saves.end(),
                                 [mode](const PendingSave &p) { return p.mode == mode; });
    if (it == m_pending_saves.end())
        return;
    follow_current_mode_locked();
    settle_saved_current_locked(*it);
    m_pending_saves.erase(it);
}

void ZemRamPara::set_save_hook(std::function<void()> hook)
{
    ImageLock lock(this);
    m_save_hook = std::move(hook);
}

// ---------------------------------------------------------------------------
// Notification

int ZemRamPara::test_signal(int code)
{
    std::lock_guard<std::recursive_mutex> lock(Utils::_test_signal_mutex);
    Q_EMIT sig_update_para(code);
    return 1;
}

int ZemRamPara::ram_para_save()
{
    return test_signal(1);
}

// ---------------------------------------------------------------------------
// Writes by offset

int ZemRamPara::ZemRamParaDeal(const uint8_t *buf, uint16_t len, uint32_t off)
{
    if (len == 0)
        return 0;
    if (static_cast<uint64_t>(off) + len > IMAGE_SIZE)
        return 1;
    ImageLock lock(this);
    std::memcpy(ram_para + off, buf, len);
    return 0;
}

int ZemRamPara::ZemModeUserRamParaDeal(const uint8_t *buf, uint16_t len, uint32_t addr)
{
    uint32_t mode = (addr >> 12) & 0xFF;
    if (mode < 1 || mode > MODE_COUNT)
        return 1;
    uint32_t off = addr - mode * 4096;
    if (static_cast<uint64_t>(off) + len > SLOT_FILE_SIZE)
        return 1;
    if (len) {
        ImageLock lock(this);
        std::memcpy(user_mode_ram[mode - 1] + off, buf, len);
    }
    return 0;
}

void ZemRamPara::copy_image(uint8_t *out, uint32_t off, uint32_t len)
{
    if (static_cast<uint64_t>(off) + len > IMAGE_SIZE)
        return;
    ImageLock lock(this);
    std::memcpy(out, ram_para + off, len);
}

uint16_t ZemRamPara::locked_word(uint32_t off)
{
    uint8_t v[2] = {};
    copy_image(v, off, 2);
    return get16(v, 0);
}

void ZemRamPara::input_timing(uint32_t p, uint16_t out[3])
{
    out[0] = out[1] = out[2] = 0;
    if (p >= INPUT_COUNT)
        return;
    const uint32_t off = timing_record(p);
    pthread_mutex_lock(&input_timing_mutex);
    for (uint32_t k = 0; k < 3; ++k)
        out[k] = word(off + 2 * k);
    pthread_mutex_unlock(&input_timing_mutex);
}

void ZemRamPara::copy_slot(uint8_t *out, uint32_t slot, uint32_t off, uint32_t len)
{
    if (slot >= MODE_COUNT || static_cast<uint64_t>(off) + len > SLOT_SIZE)
        return;
    ImageLock lock(this);
    std::memcpy(out, user_mode_ram[slot] + off, len);
}

void ZemRamPara::set_status_bits(uint32_t index, uint8_t mask, uint8_t bits)
{
    if (index >= STATUS_PAGE_SIZE)
        return;
    ParaLock lock;
    status_ram[index] = uint8_t((status_ram[index] & ~mask) | (bits & mask));
}

// ---------------------------------------------------------------------------
// Window sources and crops

int ZemRamPara::ZemGetImageSource(const uint8_t *buf, uint8_t window, int16_t *isCrop, char *cropEntry, uint8_t form)
{
    *isCrop = 0;
    if (window >= WINDOW_COUNT)
        return 0;
    // Form 1: buf[0] is image byte 896.
    const uint32_t base = form == 1 ? SLOT_IMAGE_START : 0;
    uint16_t word = get16(buf, para::window(window, WIN_SOURCE) - base);
    uint32_t source = word & 0xFF;
    if (word & WIN_SOURCE_CROP) {
        uint32_t entry = word & 0xFF;
        *isCrop = 1;
        *cropEntry = static_cast<char>(entry);
        // A damaged entry index (beyond the 40 entries) names no source.
        source = entry < CROP_ENTRIES ? get16(buf, crop_record(entry) - base) & 0xFF : 0;
    }
    // Sources outside 0..5 (written by the PC tool) are reported as source 0.
    return validSource(static_cast<int>(source)) ? static_cast<int>(source) : 0;
}

int ZemRamPara::ZemGetSourceNum(int source, int n)
{
    int count = 0;
    int last = std::min<int>(n, CROP_ENTRIES);
    for (int e = 0; e < last; ++e) {
        uint16_t id = word(crop_record(e));
        if ((id & CROP_USED) && (id & 0xFF) == source)
            ++count;
    }
    return count;
}

void ZemRamPara::ZemCropSourceInit()
{
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (uint32_t e = 0; e < CROP_ENTRIES; ++e) {
        uint16_t id = word(crop_record(e));
        if (!(id & CROP_USED))
            continue;
        uint32_t source = id & 0xFF;
        uint32_t index = (id >> CROP_INDEX_SHIFT) & CROP_INDEX_MASK;
        // Entries naming a source or crop number the map has no bit for are skipped.
        if (source >= SOURCE_COUNT || index >= CROP_ENTRIES)
            continue;
        g_cut_source_state[CROP_BYTES_PER_SOURCE * source + index / 8] |= static_cast<uint8_t>(1u << (index % 8));
    }
}

int ZemRamPara::ZemGetCropID(int source, int n)
{
    if (!validSource(source) || n < 1)
        return 0;
    int seen = 0;
    for (int k = 0; k < static_cast<int>(CROP_ENTRIES); ++k) {
        if (cropBit(source, k) && ++seen == n)
            return k + 1;
    }
    return 0;
}

int ZemRamPara::ZemAddCropID(int source)
{
    if (!validSource(source))
        return 0;
    for (int k = 0; k < static_cast<int>(CROP_ENTRIES); ++k)
        if (!cropBit(source, k))
            return k + 1;
    return 0;
}

// Index of the used entry holding crop n (1-based, counted in the crop-use map)
// of `source`, or CROP_ENTRIES when there is none.
int ZemRamPara::findCropEntry(int source, int n)
{
    int number = ZemGetCropID(source, n);
    if (number == 0)
        return CROP_ENTRIES;
    for (uint32_t e = 0; e < CROP_ENTRIES; ++e) {
        uint16_t id = word(crop_record(e));
        if ((id & CROP_USED) && static_cast<int>(id & 0xFF) == source
            && static_cast<int>((id >> CROP_INDEX_SHIFT) & CROP_INDEX_MASK) == number - 1)
            return static_cast<int>(e);
    }
    return CROP_ENTRIES;
}

void ZemRamPara::ZemGetCropPara(int source, int n, CROP_PARA *out, int *entry)
{
    int e = findCropEntry(source, n);
    *entry = e;
    if (e >= static_cast<int>(CROP_ENTRIES))
        return;
    uint32_t at = crop_record(e);
    out->id = word(at);
    out->x = word(at + CROP_X);
    out->y = word(at + CROP_Y);
    out->w = word(at + CROP_W);
    out->h = word(at + CROP_H);
}

// Only the low 16 bits of X, Y, W and H are stored.
void ZemRamPara::setCropRect(uint32_t e, const CROP_PARA *in)
{
    const uint32_t at = crop_record(e);
    setWord(at + CROP_X, static_cast<uint16_t>(in->x));
    setWord(at + CROP_Y, static_cast<uint16_t>(in->y));
    setWord(at + CROP_W, static_cast<uint16_t>(in->w));
    setWord(at + CROP_H, static_cast<uint16_t>(in->h));
}

// The caller holds ParaLock: it raises the apply request with the change.
void ZemRamPara::ZemSetCropPara(uint8_t source, uint8_t n, const CROP_PARA *in)
{
    int e = findCropEntry(source, n);
    if (e >= static_cast<int>(CROP_ENTRIES))
        return;
    setCropRect(static_cast<uint32_t>(e), in);
}

int ZemRamPara::ZemAddNewCrop(int source, const CROP_PARA *in)
{
    // No crop number can be given to an unknown source or a source whose 40 are used.
    int number = ZemAddCropID(source);
    if (number == 0)
        return -1;
    ParaLock lock;
    for (uint32_t e = 0; e < CROP_ENTRIES; ++e) {
        uint32_t at = crop_record(e);
        if (word(at) & CROP_USED)
            continue;
        setWord(at, static_cast<uint16_t>(CROP_USED + (number - 1) * 256 + source));
        setCropRect(e, in);
        raise_apply_request_locked(1);
        return 0;
    }
    return number;
}

void ZemRamPara::ZemDeleteCrop(uint8_t source, uint8_t n)
{
    // The entry is looked up under the lock of the write: the links may move
    // crops in the table meanwhile.
    ParaLock lock;
    int e = findCropEntry(source, n);
    if (e >= static_cast<int>(CROP_ENTRIES))
        return;
    setWord(crop_record(e), 0);
    raise_apply_request_locked(1);
}

void ZemRamPara::ZemSetImageSource(int crop, uint8_t source, uint8_t window)
{
    // A window, source or crop that does not exist is refused: nothing changes.
    if (window >= WINDOW_COUNT || !validSource(source) || crop < 0)
        return;
    ParaLock lock;
    uint16_t sourceWord = source;
    if (crop > 0) {
        int e = findCropEntry(source, crop);
        if (e >= static_cast<int>(CROP_ENTRIES))
            return;
        sourceWord = static_cast<uint16_t>(WIN_SOURCE_CROP + e);
    }
    setWord(para::window(window, WIN_SOURCE), sourceWord);
    if (word(CURRENT_USER_MODE) == get16(ram_para_back, CURRENT_USER_MODE))
        setWord(CURRENT_USER_MODE, 0);
    raise_apply_request_locked(1);
}

// The flags word is shared with the links' writes: it is read, toggled and
// written back under the image's lock, so neither side's change is lost.
void ZemRamPara::ZemSetImageFreeze()
{
    uint32_t i = g_image_current;
    ParaLock lock;
    if (i < WINDOW_COUNT && (word(window(i, WIN_ENABLE)) & 1u))
        setWord(window(i, WIN_FLAGS), word(window(i, WIN_FLAGS)) ^ WIN_FLAG_FREEZE);
    raise_apply_request_locked(1);
}

void ZemRamPara::ZemSetImageBlack()
{
    uint32_t i = g_image_current;
    ParaLock lock;
    if (i < WINDOW_COUNT)
        setWord(window(i, WIN_FLAGS), word(window(i, WIN_FLAGS)) ^ WIN_FLAG_BLACK);
    raise_apply_request_locked(1);
}

void ZemRamPara::ZemSetEDIDPara(int port, int16_t w, int16_t h, int16_t hz)
{
    if (port < 0 || port >= static_cast<int>(INPUT_COUNT))
        return;
    ParaLock lock;
    uint32_t at = edid_record(static_cast<uint32_t>(port));
    setWord(at, static_cast<uint16_t>(w));
    setWord(at + 2, static_cast<uint16_t>(h));
    setWord(at + 4, static_cast<uint16_t>(hz));
    raise_apply_request_locked(1);
}

int ZemRamPara::ZemLanguageChanged()
{
    ParaLock lock;
    if (word(LANGUAGE) == get16(ram_para_back, LANGUAGE))
        return 0;
    g_language = ram_para[LANGUAGE];
    uint32_t valid = g_lcd_lang_valid;
    if (!languageEnabled(valid, ram_para[LANGUAGE])) {
        int first = firstEnabledLanguage(valid);
        if (first >= 0) {
            ram_para[LANGUAGE] = static_cast<uint8_t>(first);
            g_language = static_cast<uint8_t>(first);
            ram_para[LANGUAGE_FALLBACK] = 0;
        }
    }
    // The caller re-texts the pages: the language is in force from now on.
    settle_word(LANGUAGE, word(LANGUAGE));
    return 1;
}

int ZemRamPara::ZemSourceId_is_on(uint8_t id)
{
    for (uint8_t i = 0; i < WINDOW_COUNT; ++i) {
        if (!(word(window(i, WIN_ENABLE)) & 1u))
            continue;
        int16_t isCrop = 0;
        char entry = 0;
        int source = ZemGetImageSource(ram_para, i, &isCrop, &entry, 0);
        if (source < 1 || source > 5)
            source = 0;
        if (source == id)
            return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// User modes

int ZemRamPara::ZemUserModeSaved(int n)
{
    if (!validSlot(n))
        return 0;
    return user_mode_ram[n][0] == 0xAA && user_mode_ram[n][1] == 0xAA;
}

int ZemRamPara::ZemUserModeIndex(uint8_t start, uint8_t direction)
{
    const int slotCount = static_cast<int>(MODE_COUNT);
    if (direction > 2 || start > slotCount || (start == slotCount && direction != 2))
        return 256;
    for (int k = 0; k < slotCount; ++k) {
        int s;
        if (direction == 2)
            s = (start + k) % slotCount;
        else if (direction == 1)
            s = (start + 1 + k) % slotCount;
        else
            s = (start - 1 - k + 2 * slotCount) % slotCount;
        if (ZemUserModeSaved(s))
            return s;
    }
    return 256;
}

// Reads slot file `slot` into `data` (up to SLOT_FILE_SIZE bytes; `size` is
// what the file held) under Utils::_file_deal_mutex. False when it does not open.
bool ZemRamPara::readSlotFile(int slot, uint8_t *data, size_t &size)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    std::string file;
    if (!platform::files::readAll(modeFile(slot), platform::files::Kind::UserMode, file))
        return false;
    size = std::min<size_t>(file.size(), SLOT_FILE_SIZE);
    std::memcpy(data, file.data(), size);
    return true;
}

// The slot is read and written under the image's locks and the files under
// Utils::_file_deal_mutex, one after the other, never one inside the other.
int ZemRamPara::mode_file_deal(int slot, int action)
{
    if (!validSlot(slot))
        return 0;
    uint8_t *data = user_mode_ram[slot];
    if (action == 1) {
        {
            // A save still waiting for the file would bring it back.
            ImageLock lock(this);
            drop_save_locked(uint16_t(slot + 1));
        }
        platform::files::remove(modeFile(slot));
        platform::pauseUs(100);
        const uint32_t osd = slotOffset(OSD_FLAG);
        bool osdCopy;
        {
            ImageLock lock(this);
            osdCopy = get16(data, osd) == 1;
            if (osdCopy)
                set16(data, osd, 0);
        }
        if (osdCopy)
            platform::files::remove(osd_copy_file(slot));
        platform::pauseUs(100);
        platform::files::sync();
        platform::pauseUs(100);
    }

    uint8_t file[SLOT_FILE_SIZE];
    size_t n = 0;
    const bool loaded = readSlotFile(slot, file, n);
    ImageLock lock(this);
    if (!loaded) {
        data[0] = 0xFF;
        data[1] = 0xFF;
        return 0;
    }
    // A short file leaves the remaining slot bytes as they were.
    std::memcpy(data, file, n);
    return 1;
}

int ZemRamPara::mode_file_write(int slot, int flag)
{
    if (!validSlot(slot))
        return 0;
    uint8_t file[SLOT_FILE_SIZE];
    bool osdShown;
    {
        ImageLock lock(this);
        std::memcpy(file, user_mode_ram[slot], SLOT_FILE_SIZE);
        // The mode's own OSD flag: the image may have moved on since the save was asked for.
        osdShown = get16(file, slotOffset(OSD_FLAG)) == 1;
    }
    file[0] = 0xAA;
    file[1] = 0xAA;
    {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        // A file that already holds the slot is left as it is. A write is
        // durable once it returns (written, fsynced and renamed over the old
        // file): no pause is needed for the storage to settle.
        std::string stored;
        bool longer = false;
        const bool same = platform::files::readAll(modeFile(slot), platform::files::Kind::UserMode, stored, &longer)
                          && !longer && stored.size() == SLOT_FILE_SIZE
                          && std::memcmp(stored.data(), file, SLOT_FILE_SIZE) == 0;
        // The slot is marked saved only once its file is complete.
        if (!same) {
            if (!platform::files::writeAtomic(modeFile(slot), file, SLOT_FILE_SIZE))
                return 0;
            platform::files::sync();
        }
    }
    {
        ImageLock lock(this);
        user_mode_ram[slot][0] = 0xAA;
        user_mode_ram[slot][1] = 0xAA;
    }
    if (flag == 0 && osdShown) {
        // The OSD menu file is kept with the mode.
        platform::files::copy("/data/configs/omenu.json", osd_copy_file(slot), platform::files::Kind::OsdMenu);
        platform::files::sync();
        platform::pauseUs(100);
    }
    return 1;
}

std::string ZemRamPara::osd_copy_file(int slot)
{
    char name[40];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", static_cast<unsigned>(slot + 1) & 0xFF);
    return name;
}

int ZemRamPara::ZemGetCurrentModeIndex()
{
    // The mode number is the word's low byte; the high byte carries nothing here.
    uint8_t mode = ram_para[CURRENT_USER_MODE];
    return mode < 17 ? mode : 0;
}
