#include "ui/output/smartmapping.h"

#include "app/global.h"
#include "ui/pages.h"

SmartMapping::SmartMapping(QWidget *parent) : FileListPage(parent, page::SmartMapping, page::Option)
{
    registerPage(g_smartmapping);
    reload();
    language_changed();
}

QString SmartMapping::titleText() const
{
    return ui::tr5("智能走线", "Mapping", "Разводка", "Sơ đồ", "智能走線");
}

QStringList SmartMapping::valueLines() const
{
    QStringList out;
    if (files().isEmpty())
        out << ui::tr5("U盘无走线文件", "No mapping file on the stick", "Нет файлов разводки", "Không có tệp sơ đồ", "U盤無走線文件");
    out << files().mid(0, 6);
    return out;
}

void SmartMapping::syncUpdate(int code)
{
    if (stickChanged(code))
        reload();
    refreshFromImage();
}

QStringList SmartMapping::listed() const
{
    return ui::listFiles(QStringLiteral("/mnt/usb1"), {QStringLiteral("qyfile")});
}
