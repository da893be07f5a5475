#include "ui/option.h"

#include "app/global.h"
#include "ui/pages.h"

Option::Option(QWidget *parent) : QDialog(parent)
{
    g_option = this;
    g_page_focus = 5;
}

void Option::syncUpdate()
{
    language_changed();
}

void Option::language_changed()
{
}

void Option::slot_Button_back_clicked()
{
    g_option = nullptr;
    g_page_focus = 1;
    deleteLater();
}
