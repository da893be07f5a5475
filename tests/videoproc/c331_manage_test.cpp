#include "chip_fixture.h"
#include "support/blocked_call.h"

#include "app/global.h"
#include "app/utils.h"
#include "sendcard/fpga_manage.h"
#include "videoio/tarixsource.h"

#include <ctime>
#include <memory>
#include <mutex>

using namespace chiptest;

namespace {

class ManageTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        m.reset(new c331_manage());
        m->take_loaded_image();
        m->c331_fd = m->c331drv->initialize();
        m->set_call_recording(true);
        m->dump_out = dump.file();
        g_set_led_para = 0;
        g_osd_update = 0;
        g_debugSwitch = 0;
        std::memset(store->reg_para, 0, sizeof(store->reg_para));
    }
    void TearDown() override
    {
        m.reset();
        ChipTest::TearDown();
    }

    // Runs turns until the bring-up has reached `state` (bounded).
    void runUntil(int state)
    {
        for (int k = 0; k < 100 && m->setup_state < state; ++k)
            m->run_turn();
        ASSERT_GE(m->setup_state.load(), state);
    }

    // A running manager with a 2 x 1 panel of 1920 x 1080 channels.
    void bringUp()
    {
        runUntil(8);
        m->gPanel.och = ST_SIZE{1920, 1080};
        m->gPanel.och_HCnt = 2;
        m->gPanel.och_VCnt = 1;
        m->clear_calls();
    }

    // The store's snapshot, and what the chip is taken to show, become the
    // image as it stands.
    void syncSnapshot()
    {
        ChipTest::syncSnapshot();
        m->take_loaded_image();
    }

    // Raises the request and runs one turn of the running loop.
    std::vector<std::string> applyOnce(uint8_t level = 1)
    {
        m->clear_calls();
        pthread_mutex_lock(&para_lock::mutex());
        m->para_changed = level;
        pthread_mutex_unlock(&para_lock::mutex());
        m->run_turn();
        return without_polling(texts(*m));
    }

    void enableWindows(std::initializer_list<int> wins)
    {
        for (uint32_t i = 0; i < 6; ++i)
            setWord(para::window(i, para::WIN_ENABLE), 0);
        for (int i : wins) {
            setWord(para::window(i, para::WIN_ENABLE), 1);
            setWord(para::window(i, para::WIN_X), 100 * i);
            setWord(para::window(i, para::WIN_Y), 0);
            setWord(para::window(i, para::WIN_W), 640);
            setWord(para::window(i, para::WIN_H), 480);
            setWord(para::window(i, para::WIN_SOURCE), i);
            setWord(para::LAYER_PRIORITY + 2 * i, i);
        }
    }

    DumpCapture dump;
    std::unique_ptr<c331_manage> m;
};

TEST_F(ChipTest, StartUpWaitingForTheImageLockLetsItsHolderReachTheManager)
{
    // main brings the chip manager up while a link already holds the image's lock
    // and, inside it, asks for the manager (raising its apply request). The
    // start-up must not hold the instance lock while it waits.
    c331_manage *previous = c331_manage::p_c331_manage;
    c331_manage::p_c331_manage = new c331_manage();
    auto held = std::make_unique<ParaLock>();
    zemtest::BlockedCall startUp([] { c331_manage::pInstance(); });
    EXPECT_TRUE(startUp.waits());
    zemtest::BlockedCall link([] { raise_apply_request_locked(1); });
    EXPECT_TRUE(link.finishes(2000));
    held.reset();
    EXPECT_TRUE(startUp.finishes());
    EXPECT_TRUE(link.finishes());
    delete c331_manage::p_c331_manage;   // ends its chip thread
    c331_manage::p_c331_manage = previous;
}

