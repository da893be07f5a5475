#include "ui/output/smartmapping.h"

#include "app/global.h"
#include "ui/QRoundProgressBar.h"
#include "ui/pages.h"

SmartMapping::SmartMapping(QWidget *parent) : PanelPage(parent, 24, 5)
{
    registerPage(g_smartmapping);
    list_files();
    addButton([] { return ui::tr5("返回", "Back", "Назад", "Quay lại", "返回"); }, [this] { Button_back_clicked(); });
    language_changed();
}

QString SmartMapping::titleText() const
{
    return ui::tr5("智能走线", "Mapping", "Разводка", "Sơ đồ", "智能走線");
}

QStringList SmartMapping::valueLines() const
{
    QStringList out;
    if (m_files.isEmpty())
        out << ui::tr5("U盘无走线文件", "No mapping file on the stick", "Нет файлов разводки", "Không có tệp sơ đồ", "U盤無走線文件");
    for (const QString &f : m_files.mid(0, 6))
        out << f;
    return out;
}

void SmartMapping::syncUpdate(int code)
{
    // Code 102: the stick's storage is ready.
    if (code == 100 || code == 101 || code == 102)
        list_files();
    refreshFromImage();
}

void SmartMapping::list_files()
{
    m_files = ui::listFiles(QStringLiteral("/mnt/usb1"), {QStringLiteral("qyfile")});
}

void SmartMapping::Button_back_clicked()
{
    ui::runInGui(this, [this] {
        if (g_qround_bar && g_qround_bar->isVisible())
            return;
        leavePage(5);
    });
}
