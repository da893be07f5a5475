#ifndef UI_INPUT_CUSTOMMODE_H
#define UI_INPUT_CUSTOMMODE_H

// User modes (page 4): the saved modes; the chosen mode is saved, recalled
// or, after a confirmation, deleted.

#include "ui/panelpage.h"

class CustomMode : public PanelPage
{
    Q_OBJECT
public:
    explicit CustomMode(QWidget *parent = nullptr);
    void syncUpdate();

    int chosen() const { return m_chosen; }
    void choose(int n);
    // Asks whether to delete the chosen mode; deletes it once confirmed.
    void askDelete();
    // Deletes the files of the chosen mode and empties its slot.
    void deleteChosen();
    // Deletes user mode n (1 to 16): it stops being the mode in use, then its
    // files go and its slot is emptied. Touches no widget.
    static void deleteMode(int n);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    // Hands the request to the home screen, which shows the notice.
    void request(bool save);
    bool chosenSaved() const;
    void notSaved();
    int m_chosen = 1;
};

#endif