TEST_F(ManageTest, BringUpNeedsFiveIdentityReadsAndWritesTheInitialSet)
{
    chip->queueIdentity({0x24, 0x24, 0x11, 0x24, 0x24});
    for (int k = 0; k < 5; ++k)
        m->run_turn();
    EXPECT_EQ(m->setup_state.load(), 4);   // the wrong answer was not counted
    m->run_turn();
    EXPECT_EQ(m->setup_state.load(), 5);

    runUntil(6);   // the initial set, before the panel set-up re-times the output
    EXPECT_EQ(chip->reg(0x02, 0x18), 0x4C);
    EXPECT_EQ(chip->reg(0x02, 0x78), 0x09);
    EXPECT_EQ(chip->writeHistory(0x02, 0x7F), (std::vector<uint8_t>{0x0E, 0x0F, 0x0D, 0x0F, 0x0B, 0x0F, 0x07, 0x0F}));
    EXPECT_EQ(chip->writeHistory(0x02, 0x78), (std::vector<uint8_t>{0x4C, 0x09}));
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(chip->value(0x080A02, 16 * c), 2198u);
        EXPECT_EQ(chip->value(0x080C02, 16 * c), 2248u);
        EXPECT_EQ(chip->value(0x082802, 16 * c), 176u);
        EXPECT_EQ(chip->value(0x082A02, 16 * c), 2096u);
        EXPECT_EQ(chip->value(0x082C02, 16 * c), 82u);
        EXPECT_EQ(chip->value(0x082E02, 16 * c), 2242u);
        EXPECT_EQ(chip->value(0x084602, 16 * c), 2161u);
    }
    EXPECT_EQ(chip->value(0x042B02), 0xF000u);
    EXPECT_EQ(chip->value(0x161C04, 0x50), 0x8000u + 0x1E00u);   // channel 5: row 4 + 7680
    EXPECT_EQ(chip->value(0x162004, 0x60), 0x08800000u + 0xA000u); // channel 6: row 5
    EXPECT_EQ(chip->value(0x034401), 43u);
    // set_rtct(1) after the set.
    const uint8_t normal[7] = {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99};
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(chip->reg(0x00, 0x22 + k), normal[k]);

    EXPECT_EQ(m->PS_PANEL_HW, 7680);
    EXPECT_EQ(m->PS_PANEL_VW, 2160);
    // Fade times start from the defaults table the chip manager names.
    EXPECT_EQ(c331_manage::parameters_txt[c331_defaults::PT_FADE_IN], 60);
    EXPECT_EQ(m->PM_WIN_FADE_IN[0], 60);
    // The OSD starts without scrolling, at speed 1.
    EXPECT_EQ(m->PM_OSD_SCROLL_SPEED, 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 0);
}

TEST_F(ManageTest, BringUpCallsTheAreasInOrderAndWritesTheImageUnderTheLock)
{
    setWord(para::LED_WIDTH, 3840);
    setWord(para::LED_HEIGHT, 1080);
    setWord(para::OUT1_WIDTH, 1920);
    setWord(para::OUT1_HEIGHT, 540);
    setWord(para::LED_SPLICE, 3);
    setWord(para::CONTRAST, 40);
    setWord(para::OSD_FLAG, 1);
    // Only the 32-dot fonts in the chip's flash.
    chip->flash().preset(0x000000, {'P'});
    chip->flash().preset(0x000023, {0x11, 0x22});
    chip->flash().preset(0x010000, {'P'});
    runUntil(8);
    EXPECT_EQ(m->font_present_bits.load(), 0b0011);
    EXPECT_EQ(store->status_ram[6], 0x03);
    EXPECT_EQ(chip->memory().read(0x7F000000, 3), (std::vector<uint8_t>{0x11, 0x22, 0xFF}));
    auto calls = m->calls();
    std::vector<std::string> order;
    for (const c331_call &c : calls) {
        order.push_back(c.text);
        if (c.text == "set_output()") {
            EXPECT_TRUE(c.manage_held) << c.text;
        }
    }
    const std::vector<std::string> expected = {
        "read_c331_font()", "update_font()", "set_output()", "c331_debugEnv()",
    };
    ASSERT_GE(order.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + expected.size()), expected);
    // The OSD is on in the image but there is no menu file to show: it stays off.
    EXPECT_EQ(m->PM_OSD_EN, 0);
    EXPECT_EQ(m->osd_refresh_request, 1);
    // The panel set-up before set_output: the split wall's two outputs side
    // by side, and the model printed.
    EXPECT_EQ(store->word(para::OCH_NUM_H), 2);
    EXPECT_EQ(store->word(para::OCH_W), 1920);
    EXPECT_NE(dump.text().find("<<===OCH SPEC"), std::string::npos);
    // The picture: the chip at the neutral brightness, the image's contrast,
    // and the forced background over.
    EXPECT_EQ(chip->value(0x0C3A02), 0u);
    EXPECT_EQ(chip->value(0x0C2802, 0x70), 40u * 1023 / 100);
    EXPECT_EQ(g_force_bkcolor.load(), 2);
}

