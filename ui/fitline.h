#ifndef UI_FITLINE_H
#define UI_FITLINE_H

// Lines of the panel that hold user-given names (aliases of inputs, windows,
// user modes and crops). A name may be far wider than the panel; it is
// shortened with an ellipsis so that the text around it stays whole.

#include <QList>
#include <QString>

class QFontMetrics;
class QWidget;

namespace ui {

// One argument of a line: fixed text (kept whole) or a name (may be shortened).
struct LineArg {
    LineArg(const QString &t, bool isName = false) : text(t), name(isName) {}
    LineArg(int n) : text(QString::number(n)) {}
    QString text;
    bool name = false;
};

inline LineArg nameArg(const QString &name) { return LineArg(name, true); }

// `pattern` with %1 .. %9 replaced by `args` in one pass (a name holding "%2"
// stays as it is), the names shortened no more than needed for the line to
// fit `room` pixels in `fm`. Names share the room left by the fixed text:
// a short name keeps its length and leaves the rest to the longer ones.
QString fitLine(const QFontMetrics &fm, int room, const QString &pattern, const QList<LineArg> &args);

// The room of `label`, a line that spans its window: the window's width less
// the margins of the layouts that hold the label. Known before the window is
// first laid out, as the panel's windows have a fixed size.
int lineRoom(const QWidget *label);

// The room of the text of a push button `width` pixels wide in the style
// and font of `page`.
int buttonTextRoom(const QWidget *page, int width);

} // namespace ui

#endif
