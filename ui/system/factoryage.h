#ifndef UI_SYSTEM_FACTORYAGE_H
#define UI_SYSTEM_FACTORYAGE_H

// Ageing log (page 23): the latest samples taken by the tick.

#include "ui/panelpage.h"

class factoryage : public PanelPage
{
    Q_OBJECT
public:
    explicit factoryage(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
