// The chip thread and the OSD menu: the OSD flag of the image shows the menu
// file, a recalled user mode shows its own copy of the menu, and switching
// the OSD off clears the enable bits on every channel.

#include "osd_fixture.h"

#include "app/global.h"
#include "support/osd_menu.h"

using namespace chiptest;

namespace {

class OsdMenuTest : public OsdTest
{
protected:
    void SetUp() override
    {
        OsdTest::SetUp();
        m->setup_state = 8;
        g_osd_update = 0;
    }
    // One apply pass and the OSD work after it; the GUI's snapshot refresh.
    void apply()
    {
        chip->engine().clearOps();
        pthread_mutex_lock(&para_lock::mutex());
        m->para_changed = 1;
        pthread_mutex_unlock(&para_lock::mutex());
        m->run_turn();
        syncSnapshot();
    }
    std::string drawn() const
    {
        std::string s;
        for (const Engine::Op &op : chip->engine().draws())
            for (const Engine::Char &c : op.chars)
                s += char(c.glyph + 0x20);
        return s;
    }
    uint32_t enableBits(int ch) const { return onChannel(0x090202, ch) & 3; }
};

TEST_F(OsdMenuTest, OsdFlagShowsTheMenuAndARecalledModeItsOwnCopy)
{
    zemtest::writeFile(root.host(OMENU_FILE), zemtest::osdMenuJson("AB"));
    setWord(para::OSD_FLAG, 1);
    apply();
    EXPECT_EQ(drawn(), "AB");
    EXPECT_EQ(enableBits(0), 3u);
    EXPECT_EQ(enableBits(1), 3u);

    // Mode 1 keeps "CD", mode 2 a broken copy; the OSD is on in both.
    zemtest::writeFile(root.host(ZemRamPara::osd_copy_file(0)), zemtest::osdMenuJson("CD"));
    zemtest::writeFile(root.host(ZemRamPara::osd_copy_file(1)), "{");
    EXPECT_TRUE(m->recall_osd_menu(0));
    apply();
    EXPECT_EQ(drawn(), "CD");
    EXPECT_EQ(zemtest::readFile(root.host(OMENU_FILE)), zemtest::osdMenuJson("CD"));   // the live menu from now on
    EXPECT_TRUE(m->recall_osd_menu(1));
    apply();
    EXPECT_EQ(drawn(), "CD");
    EXPECT_EQ(zemtest::readFile(root.host(ZemRamPara::osd_copy_file(1))), "{");
    EXPECT_FALSE(m->recall_osd_menu(2));   // no copy

    setWord(para::OSD_FLAG, 0);
    apply();
    EXPECT_EQ(enableBits(0), 0u);
    EXPECT_EQ(enableBits(1), 0u);
    EXPECT_TRUE(chip->engine().ops().empty());   // switching off redraws nothing
}

} // namespace
