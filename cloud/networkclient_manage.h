#ifndef CLOUD_NETWORKCLIENT_MANAGE_H
#define CLOUD_NETWORKCLIENT_MANAGE_H

// The cloud client link: owns the cloud connection's state and its thread,
// which takes up settings changes (g_rconfig_device_kumocloud).

#include "cloud/turn_thread.h"

#include <atomic>
#include <cstdint>

class networkclient_Manage
{
public:
    // Creates the link and starts acceptThread (once).
    static networkclient_Manage *pInstance();
    // main creates it after the links have started, and command 0x8F reads
    // it: the pointer is published atomically.
    static std::atomic<networkclient_Manage *> p_networkclient_Manage;

    // 1 while the cloud connection is up (read by command 0x8F).
    std::atomic<uint8_t> link_up{0};
    // Settings changes taken up by the thread.
    std::atomic<uint32_t> reconfig_count{0};
    std::atomic<uint32_t> thread_turns{0};

    static void *acceptThread(void *arg);
    // One turn of the thread: takes up a settings change.
    void accept_turn();
    // Ends the thread and waits for it (tests; the program never stops it).
    void stop();

private:
    networkclient_Manage() {}

    TurnThread m_worker;
};

#endif
