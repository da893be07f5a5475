#ifndef UI_OUTPUTSET_H
#define UI_OUTPUTSET_H

// The output menu (page 6): LED wall, output ports and test patterns.

#include "ui/panelpage.h"

class OutputSet : public PanelPage
{
    Q_OBJECT
public:
    explicit OutputSet(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
