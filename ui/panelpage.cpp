#include "ui/panelpage.h"

#include "app/alias.h"
#include "app/global.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"
#include "platform/platform.h"
#include "protocol/gui_call.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <cstring>

namespace ui {

QString tr5(const char *zh, const char *en, const char *ru, const char *vn, const char *tw)
{
    return tr5in(g_language.load(), zh, en, ru, vn, tw);
}

QString tr5in(int lang, const char *zh, const char *en, const char *ru, const char *vn, const char *tw)
{
    switch (lang) {
    case 0: return QString::fromUtf8(zh);
    case 2: return QString::fromUtf8(ru);
    case 3: return QString::fromUtf8(vn);
    case 4: return QString::fromUtf8(tw);
    default: return QString::fromUtf8(en);
    }
}

namespace {

// Runs `read` on the store under the image's locks; `none` while no store exists.
template <class T, class Read> T readLocked(T none, Read read)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return none;
    ImageLock lock(store);
    return read(*store);
}

} // namespace

void copyImage(uint8_t *out, uint32_t off, uint32_t len)
{
    std::memset(out, 0, len);
    if (ZemRamPara *store = ZemRamPara::p_zemrampara_config)
        store->copy_image(out, off, len);
}

uint16_t word(uint32_t off)
{
    uint8_t v[2];
    copyImage(v, off, 2);
    return para::get16(v, 0);
}

uint8_t byte(uint32_t off)
{
    uint8_t v;
    copyImage(&v, off, 1);
    return v;
}

void runInGui(QObject *ctx, std::function<void()> fn)
{
    if (!QCoreApplication::instance() || QThread::currentThread() == ctx->thread()) {
        fn();
        return;
    }
    gui_call::post(ctx, std::move(fn));
}

void retext(QObject *page)
{
    if (page)
        QMetaObject::invokeMethod(page, "language_changed", Qt::DirectConnection);
}

void retextAll()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->metaObject()->indexOfSlot("language_changed()") >= 0)
            retext(w);
}

QString textSave()
{
    return tr5("保存", "Save", "Сохранить", "Lưu", "保存");
}

QString textSaved()
{
    return tr5("已保存", "Saved", "Сохранено", "Đã lưu", "已保存");
}

QString textWidth()
{
    return tr5("宽", "W", "Ш", "R", "寬");
}

QString textHeight()
{
    return tr5("高", "H", "В", "C", "高");
}

bool readNumber(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

void usePanelFont(QWidget *w, bool bold)
{
    QFont f = w->font();
    f.setPixelSize(FONT_PX + (bold ? 1 : 0));
    f.setBold(bold);
    w->setFont(f);
}

QString aliasOr(const char *kind, int id, const QString &fallback)
{
    ALIAS_PARA alias;
    if (!get_json_alias_para(&alias, kind, id))
        return fallback;
    return QString::fromStdString(alias.name);
}

QString sourceName(int s)
{
    return aliasOr("source", s, QStringLiteral("HDMI%1").arg(s + 1));
}

QString windowName(int w)
{
    return aliasOr("win", w, tr5("窗口%1", "Window %1", "Окно %1", "Cửa sổ %1", "窗口%1").arg(w + 1));
}

QString userModeName(int slot)
{
    return aliasOr("usermode", slot, QString::number(slot + 1));
}

// The source manager rewrites the records under input_timing_mutex.
void timingOf(int s, uint16_t t[3])
{
    t[0] = t[1] = t[2] = 0;
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (store && s >= 0)
        store->input_timing(static_cast<uint32_t>(s), t);
}

bool inputHasSignal(int s)
{
    uint16_t t[3];
    timingOf(s, t);
    return t[0] && t[1] && t[2];
}

QString inputTiming(int s)
{
    uint16_t t[3];
    timingOf(s, t);
    if (!t[0] || !t[1] || !t[2])
        return tr5("无信号", "no signal", "нет сигнала", "không tín hiệu", "無信號");
    return QStringLiteral("%1x%2@%3").arg(t[0]).arg(t[1]).arg(t[2]);
}

int windowSource(int w)
{
    return readLocked(0, [w](ZemRamPara &s) {
        int16_t isCrop = 0;
        char entry = 0;
        return s.ZemGetImageSource(s.ram_para, static_cast<uint8_t>(w), &isCrop, &entry, 0);
    });
}

int cropCount(int source)
{
    return readLocked(0, [source](ZemRamPara &s) { return s.ZemGetSourceNum(source, para::CROP_ENTRIES); });
}

int cropOf(int source, int n, CROP_PARA *out)
{
    return readLocked(int(para::CROP_ENTRIES), [=](ZemRamPara &s) {
        int entry = para::CROP_ENTRIES;
        s.ZemGetCropPara(source, n, out, &entry);
        return entry;
    });
}

void rebuildCropMap()
{
    readLocked(0, [](ZemRamPara &s) {
        s.ZemCropSourceInit();
        return 0;
    });
}

bool userModeSaved(int slot)
{
    return readLocked(false, [slot](ZemRamPara &s) { return s.ZemUserModeSaved(slot) != 0; });
}

int currentUserMode()
{
    return readLocked(0, [](ZemRamPara &s) { return s.ZemGetCurrentModeIndex(); });
}

void applyWord(uint32_t off, uint16_t value)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store || off + 2 > para::IMAGE_SIZE)
        return;
    ParaLock lock;
    para::set16(store->ram_para, off, value);
    raise_apply_request_locked(1);
}

