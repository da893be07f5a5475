#ifndef UI_INPUT_INPUTCUT_H
#define UI_INPUT_INPUTCUT_H

// Input crops (page 7): the crops of each source.

#include "ui/panelpage.h"
#include "ui/input/page_copies.h"

class InputCut : public PanelPage
{
    Q_OBJECT
public:
    explicit InputCut(QWidget *parent = nullptr);
    void syncUpdate(int code);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    ui::WindowSourceCopy m_copy;
};

#endif
