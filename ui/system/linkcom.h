#ifndef UI_SYSTEM_LINKCOM_H
#define UI_SYSTEM_LINKCOM_H

// Serial settings (page 21): the RS-485 and 4G lines.

#include "ui/panelpage.h"

class linkcom : public PanelPage
{
    Q_OBJECT
public:
    explicit linkcom(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
