#ifndef UI_OPTION_H
#define UI_OPTION_H

// The Setting menu (page 5).

#include "ui/panelpage.h"

class Option : public PanelPage
{
    Q_OBJECT
public:
    explicit Option(QWidget *parent = nullptr);
    void syncUpdate();
public Q_SLOTS:
    // Closes the menu, clears g_option, re-texts the home screen, focus to page 1.
    void slot_Button_back_clicked();
    void goBack() override { slot_Button_back_clicked(); }

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
