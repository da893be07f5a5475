#ifndef UI_OUTPUT_QUALITY_H
#define UI_OUTPUT_QUALITY_H

// Picture quality (page 19): brightness, contrast, sharpness and saturation,
// each 0 to 100, stepped with - and + or typed with the number keyboard.

#include "ui/panelpage.h"

class quality : public PanelPage
{
    Q_OBJECT
public:
    explicit quality(QWidget *parent = nullptr);
    void syncUpdate();

    // The value at image word `off` moved by `delta`, kept within 0..100.
    void step(uint32_t off, int delta);
    // A typed value for the word at `off`; refused when not 0..100.
    void enter(uint32_t off, const QString &text);
    // The fields, in the order brightness, contrast, sharpness, saturation.
    QList<My_lineEdit *> fields() const { return m_fields; }

protected:
    QString titleText() const override;

private:
    struct Row {
        uint32_t off;
        My_lineEdit *field;
    };
    void addRow(int row, uint32_t off, std::function<QString()> label);

    QList<Row> m_rows;
    QList<My_lineEdit *> m_fields;
};

#endif
