#ifndef UI_OUTPUT_TEST_CHART_H
#define UI_OUTPUT_TEST_CHART_H

// Test patterns (page 16): the pattern shown (0 off, 1 to 20). A pattern
// is shown only while at most one window is enabled; the page says so when
// it cannot show one.

#include "ui/panelpage.h"

class test_chart : public PanelPage
{
    Q_OBJECT
public:
    explicit test_chart(QWidget *parent = nullptr);
    void syncUpdate();
    // Steps to the next pattern (1 to 20), or says why it cannot be shown.
    void next();
    // Switches the pattern off.
    void off();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
};

#endif
