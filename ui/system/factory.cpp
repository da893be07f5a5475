#include "ui/system/factory.h"

#include "app/global.h"
#include "app/para_defaults.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "sendcard/fpga_manage.h"
#include "ui/confirmdialog.h"
#include "ui/pages.h"
#include "ui/tip.h"

#include <QTimer>
#include <cstring>
#include <mutex>

factory::factory(QWidget *parent) : PanelPage(parent, page::Factory, page::AdvancedOption)
{
    registerPage(g_factory);
    addButton([] { return ui::tr5("恢复出厂", "Reset", "Сброс", "Đặt lại", "恢復出廠"); }, [this] { askReset(); });
    addBackButton();
    language_changed();
}

QString factory::titleText() const
{
    return ui::tr5("出厂设置", "Factory", "Заводские", "Nhà máy", "出廠設置");
}

QStringList factory::valueLines() const
{
    QStringList out;
    out << ui::tr5("恢复出厂参数", "Restores the defaults", "Сброс настроек", "Khôi phục mặc định", "恢復出廠參數");
    out << ui::tr5("并清空用户模式", "and empties the user modes", "и удаление режимов", "và xóa các chế độ", "並清空用戶模式");
    if (m_pending)
        out << ui::tr5("正在恢复...", "Resetting...", "Сброс...", "Đang đặt lại...", "正在恢復...");
    return out;
}

void factory::askReset()
{
    ConfirmDialog::ask(this, [] {
        return ui::tr5("恢复出厂设置? 所有设置和用户模式将丢失。", "Reset to factory settings? All settings and user modes are lost.",
                       "Сбросить настройки? Все настройки и режимы будут потеряны.",
                       "Đặt lại cài đặt gốc? Mọi cài đặt và chế độ sẽ mất.", "恢復出廠設置? 所有設置和用戶模式將丟失。");
    }, [this] {
        m_pending = true;
        factory_reset();
        redraw();
    });
}

void factory::syncUpdate()
{
    refreshFromImage();
    // The notice runs its own event loop: it is shown after the change
    // dispatcher has stored the reset, not from inside it.
    if (m_pending)
        QTimer::singleShot(0, this, [this] { checkDone(); });
}

void factory::checkDone()
{
    bool applied;
    {
        ParaLock lock;
        applied = para_lock::request() == 0;
    }
    if (!m_pending || !applied)
        return;
    m_pending = false;
    redraw();
    TIP::tip_create(1);
}

void factory::factory_reset()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    {
        ParaLock lock;
        std::memcpy(store->ram_para + para::PERSISTENT_START, default_para_ramlist + 2, para::PERSISTENT_SIZE);
        for (uint32_t slot = 0; slot < para::MODE_COUNT; ++slot) {
            store->user_mode_ram[slot][0] = 0xFF;
            store->user_mode_ram[slot][1] = 0xFF;
        }
        raise_apply_request_locked(2);
    }
    // The LED geometry is sent to the receiving cards again.
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
    }
    fpga_manage::pInstance()->wake();
}