TEST_F(ManageTest, RtctModesWriteTheTimingControlRegisters)
{
    chip->setReg(0x00, 0x29, 0x80);
    m->set_rtct(m->c331_fd, 2);
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(chip->reg(0x00, 0x22 + k), 0xFF);
    EXPECT_EQ(chip->reg(0x00, 0x29), 0x80);
    EXPECT_EQ(chip->writeHistory(0x00, 0x29), (std::vector<uint8_t>{0x81, 0x80}));
    m->set_rtct(m->c331_fd, 7);
    EXPECT_EQ(chip->reg(0x00, 0x22), 0x99);
    EXPECT_EQ(chip->reg(0x00, 0x24), 0xFF);
    EXPECT_EQ(chip->reg(0x00, 0x28), 0x99);
}

TEST_F(ManageTest, BrightnessChangeProgramsFiftyAndRaisesTheFpgaRequestOnly)
{
    fpga_manage *fpga = fpga_manage::pInstance();
    fpga->bri_set_request = 0;
    bringUp();
    std::vector<int> codes;
    QObject::connect(store, &ZemRamPara::sig_update_para, [&](int c) { codes.push_back(c); });
    setWord(para::BRIGHTNESS, 80);
    chip->setReg(0x0C, 0x3A, 0x12);
    const uint64_t mark = chip->mark();
    auto calls = applyOnce(1);
    EXPECT_EQ(calls, std::vector<std::string>{});
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(chip->value(0x0C3A02, 16 * n), 0u);
    EXPECT_TRUE(chip->writeHistory(0x0C, 0x28, mark).empty());   // contrast not sent again
    EXPECT_EQ(fpga->bri_set_request.load(), 1);
    EXPECT_EQ(codes, std::vector<int>{1});
    EXPECT_EQ(m->para_changed, 0);

    // Until the snapshot is refreshed the same difference is applied again.
    codes.clear();
    applyOnce(2);
    EXPECT_EQ(codes, std::vector<int>{2});
}

TEST_F(ManageTest, PanelChangeReinitialisesOnceAndWaitsForTheFpgaHandshake)
{
    bringUp();
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
    }
    // The FPGA thread's side: finishes its geometry without manage_mutex.
    std::thread fpga([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 0;
    });
    setWord(para::LED_WIDTH, 2000);
    setWord(para::LED_HEIGHT, 1000);
    const uint64_t mark = chip->mark();
    auto calls = applyOnce();
    fpga.join();
    EXPECT_EQ(calls, std::vector<std::string>{}) << "the panel step alone does not run set_output";
    EXPECT_EQ(chip->writeHistory(0x08, 0x0A, mark).size(), 1u) << "one panel set-up";
    EXPECT_EQ(m->gPanel.width, 2000);
    EXPECT_EQ(store->word(para::OCH_W), 2000);
    EXPECT_EQ(g_set_led_para, 2);
}

