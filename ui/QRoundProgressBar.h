#ifndef UI_QROUNDPROGRESSBAR_H
#define UI_QROUNDPROGRESSBAR_H

// The round progress widget g_qround_bar: an arc from 0 to 100 % with the
// percentage in its middle.

#include <QWidget>

class QRoundProgressBar : public QWidget
{
    Q_OBJECT
public:
    explicit QRoundProgressBar(QWidget *parent = nullptr);
    int value() const { return m_value; }

public Q_SLOTS:
    // Clamped to 0..100.
    void setValue(int value);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    int m_value = 0;
};

#endif
