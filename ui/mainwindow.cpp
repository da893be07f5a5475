#include "ui/mainwindow.h"

#include "app/global.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "ui/QRoundProgressBar.h"
#include "ui/firmwareupdate.h"
#include "ui/input/custommode.h"
#include "ui/input/inputchoose.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/pages.h"
#include "ui/panelpage.h"
#include "ui/panelpicture.h"
#include "ui/panelstatus.h"
#include "ui/tip.h"
#include "ui/zem_keyboard.h"
#include "videoproc/c331_manage.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent, Qt::FramelessWindowHint), m_last_input(G_timeTicks.load())
{
    ui::trackStacking();   // the panel's picture stacks its windows as the screen does
    setFixedSize(ui::PANEL_W, ui::PANEL_H);
    ui::usePanelFont(this);
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 4);
    m_title = new QLabel(central);
    m_title->setAlignment(Qt::AlignCenter);
    ui::usePanelFont(m_title, true);
    layout->addWidget(m_title);
    for (int i = 0; i < 4; ++i) {
        auto *l = new QLabel(central);
        layout->addWidget(l);
        m_lines.append(l);
    }
    layout->addStretch(1);
    auto *grid = new QGridLayout();
    layout->addLayout(grid);
    const QList<void (MainWindow::*)()> actions = {&MainWindow::open_input, &MainWindow::open_user_modes,
                                                    &MainWindow::open_setting, &MainWindow::open_state};
    for (int i = 0; i < actions.size(); ++i) {
        auto *b = new QPushButton(central);
        b->setAutoDefault(true);   // Return presses the focused button, as on the pages
        grid->addWidget(b, i / 2, i % 2);
        connect(b, &QPushButton::clicked, this, actions[i]);
        m_buttons.append(b);
    }

    g_numberkeyboard = new NumberKeyboard(this);
    g_numberkeyboard->hide();
    g_tip = new TIP(this);
    g_tip->hide();

    m_keys = new zem_keyboard(this);
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(m_keys);
        QCoreApplication::instance()->installEventFilter(this);
    }

    language_changed();
}

MainWindow::~MainWindow()
{
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(m_keys);
        QCoreApplication::instance()->removeEventFilter(this);
    }
    if (g_mainwindow == this)
        g_mainwindow = nullptr;
    g_numberkeyboard = nullptr;
    g_tip = nullptr;
}

QStringList MainWindow::valueLines() const
{
    const int w = g_image_current.load();
    const int s = ui::windowSource(w);
    // Names are shortened to the room of a line, so that what follows them shows.
    const QLabel *line = m_lines.first();
    const auto fit = [line](const QString &pattern, const QList<ui::LineArg> &args) {
        return ui::fitLine(line->fontMetrics(), ui::lineRoom(line), pattern, args);
    };
    QStringList out;
    out << fit(ui::tr5("当前: %1", "Current: %1", "Текущее: %1", "Hiện tại: %1", "當前: %1"), {ui::nameArg(ui::windowName(w))});
    out << fit(ui::tr5("信号源: %1 %2", "Source: %1 %2", "Источник: %1 %2", "Nguồn: %1 %2", "信號源: %1 %2"),
               {ui::nameArg(ui::sourceName(s)), ui::inputTiming(s)});
    const uint16_t mode = ui::word(para::CURRENT_USER_MODE);
    out << fit(ui::tr5("用户模式: %1", "User mode: %1", "Режим: %1", "Chế độ: %1", "用戶模式: %1"),
               {ui::nameArg(mode >= 1 && mode <= para::MODE_COUNT ? ui::userModeName(mode - 1) : QStringLiteral("-"))});
    out << ui::tr5("亮度: %1", "Brightness: %1", "Яркость: %1", "Độ sáng: %1", "亮度: %1")
               .arg(ui::word(para::BRIGHTNESS));
    return out;
}

QStringList MainWindow::shownLines() const
{
    QStringList out;
    for (QLabel *l : m_lines)
        out << l->text();
    return out;
}

void MainWindow::language_changed()
{
    m_title->setText(ui::tr5("主页", "Home", "Главная", "Trang chủ", "主頁"));
    const QStringList texts = {
        ui::tr5("输入源", "Input", "Вход", "Đầu vào", "輸入源"),
        ui::tr5("用户模式", "User modes", "Режимы", "Chế độ", "用戶模式"),
        ui::tr5("设置", "Setting", "Настройки", "Cài đặt", "設置"),
        ui::tr5("设备状态", "State", "Состояние", "Trạng thái", "設備狀態"),
    };
    for (int i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setText(texts[i]);
    const QStringList lines = valueLines();
    for (int i = 0; i < m_lines.size(); ++i)
        m_lines[i]->setText(lines.value(i));
}

void MainWindow::syncUpdate()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (store && store->ZemLanguageChanged())
        ui::retextAll();
    else
        language_changed();
}

