#include "ui/output/test_chart.h"

#include "app/global.h"
#include "ui/pages.h"

test_chart::test_chart(QWidget *parent) : PanelPage(parent, page::TestChart, page::OutputSet)
{
    registerPage(g_test_chart);
    addButton([] { return ui::tr5("下一个", "Next", "Далее", "Tiếp", "下一個"); }, [this] { next(); });
    addButton([] { return ui::tr5("关闭", "Off", "Выкл", "Tắt", "關閉"); }, [this] { ui::applyWord(para::TEST_PATTERN, static_cast<uint16_t>(ui::word(para::TEST_PATTERN) & 0xFF00)); redraw(); });
    addBackButton();
    language_changed();
}

QString test_chart::titleText() const
{
    return ui::tr5("测试画面", "Test pattern", "Тест", "Mẫu thử", "測試畫面");
}

QStringList test_chart::valueLines() const
{
    QStringList out;
    const int t = ui::byte(para::TEST_PATTERN);
    out << (t ? ui::tr5("图案: %1", "Pattern: %1", "Шаблон: %1", "Mẫu: %1", "圖案: %1").arg(t)
              : ui::tr5("关闭", "Off", "Выкл", "Tắt", "關閉"));
    return out;
}

void test_chart::syncUpdate()
{
    refreshFromImage();
}

void test_chart::next()
{
    const uint16_t w = ui::word(para::TEST_PATTERN);
    const uint16_t t = static_cast<uint16_t>((w & 0xFF) % 20 + 1);
    ui::applyWord(para::TEST_PATTERN, static_cast<uint16_t>((w & 0xFF00) | t));
    redraw();
}
