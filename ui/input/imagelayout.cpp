#include "ui/input/imagelayout.h"

#include "app/global.h"
#include "ui/pages.h"

ImageLayout::ImageLayout(QWidget *parent) : PanelPage(parent, page::ImageLayout, page::Option)
{
    registerPage(g_imagelayout);
    addBackButton();
    language_changed();
}

QString ImageLayout::titleText() const
{
    return ui::tr5("窗口布局", "Layout", "Окна", "Bố cục", "窗口佈局");
}

QStringList ImageLayout::valueLines() const
{
    QStringList out;
    for (int w = 0; w < static_cast<int>(para::WINDOW_COUNT); ++w) {
        const bool on = ui::word(para::window(w, para::WIN_ENABLE)) & 1;
        out << fitLine(QStringLiteral("%1: %2 %3,%4 %5x%6"),
                       {ui::nameArg(ui::windowName(w)),
                        on ? ui::tr5("开", "on", "вкл", "bật", "開") : ui::tr5("关", "off", "выкл", "tắt", "關"),
                        ui::word(para::window(w, para::WIN_X)), ui::word(para::window(w, para::WIN_Y)),
                        ui::word(para::window(w, para::WIN_W)), ui::word(para::window(w, para::WIN_H))});
    }
    return out;
}

void ImageLayout::syncUpdate()
{
    refreshFromImage();
}
