#include "ui/QRoundProgressBar.h"

#include <QPainter>

QRoundProgressBar::QRoundProgressBar(QWidget *parent) : QWidget(parent)
{
    setFixedSize(100, 100);
}

void QRoundProgressBar::setValue(int value)
{
    value = qBound(0, value, 100);
    if (value == m_value)
        return;
    m_value = value;
    update();
}

void QRoundProgressBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(8, 8, -8, -8);
    p.setPen(QPen(Qt::darkGray, 6));
    p.drawEllipse(r);
    p.setPen(QPen(QColor(0, 160, 230), 6));
    // Qt angles are in 1/16 degree, counter-clockwise from 3 o'clock.
    p.drawArc(r, 90 * 16, -m_value * 360 * 16 / 100);
    p.setPen(palette().windowText().color());
    p.drawText(rect(), Qt::AlignCenter, QString::number(m_value) + QLatin1Char('%'));
}
