#ifndef PROTOCOL_GUI_CALL_H
#define PROTOCOL_GUI_CALL_H

// Front-panel work asked for from a worker thread (a command handler, the USB
// listener, a page's own worker). Widgets may only be touched in the GUI
// thread.

#include <functional>

class QObject;

namespace gui_call {

// Runs `work` at once when called in the GUI thread, else queues it to the
// GUI thread's event loop and returns. Without an application (no front
// panel) nothing runs. Queued work is kept in the program's own locked queue
// and only a wake-up travels through Qt's event queue, so every hand-off is
// visible to the thread checker.
void post(std::function<void()> work);

// The same for work on `context`, which is dropped when the object is gone
// by the time the GUI thread gets to it.
void post(QObject *context, std::function<void()> work);

} // namespace gui_call

#endif
