#ifndef PROTOCOL_GUI_CALL_H
#define PROTOCOL_GUI_CALL_H

// Front-panel work asked for by a command handler. Handlers run on their
// link's thread; widgets may only be touched in the GUI thread.

#include <functional>

namespace gui_call {

// Runs `work` at once when called in the GUI thread, else queues it to the
// GUI thread's event loop and returns. Without an application (no front
// panel) nothing runs.
void post(std::function<void()> work);

} // namespace gui_call

#endif
