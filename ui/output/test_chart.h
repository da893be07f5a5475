#ifndef UI_OUTPUT_TEST_CHART_H
#define UI_OUTPUT_TEST_CHART_H

// Test patterns (page 16): the pattern shown (0 off, 1 to 20).

#include "ui/panelpage.h"

class test_chart : public PanelPage
{
    Q_OBJECT
public:
    explicit test_chart(QWidget *parent = nullptr);
    void syncUpdate();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;
private:
    void next();
};

#endif
