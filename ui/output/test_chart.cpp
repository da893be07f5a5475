#include "ui/output/test_chart.h"

#include "app/global.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"
#include "ui/pages.h"

namespace {

// The windows enabled in the image, as the chip counts them.
int enabledWindows(const uint8_t *img)
{
    int n = 0;
    for (uint32_t w = 0; w < para::WINDOW_COUNT; ++w)
        n += para::get16(img, para::window(w, para::WIN_ENABLE)) != 0;
    return n;
}

// Writes pattern n (0 off) and has it applied. The chip shows a pattern on a
// single window only: with more windows enabled a pattern is not written, so
// that the image never names one the wall does not show.
bool writePattern(uint8_t n)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return false;
    ParaLock lock;
    if (n != 0 && enabledWindows(store->ram_para) > 1)
        return false;
    store->ram_para[para::TEST_PATTERN] = n;
    raise_apply_request_locked(1);
    return true;
}

} // namespace

test_chart::test_chart(QWidget *parent) : PanelPage(parent, page::TestChart, page::OutputSet)
{
    registerPage(g_test_chart);
    addButton([] { return ui::tr5("下一个", "Next", "Далее", "Tiếp", "下一個"); }, [this] { next(); });
    addButton([] { return ui::tr5("关闭", "Off", "Выкл", "Tắt", "關閉"); }, [this] { off(); });
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
    const uint8_t t = static_cast<uint8_t>(ui::byte(para::TEST_PATTERN) % 20 + 1);
    if (writePattern(t)) {
        setNote(nullptr);
        return;
    }
    setNote([] {
        return ui::tr5("多个窗口开启时无法显示测试画面", "Cannot show: more than one window enabled", "Нельзя: включено больше одного окна",
                       "Không thể hiện: bật hơn một cửa sổ", "多個窗口開啟時無法顯示測試畫面");
    });
}

void test_chart::off()
{
    writePattern(0);
    setNote(nullptr);
}
