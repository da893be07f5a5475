#ifndef APP_THREADS_H
#define APP_THREADS_H

// The program's threads, what each touches, which lock guards what, and the
// order in which locks are taken. This header holds no code; it is the one
// place that says how the threads share the device's state. Whoever adds a
// thread, a shared field or a lock writes it down here.
//
// THREADS (the name each carries, for top -H and a debugger, in brackets)
//
//   GUI        main, then QApplication::exec: every screen, the 10 ms tick,
//              SyncUpdate::para_sync (refresh, user-mode save, persistence of
//              the image into /data/ram_device_info; the workers'
//              notifications are queued to it coalesced, one call for all
//              that wait), the keypad report, and whatever the workers queue
//              with gui_call::post.
//   chip       [chip] c331_manage::c331manageThread: bring-up, then per turn
//              the apply pass (a copy of the image against a copy of the
//              snapshot, both taken as the pass begins, under manage_mutex)
//              and the input and OSD polling (outside it).
//   FPGA       [fpga] fpga_manage::fpgamanageThread: LED geometry hand-shake,
//              brightness and output-status requests, FPGA resets, the FPGAs'
//              state and the output ports' links.
//   source     [src-check] tarixsource::checksourceThread: receivers over
//              I2C, the input timing records of the image, EDID and audio
//              requests, register 160.
//   links      one thread per link: RS-485 [rs485] (Qy_uart_inout), 4G [4g]
//              (Qy_uart_inout_4G), TCP g_port and 10002 [tcp-<port>]
//              (networkManage), UDP 5008, 10005 and 13769 [udp-<port>]
//              (udpnetManage). Each runs the command handler (message_deal)
//              on the frames it receives, so commands of different links run
//              at the same time.
//   USB        [usb] UsbServer: USB stick events.
//   cloud, WiFi  [cloud], [wifi] networkclient_Manage and R47_WIFI_CONFIG
//              turn threads.
//
// WHEN THE WORKERS RUN
//
//   The chip, FPGA and source threads sleep in a thread_wake until there is
//   work; whoever raises a request wakes the thread that serves it at once,
//   after setting the request under its lock:
//     chip    raise_apply_request_locked (every apply request, through
//             para_lock::set_request_hook) and c331_manage::inputs_changed
//             (a receiver record changed, through
//             tarixsource::inputs_changed_hook);
//     FPGA    fpga_manage::wake after g_set_led_para, bri_set_request,
//             output_status_request or reset_fpga_rst;
//     source  tarixsource::wake, request_edid, request_audio (register 160
//             and the EDID and audio requests).
//   Only periodic work runs on timers:
//     chip    the input check every c331_manage::INPUT_POLL_MS (50 ms): a
//             source is measured within one to three frames of 25 to 60 Hz
//             video, sooner than it settles after being plugged, for 20
//             wake-ups a second; a probe retry every PROBE_RETRY_MS while the
//             chip does not answer; none while a test pattern shows.
//     source  the receivers every tarixsource::TURN_MS (50 ms); a record that
//             changed wakes the chip thread, so a plugged source is measured
//             within one period.
//     FPGA    the next tick-counted step of a hand-shake or reset when it is
//             due (G_timeTicks, 10 ms a tick), else every IDLE_TURN_MS
//             (250 ms) for the FPGAs' state and the port links.
//   The chip thread waiting for the end of the LED hand-shake sleeps on
//   g_set_led_para_done under Utils::_led_para_init_mutex; the FPGA thread
//   signals it when g_set_led_para leaves 1.
//
// WHAT GUARDS WHAT
//
//   the image's lock               the parameter image ZemRamPara::ram_para
//   (para_lock::mutex, ParaLock)   except the input-timing records, its
//                                  snapshot ram_para_back and its settled
//                                  words, the user-mode slots, the apply
//                                  request para_changed, a recalled mode's
//                                  OSD menu copy, the transferred EDID
//                                  tables, the panel's one-pair flag as
//                                  published to the links
//                                  (c331_manage::published_use1och),
//                                  the debug registers 162 to 165 (also when
//                                  written as registers 33 to 36) and the
//                                  status page (set_status_bits). Held for
//                                  short steps only, never across hardware:
//                                  writers change the image and raise the
//                                  request with raise_apply_request_locked;
//                                  the chip thread takes it to begin a pass
//                                  (request, copy of image and snapshot), for
//                                  its write-backs into the image, and to end
//                                  the pass.
//   ZemRamPara::input_timing_mutex the input-timing records (image bytes 256
//                                  to 291), written by the source thread.
//   ImageLock                      both of the above, in that order: every
//                                  write of the image through the RAM write,
//                                  and every read that must see whole values
//                                  (RAM read, persistence, keypad report,
//                                  copy_image, copy_slot, the chip's copy,
//                                  every read of a front-panel page through
//                                  the page framework's ui::word and its
//                                  other readers).
//   manage_mutex (c331_manage)     the chip model and the chip's programming:
//                                  the chip thread holds it for the apply pass
//                                  (across hardware waits, seconds with fades)
//                                  and the re-programming after an input
//                                  change. No other thread takes it, so no
//                                  writer or reader of the image waits for a
//                                  pass.
//   fpga_manage owner lock         the card side's register shadows and page
//                                  buffers (card_pages), reached only through
//                                  with_pages, reg_shadow and set_reg_shadow.
//   fpga_manage::card_mutex        a card pass-through: one link hands a frame
//                                  over and polls for its reply at a time.
//   Utils::_test_signal_mutex      each emission of sig_update_para. A GUI
//                                  thread emission runs para_sync inside it,
//                                  which may run a modal notice for seconds.
//   Utils::_file_deal_mutex        files under /data, the capture buffer and
//                                  the store's copy of what the parameter
//                                  file last received.
//   Utils::_led_para_init_mutex    the LED geometry hand-shake g_set_led_para.
//   Utils::_bri_set_mutex          the brightness request.
//   Utils::_c331_bnk_mutex         the chip's bank select and one register.
//   Utils::_spi_mutex              one SPI transfer (chip, FPGAs, flashes).
//   Utils::_source_hdminfo_mutex   the receivers' timing records.
//   Utils::_check_nosig_mutex      the chip ports' signal words.
//   g_config_text_mutex            the address, mask, gateway and barcode texts.
//   the cloud properties' lock     g_4G_property, the cloud id the barcode
//   (message_deal_4g)              gave it, and g_4G_RAM (its RAM write, the
//                                  path check and its reload).
//   register file bytes 0 to 31 and 160  stored and read whole (atomic); the
//                                  masked merge of a register write is
//                                  serialised by the register handler.
//   gui_call queue                 work queued for the GUI thread.
//   SyncUpdate's queue lock        the notification codes waiting for the
//                                  GUI thread.
//
// LOCK ORDER (a thread holding one lock takes only locks further down)
//
//   1. g_zem_file_deal_mutex (the file transfer)
//   2. Utils::_test_signal_mutex
//   3. manage_mutex, then the image's lock, then
//      ZemRamPara::input_timing_mutex
//   4. Utils::_led_para_init_mutex, Utils::_bri_set_mutex or
//      Utils::_source_hdminfo_mutex
//   5. Utils::_file_deal_mutex
//   6. fpga_manage::card_mutex; fpga_manage's register read-modify-write lock;
//      Utils::_fpga_multicast_mutex
//   7. Utils::_c331_bnk_mutex
//   8. Utils::_spi_mutex
//   9. leaves, which are held without taking a lock of 1 to 8: the
//      fpga_manage owner lock, the card reply sinks and queues, the register
//      merge lock, Utils::_check_nosig_mutex, g_config_text_mutex, the
//      cloud properties' lock, the gui_call queue, SyncUpdate's queue lock,
//      the thread_wake locks (notify may be called under any lock), and the
//      singletons' creation locks (the parameter store's load reads its files
//      under 5, before any worker exists).
//
// RULES
//
//   - Call ZemRamPara::test_signal with none of the locks of 3 to 9 held:
//     emitted in the GUI thread it runs para_sync at once, which takes them;
//     emitted elsewhere it may wait for a GUI notification that runs a modal
//     notice. The chip thread's apply pass notifies after it has released
//     manage_mutex.
//   - Never wait for the GUI thread (gui_call, a promise it fulfils) while
//     holding a lock it may take.
//   - The chip code keeps manage_mutex for the apply pass; its setters run
//     inside it, read the pass's copy of the image (para_image) and take only
//     the locks of 4, 7 and 8, and the image's lock for a write-back, never
//     while they hold a lock of 4 to 8. The chip's flash and font routines
//     and the register dump also run on other threads without manage_mutex,
//     relying on the register locks alone.
//   - Nothing holding the image's lock waits for the chip: a request raised
//     while a pass runs stays pending for the next pass. The snapshot is the
//     image as the last pass took it (handed over as the pass ends), plus the
//     words a writer has acted on since (settle_word); the chip compares
//     against its own record of what it applied.
//   - No unbounded wait on hardware under a lock: the apply pass waits for
//     the LED hand-shake at most led_para_wait_ms.
//   - A singleton reached from worker threads is created under a lock of its
//     own (c331_manage::instance, fpga_manage::pInstance,
//     tarixsource::pInstance, ZemRamPara::pInstance). Creation never takes
//     the image's lock: links call c331_manage::instance while they hold
//     it, so c331_manage::pInstance brings the chip up after the instance
//     lock is released.
//   - Tests read what running link threads write under the same locks (see
//     tests/support/locked_reads.h); the ThreadSanitizer step of
//     scripts/test.sh checks all of the above on the whole test suite.

#endif
