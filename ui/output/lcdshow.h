#ifndef UI_OUTPUT_LCDSHOW_H
#define UI_OUTPUT_LCDSHOW_H

// LCD behaviour (page 15): the auto-lock time, after which the panel returns
// to the status screen.

#include "ui/panelpage.h"

class lcdshow : public PanelPage
{
    Q_OBJECT
public:
    explicit lcdshow(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
