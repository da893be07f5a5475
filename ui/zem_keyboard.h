#ifndef UI_ZEM_KEYBOARD_H
#define UI_ZEM_KEYBOARD_H

// The USB HID keypad: 16 keys that arrive as the letters A to P. Its layout
// follows the LED report: A-F select windows 1-6, G and H show sources 1 and
// 2, I and J sources 5 and 6, K and L sources 3 and 4, M freezes and N blacks
// out the current window; O and P are not used.

#include <QObject>

// 1 when the keypad (vendor 0x28E9, product 0x0380) is present, else 0
// (also 0 when the HID library does not initialise).
int check_hiddev();

class zem_keyboard : public QObject
{
    Q_OBJECT
public:
    explicit zem_keyboard(QObject *parent = nullptr) : QObject(parent) {}

    // Acts on one keypad letter (Qt::Key_A .. Qt::Key_P); true when the key
    // belongs to the keypad. Ignored while the key lock (image word 772) is set.
    static bool update_usb_keyEvent(int key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#endif
