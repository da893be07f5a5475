#ifndef UI_OUTPUT_QUALITY_H
#define UI_OUTPUT_QUALITY_H

// Picture quality (page 19): brightness, contrast, sharpness, saturation.

#include "ui/panelpage.h"

class quality : public PanelPage
{
    Q_OBJECT
public:
    explicit quality(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    void step(int delta);
};

#endif
