#include "app/global.h"
#include "app/utils.h"
#include "cloud/networkclient_manage.h"
#include "cloud/r47_wifi_config.h"
#include "cloud/turn_thread.h"
#include "protocol/wifi_relay.h"
#include "support/device_process.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>

#include <QRegularExpression>

namespace {

bool dottedIPv4(const QString &s)
{
    const QStringList parts = s.split('.');
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        if (p.isEmpty() || p.toUInt(&ok) > 255 || !ok)
            return false;
    }
    return true;
}

TEST(Wifi, SettingsHoldWhatTheDeviceRecordReadsAndTheApStaysOff)
{
    R47_WIFI_CONFIG *w = R47_WIFI_CONFIG::pInstance();
    ASSERT_EQ(w, R47_WIFI_CONFIG::p_wifi);
    EXPECT_EQ(R47_WIFI_CONFIG::pInstance(), w);   // one manager, one thread

    bool ok = false;
    EXPECT_LE(w->wifi_para(R47_WIFI_CONFIG::CHANNEL).toUInt(&ok), 255u);
    EXPECT_TRUE(ok);
    w->wifi_para(R47_WIFI_CONFIG::MAX_CLIENTS).toUShort(&ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(QRegularExpression("^[0-9A-Fa-f]{1,6}$").match(w->wifi_para(R47_WIFI_CONFIG::MODULE_VERSION)).hasMatch());
    for (int k : {5, 11, 12, 14})
        EXPECT_TRUE(dottedIPv4(w->wifi_para(k))) << k;
    EXPECT_EQ(w->wifi_para(13), "5005");
    EXPECT_TRUE(QRegularExpression("^([0-9A-Fa-f]{2}:){5}[0-9A-Fa-f]{2}$").match(w->wifi_para(15)).hasMatch());
    EXPECT_EQ(w->wifi_para(17), QString());
    EXPECT_EQ(w->wifi_para(-1), QString());

    w->set_wifi_para(R47_WIFI_CONFIG::SSID, "hall-3");
    EXPECT_EQ(w->wifi_para(R47_WIFI_CONFIG::SSID), "hall-3");

    // The thread runs but the access point is not started, and no datagram is taken.
    uint32_t turns = w->thread_turns;
    EXPECT_TRUE(zemtest::waitFor([&] { return w->thread_turns > turns; }, std::chrono::seconds(5)));
    EXPECT_NE(wifi_ap_state.load(), WIFI_AP_RUNNING);
    const uint8_t at[] = "AT+GETVER";
    EXPECT_EQ(w->wifi_AT_cmd_manage(at, 9), 0);
}

// The UDP port-13769 relay asks the WiFi side for the access point's state:
// once the WiFi object exists the relay follows that object's state.
TEST(Wifi, RelayOnPort13769ReadsTheAccessPointOfTheWifiObject)
{
    R47_WIFI_CONFIG::pInstance();
    wifi_ap_state = WIFI_AP_RUNNING;
    EXPECT_EQ(wifi_relay::ap_state(), wifi_relay::AP_RUNNING);
    wifi_ap_state = 0;
    EXPECT_EQ(wifi_relay::ap_state(), 0);
}

TEST(CloudClient, ThreadIdlesAndTakesUpASettingsChange)
{
    networkclient_Manage *c = networkclient_Manage::pInstance();
    ASSERT_EQ(c, networkclient_Manage::p_networkclient_Manage);
    EXPECT_EQ(c->link_up.load(), 0);
    uint32_t before = c->reconfig_count;
    // A whole turn without a settings change drops nothing.
    const uint32_t turns = c->thread_turns;
    EXPECT_TRUE(zemtest::waitFor([&] { return c->thread_turns >= turns + 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(c->reconfig_count, before);
    {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_device_kumocloud_mutex);
        g_rconfig_device_kumocloud = 1;
    }
    // The thread clears the request, then drops the connection and counts.
    EXPECT_TRUE(zemtest::waitFor([&] { return c->reconfig_count == before + 1; }, std::chrono::seconds(5)));
    {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_device_kumocloud_mutex);
        EXPECT_EQ(g_rconfig_device_kumocloud, 0);
    }
    EXPECT_EQ(c->link_up.load(), 0);
    c->stop();
    R47_WIFI_CONFIG::pInstance()->stop();
}

// Stopping wakes the thread in its wait (a turn lasts a minute here), ends
// it after the one turn it ran and leaves it ready to start again. The stop
// request reaches the waiting thread under its lock: the thread checker
// reports the hand-off otherwise.
TEST(TurnThread, StopWakesTheWaitingThreadWhichCanStartAgain)
{
    struct Worker {
        TurnThread thread;
        std::atomic<int> turns{0};
    } w;
    auto entry = [](void *arg) -> void * {
        auto *self = static_cast<Worker *>(arg);
        do
            ++self->turns;
        while (!self->thread.waitTurn(std::chrono::minutes(1)));
        return nullptr;
    };
    for (int run = 1; run <= 2; ++run) {
        ASSERT_TRUE(w.thread.start(entry, &w, "turn-test"));
        ASSERT_TRUE(zemtest::waitFor([&] { return w.turns == run; }, std::chrono::seconds(5)));
        const auto asked = std::chrono::steady_clock::now();
        w.thread.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(30));
        EXPECT_EQ(w.turns.load(), run);
    }
}

} // namespace
