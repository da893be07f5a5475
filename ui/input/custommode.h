#ifndef UI_INPUT_CUSTOMMODE_H
#define UI_INPUT_CUSTOMMODE_H

// User modes (page 4): the saved modes; a chosen mode is saved or recalled.

#include "ui/panelpage.h"

class CustomMode : public PanelPage
{
    Q_OBJECT
public:
    explicit CustomMode(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    // Hands the request to the home screen, which shows the notice.
    void request(bool save);
    int m_chosen = 1;
};

#endif
