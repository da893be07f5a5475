#ifndef APP_PARA_DEFAULTS_H
#define APP_PARA_DEFAULTS_H

#include "app/para_layout.h"

// The built-in parameter file: 0xAA 0xAA, image bytes 768..4095, zeros to 4096.
extern const uint8_t (&default_para_ramlist)[para::FILE_SIZE];

#endif