// A hand-shake nobody serves must not hold the chip thread (and every writer
// waiting on manage_mutex) for ever.
TEST_F(ManageTest, UnservedLedHandshakeWaitIsBounded)
{
    bringUp();
    m->led_para_wait_ms = 30;
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
    }
    setWord(para::LED_WIDTH, 1234);
    applyOnce();
    EXPECT_EQ(m->gPanel.width, 1234);
    EXPECT_EQ(m->para_changed, 0);
}

TEST_F(ManageTest, WindowModelFromTheImage)
{
    bringUp();
    enableWindows({});
    m->zemApi_initEnvC331();
    m->gPanel.width = 3840;
    m->gPanel.height = 1080;
    m->zemApi_initEnvC331();
    ASSERT_EQ(m->gMwin.count, 1);
    EXPECT_EQ(m->gMwin.pwin[0].w, 3840);
    EXPECT_EQ(m->gWininfo[0].winEn, 1);

    enableWindows({1, 3});
    setWord(para::LAYER_PRIORITY + 2, 9);   // window 1: 9 -> layer 3
    setWord(para::LAYER_PRIORITY + 6, 3);   // window 3: taken -> lowest free
    m->zemApi_initEnvC331();
    ASSERT_EQ(m->gMwin.count, 2);
    EXPECT_EQ(m->gWininfo[0].x, 100);
    EXPECT_EQ(m->gWininfo[1].x, 300);
    EXPECT_EQ(m->gWininfo[0].layer, 3);
    EXPECT_EQ(m->gWininfo[1].layer, 0);
    EXPECT_EQ(m->win_slot[1], 0);
    EXPECT_EQ(m->win_slot[3], 1);
    EXPECT_EQ(m->win_slot[0], -1);

    // One pixel beyond the channels' width: the whole set falls back.
    setWord(para::window(3, para::WIN_X), 3840 - 640 + 1);
    m->zemApi_initEnvC331();
    EXPECT_EQ(m->gMwin.count, 1);
    EXPECT_EQ(m->win_slot[1], -1);
}

// Setters index the model by enabled-window slot: a change of image window 3
// with window 0 disabled reaches slot 1.
TEST_F(ManageTest, WindowChangesReachTheWindowsSlot)
{
    bringUp();
    enableWindows({1, 3});
    syncSnapshot();
    m->zemApi_initEnvC331();
    setWord(para::LAYER_PRIORITY + 6, 5);
    setWord(para::window(3, para::WIN_MIRROR), 2);
    setWord(para::window(3, para::WIN_FLAGS), 4);
    setWord(para::window(0, para::WIN_MIRROR), 1);   // disabled: nothing to program
    setWord(para::FADE_BASE + 12, 25);
    auto calls = applyOnce();
    EXPECT_EQ(calls, (std::vector<std::string>{"c331_SetWinAttr(1,2)", "set_output()", "c331_SetWinOutput(1,4)",
                                               "set_output()"}));
    EXPECT_EQ(m->gWininfo[1].layer, 5);
    EXPECT_EQ(m->PM_OVERLAY_PRI[1], 0);   // layer 5: the lowest priority
    EXPECT_EQ(m->PM_WIN_FADE_IN[1], 25);
}

TEST_F(ManageTest, TestPatternRefusedWithTwoWindowsLeavesThePatternByteOff)
{
    bringUp();
    // Two windows: refused, the byte goes back to off; one window: shown.
    for (bool two : {true, false}) {
        SCOPED_TRACE(two);
        if (two)
            enableWindows({1, 3});
        else
            enableWindows({1});
        store->ram_para[para::TEST_PATTERN] = 0;
        syncSnapshot();
        m->zemApi_initEnvC331();
        store->ram_para[para::TEST_PATTERN] = 4;
        applyOnce();
        EXPECT_EQ(store->ram_para[para::TEST_PATTERN], two ? 0 : 4);
        EXPECT_EQ(store->ram_para_back[para::TEST_PATTERN], two ? 0 : 4);
    }
}

