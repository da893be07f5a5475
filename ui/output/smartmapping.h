#ifndef UI_OUTPUT_SMARTMAPPING_H
#define UI_OUTPUT_SMARTMAPPING_H

// Receiving-card mapping (page 24): the mapping files found on the USB stick.

#include "ui/filelistpage.h"

class SmartMapping : public FileListPage
{
    Q_OBJECT
public:
    explicit SmartMapping(QWidget *parent = nullptr);
    void syncUpdate(int code);
public Q_SLOTS:
    // Unless the progress widget is up: closes the page, focus to the Setting menu.
    void Button_back_clicked() { backUnlessBusy(); }
    void goBack() override { Button_back_clicked(); }

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
    QStringList listed() const override;
};

#endif
