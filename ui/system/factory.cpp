#include "ui/system/factory.h"

#include "app/global.h"
#include "app/para_defaults.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "ui/pages.h"
#include "videoproc/c331_manage.h"

#include <cstring>
#include <mutex>

factory::factory(QWidget *parent) : PanelPage(parent, 18, 12)
{
    registerPage(g_factory);
    addButton([] { return ui::tr5("恢复出厂", "Reset", "Сброс", "Đặt lại", "恢復出廠"); }, [this] { factory_reset(); });
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
    out << ui::tr5("恢复出厂参数并清空用户模式", "Restores the defaults and empties the user modes",
                   "Сброс настроек и режимов", "Khôi phục mặc định, xóa chế độ", "恢復出廠參數並清空用戶模式");
    return out;
}

void factory::syncUpdate()
{
    refreshFromImage();
}

void factory::factory_reset()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    {
        ManageLock lock;
        std::memcpy(store->ram_para + para::PERSISTENT_START, default_para_ramlist + 2, para::PERSISTENT_SIZE);
        for (uint32_t slot = 0; slot < para::MODE_COUNT; ++slot) {
            store->user_mode_ram[slot][0] = 0xFF;
            store->user_mode_ram[slot][1] = 0xFF;
        }
        raise_apply_request_locked(2);
    }
    // The LED geometry is sent to the receiving cards again.
    std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
    g_set_led_para = 1;
}
