#ifndef UI_SYSTEM_LINKWLAN_H
#define UI_SYSTEM_LINKWLAN_H

// Ethernet settings (page 22): address, mask and gateway, applied with OK.

#include "ui/panelpage.h"

class My_lineEdit;

class linkwlan : public PanelPage
{
    Q_OBJECT
public:
    explicit linkwlan(QWidget *parent = nullptr);
    void syncUpdate();
    // Applies the fields (OK); a refused address is said on the page.
    void ok();
    enum class Applied { Done, Invalid, NotStored };
    // Stores address, mask and gateway, applies them and announces the change.
    // Nothing changes when a text is not a dotted IPv4 address (Invalid) or
    // the configuration file cannot take them (NotStored, a full disk).
    static Applied apply(const QString &ip, const QString &mask, const QString &gateway);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    QList<My_lineEdit *> m_edits;
};

#endif
