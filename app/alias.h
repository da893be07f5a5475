#ifndef APP_ALIAS_H
#define APP_ALIAS_H

// User-given names of inputs, user modes, windows and crops, sent by the PC
// tool as /data/configs/alias.json and shown by the front panel instead of
// the built-in names.

#include <string>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;  // "off": do not use the name
    std::string name;   // UTF-8
};

// Looks up the entry of `kind` ("source", "usermode", "win", "crop") with
// number `id`. True when it exists, is switched on and has a name; `out` then
// holds it. A file that does not parse or is malformed is deleted so that the
// PC tool sends it again.
bool get_json_alias_para(ALIAS_PARA *out, const std::string &kind, int id);

#endif
