#ifndef UI_INPUT_PAGE_COPIES_H
#define UI_INPUT_PAGE_COPIES_H

// The input pages' own copy of what they show (window sources and enables and
// the crop table), so that they redraw only when it changed.

#include "app/para_layout.h"
#include "ui/panelpage.h"

#include <cstring>

namespace ui {

class WindowSourceCopy
{
public:
    // True when the image's window sources, enables or crop table differ from the copy.
    bool changed() const
    {
        uint8_t now[SIZE];
        fill(now);
        return std::memcmp(now, m_copy, SIZE) != 0;
    }
    void take() { fill(m_copy); }

private:
    static constexpr size_t WINDOWS = 2 * para::WINDOW_COUNT;
    static constexpr size_t SIZE = 2 * WINDOWS + para::CROP_ENTRIES * para::CROP_ENTRY_SIZE;
    static void fill(uint8_t *out)
    {
        uint8_t img[para::IMAGE_SIZE];
        copyImage(img, 0, para::IMAGE_SIZE);
        for (uint32_t w = 0; w < para::WINDOW_COUNT; ++w) {
            std::memcpy(out + 4 * w, img + para::window(w, para::WIN_ENABLE), 2);
            std::memcpy(out + 4 * w + 2, img + para::window(w, para::WIN_SOURCE), 2);
        }
        std::memcpy(out + 2 * WINDOWS, img + para::CROP_TABLE, para::CROP_ENTRIES * para::CROP_ENTRY_SIZE);
    }
    uint8_t m_copy[SIZE] = {};
};

} // namespace ui

#endif
