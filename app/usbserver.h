#ifndef APP_USBSERVER_H
#define APP_USBSERVER_H

// Watches the kernel's device events for USB sticks and tells the front panel:
// 100 a device was added, 101 one was removed, 102 a stick's storage
// partition is ready to be read.

#include "platform/uevent.h"

#include <QList>
#include <QObject>
#include <atomic>
#include <memory>
#include <thread>

class UsbServer : public QObject
{
    Q_OBJECT
public:
    UsbServer();
    ~UsbServer() override;

    // The listener, started on the first call.
    static UsbServer *pInstance();
    static UsbServer *p_UsbServer;

    // Opens the event channel and starts the listener thread; 0, or 255.
    int initialize();
    int unInitialize();
    // Emits sig_usb_update(code); returns 1.
    int usb_signal(int code);
    // One receive step of the listener: 0, or 255 when waiting failed.
    int recvData();
    int delete_clinetSocket(int socket);

    // Longest wait for the stick's storage after its partition appeared.
    void setStorageWaitMs(int ms) { m_storageWaitMs = ms; }

Q_SIGNALS:
    void sig_usb_update(int code);

private:
    static void acceptThread(UsbServer *self);
    void handleMessage(const char *text);
    bool waitForStorage();
    bool waitTicks(uint32_t ticks);
    void closeSettingMenu();

    std::unique_ptr<platform::uevent::Source> m_source;  // the netlink socket
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    QList<int> m_clientSockets;  // unused: the listener has no clients
    std::atomic<int> m_storageWaitMs{20000};
};

#endif
