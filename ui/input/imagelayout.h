#ifndef UI_INPUT_IMAGELAYOUT_H
#define UI_INPUT_IMAGELAYOUT_H

// Window layout (page 9): position and size of the six windows.

#include "ui/panelpage.h"

class ImageLayout : public PanelPage
{
    Q_OBJECT
public:
    explicit ImageLayout(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
