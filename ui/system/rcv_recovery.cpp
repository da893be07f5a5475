#include "ui/system/rcv_recovery.h"

#include "app/global.h"
#include "ui/QRoundProgressBar.h"
#include "ui/pages.h"

rcv_recovery::rcv_recovery(QWidget *parent) : PanelPage(parent, 25, 12)
{
    registerPage(g_rcv_recovery);
    list_cards();
    addButton([] { return ui::tr5("返回", "Back", "Назад", "Quay lại", "返回"); }, [this] { menulist_back_page(); });
    language_changed();
}

QString rcv_recovery::titleText() const
{
    return ui::tr5("接收卡恢复", "Card recovery", "Восстановление", "Khôi phục thẻ", "接收卡恢復");
}

QStringList rcv_recovery::valueLines() const
{
    QStringList out;
    out << ui::tr5("接收卡文件: %1", "Card files: %1", "Файлы карт: %1", "Tệp thẻ: %1", "接收卡文件: %1").arg(m_files.size());
    for (const QString &f : m_files.mid(0, 5))
        out << f;
    return out;
}

void rcv_recovery::syncUpdate(int code)
{
    // Code 99: a recovery check finished.
    if (code == 99)
        list_cards();
    refreshFromImage();
}

void rcv_recovery::list_cards()
{
    m_files = ui::listFiles(QStringLiteral("/data/rcvrecovery"), {QString()});
}

void rcv_recovery::menulist_back_page()
{
    ui::runInGui(this, [this] {
        if (g_qround_bar && g_qround_bar->isVisible())
            return;
        leavePage(12);
    });
}
