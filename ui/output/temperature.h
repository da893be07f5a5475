#ifndef UI_OUTPUT_TEMPERATURE_H
#define UI_OUTPUT_TEMPERATURE_H

// Colour temperature (page 20): the preset (warm, natural, cool, or custom
// with the red, green and blue gains), stepped with a button.

#include "ui/panelpage.h"

class temperature : public PanelPage
{
    Q_OBJECT
public:
    explicit temperature(QWidget *parent = nullptr);
    void syncUpdate();

    // Steps to the next preset: warm, natural, cool, custom, warm...
    void nextPreset();
    // Name of preset `value` (the image's colour temperature word).
    static QString presetName(int value);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
