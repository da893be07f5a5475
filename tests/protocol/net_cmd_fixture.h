#ifndef TESTS_PROTOCOL_NET_CMD_FIXTURE_H
#define TESTS_PROTOCOL_NET_CMD_FIXTURE_H

#include "app/config_engine.h"
#include "app/global.h"
#include "cloud/message_deal_4g.h"
#include "platform/shell.h"
#include "proto_fixture.h"
#include "protocol/message_deal.h"

#include <QObject>
#include <string>

// A handler on a fresh configuration store, with the shell log cleared and
// the change changes of the parameter store counted.
class CmdTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        ConfigEngine::resetInstance();
        ConfigEngine::pInstance();
        message_deal_4g::resetForTest();
        platform::shell::sim::clearScript();
        platform::shell::sim::clearLog();
        g_app_reset_flag = 0;
        G_reboot_tickTicks = 0;
        G_timeTicks = 0;
        changes.clear();
        conn = QObject::connect(store, &ZemRamPara::sig_update_para, [this](int code) { changes.push_back(code); });
    }
    void TearDown() override
    {
        QObject::disconnect(conn);
        ConfigEngine::resetInstance();
    }

    // Runs a request given from byte 10 on; the reply bytes from byte 10.
    pctool::Bytes cmd(uint8_t command, const pctool::Bytes &from10)
    {
        pctool::Bytes rest(from10.begin() + 1, from10.end());
        return run(pctool::body(pctool::CONTROLLER, pctool::PC, command, from10.at(0), rest));
    }
    pctool::Bytes run(const pctool::Bytes &request)
    {
        buf.assign(70000, 0xEE);
        std::copy(request.begin(), request.end(), buf.begin());
        uint32_t r = deal.message_group_deal(buf.data(), uint32_t(request.size()), 1);
        return pctool::Bytes(buf.begin() + 10, buf.begin() + 10 + r);
    }
    std::string file(const std::string &absolute) { return zemtest::readFile(root.host(absolute)); }

    message_deal deal;
    pctool::Bytes buf;
    std::vector<int> changes;
    QMetaObject::Connection conn;
};

#endif