QStringList listFiles(const QString &folder, const QStringList &suffixes)
{
    QStringList out;
    const QStringList names = QDir(platform::qpath(folder)).entryList(QDir::Files, QDir::Name);
    for (const QString &n : names)
        for (const QString &s : suffixes)
            if (n.endsWith(s)) {
                out << n;
                break;
            }
    return out;
}

} // namespace ui

PanelPage::PanelPage(QWidget *parent, page::Id pageId, page::Id backId)
    : QDialog(parent, Qt::FramelessWindowHint), m_pageId(pageId), m_backId(backId)
{
    setFixedSize(ui::PANEL_W, ui::PANEL_H);
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (g_mainwindow && parent)
        move(parent->window()->pos());
    ui::usePanelFont(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setAlignment(Qt::AlignCenter);
    ui::usePanelFont(m_title, true);
    layout->addWidget(m_title);
    for (int i = 0; i < 7; ++i) {
        auto *l = new QLabel(this);
        l->hide();
        layout->addWidget(l);
        m_lines.append(l);
    }
    m_form = new QGridLayout();
    m_form->setSpacing(2);
    layout->addLayout(m_form);
    m_note = new QLabel(this);
    QSizePolicy keepRoom = m_note->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_note->setSizePolicy(keepRoom);
    m_note->hide();
    layout->addWidget(m_note);
    layout->addStretch(1);
    m_buttons = new QGridLayout();
    m_buttons->setSpacing(2);
    // Two buttons share a row evenly, whatever their texts (fitButton).
    m_buttons->setColumnStretch(0, 1);
    m_buttons->setColumnStretch(1, 1);
    layout->addLayout(m_buttons);
}

PanelPage::~PanelPage()
{
    if (m_unregister)
        m_unregister();
}

void PanelPage::focusHere()
{
    g_page_focus = m_pageId;
}

QStringList PanelPage::shownLines() const
{
    QStringList out;
    for (QLabel *l : m_lines)
        if (!l->isHidden())
            out << l->text();
    if (!m_note->isHidden())
        out << m_note->text();
    return out;
}

QStringList PanelPage::buttonTexts() const
{
    QStringList out;
    for (const auto &b : m_buttonTexts)
        out << b.first->text();
    return out;
}

bool PanelPage::clickButton(const QString &text)
{
    for (QPushButton *b : findChildren<QPushButton *>()) {
        if (b->window() == this && b->text() == text && !b->isHidden() && b->isEnabled()) {
            b->click();
            return true;
        }
    }
    return false;
}

QRect PanelPage::keyboardArea() const
{
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    const int top = m_title->geometry().bottom() + 2;
    int bottom = ui::PANEL_H - 1;
    if (m_back && !m_back->isHidden())
        bottom = m_back->geometry().top() - 2;
    return QRect(origin.x() + ui::PANEL_W / 2, origin.y() + top, ui::PANEL_W / 2, bottom - top + 1);
}

void PanelPage::language_changed()
{
    m_title->setText(titleText());
    for (auto &b : m_buttonTexts)
        b.first->setText(b.second());
    for (auto &l : m_formTexts)
        l.first->setText(l.second());
    redraw();
}

QString PanelPage::fitLine(const QString &pattern, const QList<ui::LineArg> &args) const
{
    const QLabel *line = m_lines.first();
    return ui::fitLine(line->fontMetrics(), ui::lineRoom(line), pattern, args);
}

QString PanelPage::fitButton(const QString &name) const
{
    // The buttons take two to a row.
    const int width = (ui::lineRoom(m_title) - m_buttons->horizontalSpacing()) / 2;
    return fontMetrics().elidedText(name, Qt::ElideRight, ui::buttonTextRoom(this, width));
}

void PanelPage::setNote(std::function<QString()> note)
{
    m_noteText = std::move(note);
    m_noteSaved = false;
    redraw();
}

void PanelPage::noteSaved()
{
    setNote(ui::textSaved);
    m_noteSaved = true;
}

void PanelPage::fieldEdited()
{
    if (m_noteSaved)
        setNote(nullptr);
}

QLabel *PanelPage::addFormLabel(int row, int col, std::function<QString()> text)
{
    auto *l = new QLabel(text(), this);
    m_form->addWidget(l, row, col);
    m_formTexts.append(qMakePair(l, text));
    return l;
}

My_lineEdit *PanelPage::addNumberField(int row, int col, std::function<QString()> label)
{
    addFormLabel(row, col, std::move(label));
    auto *edit = new My_lineEdit(this);
    edit->setMaxLength(6);
    m_form->addWidget(edit, row, col + 1);
    return edit;
}

QList<My_lineEdit *> PanelPage::addNumberRow(int row, const QList<std::function<QString()>> &labels, int width)
{
    QList<My_lineEdit *> fields;
    for (const auto &label : labels) {
        fields << addNumberField(row, 2 * fields.size(), label);
        fields.last()->setFixedWidth(width);
    }
    // The fields keep to the left; the rest of the row stays empty.
    m_form->setColumnStretch(2 * fields.size(), 1);
    return fields;
}

void PanelPage::redraw()
{
    if (m_title->text().isEmpty())
        m_title->setText(titleText());
    const QStringList lines = valueLines();
    for (int i = 0; i < m_lines.size(); ++i) {
        if (i < lines.size()) {
            m_lines[i]->setText(lines[i]);
            m_lines[i]->show();
        } else {
            m_lines[i]->hide();
        }
    }
    const QString note = m_noteText ? m_noteText() : QString();
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    for (My_lineEdit *f : fields())
        f->refresh();
}

QList<My_lineEdit *> PanelPage::fields() const
{
    return findChildren<My_lineEdit *>(QString(), Qt::FindDirectChildrenOnly);
}

void PanelPage::revertFields()
{
    for (My_lineEdit *f : fields())
        f->revert();
}

void PanelPage::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (m_shown)
        return;
    m_shown = true;
    for (QWidget *w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
        auto *field = qobject_cast<My_lineEdit *>(w);
        if (field && field->window() == this && field->isEnabled() && field->isVisibleTo(this)) {
            field->setFocus(Qt::TabFocusReason);
            field->selectAll();
            return;
        }
    }
}

