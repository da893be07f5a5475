// Test and debug register sequences.

#include "videoproc/c331_manage.h"

// The debug sequences come with the debug support; until then they are
// recorded only.
void c331_manage::input_slidebar(int fd) { note_call("input_slidebar()"); }
void c331_manage::output_slidebar(int fd) { note_call("output_slidebar()"); }
void c331_manage::disable_slidebar(int fd) { note_call("disable_slidebar()"); }
void c331_manage::vbyone_rx_ch1_seq(int fd) { note_call("vbyone_rx_ch1_seq()"); }
void c331_manage::vbyone_rx_ch2_seq(int fd) { note_call("vbyone_rx_ch2_seq()"); }
void c331_manage::read_c331_b174bug(int fd) { note_call("read_c331_b174bug()"); }
void c331_manage::write_read_c331_b80_iacthstch5(int fd) { note_call("write_read_c331_b80_iacthstch5()"); }
void c331_manage::sync_c331_device_test_input(int fd) { note_call("sync_c331_device_test_input()"); }
void c331_manage::sync_c331_device_test_frame_lock(int fd) { note_call("sync_c331_device_test_frame_lock()"); }
void c331_manage::sync_c331_device_test_frame_lock_vbyrx2(int fd) { note_call("sync_c331_device_test_frame_lock_vbyrx2()"); }
void c331_manage::sync_c331_device_test_frame_lock_vbyrx3(int fd) { note_call("sync_c331_device_test_frame_lock_vbyrx3()"); }
