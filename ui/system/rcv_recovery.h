#ifndef UI_SYSTEM_RCV_RECOVERY_H
#define UI_SYSTEM_RCV_RECOVERY_H

// Receiving-card recovery (page 25): the stored receiving-card parameter files.

#include "ui/filelistpage.h"

class rcv_recovery : public FileListPage
{
    Q_OBJECT
public:
    explicit rcv_recovery(QWidget *parent = nullptr);
    void syncUpdate(int code);
public Q_SLOTS:
    // Unless the progress widget is up: closes the page, focus to the advanced menu.
    void menulist_back_page() { backUnlessBusy(); }
    void goBack() override { menulist_back_page(); }

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
    QStringList listed() const override;
};

#endif
