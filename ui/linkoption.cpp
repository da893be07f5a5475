#include "ui/linkoption.h"

#include "app/global.h"

#include <mutex>
#include "ui/pages.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"

LinkOption::LinkOption(QWidget *parent) : PanelPage(parent, page::LinkOption, page::Option)
{
    registerPage(g_linkoption);
    addButton([] { return ui::tr5("串口", "Serial", "Порт RS-485", "Cổng nối tiếp", "串口"); }, [this] { if (!g_linkcom) openChild<linkcom>(); });
    addButton([] { return ui::tr5("以太网", "Ethernet", "Ethernet", "Ethernet", "以太網"); }, [this] { if (!g_linkwlan) openChild<linkwlan>(); });
    addBackButton();
    language_changed();
}

QString LinkOption::titleText() const
{
    return ui::tr5("通讯设置", "Link", "Связь", "Kết nối", "通訊設置");
}

QStringList LinkOption::valueLines() const
{
    QStringList out;
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    out << QStringLiteral("IP: %1").arg(g_str_ip);
    out << ui::tr5("端口: %1", "TCP port: %1", "Порт: %1", "Cổng: %1", "端口: %1").arg(g_port.load());
    return out;
}

void LinkOption::syncUpdate()
{
    refreshFromImage();
}
