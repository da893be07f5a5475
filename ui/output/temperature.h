#ifndef UI_OUTPUT_TEMPERATURE_H
#define UI_OUTPUT_TEMPERATURE_H

// Colour temperature (page 20): temperature and the red, green and blue gains.

#include "ui/panelpage.h"

class temperature : public PanelPage
{
    Q_OBJECT
public:
    explicit temperature(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
