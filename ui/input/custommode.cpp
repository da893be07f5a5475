#include "ui/input/custommode.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"

CustomMode::CustomMode(QWidget *parent) : PanelPage(parent, 4, 1)
{
    registerPage(g_custommode);
    addButton([] { return ui::tr5("下一个", "Next", "Далее", "Tiếp", "下一個"); }, [this] { m_chosen = m_chosen % 16 + 1; redraw(); });
    addButton([] { return ui::tr5("保存", "Save", "Сохранить", "Lưu", "保存"); }, [this] { request(true); });
    addButton([] { return ui::tr5("调用", "Recall", "Загрузить", "Gọi lại", "調用"); }, [this] { request(false); });
    addBackButton();
    language_changed();
}

QString CustomMode::titleText() const
{
    return ui::tr5("用户模式", "User modes", "Режимы", "Chế độ", "用戶模式");
}

QStringList CustomMode::valueLines() const
{
    QStringList out;
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    QString saved;
    for (int n = 0; store && n < static_cast<int>(para::MODE_COUNT); ++n)
        if (store->ZemUserModeSaved(n))
            saved += QStringLiteral(" %1").arg(n + 1);
    out << ui::tr5("已保存:", "Saved:", "Сохранены:", "Đã lưu:", "已保存:") + (saved.isEmpty() ? QStringLiteral(" -") : saved);
    out << ui::tr5("当前: %1", "Current: %1", "Текущий: %1", "Hiện tại: %1", "當前: %1")
               .arg(store ? store->ZemGetCurrentModeIndex() : 0);
    out << ui::tr5("选择: %1", "Chosen: %1", "Выбран: %1", "Đã chọn: %1", "選擇: %1").arg(m_chosen);
    return out;
}

void CustomMode::syncUpdate()
{
    refreshFromImage();
}

void CustomMode::request(bool save)
{
    if (!g_mainwindow)
        return;
    const int n = m_chosen;
    leavePage(1);
    g_mainwindow->user_mode_request(n, save);
}
