#ifndef UI_OPTION_H
#define UI_OPTION_H

// The Setting menu (page 5).

#include <QDialog>

class Option : public QDialog
{
    Q_OBJECT
public:
    explicit Option(QWidget *parent = nullptr);
    void syncUpdate();
    void language_changed();

public slots:
    // Closes the menu, clears g_option, re-texts the home screen, focus to page 1.
    void slot_Button_back_clicked();
};

#endif
