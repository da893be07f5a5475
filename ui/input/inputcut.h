#ifndef UI_INPUT_INPUTCUT_H
#define UI_INPUT_INPUTCUT_H

// Input crops (page 7): the crops of one source at a time. The user picks the
// source and one of its crops, types X, Y, width and height with the number
// keyboard and adds a new crop, saves the chosen one or deletes it. A crop
// must lie inside its source; a refused value is said on the page.

#include "app/zemrampara.h"
#include "ui/input/page_copies.h"
#include "ui/panelpage.h"

#include <array>

class InputCut : public PanelPage
{
    Q_OBJECT
public:
    explicit InputCut(QWidget *parent = nullptr);
    void syncUpdate(int code);

    int source() const { return m_source; }
    // The chosen crop, 1 to the number of crops of the source; 0 when it has none.
    int chosen() const { return m_chosen; }
    // The four fields X, Y, W, H.
    QList<My_lineEdit *> fields() const { return m_fields; }

    // The page's actions, as its buttons run them.
    void nextSource();
    void nextCrop();
    void addCrop();
    void saveCrop();
    void deleteCrop();

protected:
    QString titleText() const override;
    QStringList valueLines() const override;

private:
    enum class Refusal { None, NotNumber, Outside, AllUsed, NoCrop };
    // The fields as a crop inside the source; the reason when they are not.
    Refusal readFields(CROP_PARA *out) const;
    void refuse(Refusal why);
    // X, Y, W and H of the chosen crop, or of the whole source when there is none.
    std::array<int, 4> shownCrop() const;
    void cropsChanged(bool deleted = false);
    int cropCount() const;

    ui::WindowSourceCopy m_copy;
    QList<My_lineEdit *> m_fields;
    int m_source = 0;
    int m_chosen = 0;
};

#endif
