#ifndef UI_SYSTEM_FIRMWARE_USBGRADE_H
#define UI_SYSTEM_FIRMWARE_USBGRADE_H

// USB upgrade (page 26): the upgrade files on the stick and the last result.

#include "ui/panelpage.h"

class firmware_usbgrade : public PanelPage
{
    Q_OBJECT
public:
    explicit firmware_usbgrade(QWidget *parent = nullptr);
    void syncUpdate(int code);
public:
    QStringList files() const { return m_files; }

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    void list_files();
    QStringList m_files;
    bool m_done = false;
};

#endif
