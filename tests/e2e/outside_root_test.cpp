// Links left in the program's root that lead out of it: the program and its
// simulation write, replace and delete nothing there, and go on working.

#include "e2e_fixture.h"

#include <csignal>

namespace e2e {
namespace {

class OutsideRootE2e : public DeviceTest
{
};

// The panel status, the shell log and the panel picture of the simulation,
// and the user-mode files a factory reset deletes.
TEST_F(OutsideRootE2e, NothingIsWrittenOrDeletedThroughLinksOutOfTheRoot)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("status"), "outside status\n");
    zemtest::writeFile(beside.host("shell.log"), "outside log\n");
    zemtest::writeFile(beside.host("panel.png"), "outside picture\n");
    ASSERT_EQ(::mkdir(beside.host("modes").c_str(), 0755), 0);
    zemtest::writeFile(beside.host("modes/custom_mode3"), "m");
    zemtest::writeFile(beside.host("modes/MO03.json"), "{}");
    ASSERT_EQ(::rmdir(root.host("/data/modes").c_str()), 0);
    const std::pair<std::string, const char *> links[] = {{beside.host("status"), "/sim/status"},
                                                          {beside.host("shell.log"), "/sim/shell.log"},
                                                          {beside.host("panel.png"), "/sim/panel.png"},
                                                          {beside.host("modes"), "/data/modes"}};
    for (const auto &l : links)
        ASSERT_EQ(::symlink(l.first.c_str(), root.host(l.second).c_str()), 0) << l.second;
    const auto before = beside.snapshot();

    start(false, false);
    TcpClient tcp(5005);
    ASSERT_TRUE(tcp.ok());
    // Factory defaults delete the user-mode files.
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 16, {0x01, 0, 0x01}))), Bytes{0});
    // The picture and the status are written before the picture is reported done.
    ASSERT_EQ(::kill(dev->pid(), SIGUSR1), 0);
    ASSERT_TRUE(zemtest::waitFor([&] { return exists("/sim/panel.done"); }, 10s)) << output();

    EXPECT_EQ(beside.snapshot(), before);
    for (const auto &l : links) {
        struct stat st;
        EXPECT_TRUE(::lstat(root.host(l.second).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << l.second;
    }
    EXPECT_NE(output().find("change refused outside the root: /sim/status"), std::string::npos) << output();
}

} // namespace
} // namespace e2e
