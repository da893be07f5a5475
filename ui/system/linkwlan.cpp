#include "ui/system/linkwlan.h"

#include "app/global.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"

#include <QGridLayout>
#include <mutex>

namespace {

// One of the addresses in force, read under the lock of the configuration texts.
QString addressInForce(const QString &text)
{
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    return text;
}

} // namespace

linkwlan::linkwlan(QWidget *parent) : PanelPage(parent, page::LinkWlan, page::LinkOption)
{
    registerPage(g_linkwlan);
    for (const QString *v : {&g_str_ip, &g_srt_mask, &g_str_gateway}) {
        auto *e = new My_lineEdit(this);
        e->bindValue([v] { return addressInForce(*v); });
        e->setFixedWidth(ui::PANEL_W / 2 - 12);
        form()->addWidget(e, m_edits.size(), 0);
        m_edits.append(e);
    }
    form()->setColumnStretch(1, 1);
    addButton([] { return ui::tr5("确定", "OK", "OK", "OK", "確定"); }, [this] { ok(); });
    addBackButton();
    language_changed();
}

void linkwlan::ok()
{
    switch (apply(m_edits[0]->value(), m_edits[1]->value(), m_edits[2]->value())) {
    case Applied::Done:
        break;
    case Applied::Invalid:
        setNote([] { return ui::tr5("地址无效", "Invalid address", "Неверный адрес", "Địa chỉ sai", "地址無效"); });
        return;
    case Applied::NotStored:
        setNote([] { return ui::tr5("保存失败", "Not saved", "Не сохранено", "Chưa lưu được", "保存失敗"); });
        return;
    }
    revertFields();
    noteSaved();
}

QString linkwlan::titleText() const
{
    return ui::tr5("以太网", "Ethernet", "Ethernet", "Ethernet", "以太網");
}

QStringList linkwlan::valueLines() const
{
    return {ui::tr5("地址 / 掩码 / 网关", "Address / mask / gateway", "Адрес / маска / шлюз", "Địa chỉ / mặt nạ / cổng", "地址 / 掩碼 / 網關")};
}

void linkwlan::syncUpdate()
{
    refreshFromImage();
}
