#include "ui/output/ledset.h"

#include "app/global.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "sendcard/fpga_manage.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"

#include <QGridLayout>
#include <mutex>

namespace {

// The splice modes a user chooses from: the image's values 2, 3 and 4.
constexpr int SPLICE_VERTICAL = 2;
constexpr int SPLICE_HORIZONTAL = 3;
constexpr int SPLICE_COPY = 4;
constexpr int SIZE_MAX_PX = 0xFFFF;

} // namespace

ledset::ledset(QWidget *parent) : PanelPage(parent, page::LedSet, page::OutputSet)
{
    registerPage(g_ledset);
    m_fields = addNumberRow(0, {ui::textWidth, ui::textHeight}, 56);
    m_fields[0]->bindValue([] { return QString::number(ui::word(para::LED_WIDTH)); });
    m_fields[1]->bindValue([] { return QString::number(ui::word(para::LED_HEIGHT)); });
    m_splice = ui::byte(para::LED_SPLICE);
    addButton([] { return ui::tr5("拼接方式", "Splice mode", "Стыковка", "Kiểu ghép", "拼接方式"); }, [this] { nextSplice(); });
    addButton(ui::textSave, [this] { save(); });
    addBackButton();
    language_changed();
}

QString ledset::titleText() const
{
    return ui::tr5("屏幕设置", "LED wall", "Экран", "Màn hình LED", "屏幕設置");
}

QString ledset::spliceName(int mode)
{
    switch (mode) {
    case SPLICE_VERTICAL: return ui::tr5("垂直", "vertical", "вертикально", "dọc", "垂直");
    case SPLICE_HORIZONTAL: return ui::tr5("水平", "horizontal", "горизонтально", "ngang", "水平");
    case SPLICE_COPY: return ui::tr5("复制", "copy", "копия", "sao chép", "複製");
    default: return QString::number(mode);
    }
}

QStringList ledset::valueLines() const
{
    QStringList out;
    out << ui::tr5("宽x高: %1x%2", "Size: %1x%2", "Размер: %1x%2", "Kích thước: %1x%2", "寬x高: %1x%2")
               .arg(ui::word(para::LED_WIDTH)).arg(ui::word(para::LED_HEIGHT));
    out << ui::tr5("起点: %1,%2", "Start: %1,%2", "Начало: %1,%2", "Điểm đầu: %1,%2", "起點: %1,%2")
               .arg(ui::word(para::LED_X)).arg(ui::word(para::LED_Y));
    out << ui::tr5("拼接: %1", "Splice: %1", "Стыковка: %1", "Ghép: %1", "拼接: %1").arg(spliceName(ui::byte(para::LED_SPLICE)));
    return out;
}

void ledset::nextSplice()
{
    m_splice = m_splice >= SPLICE_VERTICAL && m_splice < SPLICE_COPY ? m_splice + 1 : SPLICE_VERTICAL;
    // The choice waits for Save; the note says it while it differs from the wall's.
    setNote([this] {
        if (m_splice == ui::byte(para::LED_SPLICE))
            return QString();
        return ui::tr5("新拼接: %1", "New splice: %1", "Новая: %1", "Ghép mới: %1", "新拼接: %1").arg(spliceName(m_splice));
    });
}

void ledset::save()
{
    int w = 0, h = 0;
    const int64_t maxPixels = g_zem_max_pixel.load();
    if (!ui::readNumber(m_fields[0]->value(), 1, SIZE_MAX_PX, &w) || !ui::readNumber(m_fields[1]->value(), 1, SIZE_MAX_PX, &h)) {
        setNote([] { return ui::tr5("请输入宽和高", "Enter width and height", "Введите ширину и высоту", "Nhập rộng và cao", "請輸入寬和高"); });
        return;
    }
    if (maxPixels > 0 && int64_t(w) * h > maxPixels) {
        setNote([maxPixels] {
            return ui::tr5("超过%1像素", "Over %1 pixels", "Больше %1 пикс.", "Quá %1 điểm ảnh", "超過%1像素").arg(maxPixels);
        });
        return;
    }
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    {
        ParaLock lock;
        store->ram_para[para::LED_SPLICE] = static_cast<uint8_t>(m_splice);
        store->setWord(para::LED_WIDTH, static_cast<uint16_t>(w));
        store->setWord(para::LED_HEIGHT, static_cast<uint16_t>(h));
        // The sending card takes the new geometry before the chip sets the panel up.
        {
            std::lock_guard<std::mutex> led(Utils::_led_para_init_mutex);
            g_set_led_para = 1;
            g_set_led_setup = 0;
        }
        fpga_manage::pInstance()->wake();
        raise_apply_request_locked(1);
    }
    revertFields();
    noteSaved();
}

void ledset::syncUpdate()
{
    refreshFromImage();
}
