// What the front panel shows when the PC tool uploads or deletes files: the
// commands run on a link thread and the pages react in the GUI thread.

#include "ui/panel_fixture.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sim_fpga.h"
#include "platform/spi.h"
#include "protocol/message_deal.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_manage.h"
#include "support/pctool.h"
#include "ui/QRoundProgressBar.h"
#include "ui/advancedoption.h"
#include "ui/firmwareupdate.h"
#include "ui/option.h"
#include "ui/output/smartmapping.h"
#include "ui/system/rcv_recovery.h"

#include <QCryptographicHash>
#include <QPushButton>
#include <thread>

using namespace zemtest;
using pctool::Bytes;

namespace {

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes fileBody(uint8_t sub, const Bytes &payload)
{
    return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, sub, cat({0, 0}, payload));
}

class TransferPanelTest : public PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        for (int i = 0; i < 2; ++i)
            platform::spi::sim::attach(fpga_drv::DEVICE_PATH[i], std::make_shared<platform::simfpga::SimFpga>());
        fpga_manage::pInstance();
        platform::ensureDir("/data/smartmapping");
        platform::ensureDir("/data/rcvrecovery");
    }

    // One request handled on a link thread, as the links do; the reply from byte 10.
    Bytes onLink(const Bytes &request)
    {
        Bytes reply;
        std::thread link([&] {
            std::vector<uint8_t> buf(4096, 0);
            std::copy(request.begin(), request.end(), buf.begin());
            uint32_t r = deal.message_group_deal(buf.data(), uint32_t(request.size()), 1);
            reply.assign(buf.begin() + 10, buf.begin() + 10 + r);
        });
        link.join();
        return reply;
    }

    // A whole upload of `data` under a typed start.
    Bytes upload(const std::string &tag, uint8_t subtype, const Bytes &data)
    {
        Bytes start = fileBody(1, cat(cat(Bytes(tag.begin(), tag.end()), {subtype}), le32(uint32_t(data.size()))));
        EXPECT_EQ(onLink(start), (Bytes{0, 1, 0}));
        EXPECT_EQ(onLink(fileBody(2, cat(cat({0, 0}, le32(0)), cat(le32(uint32_t(data.size())), data)))), (Bytes{0, 2}));
        QByteArray d = QCryptographicHash::hash(
            QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), int(data.size())), QCryptographicHash::Md5);
        return onLink(fileBody(3, cat({0, 0}, Bytes(d.begin(), d.end()))));
    }

    Bytes deleteFiles() { return onLink(fileBody(10, {})); }

    QPushButton *button(QWidget *page, const QString &text)
    {
        for (QPushButton *b : page->findChildren<QPushButton *>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    message_deal deal;
};

} // namespace

TEST_F(TransferPanelTest, ApplicationUploadShowsTheUpgradePopUpOnce)
{
    MainWindow *w = startPanel();
    EXPECT_EQ(upload("FMCU", 0, {1, 2, 3, 4}), (Bytes{0, 3, 0}));
    EXPECT_EQ(g_update_flag.load(), 1);
    ASSERT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));

    // While the flag is up a further start leaves the pop-up alone: once hidden
    // it is not shown again.
    w->update_over();
    ASSERT_TRUE(waitFor([] { return firmware_update_popup() == nullptr; }));
    EXPECT_EQ(upload("FKRN", 0, {5, 6}), (Bytes{0, 3, 0}));
    QCoreApplication::processEvents();
    EXPECT_EQ(firmware_update_popup(), nullptr);

    // The next upgrade (flag down again) shows it.
    g_update_flag = 0;
    EXPECT_EQ(upload("FKRN", 0, {7}), (Bytes{0, 3, 0}));
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));
    w->update_over();
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() == nullptr; }));
    g_update_flag = 0;
}

