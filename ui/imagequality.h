#ifndef UI_IMAGEQUALITY_H
#define UI_IMAGEQUALITY_H

// The picture menu (page 11): picture quality and colour temperature.

#include "ui/panelpage.h"

class ImageQuality : public PanelPage
{
    Q_OBJECT
public:
    explicit ImageQuality(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
