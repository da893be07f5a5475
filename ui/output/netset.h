#ifndef UI_OUTPUT_NETSET_H
#define UI_OUTPUT_NETSET_H

// Output ports (page 14): channel layout and sizes.

#include "ui/panelpage.h"

class netset : public PanelPage
{
    Q_OBJECT
public:
    explicit netset(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
