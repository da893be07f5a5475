// Chip register dumps.

#include "videoproc/c331_manage.h"

// Hook run once at bring-up before the running state; nothing to do.
void c331_manage::c331_debugEnv() { note_call("c331_debugEnv()"); }

// The dumps come with the dump support; until then they are recorded only.
void c331_manage::zemDbg_c331_param(int mode) { note_call("zemDbg_c331_param(%d)", mode); }
void c331_manage::zemDbg_c331_param() { note_call("zemDbg_c331_param()"); }
void c331_manage::zemDbg_c331_print_regGrp(int grp) { note_call("zemDbg_c331_print_regGrp(%d)", grp); }
void c331_manage::c331_print() { note_call("c331_print()"); }
