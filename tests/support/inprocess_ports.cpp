#include "support/inprocess_ports.h"

#include "app/zemrampara.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "support/netns.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zemtest {

InProcessPorts &inProcessPorts()
{
    static InProcessPorts ports = [] {
        InProcessPorts p;
        char tmpl[] = "/tmp/zembench-XXXXXX";
        static const std::string root = mkdtemp(tmpl);
        std::atexit([] { std::error_code ec; std::filesystem::remove_all(root, ec); });
        platform::configure(platform::Mode::Sim, root);
        platform::setPausesEnabled(false);
        platform::ensureDataDirs();
        ZemRamPara::pInstance();
        if (!enterPrivateNetwork())
            return p;
        p.tcp.reset(new networkManage());
        p.udp.reset(new udpnetManage());
        p.ok = p.tcp->initialize() == 0 && p.udp->initialize() == 0 && p.tcp->controller_port_open() &&
               p.udp->controller_port_open();
        return p;
    }();
    return ports;
}

} // namespace zemtest
