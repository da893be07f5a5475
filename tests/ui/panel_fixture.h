#ifndef TESTS_UI_PANEL_FIXTURE_H
#define TESTS_UI_PANEL_FIXTURE_H

// A private root with the parameter store at its defaults, the change
// dispatcher connected, no keypad and no page open.

#include "support/temp_root.h"
#include "ui/qt_app.h"

#include "app/global.h"
#include "app/para_defaults.h"
#include "app/syncupdate.h"
#include "app/zemrampara.h"
#include "platform/hid.h"
#include "platform/shell.h"
#include "support/pending_saves.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"
#include "videoproc/c331_manage.h"

#include <QTimer>
#include <cstring>
#include <memory>
#include <string>

namespace zemtest {

class PanelTest : public RootTest
{
protected:
    void SetUp() override
    {
        qtApp();
        store = ZemRamPara::pInstance();
        std::memset(store->ram_para, 0, para::IMAGE_SIZE);
        std::memcpy(store->ram_para + para::PERSISTENT_START, default_para_ramlist + 2, para::PERSISTENT_SIZE);
        std::memcpy(store->ram_para_back, store->ram_para, para::IMAGE_SIZE);
        for (auto &slot : store->user_mode_ram) {
            std::memset(slot, 0, para::SLOT_SIZE);
            slot[0] = slot[1] = 0xFF;
        }
        writeFile(paraFile(), std::string(reinterpret_cast<const char *>(default_para_ramlist), para::FILE_SIZE));
        store->write_para_file();   // the store knows the file holds its image

        g_page_focus = 0;
        g_image_current = 0;
        g_zem_keys = 0;
        g_update_flag = 0;
        g_app_reset_flag = 0;
        g_language = 1;
        g_lcd_lang_valid = 0x1F;
        g_port = 5005;
        g_auto_lock_time = 0;   // the tests' tick runs far faster than 10 ms
        c331_manage::instance()->para_changed = 0;   // no chip thread in these tests
        platform::hid::sim::reset();
        platform::shell::sim::clearLog();

        dropPendingSaves(store);
        SyncUpdate::resetForTest();
        sync = SyncUpdate::pInstance();
        sync->listen_to(store);   // as the program connects them
    }

    void TearDown() override
    {
        ticker.reset();
        g_auto_lock_time = 30000;
        if (g_mainwindow)
            delete g_mainwindow;
        QCoreApplication::processEvents();
        g_page_focus = 0;
    }

    std::string paraFile() const { return root.host("/data/ram_device_info"); }

    // The home screen with its tick running as fast as the event loop goes,
    // so that notices time out quickly.
    MainWindow *startPanel()
    {
        auto *w = new MainWindow();
        g_mainwindow = w;
        ticker.reset(new QTimer());
        QObject::connect(ticker.get(), &QTimer::timeout, w, &MainWindow::slot_update_timer_ticks);
        ticker->start(0);
        return w;
    }

    void enableWindow(int w, bool on = true)
    {
        para::set16(store->ram_para, para::window(w, para::WIN_ENABLE), on ? 1 : 0);
    }

    ZemRamPara *store = nullptr;
    SyncUpdate *sync = nullptr;
    std::unique_ptr<QTimer> ticker;
};

} // namespace zemtest

#endif
