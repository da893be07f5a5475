#include "ui/machinestate.h"

#include "app/global.h"
#include "sendcard/fpga_manage.h"
#include "ui/pages.h"

MachineState::MachineState(QWidget *parent) : PanelPage(parent, page::MachineState, page::Main)
{
    registerPage(g_machinestate);
    read_links();
    addBackButton();
    language_changed();
}

QString MachineState::titleText() const
{
    return ui::tr5("设备状态", "Device state", "Состояние", "Trạng thái", "設備狀態");
}

QStringList MachineState::valueLines() const
{
    QStringList out;
    out << ui::tr5("软件版本: %1", "Software: %1", "ПО: %1", "Phần mềm: %1", "軟件版本: %1").arg(QStringLiteral(ZEM_VERSION));
    out << ui::tr5("屏幕: %1x%2", "LED wall: %1x%2", "Экран: %1x%2", "Màn hình: %1x%2", "屏幕: %1x%2")
               .arg(ui::word(para::LED_WIDTH)).arg(ui::word(para::LED_HEIGHT));
    // Two inputs to a line.
    for (int s = 0; s + 1 < static_cast<int>(para::INPUT_COUNT); s += 2)
        out << fitLine(QStringLiteral("%1 %2 %3 %4"), {ui::nameArg(ui::sourceName(s)), ui::inputTiming(s),
                                                        ui::nameArg(ui::sourceName(s + 1)), ui::inputTiming(s + 1)});
    QString links;
    const QString on = ui::tr5("通", "on", "вкл", "bật", "通");
    const QString off = ui::tr5("断", "off", "выкл", "tắt", "斷");
    for (int p = 0; p < 4; ++p)
        links += QStringLiteral(" %1:%2").arg(p + 1).arg((m_links & (1u << p)) ? on : off);
    out << ui::tr5("网口:", "Ports:", "Порты:", "Cổng:", "網口:") + links;
    return out;
}

void MachineState::syncUpdate(int code)
{
    // Code 11: the output-port link state changed.
    if (code == 11)
        read_links();
    refreshFromImage();
}

void MachineState::read_links()
{
    m_links = fpga_manage::p_fpga_manage ? fpga_manage::p_fpga_manage->port_link_state.load() : 0;
}
