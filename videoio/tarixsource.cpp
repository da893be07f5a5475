#include "videoio/tarixsource.h"

uint8_t edid_ram_table[SOURCE_COUNT][256] = {};
uint8_t edid_ram_table_from[SOURCE_COUNT] = {};

tarixsource *tarixsource::p_tarix_source = nullptr;

tarixsource *tarixsource::pInstance()
{
    if (!p_tarix_source)
        p_tarix_source = new tarixsource();
    return p_tarix_source;
}
