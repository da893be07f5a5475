#ifndef UI_OUTPUT_LEDSET_H
#define UI_OUTPUT_LEDSET_H

// LED wall (page 13): size, position and splicing.

#include "ui/panelpage.h"

class ledset : public PanelPage
{
    Q_OBJECT
public:
    explicit ledset(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