TEST_F(ManageTest, RectangleChangesRelayoutOnceAndSourceChangesFollowTheCrop)
{
    bringUp();
    enableWindows({0, 1, 3});
    syncSnapshot();
    m->zemApi_initEnvC331();
    setWord(para::window(1, para::WIN_W), 500);
    setWord(para::window(3, para::WIN_W), 500);
    EXPECT_EQ(applyOnce(), (std::vector<std::string>{"set_output()"}));
    EXPECT_EQ(m->gWininfo[2].w, 500);
    EXPECT_EQ(m->OWIN[2].HW, 500) << "the re-layout programmed the window";
    syncSnapshot();

    // Crop 2 of source 4, then back to a plain input.
    const uint32_t rec = para::CROP_TABLE + 2 * para::CROP_ENTRY_SIZE;
    setWord(rec, 0x8004);
    setWord(rec + 2, 10);
    setWord(rec + 4, 20);
    setWord(rec + 6, 300);
    setWord(rec + 8, 200);
    setWord(para::window(3, para::WIN_SOURCE), 0x8002);
    EXPECT_EQ(applyOnce(), (std::vector<std::string>{"c331_SetInputsourceCrop(2,0x8002)",
                                                     "c331_SetCrop(2,1,10,20,300,200)", "set_output()",
                                                     "set_output()"}));
    EXPECT_EQ(m->gWininfo[2].input, 4);
    EXPECT_EQ(m->PM_INPUT[2], 5);   // source 4 arrives on chip port 5
    syncSnapshot();
    setWord(para::window(3, para::WIN_SOURCE), 1);
    EXPECT_EQ(applyOnce(), (std::vector<std::string>{"c331_SetCrop(2,0)", "set_output()", "set_output()"}));
    EXPECT_EQ(m->PM_INPUT[2], 2);
}

// Saving a crop's rectangle on the crop page (or by RAM write) while a window
// shows that crop applies the new rectangle.
TEST_F(ManageTest, CropEditedWhileShownIsApplied)
{
    bringUp();
    enableWindows({0, 1});
    const uint32_t rec = para::CROP_TABLE + 2 * para::CROP_ENTRY_SIZE;
    const uint16_t entry[5] = {0x8001, 10, 20, 300, 200};
    for (int k = 0; k < 5; ++k)
        setWord(rec + 2 * k, entry[k]);
    setWord(para::window(1, para::WIN_SOURCE), 0x8002);
    syncSnapshot();
    m->zemApi_initEnvC331();
    setWord(rec + 6, 400);
    EXPECT_EQ(applyOnce(), (std::vector<std::string>{"c331_SetInputsourceCrop(1,0x8002)",
                                                     "c331_SetCrop(1,1,10,20,400,200)", "set_output()",
                                                     "set_output()"}));
    syncSnapshot();
    setWord(para::CROP_TABLE + 5 * para::CROP_ENTRY_SIZE + 6, 400);   // a crop nobody shows
    EXPECT_EQ(applyOnce(), std::vector<std::string>{});
}

// The PC tool can write any crop index into a window's source word; one
// beyond the 40-entry crop table names no crop record and programs nothing.
TEST_F(ManageTest, CropIndexBeyondTheTableIsRefused)
{
    bringUp();
    enableWindows({0, 1});
    syncSnapshot();
    m->zemApi_initEnvC331();
    setWord(para::window(1, para::WIN_SOURCE), 0x8000 | para::CROP_ENTRIES);
    EXPECT_EQ(applyOnce(), std::vector<std::string>{});

    // The re-layout does not take the window either: the set falls back.
    setWord(para::window(1, para::WIN_SOURCE), 0x80FF);
    m->zemApi_initEnvC331();
    EXPECT_EQ(m->win_slot[1], -1);
    EXPECT_EQ(m->gMwin.count, 1);
}

