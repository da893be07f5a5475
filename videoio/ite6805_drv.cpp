#include "videoio/ite6805_drv.h"

#include "videoio/tarixsource.h"

void ite6805_drv::iTE6805_Get_Hdmi(int idx)
{
    if (idx < 0 || idx >= COUNT || !tarixsource::p_tarix_source)
        return;
    tarixsource::p_tarix_source->get_hdmi(FIRST_INPUT + idx);
}
