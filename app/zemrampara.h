#ifndef APP_ZEMRAMPARA_H
#define APP_ZEMRAMPARA_H

// The device's parameter store: the 4096-byte parameter image, its snapshot,
// the 16 user-mode slots, the controller's command-register file and the
// self-check status page, with the helpers the screens and handlers use.

#include "app/para_layout.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <pthread.h>
#include <string>
#include <vector>

// One input crop: id word (as read; ignored when writing), X, Y, W, H.
struct CROP_PARA {
    int32_t id;
    int32_t x;
    int32_t y;
    int32_t w;
    int32_t h;
};

class ZemRamPara : public QObject
{
    Q_OBJECT
public:
    static ZemRamPara *pInstance();
    static ZemRamPara *p_zemrampara_config;

    ~ZemRamPara() override;

    // Tests only: drops the store so that the next pInstance() loads a fresh
    // one from the current root.
    static void resetForTest();

    // Emits sig_update_para(code) under Utils::_test_signal_mutex; returns 1.
    int test_signal(int code);
    // Asks for a refresh and persistence of the image.
    int ram_para_save();

    // Image and user-mode writes by offset; 0 done, 1 refused. Both take
    // the image's locks (ImageLock), so a reader never sees half a value.
    int ZemRamParaDeal(const uint8_t *buf, uint16_t len, uint32_t off);
    int ZemModeUserRamParaDeal(const uint8_t *buf, uint16_t len, uint32_t addr);

    // Consistent copies, under the image's locks: `len` image bytes from
    // `off`, and `len` bytes of user-mode slot `slot` (0..15) from `off`.
    void copy_image(uint8_t *out, uint32_t off, uint32_t len);
    // One word of the image read under its lock, for a thread that reads a
    // setting alone (word() is for callers that hold the lock already).
    uint16_t locked_word(uint32_t off);
    void copy_slot(uint8_t *out, uint32_t slot, uint32_t off, uint32_t len);
    // Bits `mask` of status-page byte `index` take those of `bits`, under the
    // image's lock, which the RAM read holds while it copies the page.
    void set_status_bits(uint32_t index, uint8_t mask, uint8_t bits);
    // Width, height and rate word of input p (0..5) as one record, read
    // under input_timing_mutex; zeros for an input that does not exist.
    void input_timing(uint32_t p, uint16_t out[3]);

    // Window source of `window` read from `buf` (form 0 whole image, form 1 a
    // slot's data starting at image offset 896). A source outside 0..5, or a
    // crop word naming an entry beyond the 40, reads as source 0.
    int ZemGetImageSource(const uint8_t *buf, uint8_t window, int16_t *isCrop, char *cropEntry, uint8_t form);

    // Crop helpers. Sources are 0..5 and crop numbers 1..40; crop entries
    // naming anything else are skipped. ZemAddNewCrop returns 0 once stored,
    // the crop number it would have used when no entry is free, and -1 when
    // the source is unknown or has all 40 numbers in use.
    int ZemGetSourceNum(int source, int n);
    void ZemCropSourceInit();
    int ZemGetCropID(int source, int n);
    int ZemAddCropID(int source);
    void ZemGetCropPara(int source, int n, CROP_PARA *out, int *entry);
    void ZemSetCropPara(uint8_t source, uint8_t n, const CROP_PARA *in);
    int ZemAddNewCrop(int source, const CROP_PARA *in);
    void ZemDeleteCrop(uint8_t source, uint8_t n);

    // Window helpers (each raises the apply request). Windows beyond 0..5,
    // unknown sources, missing crops and EDID ports beyond 0..5 are refused.
    void ZemSetImageSource(int crop, uint8_t source, uint8_t window);
    void ZemSetImageFreeze();
    void ZemSetImageBlack();
    void ZemSetEDIDPara(int port, int16_t w, int16_t h, int16_t hz);

    int ZemLanguageChanged();

    // User modes.
    int ZemUserModeSaved(int n);
    int ZemUserModeIndex(uint8_t start, uint8_t direction);
    int mode_file_deal(int slot, int action);
    int mode_file_write(int slot, int flag);
    int ZemGetCurrentModeIndex();
    // The OSD menu copy kept beside user mode slot + 1 (/data/modes/MO and
    // the mode number in two lower-case hexadecimal digits, ".json").
    static std::string osd_copy_file(int slot);
    int ZemSourceId_is_on(uint8_t id);

    // Rewrites the persistent bytes 768..4095 of `image` (the live image when
    // null) at bytes 2..3329 of /data/ram_device_info, keeping the file's other
    // bytes. The file is replaced atomically; a missing or unreadable file is
    // rebuilt (mark, image bytes, zeros), so the settings survive a restart.
    // Takes Utils::_file_deal_mutex. true when the file was written.
    bool write_para_file(const uint8_t *image = nullptr);
    // True when the persistent bytes of `image` differ from what the file
    // last received (from start-up on: the image as loaded). Takes
    // Utils::_file_deal_mutex.
    bool para_file_differs(const uint8_t *image);

