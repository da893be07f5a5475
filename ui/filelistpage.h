#ifndef UI_FILELISTPAGE_H
#define UI_FILELISTPAGE_H

// A page that lists files (on the USB stick or in a /data folder), with a Back
// button, and reads its folder again when told the folder may have changed.

#include "ui/panelpage.h"

class FileListPage : public PanelPage
{
    Q_OBJECT
public:
    // The names as last read.
    QStringList files() const { return m_files; }

protected:
    // Adds the Back button (it calls goBack()).
    FileListPage(QWidget *parent, page::Id pageId, page::Id backId);

    // Reads the list again; the derived page calls it from its constructor.
    void reload() { m_files = listed(); }
    virtual QStringList listed() const = 0;

    // Leaves the page unless the progress widget is up (a transfer runs).
    void backUnlessBusy();

    // Change codes 100 to 102: a stick was inserted or removed, or its
    // storage became ready.
    static bool stickChanged(int code) { return code >= 100 && code <= 102; }

private:
    QStringList m_files;
};

#endif
