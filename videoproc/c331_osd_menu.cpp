// OSD menu programming: the first menu of the menu file (or of a recalled
// user mode's copy) turned into the OSD items, in the order in which the
// items that place the lines see the text, the window and the font first.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/files.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// Font size items by "fontw" and "fonth" (equal): horizontal and vertical
// zoom, 64-dot fonts, double size. The first is also the font of a menu
// that names none of these sizes, and of a bitmap menu.
struct FontSize {
    int size;
    int hzoom, vzoom, dot64, dbl;
};
constexpr FontSize FONT_SIZES[] = {
    {32, 0, 0, 0, 0},
    {64, 0, 0, 1, 0},
    {128, 1, 1, 1, 0},
    {256, 1, 1, 1, 1},
};
constexpr int TEXT_MENU = 0;

// Scroll mode of each effect 0..4 of the menu file.
constexpr int SCROLL_MODE_OF_EFFECT[] = {0, 3, 4, 1, 2};

struct Named {
    const char *name;
    int value;
};
constexpr Named H_ALIGN[] = {{"left", 0}, {"center", 1}, {"right", 2}, {"justify", 3}};
constexpr Named V_ALIGN[] = {{"top", 0}, {"center", 1}, {"bottom", 2}};

// The value named `name`, or -1.
template <size_t N> int named(const Named (&table)[N], const std::string &name)
{
    for (const Named &n : table)
        if (name == n.name)
            return n.value;
    return -1;
}

// A menu colour RRGGBB as the chip takes it, 0xBBGGRR; -1 when unreadable.
int chip_color(const std::string &text)
{
    uint32_t rgb;
    if (!omenu_color(text, rgb))
        return -1;
    return int((rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF));
}

} // namespace

// A menu's font and zoom come from that menu alone, never from a former one.
void c331_manage::set_osd_font_size(int fontw, int fonth)
{
    const FontSize *font = &FONT_SIZES[0];
    for (const FontSize &f : FONT_SIZES)
        if (fontw == f.size && fonth == f.size)
            font = &f;
    zemApi_OsdSet(1, font->hzoom);
    zemApi_OsdSet(2, font->vzoom);
    zemApi_OsdSet(14, font->dot64);
    zemApi_OsdSet(48, font->dbl);
}

// The fields that only a text menu has ("fontpara", "layer") are not taken
// from a bitmap menu: they would be a former text menu's.
void c331_manage::set_OSD_para(const OMENU_PARA &para)
{
    if (para.osdcount == 0)
        return;
    const bool text = para.type == TEXT_MENU;
    const int w = std::min(para.w, int(image_word(para::LED_WIDTH)));
    const int y = std::min(para.y, int(image_word(para::LED_HEIGHT)));
    const int h = std::min(para.h, int(image_word(para::LED_HEIGHT)));

    load_char();
    if (!text)
        load_bmp();   // the bitmap's size bounds its source
    g_osd_h_alignment_tarix = 0;
    g_osd_v_alignment_value_tarix = 0;
    // Every menu starts from the whole OSD memory: the 32-dot fonts do not
    // set the right margin, which would otherwise keep a former menu's.
    std::fill(std::begin(PM_OSD_INPUT_OFFSET), std::end(PM_OSD_INPUT_OFFSET), 0);
    load_osd_text(para.text);

    zemApi_OsdSet(5, para.x);
    zemApi_OsdSet(6, w);
    zemApi_OsdSet(7, y);
    zemApi_OsdSet(8, h);
    zemApi_OsdSet(3, text ? 1 : 0);
    set_osd_font_size(text ? para.fontw : 0, text ? para.fonth : 0);
    zemApi_OsdSet(21, para.startx);
    zemApi_OsdSet(22, para.starty);
    zemApi_OsdSet(9, para.x);
    zemApi_OsdSet(10, w);
    zemApi_OsdSet(11, y);
    zemApi_OsdSet(12, h);
    const int font = chip_color(para.font_color);
    if (font >= 0)
        zemApi_OsdSet(17, font);
    zemApi_OsdSet(13, int(int64_t(para.speed) * 10 % 256));
    if (para.back_enable != "off") {
        const int back = chip_color(para.back_color);
        if (back >= 0)
            zemApi_OsdSet(16, back);
        zemApi_OsdSet(18, 0);
    } else {
        zemApi_OsdSet(18, 1);
    }
    if (para.effect >= 0 && para.effect < int(std::size(SCROLL_MODE_OF_EFFECT)))
        zemApi_OsdSet(4, SCROLL_MODE_OF_EFFECT[para.effect]);
    zemApi_OsdSet(0, para.status == "on");
    zemApi_OsdSet(33, text && para.layer == "buttom");
    const int h_align = named(H_ALIGN, para.h_align);
    if (h_align >= 0)
        zemApi_OsdSet(34, h_align);
    const int v_align = named(V_ALIGN, para.v_align);
    if (v_align >= 0)
        zemApi_OsdSet(35, v_align);
}

bool c331_manage::recall_osd_menu(int slot)
{
    if (ZemRamPara::pInstance()->word(para::OSD_FLAG) != 1)
        return false;
    const std::string copy = ZemRamPara::osd_copy_file(slot);
    if (!platform::files::exists(copy))
        return false;
    osd_menu_copy = copy;
    g_osd_update = 1;
    return true;
}

// The recalled mode's copy becomes the live menu, so that later reloads (a
// new wall size, the PC tool's reload) show it too. A copy that is no menu
// file is kept and the live menu shown instead.
bool c331_manage::show_osd_menu_copy(const std::string &copy)
{
    if (!get_json_omenu_para(copy.c_str(), g_osd_list))
        return false;
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    if (!platform::files::copy(copy, OMENU_FILE, platform::files::Kind::OsdMenu))
        debugPrint("\n osd: %s could not become the live menu \n", copy.c_str());
    return true;
}

// With nothing to show the OSD is switched off, rather than showing over the
// wall whatever the OSD memory holds.
void c331_manage::reload_osd_menu()
{
    std::string copy;
    {
        ParaLock lock;
        copy.swap(osd_menu_copy);
    }
    if (copy.empty() || !show_osd_menu_copy(copy))
        get_json_omenu_para(OMENU_FILE, g_osd_list);
    if (g_osd_list.entry[0].osdcount == 0)
        zemApi_OsdSet(0, 0);
    set_OSD_para(g_osd_list.entry[0]);
}
