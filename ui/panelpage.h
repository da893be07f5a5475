#ifndef UI_PANELPAGE_H
#define UI_PANELPAGE_H

// Common frame of the front-panel pages: a 320 x 240 modal dialog with a
// title, a few value lines drawn from the parameter image and a grid of
// buttons. A page registers itself in its page pointer and g_page_focus when
// built and clears the pointer when it leaves or is destroyed.

#include "app/para_layout.h"
#include "ui/fitline.h"
#include "ui/pages.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QGridLayout;
class My_lineEdit;
struct CROP_PARA;

namespace ui {

constexpr int PANEL_W = 320;
constexpr int PANEL_H = 240;

// The text of the language in g_language (0 zh, 1 en, 2 ru, 3 vn, 4 tw).
QString tr5(const char *zh, const char *en, const char *ru, const char *vn, const char *tw);
// The same for an explicit language.
QString tr5in(int lang, const char *zh, const char *en, const char *ru, const char *vn, const char *tw);

// Reads of the live parameter image, each under the image's locks
// (ImageLock): the links, the chip thread and the source thread write it
// while a page shows it. Zeros while no store exists. Never called while
// the caller holds those locks itself.
uint16_t word(uint32_t off);
uint8_t byte(uint32_t off);
void copyImage(uint8_t *out, uint32_t off, uint32_t len);

// Runs fn in the GUI thread: at once when called there, else queued to ctx's thread.
void runInGui(QObject *ctx, std::function<void()> fn);

// The panel's font: fixed pixel sizes, so that a page looks the same on the
// LCD, on a VNC viewer and offscreen whatever dots-per-inch a platform reports.
constexpr int FONT_PX = 13;
void usePanelFont(QWidget *w, bool bold = false);

// The user's name for a thing from the alias file ("source", "usermode",
// "win", "crop"), or `fallback` when there is none.
QString aliasOr(const char *kind, int id, const QString &fallback);

// Name of source s (0..5) (its alias when given) and its input timing text
// ("no signal" when absent).
QString sourceName(int s);
// Name of window w (0..5) and of user mode slot n (0..15), aliases first.
QString windowName(int w);
QString userModeName(int slot);
QString inputTiming(int s);
// True when input s reports a width, a height and a rate.
bool inputHasSignal(int s);
// Width, height and rate word of input s, read as one record.
void timingOf(int s, uint16_t t[3]);
// Source shown by window w (a crop counts as its source).
int windowSource(int w);

// The store's crop and user-mode helpers, under the image's locks like the
// reads above. The crop-use map is the one ZemCropSourceInit builds.
int cropCount(int source);
// Crop n (1-based) of `source` into *out; its table entry, or CROP_ENTRIES
// (out untouched) when there is none.
int cropOf(int source, int n, CROP_PARA *out);
void rebuildCropMap();
bool userModeSaved(int slot);
int currentUserMode();   // 0 = none

// Writes a 16-bit image word as a setting change: under the image's lock,
// with apply request 1.
void applyWord(uint32_t off, uint16_t value);

// Files in a folder (absolute program path) whose names end with one of the
// suffixes, sorted.
QStringList listFiles(const QString &folder, const QStringList &suffixes);

// Re-texts a page or the home screen (anything with a language_changed slot).
void retext(QObject *page);
// Re-texts every open window of the panel (after a language change).
void retextAll();

// Texts several pages share.
QString textSave();     // the Save button
QString textSaved();    // the note after a save
QString textWidth();    // short field labels
QString textHeight();

// The number in a field when it is a whole number from min to max.
bool readNumber(const QString &text, int min, int max, int *out);

} // namespace ui

class PanelPage : public QDialog
{
    Q_OBJECT
public:
    PanelPage(QWidget *parent, page::Id pageId, page::Id backId);
    ~PanelPage() override;

    page::Id pageId() const { return m_pageId; }

    // The value lines and the note as shown (for the page's users and tests).
    QStringList shownLines() const;
    QStringList buttonTexts() const;
    // Clicks the shown button with `text`, as a touch would; false when
    // there is none.
    bool clickButton(const QString &text);

