#ifndef UI_OUTPUT_LEDSET_H
#define UI_OUTPUT_LEDSET_H

// LED wall (page 13): the wall's width, height and splice mode. Saving
// stores them, asks the sending card to take the new geometry and has the
// chip apply it.

#include "ui/panelpage.h"

class ledset : public PanelPage
{
    Q_OBJECT
public:
    explicit ledset(QWidget *parent = nullptr);
    void syncUpdate();

    QList<My_lineEdit *> fields() const { return m_fields; }
    int splice() const { return m_splice; }
    // Steps the splice mode shown: vertical, horizontal, copy.
    void nextSplice();
    // Stores width, height and splice mode; refused values are said on the page.
    void save();

    // Name of a splice mode as the page shows it.
    static QString spliceName(int mode);

protected:
    QString titleText() const override;
    QStringList valueLines() const override;

private:
    QList<My_lineEdit *> m_fields;
    int m_splice = 4;
};

#endif