void MainWindow::open_input()
{
    if (!g_inputchoose)
        (new InputChoose(this))->show();
}

void MainWindow::open_user_modes()
{
    if (!g_custommode)
        (new CustomMode(this))->show();
}

void MainWindow::open_setting()
{
    if (!g_option)
        (new Option(this))->show();
}

void MainWindow::open_state()
{
    if (!g_machinestate)
        (new MachineState(this))->show();
}

void MainWindow::user_mode_request(int n, bool save)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store || n < 1 || n > static_cast<int>(para::MODE_COUNT))
        return;
    if (!save && !ui::userModeSaved(n - 1))
        return;
    {
        ParaLock lock;
        if (save) {
            para::set16(store->ram_para, para::USER_MODE_SAVE, static_cast<uint16_t>(n));
        } else {
            std::memcpy(store->ram_para + para::SLOT_IMAGE_START, store->user_mode_ram[n - 1] + para::SLOT_DATA,
                        para::SLOT_DATA_SIZE);
            para::set16(store->ram_para, para::CURRENT_USER_MODE, static_cast<uint16_t>(n));
            para::set16(store->ram_para, para::USER_MODE_SAVE, 0);
            c331_manage::instance()->recall_osd_menu(n - 1);
        }
        raise_apply_request_locked(1);
    }
    notice_pending = true;
}

void MainWindow::slot_update_timer_ticks()
{
    const uint32_t now = ++G_timeTicks;

    if (g_update_flag)
        firmware_update_step();

    TIP::tick();

    if (g_app_reset_flag && !m_reboot_sent && Utils::getTimeSpace(G_reboot_tickTicks) >= 300) {
        m_reboot_sent = true;
        Utils::system_mutex(QStringLiteral("reboot"));
    }

    if (now % AGEING_TICKS == 0)
        ageing_sample();

    if (!g_delay_usbserver && now >= 1000)
        g_delay_usbserver = 1;

    if (lock_due())
        lock_panel();
    ui::publishPanelStatus(m_status_written);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
        m_last_input = G_timeTicks.load();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::lock_due() const
{
    if (g_auto_lock_time <= 0 || !g_lockwindow || g_lockwindow->isVisible() || !isVisible())
        return false;
    // A notice, an upgrade or a running job keeps the panel where it is.
    if (g_tip_flag || g_update_flag || (g_qround_bar && g_qround_bar->isVisible()))
        return false;
    return Utils::getTimeSpace(m_last_input) >= static_cast<uint32_t>(g_auto_lock_time / 10);
}

void MainWindow::lock_panel()
{
    if (!g_lockwindow)
        return;
    if (g_numberkeyboard && g_numberkeyboard->isVisible())
        g_numberkeyboard->press(QStringLiteral("ESC"));
    for (PanelPage *page : findChildren<PanelPage *>())
        if (page != g_lockwindow && page->isVisible())
            page->closePage();
    g_page_focus = page::Lock;
    g_lockwindow->language_changed();
    g_lockwindow->show();
    g_lockwindow->raise();
    g_lockwindow->activateWindow();
    m_last_input = G_timeTicks.load();
}

void MainWindow::ageing_sample()
{
    // One line per sample: minutes of run time and the inputs with a signal.
    QString inputs;
    for (int s = 0; s < static_cast<int>(para::INPUT_COUNT); ++s)
        inputs += ui::inputHasSignal(s) ? QLatin1Char('1') : QLatin1Char('0');
    const QString line = QStringLiteral("%1 min in:%2 bri:%3")
                             .arg(G_timeTicks.load() / 6000)
                             .arg(inputs)
                             .arg(ui::word(para::BRIGHTNESS));
    if (factoryage_log.size() >= AGEING_LOG_MAX)
        factoryage_log.erase(factoryage_log.begin());
    factoryage_log.push_back(line);
}

void MainWindow::update_start()
{
    ui::runInGui(this, [this] { firmware_update_start(this); });
}

void MainWindow::update_over()
{
    ui::runInGui(this, [] { firmware_update_over(); });
}
