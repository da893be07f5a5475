#include "ui/system/linkcom.h"

#include "app/global.h"
#include "ui/pages.h"

linkcom::linkcom(QWidget *parent) : PanelPage(parent, page::LinkCom, page::LinkOption)
{
    registerPage(g_linkcom);
    addBackButton();
    language_changed();
}

QString linkcom::titleText() const
{
    return ui::tr5("串口", "Serial", "Порт RS-485", "Cổng nối tiếp", "串口");
}

QStringList linkcom::valueLines() const
{
    QStringList out;
    out << QStringLiteral("RS-485: ttyS2 115200 8N1");
    out << QStringLiteral("4G: ttyS1");
    return out;
}

void linkcom::syncUpdate()
{
    refreshFromImage();
}
