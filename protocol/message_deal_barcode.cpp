// Command 0xA2: the device barcode (also the cloud device id) and the
// front-panel languages the device offers; command 0xC0 sub-command 10:
// deleting the stored receiving-card files.

#include "protocol/message_deal.h"

#include "app/config_engine.h"
#include "app/front_panel.h"
#include "app/global.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"
#include "cloud/message_deal_4g.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "sendcard/fpga_manage.h"

#include <QDir>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

constexpr uint8_t STATUS_DONE = 0;
constexpr uint8_t STATUS_DIFFERS = 2;
constexpr uint8_t STATUS_MALFORMED = 5;
constexpr uint32_t LANGUAGE_COUNT = 5;

// Removes every entry of a data folder; true when at least one went away.
// The names come from the folder itself and are removed by library calls.
bool emptyFolder(const char *folder)
{
    QDir dir(platform::qpath(QString::fromLatin1(folder)));
    if (!dir.exists())
        return false;
    bool removed = false;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const std::string entry = std::string(folder) + "/" + name.toStdString();
        if (platform::files::remove(entry))
            removed = true;
    }
    return removed;
}

} // namespace

uint32_t message_deal::set_barcode(uint8_t *body)
{
    const uint32_t n = m_body_len >= 13 ? uint32_t(para::get16(body, 11)) : 0;
    body[11] = 30;
    // The text is the n - 2 bytes from byte 13; it must lie inside the body.
    if (n < 3 || 13 + (n - 2) > m_body_len) {
        body[10] = STATUS_MALFORMED;
        return 2;
    }
    QByteArray text(reinterpret_cast<const char *>(body + 13), int(n - 2));
    const int end = text.indexOf('\0');
    if (end >= 0)
        text.truncate(end);
    const QString sent = QString::fromUtf8(text);

    ConfigEngine *config = ConfigEngine::pInstance();
    config->write_config_variant(ConfigItem::Barcode, sent);
    platform::files::sync();
    platform::pauseMs(100);
    // Read back from the file, not from the store's memory: a full disk
    // keeps the old barcode, and that is the one a restart loads.
    const QString stored = config->reload_config_variant(ConfigItem::Barcode).toString();
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_barcode = stored;
    }
    // The barcode's hexadecimal reading is the 12-byte cloud device id.
    const QByteArray hex = QByteArray::fromHex(stored.toLatin1());
    uint8_t id[12] = {};
    std::memcpy(id, hex.constData(), std::min<size_t>(sizeof id, size_t(hex.size())));
    message_deal_4g::set_cloud_id(id);

    body[10] = stored == sent ? STATUS_DONE : STATUS_DIFFERS;
    return 2;
}

uint32_t message_deal::read_barcode(uint8_t *body)
{
    QByteArray text;
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        text = g_str_barcode.toUtf8();
    }
    // What this link can carry back: 4 reply bytes, the text, the XOR.
    const uint32_t room = m_reply_max > 15 ? m_reply_max - 15 : 0;
    const uint32_t m = std::min(uint32_t(text.size()), std::min(room, 0xFFFDu));
    body[10] = 0;
    body[11] = 31;
    para::set16(body, 12, uint16_t(m + 2));
    std::memcpy(body + 14, text.constData(), m);
    return m + 4;
}

uint32_t message_deal::set_lcd_lang_support(uint8_t *body)
{
    const bool whole = m_body_len >= 18;
    const uint16_t n = whole ? para::get16(body, 11) : 0;
    body[10] = STATUS_DONE;
    body[11] = 32;
    if (!whole || n != 36 || body[13] != 0xAA || body[14] != 0x55) {
        body[10] = STATUS_MALFORMED;
        return 2;
    }
    const uint16_t mask = para::get16(body, 16);
    const uint32_t value = body[15] == 2 ? ((mask & 0x1Eu) | 0x20000u) : ((mask & 0x1Fu) | 0x10000u);
    if (value == g_lcd_lang_valid.load())
        return 2;
    // A set the configuration file cannot take (a full disk) changes nothing:
    // the panel keeps the languages a restart would offer.
    if (!ConfigEngine::pInstance()->write_config_variant(ConfigItem::ZemLCDLang, value)) {
        body[10] = STATUS_DIFFERS;
        return 2;
    }
    g_lcd_lang_valid = value;

    const uint8_t inUse = g_language.load();
    if (inUse >= LANGUAGE_COUNT || !(value & (1u << inUse))) {
        for (uint32_t lang = 0; lang < LANGUAGE_COUNT; ++lang) {
            if (value & (1u << lang)) {
                g_language = uint8_t(lang);
                ParaLock lock;
                ZemRamPara::pInstance()->ram_para[para::LANGUAGE] = uint8_t(lang);
                break;
            }
        }
    }
    ZemRamPara::pInstance()->test_signal(1);
    return 2;
}

uint32_t message_deal::delete_file_name(uint8_t *body)
{
    const bool mapping = emptyFolder("/data/smartmapping");
    const bool recovery = emptyFolder("/data/rcvrecovery");
    // The page in front learns of it in the GUI thread, never from here:
    // a page listing the removed files closes (to the menu it was opened
    // from, drawn again), a menu whose entries depend on them redraws.
    if (mapping && fpga_manage::p_fpga_manage) {
        front_panel::close_mapping_page();
        front_panel::retext_setting_menu();
    }
    if (recovery && fpga_manage::p_fpga_manage) {
        front_panel::close_recovery_page();
        front_panel::retext_advanced_menu();
    }
    body[10] = 0;
    body[11] = 10;
    return 2;
}