TEST_F(TransferPanelTest, ReceivingCardFilesRefreshOrCloseThePageInFront)
{
    MainWindow *w = startPanel();
    auto *advanced = new AdvancedOption(w);
    ASSERT_EQ(g_page_focus, 12);
    QPushButton *recovery = button(advanced, QStringLiteral("Card recovery"));
    ASSERT_NE(recovery, nullptr);
    EXPECT_FALSE(recovery->isEnabled());

    // A recovery file enables the menu's recovery entry.
    EXPECT_EQ(upload("QyFX", 9, {1, 2, 3}), (Bytes{0, 3, 0}));
    EXPECT_TRUE(waitFor([recovery] { return recovery->isEnabled(); }));

    // A mapping file closes the mapping page, but only while it is in front.
    advanced->goBack();
    QCoreApplication::processEvents();
    w->open_setting();
    new SmartMapping(g_option);
    ASSERT_EQ(g_page_focus, 24);
    QRoundProgressBar bar;   // a mapping job in progress keeps the page
    g_qround_bar = &bar;
    bar.show();
    EXPECT_EQ(upload("QyFR", 13, {4, 5}), (Bytes{0, 3, 0}));
    QCoreApplication::processEvents();
    EXPECT_NE(g_smartmapping, nullptr);
    g_qround_bar = nullptr;
    bar.hide();
    EXPECT_EQ(upload("QyFR", 13, {6, 7}), (Bytes{0, 3, 0}));
    EXPECT_TRUE(waitFor([] { return g_smartmapping == nullptr; }));
    EXPECT_EQ(g_page_focus, 5);
    EXPECT_NE(g_option, nullptr);
}

TEST_F(TransferPanelTest, DeletingCardFilesClosesTheirPagesAndRedrawsTheMenus)
{
    MainWindow *w = startPanel();
    writeFile(root.host("/data/smartmapping/QyFR"), "m");
    writeFile(root.host("/data/rcvrecovery/QyFX"), "r");
    w->open_setting();
    new SmartMapping(g_option);
    ASSERT_EQ(g_page_focus, 24);
    EXPECT_EQ(deleteFiles(), (Bytes{0, 10}));
    EXPECT_TRUE(waitFor([] { return g_smartmapping == nullptr; }));
    EXPECT_EQ(g_page_focus, 5);

    // The recovery page closes back to the advanced menu, which then offers
    // no recovery entry.
    auto *advanced = new AdvancedOption(g_option);
    QPushButton *recovery = button(advanced, QStringLiteral("Card recovery"));
    ASSERT_NE(recovery, nullptr);
    writeFile(root.host("/data/rcvrecovery/QyFX"), "r");
    advanced->language_changed();
    ASSERT_TRUE(recovery->isEnabled());
    new rcv_recovery(advanced);
    ASSERT_EQ(g_page_focus, 25);
    EXPECT_EQ(deleteFiles(), (Bytes{0, 10}));
    EXPECT_TRUE(waitFor([] { return g_rcv_recovery == nullptr; }));
    EXPECT_EQ(g_page_focus, 12);
    EXPECT_FALSE(recovery->isEnabled());

    // With the advanced menu in front, its entry is re-evaluated at once.
    writeFile(root.host("/data/rcvrecovery/card2"), "r");
    advanced->language_changed();
    ASSERT_TRUE(recovery->isEnabled());
    EXPECT_EQ(deleteFiles(), (Bytes{0, 10}));
    EXPECT_TRUE(waitFor([recovery] { return !recovery->isEnabled(); }));
    EXPECT_FALSE(platform::files::exists("/data/rcvrecovery/card2"));

    // Nothing to delete: the page in front is not told.
    new rcv_recovery(advanced);
    ASSERT_EQ(g_page_focus, 25);
    EXPECT_EQ(deleteFiles(), (Bytes{0, 10}));
    QCoreApplication::processEvents();
    EXPECT_NE(g_rcv_recovery, nullptr);
    EXPECT_EQ(g_page_focus, 25);
}
