#include "ui/input/custommode.h"

#include "app/global.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"
#include "ui/confirmdialog.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"

CustomMode::CustomMode(QWidget *parent) : PanelPage(parent, page::CustomMode, page::Main)
{
    registerPage(g_custommode);
    addButton([] { return ui::tr5("下一个", "Next", "Далее", "Tiếp", "下一個"); }, [this] { choose(m_chosen % 16 + 1); });
    addButton(ui::textSave, [this] { request(true); });
    addButton([] { return ui::tr5("调用", "Recall", "Загрузить", "Gọi lại", "調用"); }, [this] { request(false); });
    addButton([] { return ui::tr5("删除", "Delete", "Удалить", "Xóa", "刪除"); }, [this] { askDelete(); });
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
    QString saved;
    for (int n = 0; n < static_cast<int>(para::MODE_COUNT); ++n)
        if (ui::userModeSaved(n))
            saved += QStringLiteral(" %1").arg(n + 1);
    out << ui::tr5("已保存:", "Saved:", "Сохранены:", "Đã lưu:", "已保存:") + (saved.isEmpty() ? QStringLiteral(" -") : saved);
    const int current = ui::currentUserMode();
    out << fitLine(ui::tr5("当前: %1", "Current: %1", "Текущий: %1", "Hiện tại: %1", "當前: %1"),
                   {ui::nameArg(current ? ui::userModeName(current - 1) : QStringLiteral("-"))});
    out << fitLine(ui::tr5("选择: %1", "Chosen: %1", "Выбран: %1", "Đã chọn: %1", "選擇: %1"),
                   {ui::nameArg(ui::userModeName(m_chosen - 1))});
    return out;
}

void CustomMode::syncUpdate()
{
    refreshFromImage();
}

void CustomMode::choose(int n)
{
    m_chosen = n;
    setNote(nullptr);
}

bool CustomMode::chosenSaved() const
{
    return ui::userModeSaved(m_chosen - 1);
}

void CustomMode::notSaved()
{
    setNote([] { return ui::tr5("该模式未保存", "This mode is not saved", "Режим не сохранён", "Chế độ chưa lưu", "該模式未保存"); });
}

void CustomMode::request(bool save)
{
    if (!g_mainwindow)
        return;
    if (!save && !chosenSaved()) {
        notSaved();
        return;
    }
    const int n = m_chosen;
    leavePage(page::Main);
    g_mainwindow->user_mode_request(n, save);
}

void CustomMode::askDelete()
{
    if (!chosenSaved()) {
        notSaved();
        return;
    }
    const int n = m_chosen;
    ConfirmDialog::ask(this, [n] {
        return ui::tr5("删除用户模式 %1?", "Delete user mode %1?", "Удалить режим %1?", "Xóa chế độ %1?", "刪除用戶模式 %1?")
            .arg(ui::userModeName(n - 1));
    }, [this] { deleteChosen(); });
}

void CustomMode::deleteMode(int n)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    {
        // The deleted mode is no longer the one in use.
        ParaLock lock;
        if (store->word(para::CURRENT_USER_MODE) == n)
            store->setWord(para::CURRENT_USER_MODE, 0);
    }
    store->mode_file_deal(n - 1, 1);
}

void CustomMode::deleteChosen()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    deleteMode(m_chosen);
    setNote([] { return ui::tr5("已删除", "Deleted", "Удалено", "Đã xóa", "已刪除"); });
    // The screens show it and the image is stored.
    store->test_signal(1);
}
