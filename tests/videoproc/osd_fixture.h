#ifndef TESTS_VIDEOPROC_OSD_FIXTURE_H
#define TESTS_VIDEOPROC_OSD_FIXTURE_H

// A chip manager with an LED wall of two 1920 x 1080 output channels side by
// side, the fonts at their places in chip memory, and menus to program.

#include "setter_fixture.h"

#include "support/temp_root.h"

#include <string>

namespace chiptest {

using Engine = platform::sim::SimC331Engine;

class OsdTest : public SetterTest
{
protected:
    static constexpr uint32_t FONTS = 0x7F000000;

    void SetUp() override
    {
        SetterTest::SetUp();
        setWord(para::LED_WIDTH, 3840);
        setWord(para::LED_HEIGHT, 1080);
        wall(2, 1);
        m->load_font_map();
        m->PS_FONT_ADDR = FONTS;
        m->g_font_addr_32ASCII = FONTS;
        m->g_font_addr_64ASCII = FONTS + 0x293000;
    }

    // A wall of `across` x `down` channels of 1920 x 1080.
    void wall(int across, int down)
    {
        m->PS_ACTHW = 1920;
        m->PS_ACTVW = 1080;
        m->PS_PANEL_HSHAPE = across;
        m->PS_PANEL_VSHAPE = down;
        m->PS_PANEL_HW = 1920 * across;
        m->PS_PANEL_VW = 1080 * down;
    }

    // A text menu at x, y of w x h with the 32-dot font, shown.
    static OMENU_PARA menu(const std::string &text, int x = 0, int y = 0, int w = 1920, int h = 1080)
    {
        OMENU_PARA e;
        e.osdcount = 1;
        e.status = "on";
        e.x = x, e.y = y, e.w = w, e.h = h;
        e.h_align = "left", e.v_align = "top";
        e.back_enable = "on", e.back_color = "000080";
        e.fontw = e.fonth = 32;
        e.font_color = "FFFFFF";
        e.text = text;
        return e;
    }

    // The text units of line i.
    std::u16string line(int i) const
    {
        std::u16string s;
        for (int k = 0; k < c331_manage::OSD_LINE_CHARS; ++k) {
            const char16_t u = char16_t(m->g_unicode_str[i][2 * k] << 8 | m->g_unicode_str[i][2 * k + 1]);
            if (u == 0)
                break;
            s += u;
        }
        return s;
    }

    std::vector<Engine::Op> opsOf(Engine::Op::Kind kind) const
    {
        std::vector<Engine::Op> out;
        for (const Engine::Op &op : chip->engine().ops())
            if (op.kind == kind)
                out.push_back(op);
        return out;
    }
};

} // namespace chiptest

#endif
