#ifndef UI_SYSTEM_FACTORY_H
#define UI_SYSTEM_FACTORY_H

// Factory settings (page 18): after a confirmation, restores the default
// parameters and empties the user modes; a notice says when the reset is
// done (applied and stored).

#include "ui/panelpage.h"

class factory : public PanelPage
{
    Q_OBJECT
public:
    explicit factory(QWidget *parent = nullptr);
    void syncUpdate();

    // Asks for a confirmation, then resets.
    void askReset();
    // Image back to its defaults, 16 user modes empty, apply request 2.
    static void factory_reset();
    // True from a confirmed reset until its done notice.
    bool resetPending() const { return m_pending; }

protected:
    QString titleText() const override;
    QStringList valueLines() const override;

private:
    // Shows the done notice once the apply pass took the reset.
    void checkDone();
    bool m_pending = false;
};

#endif
