#include "ui/filelistpage.h"

#include "ui/QRoundProgressBar.h"
#include "ui/pages.h"

FileListPage::FileListPage(QWidget *parent, page::Id pageId, page::Id backId) : PanelPage(parent, pageId, backId)
{
    addBackButton();
}

void FileListPage::backUnlessBusy()
{
    ui::runInGui(this, [this] {
        if (g_qround_bar && g_qround_bar->isVisible())
            return;
        PanelPage::goBack();
    });
}
