#include "sendcard/clock_record_run.h"

uint8_t g_clock_record[64] = {0};
