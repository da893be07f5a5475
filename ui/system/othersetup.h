#ifndef UI_SYSTEM_OTHERSETUP_H
#define UI_SYSTEM_OTHERSETUP_H

// Other settings (page 17): key lock and WiFi; OK saves the parameters.

#include "ui/panelpage.h"

class othersetup : public PanelPage
{
    Q_OBJECT
public:
    explicit othersetup(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
