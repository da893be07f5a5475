#include "ui/system/firmware_usbgrade.h"

#include "app/global.h"
#include "ui/pages.h"

#include <mutex>

firmware_usbgrade::firmware_usbgrade(QWidget *parent) : FileListPage(parent, page::FirmwareUsbgrade, page::AdvancedOption)
{
    registerPage(g_firmware_usbgrade);
    reload();
    language_changed();
}

QString firmware_usbgrade::titleText() const
{
    return ui::tr5("USB升级", "USB upgrade", "Обновление USB", "Nâng cấp USB", "USB升級");
}

QStringList firmware_usbgrade::valueLines() const
{
    QStringList out;
    if (m_done)
        out << ui::tr5("升级完成", "Upgrade finished", "Обновление завершено", "Nâng cấp xong", "升級完成");
    if (files().isEmpty())
        out << ui::tr5("U盘无升级文件", "No upgrade file on the stick", "Нет файлов обновления", "Không có tệp nâng cấp", "U盤無升級文件");
    out << files().mid(0, 5);
    return out;
}

void firmware_usbgrade::syncUpdate(int code)
{
    if (stickChanged(code))
        reload();
    if (code == 104)
        m_done = true;
    refreshFromImage();
}

QStringList firmware_usbgrade::listed() const
{
    const QStringList suffixes = {QStringLiteral("ZEM"), QStringLiteral("ZEMZK")};
    QString folder;
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        folder = g_usb_grade_path;
    }
    QStringList found = ui::listFiles(QStringLiteral("/mnt/usb1"), suffixes);
    // The upgrade folder's name comes from the configuration; only a plain name is used.
    if (!folder.isEmpty() && !folder.contains(QLatin1Char('/')) && !folder.startsWith(QLatin1Char('.')))
        for (const QString &f : ui::listFiles(QStringLiteral("/mnt/usb1/") + folder, suffixes))
            found << folder + QLatin1Char('/') + f;
    return found;
}
