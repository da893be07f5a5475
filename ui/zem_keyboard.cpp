#include "ui/zem_keyboard.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/zemrampara.h"
#include "platform/hid.h"

#include <QKeyEvent>

int check_hiddev()
{
    if (!platform::hid::init())
        return 0;
    int found = 0;
    for (const platform::hid::DeviceId &d : platform::hid::enumerate()) {
        debugPrint("hid device vid 0x%04x pid 0x%04x\n", d.vendor, d.product);
        if (d.vendor == 0x28E9 && d.product == 0x0380)
            found = 1;
    }
    return found;
}

bool zem_keyboard::update_usb_keyEvent(int key)
{
    if (key < Qt::Key_A || key > Qt::Key_P)
        return false;
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store || store->locked_word(para::KEY_LOCK) != 0)
        return true;

    const int k = key - Qt::Key_A;
    // Source keys G..L in the order of their LEDs.
    static const int sourceOfKey[6] = {0, 1, 4, 5, 2, 3};
    if (k < 6) {
        g_image_current = static_cast<u8>(k);
    } else if (k < 12) {
        store->ZemSetImageSource(0, static_cast<uint8_t>(sourceOfKey[k - 6]), g_image_current.load());
    } else if (k == 12) {
        store->ZemSetImageFreeze();
    } else if (k == 13) {
        store->ZemSetImageBlack();
    } else {
        return true;
    }
    store->test_signal(1);
    return true;
}

bool zem_keyboard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !g_zem_keys)
        return QObject::eventFilter(watched, event);
    auto *ke = static_cast<QKeyEvent *>(event);
    if (ke->modifiers() & ~Qt::ShiftModifier)
        return false;
    return update_usb_keyEvent(ke->key());
}
