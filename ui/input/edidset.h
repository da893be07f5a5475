#ifndef UI_INPUT_EDIDSET_H
#define UI_INPUT_EDIDSET_H

// EDID settings (page 8): the custom EDID timing of each input.

#include "ui/panelpage.h"

class EDIDset : public PanelPage
{
    Q_OBJECT
public:
    explicit EDIDset(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
