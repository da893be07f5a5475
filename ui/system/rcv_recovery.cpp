#include "ui/system/rcv_recovery.h"

#include "app/global.h"
#include "ui/pages.h"

rcv_recovery::rcv_recovery(QWidget *parent) : FileListPage(parent, page::RcvRecovery, page::AdvancedOption)
{
    registerPage(g_rcv_recovery);
    reload();
    language_changed();
}

QString rcv_recovery::titleText() const
{
    return ui::tr5("接收卡恢复", "Card recovery", "Восстановление", "Khôi phục thẻ", "接收卡恢復");
}

QStringList rcv_recovery::valueLines() const
{
    QStringList out;
    out << ui::tr5("接收卡文件: %1", "Card files: %1", "Файлы карт: %1", "Tệp thẻ: %1", "接收卡文件: %1").arg(files().size());
    out << files().mid(0, 5);
    return out;
}

void rcv_recovery::syncUpdate(int code)
{
    // Code 99: a recovery check finished.
    if (code == 99)
        reload();
    refreshFromImage();
}

QStringList rcv_recovery::listed() const
{
    return ui::listFiles(QStringLiteral("/data/rcvrecovery"), {QString()});
}