void PanelPage::refreshFromImage()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (store && store->ZemLanguageChanged())
        ui::retextAll();
    else
        redraw();
}

QPushButton *PanelPage::addButton(std::function<QString()> text, std::function<void()> clicked)
{
    auto *b = new QPushButton(text(), this);
    b->setFocusPolicy(Qt::StrongFocus);
    const int n = m_buttonTexts.size();
    m_buttons->addWidget(b, n / 2, n % 2);
    m_buttonTexts.append(qMakePair(b, text));
    connect(b, &QPushButton::clicked, this, [clicked] { clicked(); });
    return b;
}

QPushButton *PanelPage::addBackButton()
{
    m_back = addButton([] { return ui::tr5("返回", "Back", "Назад", "Quay lại", "返回"); }, [this] { goBack(); });
    return m_back;
}

void PanelPage::leavePage(page::Id backId)
{
    if (m_left)
        return;
    m_left = true;
    if (m_unregister)
        m_unregister();
    g_page_focus = backId;
    hide();
    ui::retext(parent());
    deleteLater();
}

void PanelPage::goBack()
{
    leavePage(m_backId);
}

void PanelPage::keyPressEvent(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Escape:
        goBack();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Return is the OK of the field that had it (a focused button takes
        // it itself); it never presses the page's default button as well.
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}