    // Where the number keyboard may lie on this page (global coordinates):
    // the right half, below the title and above the row of the Back button.
    QRect keyboardArea() const;

    // Leaves the page the way Back does, whatever the page's own Back checks
    // (the auto lock closes every page this way).
    void closePage() { leavePage(m_backId); }

    // A field of the page was edited: a note that the page's values are
    // saved no longer holds and goes.
    void fieldEdited();

public Q_SLOTS:
    // Re-texts title and buttons for g_language, then redraws.
    virtual void language_changed();
    // Leaves to the page this one was opened from.
    virtual void goBack();

protected:
    virtual QString titleText() const = 0;
    virtual QStringList valueLines() const { return QStringList(); }

    // Redraws the value lines from the image.
    virtual void redraw();
    // The common syncUpdate: re-text when the language changed, then redraw.
    void refreshFromImage();

    QPushButton *addButton(std::function<QString()> text, std::function<void()> clicked);
    // The "Back" button: goBack().
    QPushButton *addBackButton();

    // A value line with its names shortened to fit the line (ui::fitLine).
    QString fitLine(const QString &pattern, const QList<ui::LineArg> &args) const;
    // A name as the whole text of a button, shortened to fit it.
    QString fitButton(const QString &name) const;

    // Grid between the value lines and the buttons, for the fields of a page.
    QGridLayout *form() { return m_form; }
    // A labelled number field in the form: label at (row, col), field at (row, col + 1).
    // A field bound to its value in force (My_lineEdit::bindValue) shows it
    // on every redraw until the user edits it.
    My_lineEdit *addNumberField(int row, int col, std::function<QString()> label);
    // A row of labelled number fields `width` pixels wide, from the left.
    QList<My_lineEdit *> addNumberRow(int row, const QList<std::function<QString()>> &labels, int width);
    // A form label whose text follows the language.
    QLabel *addFormLabel(int row, int col, std::function<QString()> text);

    // Every field of the page shows its value in force again, the user's
    // edits dropped: after a save, or when the page turns to another item.
    void revertFields();

    // A line under the fields that tells the result of the last action (a
    // refused value, for instance); empty clears it. Re-texted with the page.
    // Its room is kept while it is empty, so that nothing moves when it appears.
    void setNote(std::function<QString()> note);
    // The note "Saved", shown until a field of the page is edited again.
    void noteSaved();

    template <class T> void registerPage(T *&slot)
    {
        // Called from T's constructor: the pointer is taken while this is a T.
        T *self = static_cast<T *>(this);
        slot = self;
        m_unregister = [&slot, self] {
            if (slot == self)
                slot = nullptr;
        };
        focusHere();
    }

    // Clears the page pointer, gives the focus to backId, re-texts the parent
    // and deletes the page.
    void leavePage(page::Id backId);

    // Opens a child page built by `make` (the child registers itself).
    template <class T> T *openChild()
    {
        T *child = new T(this);
        child->show();
        return child;
    }

    // Escape goes back; Return stays with the field or button that has it.
    void keyPressEvent(QKeyEvent *e) override;
    // A page with number fields opens with its first field focused and its
    // text selected, so that the first digit typed replaces it.
    void showEvent(QShowEvent *e) override;

private:
    void focusHere();
    QList<My_lineEdit *> fields() const;

    page::Id m_pageId;
    page::Id m_backId;
    bool m_left = false;
    bool m_shown = false;
    std::function<void()> m_unregister;
    QLabel *m_title;
    QList<QLabel *> m_lines;
    QLabel *m_note;
    std::function<QString()> m_noteText;
    bool m_noteSaved = false;
    QGridLayout *m_form;
    QGridLayout *m_buttons;
    QPushButton *m_back = nullptr;
    QList<QPair<QPushButton *, std::function<QString()>>> m_buttonTexts;
    QList<QPair<QLabel *, std::function<QString()>>> m_formTexts;
};

#endif