    // The snapshot (ram_para_back) is the image as the chip applied it: the
    // copy the last apply pass took, with what that pass wrote back. A change
    // written since, applied or not, still differs from it, which is what
    // register 11 and the screens look for. The chip thread compares against
    // its own record of what it applied; the snapshot serves everybody else.
    //
    // The pass hands its image over as it ends, with the image's lock held
    // (pass_copied when it takes its copy, pass_applied when it is done), and
    // the snapshot follows at once, but for the words the GUI thread judges
    // against it itself: the user-mode save request and the panel language.
    void pass_copied();
    void pass_applied(const uint8_t *applied);
    // With the image's lock held: sets a word in the image and the snapshot
    // at once, for a writer that has acted on the word's change itself (a
    // user-mode save or recall, the panel language once the pages show it,
    // register 11's LED geometry and window flags), so that nobody acts on
    // it again before the chip's pass. A pass that took its copy before still
    // hands over the new value, so the snapshot never falls back to the old.
    // The chip compares against its own record of what it applied.
    void settle_word(uint32_t off, uint16_t v);

    // User-mode saves. A save asked for (the save request word, taken by
    // register 11 or by the dispatcher for the panel) puts the image into its
    // slot at once and makes the mode current, so that whatever follows - a
    // change, a recall, a read of the slot - finds the mode as it will be
    // once stored; the GUI thread writes the file soon after. A mode waits
    // for its file at most once: a later save of it replaces the earlier
    // one's image, so the saves waiting never exceed the 16 modes. Should a
    // file not be stored, its slot goes back to what the file holds and the
    // current mode to what it would be without that save.
    struct PendingSave {
        uint16_t mode;   // 1..16
        uint64_t seq;    // order of the request
    };
    // With the image's lock held: when the save request word asks for a save
    // not taken yet (not 0 and not the snapshot's value), the save is taken
    // as above and the word settled to 0, so that the next request is a save
    // of its own. A number outside 1..16 names no slot: the word is only
    // cleared. A save taken runs the save hook.
    void take_save_request_locked();
    // The saves waiting for their file, oldest request first. Takes the
    // image's lock.
    std::vector<PendingSave> pending_saves();
    // With the image's lock held: true while mode `mode`'s file waits for a save.
    bool save_pending_locked(uint16_t mode) const;
    // Once a waiting save's file was written (stored) or could not be.
    // Takes the image's lock and the file lock, one after the other.
    void finish_save(const PendingSave &save, bool stored);
    // With the image's lock held: a waiting save of `mode` is no longer to
    // be stored (the mode is deleted: mode_file_deal with action 1).
    void drop_save_locked(uint16_t mode);
    // Runs with the image's lock held whenever a save is taken, so that the
    // thread that stores the saves acts at once. It may take only leaf locks.
    void set_save_hook(std::function<void()> hook);

    // Convenience accessors of the image, without a lock: for callers that
    // hold ParaLock or ImageLock (the chip thread reads its own copy).
    uint16_t word(uint32_t off) const { return para::get16(ram_para, off); }
    void setWord(uint32_t off, uint16_t v) { para::set16(ram_para, off, v); }

    // Members, in order.
    pthread_mutex_t input_timing_mutex;               // the six input-timing records
    uint8_t ram_para[para::IMAGE_SIZE];               // the parameter image
    uint8_t ram_para_back[para::IMAGE_SIZE];          // snapshot
    uint8_t user_mode_ram[para::MODE_COUNT][para::SLOT_SIZE];
    uint8_t reg_para[para::REGISTER_FILE_SIZE];       // controller command registers
    uint8_t status_ram[para::STATUS_PAGE_SIZE];       // self-check status page (set_status_bits)

Q_SIGNALS:
    // Connected to SyncUpdate (listen_to). Call test_signal, never emit it
    // directly, and never while holding a lock the GUI thread takes.
    void sig_update_para(int code);

private:
    ZemRamPara();
    void load();
    void loadImageFile();
    static void cutParaFile(const std::string &head);
    bool readSlotFile(int slot, uint8_t *data, size_t &size);
    void fixLanguageAtStart();
    void applyStartupFixups();
    int findCropEntry(int source, int n);
    uint16_t saves_current_mode_locked() const;
    void follow_current_mode_locked();
    void settle_saved_current_locked(const PendingSave &save);
    void setCropRect(uint32_t e, const CROP_PARA *in);

    // What the parameter file last received (image bytes 768..4095), under
    // Utils::_file_deal_mutex.
    uint8_t m_stored[para::PERSISTENT_SIZE] = {};
    // Under the image's lock: the settled words, each with the count of
    // settled writes at its own; that count when the running pass took its copy.
    struct Settled {
        uint32_t off;
        uint16_t value;
        uint64_t seq;
    };
    std::vector<Settled> m_settled;
    uint64_t m_settled_seq = 0;
    uint64_t m_pass_copy_seq = 0;
    // Under the image's lock: the saves waiting, in the order of their
    // requests (at most one per mode), and the current mode as the stored
    // saves and the other writers of the word left it, with the request
    // order it dates from.
    std::vector<PendingSave> m_pending_saves;
    uint64_t m_save_seq = 0;
    uint16_t m_saved_current = 0;
    uint64_t m_saved_current_seq = 0;
    std::function<void()> m_save_hook;
};

// Holds everything that guards the parameter image, in the program's lock
// order: the image's lock (ParaLock, app/para_lock.h), then the store's
// input_timing_mutex. Every writer of the image and every reader that needs
// whole values (a RAM read, persistence, the keypad report) holds it; the
// user-mode slots and the snapshot are guarded by the same lock.
class ImageLock
{
public:
    explicit ImageLock(ZemRamPara *store);
    ~ImageLock();
    ImageLock(const ImageLock &) = delete;
    ImageLock &operator=(const ImageLock &) = delete;

private:
    pthread_mutex_t *m_timing;
};

#endif