TEST_F(ManageTest, EdidAudioAndLedOffRequestsReachTheOtherManagers)
{
    tarixsource *src = tarixsource::pInstance();
    fpga_manage *fpga = fpga_manage::pInstance();
    bringUp();
    for (int p = 0; p < 6; ++p)
        src->edid_request[p] = 0;
    src->audio_request = 0;
    fpga->output_status_request = 0;
    edid_ram_table_from[2] = 1;
    edid_ram_table_new[2] = 1;
    setWord(para::EDID_BASE + 6 * 4, 1280);
    setWord(para::window(5, para::WIN_AUDIO), 0x8000);
    setWord(para::LED_OFF, 1);
    applyOnce();
    EXPECT_EQ(src->edid_request[2].load(), 1) << "a new table";
    EXPECT_EQ(src->edid_request[4].load(), 1) << "changed words, in the same pass";
    EXPECT_EQ(src->audio_request.load(), 1);
    EXPECT_EQ(fpga->output_status_request.load(), 1);

    // The next pass, for another change, leaves the table's port alone: a
    // rewrite would re-assert its hot-plug and blank the source again.
    src->edid_request[2] = 0;
    src->edid_request[4] = 0;
    syncSnapshot();
    setWord(para::CONTRAST, uint16_t(store->word(para::CONTRAST) + 1));
    applyOnce();
    edid_ram_table_from[2] = 0;
    EXPECT_EQ(src->edid_request[2].load(), 0);
    EXPECT_EQ(src->edid_request[4].load(), 0);
}

TEST_F(ManageTest, DebugRegistersRunAtTheEndOfThePass)
{
    bringUp();
    uint8_t *reg = store->reg_para;
    reg[34] = 0x41;   // register 162
    reg[33] = 0x10;   // register 165
    reg[35] = 3;      // register 163
    reg[36] = 1;      // register 164
    dump.clear();
    auto calls = applyOnce();
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_EQ(chip->reg(0x48, 0x57), 0x89);   // the input slide bar
    const std::string printed = dump.text();
    const size_t param = printed.find("[zemDbg_c331_param] c331_mem");
    EXPECT_NE(param, std::string::npos);
    EXPECT_GT(printed.find("[zemDbg_c331_print_regGrp] grp:0"), param);
    EXPECT_EQ(reg[34], 0);
    EXPECT_EQ(reg[33], 0x10);
    EXPECT_EQ(reg[35], 0);
    EXPECT_EQ(reg[36], 0);

    reg[33] = 0x16;
    applyOnce();
    EXPECT_EQ(chip->value(0x080C02, 0x70), 5489u);   // the frame-lock test
    EXPECT_EQ(chip->reg(0x08, 0x0F), 4);
    EXPECT_EQ(reg[33], 0);

    reg[34] = 0x40;   // bring the chip up again
    applyOnce();
    EXPECT_EQ(m->setup_state.load(), 0);
}

TEST_F(ManageTest, InputChangeReprogramsItsWindowsUnderTheLock)
{
    bringUp();
    m->PM_INPUT[0] = 3;
    m->PM_INPUT[2] = 3;
    m->PI_UPDATE[3] = 1;
    m->last_input_check = std::chrono::steady_clock::now();   // a turn without an input check
    m->run_turn();
    int outputs = 0;
    for (const c331_call &c : m->calls())
        if (c.text == "set_output()") {
            ++outputs;
            EXPECT_TRUE(c.manage_held);
        }
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(m->g_chg_input[0], 0) << "taken by the output passes";
    EXPECT_EQ(m->win_update_level[2], 0);
    EXPECT_EQ(m->PI_UPDATE[3], 0);
    EXPECT_EQ(g_c331_source_online.load(), 1);

    // With a test pattern on, no polling happens; apply passes still run.
    m->pattern_on = 1;
    m->PI_UPDATE[3] = 1;
    setWord(para::CONTRAST, 33);
    EXPECT_EQ(applyOnce(), std::vector<std::string>{});
    EXPECT_EQ(chip->value(0x0C2802), 337u);
    EXPECT_EQ(m->PI_UPDATE[3], 1);
}

