#ifndef UI_SYSTEM_FACTORY_H
#define UI_SYSTEM_FACTORY_H

// Factory settings (page 18): restores the default parameters and empties the user modes.

#include "ui/panelpage.h"

class factory : public PanelPage
{
    Q_OBJECT
public:
    explicit factory(QWidget *parent = nullptr);
    void syncUpdate();
public:
    // Image back to its defaults, 16 user modes empty, apply request 2.
    static void factory_reset();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
