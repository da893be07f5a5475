#ifndef UI_INPUT_INPUTCHOOSE_H
#define UI_INPUT_INPUTCHOOSE_H

// Source selection (page 3): the source of the current window.

#include "ui/panelpage.h"
#include "ui/input/page_copies.h"

class InputChoose : public PanelPage
{
    Q_OBJECT
public:
    explicit InputChoose(QWidget *parent = nullptr);
    void syncUpdate(int code);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    void select(int source);
    ui::WindowSourceCopy m_copy;
};

#endif
