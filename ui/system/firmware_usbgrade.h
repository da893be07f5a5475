#ifndef UI_SYSTEM_FIRMWARE_USBGRADE_H
#define UI_SYSTEM_FIRMWARE_USBGRADE_H

// USB upgrade (page 26): the upgrade files on the stick and the last result.

#include "ui/filelistpage.h"

class firmware_usbgrade : public FileListPage
{
    Q_OBJECT
public:
    explicit firmware_usbgrade(QWidget *parent = nullptr);
    void syncUpdate(int code);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
    QStringList listed() const override;

private:
    bool m_done = false;
};

#endif
