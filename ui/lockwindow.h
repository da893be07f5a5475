#ifndef UI_LOCKWINDOW_H
#define UI_LOCKWINDOW_H

// The status screen (page 0), shown over the home screen at start-up: the
// enabled windows with their sources and input timings. A key or a touch
// unlocks it and brings the home screen (page 1) to the front.

#include "ui/panelpage.h"

class LockWindow : public PanelPage
{
    Q_OBJECT
public:
    explicit LockWindow(QWidget *parent = nullptr);
    void syncUpdate();

public Q_SLOTS:
    void goBack() override;

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
};

#endif
