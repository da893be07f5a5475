#ifndef UI_INPUT_EDIDSET_H
#define UI_INPUT_EDIDSET_H

// EDID settings (page 8): the resolution and refresh rate each input offers
// its source. The user picks an input, types width, height and refresh with
// the number keyboard and saves them.

#include "ui/panelpage.h"

class EDIDset : public PanelPage
{
    Q_OBJECT
public:
    explicit EDIDset(QWidget *parent = nullptr);
    void syncUpdate();

    int port() const { return m_port; }
    QList<My_lineEdit *> fields() const { return m_fields; }
    void nextPort();
    void save();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;

private:
    QList<My_lineEdit *> m_fields;
    int m_port = 0;
};

#endif
