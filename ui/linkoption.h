#ifndef UI_LINKOPTION_H
#define UI_LINKOPTION_H

// The link menu (page 10): serial and Ethernet settings.

#include "ui/panelpage.h"

class LinkOption : public PanelPage
{
    Q_OBJECT
public:
    explicit LinkOption(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
