// The chip manager's diagnostics on standard output, which the device shows
// by default: each says what went wrong, and only when it did.

#include "osd_fixture.h"

#include "app/global.h"

using namespace chiptest;

namespace {

class DiagnosticsTest : public OsdTest
{
protected:
    void SetUp() override
    {
        OsdTest::SetUp();
        g_debugSwitch = 254;   // the program's default: diagnostics shown
    }
    void TearDown() override
    {
        g_debugSwitch = 0;
        OsdTest::TearDown();
    }
    // What `call` prints on standard output.
    template <class Call>
    static std::string printed(Call call)
    {
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(DiagnosticsTest, OsdRebuildSaysTheMemoryIsIncompleteOnlyWhenTheEngineDidNotFinish)
{
    const std::string incomplete = "the OSD memory is not complete";
    m->set_OSD_para(menu("AB"));
    EXPECT_EQ(printed([&] { m->update_osd(m->c331_fd); }).find(incomplete), std::string::npos);
    chip->engine().setStuck(true);
    EXPECT_NE(printed([&] { m->update_osd(m->c331_fd); }).find(incomplete), std::string::npos);
}

TEST_F(DiagnosticsTest, CropBeyondTheTableIsNamedAndLeavesTheWindowsCrop)
{
    m->gMwin.count = 1;
    m->gWininfo[0].crop = 3;
    const std::string out = printed([&] { m->c331_SetInputsourceCrop(0, 0x8000 | para::CROP_ENTRIES); });
    EXPECT_NE(out.find("win_0 crop_" + std::to_string(para::CROP_ENTRIES) + " out of range"), std::string::npos) << out;
    EXPECT_EQ(m->gWininfo[0].crop, 3);
}

} // namespace
