#include "ui/fitline.h"

#include <QFontMetrics>
#include <QLayout>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <algorithm>
#include <numeric>
#include <vector>

namespace ui {

namespace {

// `pattern` with %1 .. %9 replaced by `texts`; other '%' stay as they are.
QString substitute(const QString &pattern, const QStringList &texts)
{
    QString out;
    for (int i = 0; i < pattern.size(); ++i) {
        const int n = i + 1 < pattern.size() && pattern[i] == QLatin1Char('%') ? pattern[i + 1].digitValue() : -1;
        if (n >= 1 && n <= texts.size()) {
            out += texts[n - 1];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// The names in `room` pixels, each kept whole while it is no wider than an
// even share of what the wider ones leave.
QStringList shareRoom(const QFontMetrics &fm, int room, const QList<LineArg> &args)
{
    std::vector<int> names;
    for (int i = 0; i < args.size(); ++i)
        if (args[i].name)
            names.push_back(i);
    std::sort(names.begin(), names.end(), [&](int a, int b) {
        return fm.horizontalAdvance(args[a].text) < fm.horizontalAdvance(args[b].text);
    });
    QStringList out;
    for (const LineArg &a : args)
        out << a.text;
    int left = std::max(room, 0);
    for (size_t k = 0; k < names.size(); ++k) {
        const int share = left / int(names.size() - k);
        out[names[k]] = fm.elidedText(args[names[k]].text, Qt::ElideRight, share);
        left -= std::min(share, fm.horizontalAdvance(out[names[k]]));
    }
    return out;
}

} // namespace

QString fitLine(const QFontMetrics &fm, int room, const QString &pattern, const QList<LineArg> &args)
{
    QStringList whole, fixedOnly;
    for (const LineArg &a : args) {
        whole << a.text;
        fixedOnly << (a.name ? QString() : a.text);
    }
    QString line = substitute(pattern, whole);
    // Widths of joined text may differ from the sum of the parts by a pixel
    // or two (kerning): take the excess off the names' room until it fits.
    int namesRoom = room - fm.horizontalAdvance(substitute(pattern, fixedOnly));
    for (int tries = 0; tries < 8 && fm.horizontalAdvance(line) > room && namesRoom > 0; ++tries) {
        line = substitute(pattern, shareRoom(fm, namesRoom, args));
        namesRoom -= std::max(1, fm.horizontalAdvance(line) - room);
    }
    return line;
}

int lineRoom(const QWidget *label)
{
    int margins = 0;
    for (const QWidget *w = label->parentWidget(); w; w = w->parentWidget()) {
        if (const QLayout *l = w->layout())
            margins += l->contentsMargins().left() + l->contentsMargins().right();
        if (w->isWindow())
            return w->width() - margins;
    }
    return label->width();
}

int buttonTextRoom(const QWidget *page, int width)
{
    QStyleOptionButton opt;
    opt.initFrom(page);
    // Buttons of a dialog are auto-default: the style keeps room for the mark.
    opt.features = QStyleOptionButton::AutoDefaultButton;
    opt.rect = QRect(0, 0, width, page->fontMetrics().height() * 2);
    return page->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, nullptr).width();
}

} // namespace ui