TEST_F(ManageTest, RequestRaisedDuringBringUpIsAppliedInTheRunningState)
{
    chip->setIdentity(0x00);
    ASSERT_EQ(m->initialize(), 0);
    ASSERT_TRUE(waitFor([&] { return chip->identityReads() > 20; }));
    setWord(para::SATURATION, 77);
    raise_apply_request(1);   // the program's singleton: must not start a thread
    {
        ParaLock lock;   // shows the singleton's lock is free too
    }
    pthread_mutex_lock(&para_lock::mutex());
    m->para_changed = 1;
    pthread_mutex_unlock(&para_lock::mutex());
    chip->setIdentity(0x24);
    ASSERT_TRUE(waitFor([&] {
        pthread_mutex_lock(&para_lock::mutex());
        bool done = m->para_changed == 0;
        pthread_mutex_unlock(&para_lock::mutex());
        return done;
    }));
    m->stop_thread();
    EXPECT_EQ(chip->value(0x0C1B02), 787u);
    EXPECT_EQ(chip->writeHistory(0x0C, 0x1B).size(), 2u)
        << "applied by the pass after the bring-up's own picture set-up";
}

// The store's snapshot follows a pass only when the GUI thread handles the
// pass's notification. A pass that begins before then still applies a
// change back to the value that stale snapshot holds.
TEST_F(ManageTest, PassBeforeTheLastNotificationStillSeesAChangeBack)
{
    bringUp();
    const uint32_t programmed = chip->value(0x0C1B02);
    const uint16_t was = store->word(para::SATURATION);
    setWord(para::SATURATION, 77);
    applyOnce();
    EXPECT_EQ(chip->value(0x0C1B02), 787u);
    setWord(para::SATURATION, was);
    applyOnce();
    EXPECT_EQ(chip->value(0x0C1B02), programmed);
}

// The running chip thread sleeps until its next input check; a request
// raised meanwhile is applied at once. With the check a minute away only the
// wake-up can apply it within the wait, and a request raised while a pass
// runs is not lost either.
TEST_F(ManageTest, ApplyRequestWakesTheSleepingChipThread)
{
    CurrentManager current(m.get());
    m->input_poll_ms = 60000;
    ASSERT_EQ(m->initialize(), 0);
    ASSERT_TRUE(waitFor([&] { return m->setup_state.load() >= 8; }));
    auto applied = [&] {
        ParaLock lock;
        return m->para_changed == 0;
    };
    for (uint16_t saturation : {40, 60}) {
        {
            ParaLock lock;
            setWord(para::SATURATION, saturation);
            raise_apply_request_locked(1);
        }
        ASSERT_TRUE(waitFor(applied)) << saturation;
    }
    m->stop_thread();
    EXPECT_EQ(chip->writeHistory(0x0C, 0x1B).size(), 3u) << "the bring-up's and one per request";
}

// A chip that never answers 0x24 keeps the thread probing, and nobody waits.
TEST_F(ManageTest, SilentChipKeepsNoOtherThreadWaiting)
{
    chip->setIdentity(0xFF);
    ASSERT_EQ(m->initialize(), 0);
    for (int k = 0; k < 50; ++k) {
        unsigned before = chip->identityReads();
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 5;
        ASSERT_EQ(pthread_mutex_timedlock(&para_lock::mutex(), &deadline), 0);
        m->para_changed = 1;
        pthread_mutex_unlock(&para_lock::mutex());
        ASSERT_TRUE(waitFor([&] { return chip->identityReads() > before; }));
    }
    EXPECT_EQ(m->setup_state.load(), 0);
    m->stop_thread();
    EXPECT_EQ(m->para_changed, 1);
}

} // namespace
