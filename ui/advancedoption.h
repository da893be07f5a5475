#ifndef UI_ADVANCEDOPTION_H
#define UI_ADVANCEDOPTION_H

// The advanced menu (page 12): LCD, other settings, factory, ageing log, card recovery, USB upgrade.

#include "ui/panelpage.h"

class AdvancedOption : public PanelPage
{
    Q_OBJECT
public:
    explicit AdvancedOption(QWidget *parent = nullptr);
    void syncUpdate();
public Q_SLOTS:
    // Re-texts the menu; the recovery entry is enabled while recovery files exist.
    void language_changed() override;

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    QPushButton *m_recovery = nullptr;
};

#endif
