// Multi-window layout: the layout directory, the fallback window set and the
// output-channel allocation.

#include "videoproc/c331_manage.h"

void c331_manage::zemApi_MultiWinInit()
{
    // Only the first layout is used: one window over the whole wall.
    layout_rects[0][0] = ST_RECT{0, 0, gPanel.width, gPanel.height};
    layout_dir[0].pwin = layout_rects[0];
}

void c331_manage::zemApi_MultiWinGet(ST_MWIN *out)
{
    out->count = layout_dir[0].count;
    for (int k = 0; k < layout_dir[0].count; ++k)
        out->pwin[k] = layout_dir[0].pwin[k];
}

void c331_manage::zemApi_initEnvC331Default()
{
    zemApi_MultiWinInit();
    gMwin.pwin = gMwinRect;
    gMwin.count = layout_dir[0].count;
    for (int n = 0; n < gMwin.count; ++n) {
        ST_RECT r = layout_dir[0].pwin[n];
        r.x += gPanel.xoffs;
        r.y += gPanel.yoffs;
        gMwinRect[n] = r;
        ST_WIN_INFO &wi = gWininfo[n];
        wi.x = static_cast<uint16_t>(r.x);
        wi.y = static_cast<uint16_t>(r.y);
        wi.w = static_cast<uint16_t>(r.w);
        wi.h = static_cast<uint16_t>(r.h);
        wi.rotate = 0;
        wi.winEn = 1;
    }
    // No image window has a slot of its own in the fallback set.
    for (int i = 0; i < WIN_NUM; ++i)
        win_slot[i] = -1;
}

// The channel allocation, overlay resolution and channel tables come with the
// multi-window layout support; until then they are recorded only.
void c331_manage::zemApi_MultiWinChAlloc(char init) { note_call("zemApi_MultiWinChAlloc(%d)", init); }
void c331_manage::zemApi_MultiWinChOverlay() { note_call("zemApi_MultiWinChOverlay()"); }
void c331_manage::zemApi_MultiWinChInit() { note_call("zemApi_MultiWinChInit()"); }
