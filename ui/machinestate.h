#ifndef UI_MACHINESTATE_H
#define UI_MACHINESTATE_H

// Device state (page 2): versions, LED wall size, inputs and the output-port links.

#include "ui/panelpage.h"

#ifndef ZEM_VERSION
#define ZEM_VERSION "1.0.0"
#endif

class MachineState : public PanelPage
{
    Q_OBJECT
public:
    explicit MachineState(QWidget *parent = nullptr);
    void syncUpdate(int code);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    void read_links();
    unsigned m_links = 0;
};

#endif
