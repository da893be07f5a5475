#include "ui/system/othersetup.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/pages.h"

#include <QGridLayout>
#include <QPushButton>

namespace {
constexpr int LANGUAGE_COUNT = 5;
constexpr int LANGUAGE_COLUMNS = 3;

bool languageEnabled(int lang)
{
    return lang >= 0 && lang < LANGUAGE_COUNT && (g_lcd_lang_valid.load() >> lang) & 1u;
}
} // namespace

othersetup::othersetup(QWidget *parent) : PanelPage(parent, page::OtherSetup, page::AdvancedOption)
{
    registerPage(g_othersetup);
    for (int lang = 0; lang < LANGUAGE_COUNT; ++lang) {
        auto *b = new QPushButton(languageName(lang), this);
        connect(b, &QPushButton::clicked, this, [lang] { choose_language(lang); });
        form()->addWidget(b, lang / LANGUAGE_COLUMNS, lang % LANGUAGE_COLUMNS);
        m_languages.append(b);
    }
    addButton([] { return ui::tr5("按键锁", "Key lock", "Блокировка", "Khóa phím", "按鍵鎖"); }, [this] { ui::applyWord(para::KEY_LOCK, ui::word(para::KEY_LOCK) ? 0 : 1); redraw(); });
    addButton([] { return ui::tr5("确定", "OK", "OK", "OK", "確定"); }, [] { if (ZemRamPara::p_zemrampara_config) ZemRamPara::p_zemrampara_config->ram_para_save(); });
    addBackButton();
    language_changed();
}

QString othersetup::titleText() const
{
    return ui::tr5("其他设置", "Other", "Прочее", "Khác", "其他設置");
}

QString othersetup::languageName(int lang)
{
    static const char *const names[LANGUAGE_COUNT] = {"简体中文", "English", "Русский", "Tiếng Việt", "繁體中文"};
    return lang >= 0 && lang < LANGUAGE_COUNT ? QString::fromUtf8(names[lang]) : QString();
}

QStringList othersetup::valueLines() const
{
    QStringList out;
    const bool locked = ui::word(para::KEY_LOCK) != 0;
    out << ui::tr5("按键锁: %1", "Key lock: %1", "Блокировка: %1", "Khóa phím: %1", "按鍵鎖: %1")
               .arg(locked ? ui::tr5("开", "on", "вкл", "bật", "開") : ui::tr5("关", "off", "выкл", "tắt", "關"));
    const bool wifiOff = ui::byte(para::WIFI_OFF) != 0;
    out << QStringLiteral("WiFi: %1").arg(wifiOff ? ui::tr5("关", "off", "выкл", "tắt", "關") : ui::tr5("开", "on", "вкл", "bật", "開"));
    out << ui::tr5("语言: %1", "Language: %1", "Язык: %1", "Ngôn ngữ: %1", "語言: %1").arg(languageName(g_language.load()));
    return out;
}

void othersetup::redraw()
{
    PanelPage::redraw();
    // Only the languages enabled on this device are offered, and only when
    // there is a choice.
    int enabled = 0;
    for (int lang = 0; lang < LANGUAGE_COUNT; ++lang)
        enabled += languageEnabled(lang) ? 1 : 0;
    for (int lang = 0; lang < LANGUAGE_COUNT; ++lang) {
        m_languages[lang]->setVisible(enabled > 1 && languageEnabled(lang));
        m_languages[lang]->setEnabled(lang != g_language.load());
    }
}

bool othersetup::choose_language(int lang)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store || !languageEnabled(lang))
        return false;
    const uint8_t byte = static_cast<uint8_t>(lang);
    store->ZemRamParaDeal(&byte, 1, para::LANGUAGE);
    // The page in front sees the change, every page is re-texted and the
    // image is stored.
    store->test_signal(1);
    return true;
}

void othersetup::syncUpdate()
{
    refreshFromImage();
}
